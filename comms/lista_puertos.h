#pragma once
// The serial ports the system has, for finding the adapter a unit is on: one plain
// record per port, a listing with one port a line, and the choice behind
// "--port auto" (the only USB serial adapter present). The listing and the choice
// work on a list handed to them, so that they do not depend on what is plugged in.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QSerialPortInfo;

struct PuertoSistema {
    std::string dispositivo;          // where the system has it: /dev/ttyUSB0, COM3
    std::string descripcion;          // "FT232R USB UART"; empty when unknown
    std::string fabricante;           // "FTDI"; empty when unknown
    std::optional<uint16_t> vid, pid; // USB vendor and product id, for a USB device
    std::string numero_serie;         // the adapter's own serial number; empty when unknown

    // A USB serial adapter (or a CDC-ACM device) tells its vendor and product id;
    // a UART on the board, a pseudo-terminal or a Bluetooth port does not.
    bool es_usb() const { return vid.has_value() && pid.has_value(); }
};

// The ports QSerialPortInfo finds now, in the order ordenar_puertos gives.
std::vector<PuertoSistema> puertos_del_sistema();
PuertoSistema puerto_desde_info(const QSerialPortInfo& info);

// By device name, numbers by their value: /dev/ttyS2 before /dev/ttyS10.
void ordenar_puertos(std::vector<PuertoSistema>& puertos);

// One port a line, "/dev/ttyUSB0  FT232R USB UART  FTDI  0403:6001  A50285BI":
// device, description, manufacturer, VID:PID (four hexadecimal digits each) and
// serial number, each column as wide as its widest entry, two spaces between
// columns, none at the end of a line; a field the port does not tell shows "-".
// Every line ends in '\n'; no ports give an empty text.
std::string formatear_puertos(const std::vector<PuertoSistema>& puertos);

// The choice of "--port auto" among the ports given.
struct EleccionPuertoAuto {
    std::string dispositivo;                // the adapter taken; empty when none could be
    std::vector<PuertoSistema> adaptadores; // the USB serial adapters seen (none, or several)
    std::vector<PuertoSistema> otros;       // the ports seen that are not USB adapters

    bool elegido() const { return !dispositivo.empty(); }
};
EleccionPuertoAuto elegir_puerto_auto(const std::vector<PuertoSistema>& puertos);

// Why the choice failed, for the operator: no adapter (and the other ports there
// are) or several (listed as formatear_puertos does), and what to do. Empty when
// a port was chosen. Ends in '\n'.
std::string describir_fallo_auto(const EleccionPuertoAuto& eleccion);
