#pragma once
// The link level: message records become stuffed frames of the framed protocol
// (0xA5, control, extended address, address, length, data, checksum) and back; raw
// text lines are sent and expected replies awaited; DTR is switched; every exchange
// leaves a trace line while the trace is on; and the CRC-32 of the transfers.

#include "comms/Tint_com.h"
#include "comms/Tmensaje_int.h"

#include <cstdint>
#include <string>

class Tcola_mensaje;

class Tinterface_enlace : public Tinterface_com {
public:
    Tinterface_enlace() = default; // crear_interface

    int prepara_trama(Tmensaje& mensaje);
    int enviar_trama_nenlace(uint8_t ncom, Sondeos timeout, Tmensaje& mensaje);
    int recibir_trama_nenlace(uint8_t ncom, Sondeos timeout, Tmensaje& mensaje);
    int enviar_trama_nenlace(uint8_t ncom, int32_t timeout, Tmensaje& mensaje) {
        return enviar_trama_nenlace(ncom, Sondeos{timeout}, mensaje);
    }
    int recibir_trama_nenlace(uint8_t ncom, int32_t timeout, Tmensaje& mensaje) {
        return recibir_trama_nenlace(ncom, Sondeos{timeout}, mensaje);
    }
    bool extraer_cabecera(Tmensaje& mensaje, int32_t nby_check);
    // Sends the text as it is. A text longer than the serial layer's buffer
    // (MAX_BUF_TRAMA + 1 characters) is sent in consecutive pieces, as one stream.
    void enviar_datos_nenlace(uint8_t ncom, const std::string& buffer_datos);
    int recibir_datos_nenlace(uint8_t ncom, Sondeos timeout, const std::string& buffer_datos);
    int recibir_datos_nenlace(uint8_t ncom, int32_t timeout, const std::string& buffer_datos) {
        return recibir_datos_nenlace(ncom, Sondeos{timeout}, buffer_datos);
    }
    void activar_dtr(uint8_t ncom, int32_t modo);
    static uint32_t calcular_crc_32_torvex(uint32_t crc, const Tbuff& buf, int32_t len);
    // Same over any byte range (no 601-byte limit).
    static uint32_t calcular_crc_32(uint32_t crc, const uint8_t* data, size_t len);

    // Sends raw bytes as enviar_datos_nenlace does, leaving the trace to the caller,
    // which traces a whole exchange as one line (the ARM bootloader's commands).
    void enviar_datos_sin_traza(const std::string& buffer_datos);

private:
    // Sends bytes through the physical level, which takes at most MAX_BUF_TRAMA + 1
    // at a time: unread input is dropped once, before the first piece, and the
    // rest follows without a gap. Stops at the first piece that did not go out.
    int enviar_bytes(const uint8_t* datos, size_t n, Sondeos timeout);
};

// ---- trace lines

// The trace line of a frame: "TX->" and the wire bytes, "RX->" and the received
// bytes, or "ER->" and the checksum / time-out marker of the current language.
std::string linea_traza(const Tmensaje& mensaje_wr, int32_t nbytes, int32_t modo);

// The trace queue of the worker serving a port. The load engine registers the
// lookup, so that the link level reaches the queue without depending on it.
using ProveedorColaTraza = Tcola_mensaje* (*)(int ncom);
void registrar_proveedor_cola_traza(ProveedorColaTraza proveedor);
// Queues a line for port ncom when the trace is on (a fresh record owned by the queue).
void anotar_traza(int ncom, const std::string& linea);
