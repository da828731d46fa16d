// The port listing and the "--port auto" choice over lists made here: what is
// plugged into the machine running the tests does not matter.
#include "comms/lista_puertos.h"

#include <QSerialPortInfo>
#include <gtest/gtest.h>

namespace {

PuertoSistema usb(std::string dev, std::string desc, std::string fab, uint16_t vid, uint16_t pid,
                  std::string serie) {
    return {std::move(dev), std::move(desc), std::move(fab), vid, pid, std::move(serie)};
}

PuertoSistema uart(std::string dev) {
    return {std::move(dev), {}, {}, std::nullopt, std::nullopt, {}};
}

const PuertoSistema FTDI =
    usb("/dev/ttyUSB0", "FT232R USB UART", "FTDI", 0x0403, 0x6001, "A50285BI");
const PuertoSistema CP210X = usb("/dev/ttyUSB1", "CP2102 USB to UART Bridge Controller",
                                 "Silicon Labs", 0x10c4, 0xea60, "0001");
const PuertoSistema ACM = usb("/dev/ttyACM0", "", "", 0x2341, 0x0043, "");
const PuertoSistema TTYS0 = uart("/dev/ttyS0");

TEST(ListaPuertos, ColumnsAlignAcrossPortsAndAbsentFieldsShowADash) {
    const std::string esperado =
        "/dev/ttyUSB0  FT232R USB UART                       FTDI          0403:6001  A50285BI\n"
        "/dev/ttyS0    -                                     -             -          -\n"
        "/dev/ttyUSB1  CP2102 USB to UART Bridge Controller  Silicon Labs  10c4:ea60  0001\n"
        "/dev/ttyACM0  -                                     -             2341:0043  -\n";
    EXPECT_EQ(formatear_puertos({FTDI, TTYS0, CP210X, ACM}), esperado);
}

TEST(ListaPuertos, OnePortIsOneLineWithTwoSpacesBetweenFields) {
    EXPECT_EQ(formatear_puertos({FTDI}),
              "/dev/ttyUSB0  FT232R USB UART  FTDI  0403:6001  A50285BI\n");
    EXPECT_EQ(formatear_puertos({}), "");
}

TEST(ListaPuertos, AccentedTextIsMeasuredInCharactersNotBytes) {
    // "é" is two bytes: counting bytes would push the next column one place right.
    const PuertoSistema a = usb("COM3", "Périphérique série", "Fabricé", 0x0403, 0x6015, "X1");
    const PuertoSistema b = usb("COM4", "Serial device 123", "Maker12", 0x0403, 0x6015, "X2");
    EXPECT_EQ(formatear_puertos({a, b}), "COM3  Périphérique série  Fabricé  0403:6015  X1\n"
                                         "COM4  Serial device 123   Maker12  0403:6015  X2\n");
}

TEST(ListaPuertos, AHalfKnownUsbIdShowsTheHalfThereIs) {
    PuertoSistema p = uart("/dev/ttyUSB7");
    p.vid = 0x0403;
    EXPECT_EQ(formatear_puertos({p}), "/dev/ttyUSB7  -  -  0403:-  -\n");
    EXPECT_FALSE(p.es_usb()) << "a port without a product id is not taken as an adapter";
}

TEST(ListaPuertos, OrderIsByNameWithNumbersByValue) {
    std::vector<PuertoSistema> v{uart("/dev/ttyS10"),  uart("/dev/ttyUSB0"), uart("/dev/ttyS2"),
                                 uart("/dev/ttyACM1"), uart("/dev/ttyS1"),   uart("COM12"),
                                 uart("COM9")};
    ordenar_puertos(v);
    std::vector<std::string> nombres;
    for (const auto& p : v)
        nombres.push_back(p.dispositivo);
    EXPECT_EQ(nombres, (std::vector<std::string>{"/dev/ttyACM1", "/dev/ttyS1", "/dev/ttyS2",
                                                 "/dev/ttyS10", "/dev/ttyUSB0", "COM9", "COM12"}));
}

TEST(ListaPuertos, APortThatTellsNoUsbIdentityIsNotAnAdapter) {
    // Qt gives 0 for an id a port does not have: taking that 0 for an id would turn
    // every UART and pseudo-terminal into a "0000:0000" adapter for --port auto.
    const PuertoSistema p = puerto_desde_info(QSerialPortInfo());
    EXPECT_FALSE(p.vid.has_value());
    EXPECT_FALSE(p.pid.has_value());
    EXPECT_FALSE(p.es_usb());
    EXPECT_FALSE(elegir_puerto_auto({p, TTYS0}).elegido());
}

struct CasoAuto {
    const char* nombre;
    std::vector<PuertoSistema> puertos;
    std::string elegido; // "" = the choice fails
    size_t adaptadores;  // USB adapters the failure lists
};

class EleccionAuto : public ::testing::TestWithParam<CasoAuto> {};

TEST_P(EleccionAuto, TakesTheOnlyUsbAdapterElseFailsListingTheCandidates) {
    const CasoAuto& c = GetParam();
    const EleccionPuertoAuto e = elegir_puerto_auto(c.puertos);
    EXPECT_EQ(e.dispositivo, c.elegido);
    EXPECT_EQ(e.elegido(), !c.elegido.empty());
    EXPECT_EQ(e.adaptadores.size(), c.adaptadores);
    EXPECT_EQ(e.adaptadores.size() + e.otros.size(), c.puertos.size());

    const std::string texto = describir_fallo_auto(e);
    if (e.elegido()) {
        EXPECT_EQ(texto, "");
        return;
    }
    ASSERT_FALSE(texto.empty());
    EXPECT_EQ(texto.back(), '\n');
    EXPECT_NE(texto.find("--port"), std::string::npos) << texto;
    // The candidates are listed as --list-ports lists them: the adapters when there
    // are several, else the ports there are.
    if (c.adaptadores > 1) {
        EXPECT_NE(texto.find(std::to_string(c.adaptadores) + " USB serial adapters"),
                  std::string::npos)
            << texto;
        EXPECT_NE(texto.find(formatear_puertos(e.adaptadores)), std::string::npos) << texto;
    } else {
        EXPECT_NE(texto.find("no USB serial adapter"), std::string::npos) << texto;
        EXPECT_NE(texto.find(formatear_puertos(e.otros)), std::string::npos) << texto;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Casos, EleccionAuto,
    ::testing::Values(
        CasoAuto{"NoPortsAtAll", {}, "", 0},
        CasoAuto{"OnlyBoardUarts", {TTYS0, uart("/dev/ttyS1")}, "", 0},
        CasoAuto{"OneAdapter", {FTDI}, "/dev/ttyUSB0", 1},
        CasoAuto{"OneAdapterAmongUarts", {TTYS0, ACM, uart("/dev/ttyS1")}, "/dev/ttyACM0", 1},
        CasoAuto{"TwoAdapters", {FTDI, CP210X}, "", 2},
        CasoAuto{"ThreeAdaptersAndAUart", {FTDI, TTYS0, CP210X, ACM}, "", 3}),
    [](const ::testing::TestParamInfo<CasoAuto>& i) { return std::string(i.param.nombre); });

} // namespace
