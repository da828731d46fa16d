// The simulated bootloader's checks, as the host sees them on the wire, and its
// entry and exit by traffic on a line without modem control.

#include "support/rig_procedimientos.h"

#include <gtest/gtest.h>

namespace {

class BootloaderSimulado : public ::testing::Test {
protected:
    RigProcedimientos g{SimUnit::Controller::ARM};
    SimArmBootloader& bl() { return g.unidad().armBootloader(); }

    void SetUp() override {
        g.arm().boot_sqn_STM();
        g.sim.link->cambia_conf(115200, 8, 1, 'E', 0);
        enviar({0x7F});
        ASSERT_EQ(respuestas(), std::vector<uint8_t>{SimArmBootloader::ACK});
    }
    void enviar(const std::vector<uint8_t>& v) {
        for (uint8_t b : v)
            g.sim.link->enviar_datos_nenlace(0, std::string(1, static_cast<char>(b)));
        g.esperar(50);
    }
    // What the unit sent since the last call.
    std::vector<uint8_t> respuestas() {
        g.linea().pump();
        std::vector<uint8_t> out;
        const auto r = g.linea().bytes();
        for (; leidos_ < r.size(); ++leidos_)
            if (!r[leidos_].fromHost)
                out.push_back(r[leidos_].value);
        return out;
    }
    size_t leidos_ = 0;
};

constexpr uint8_t A = SimArmBootloader::ACK;
constexpr uint8_t N = SimArmBootloader::NACK;

struct CasoEscritura {
    const char* nombre;
    std::vector<uint8_t> direccion; // four bytes and their XOR
    std::vector<uint8_t> datos;     // N - 1, data, XOR
    std::vector<uint8_t> respuesta;
    bool escrito;
};

TEST_F(BootloaderSimulado, WriteMemoryChecksEveryChecksum) {
    const std::vector<CasoEscritura> casos = {
        {"good", {0x08, 0, 0x01, 0, 0x09}, {1, 0xAA, 0x55, 1 ^ 0xAA ^ 0x55}, {A, A, A}, true},
        {"bad address XOR", {0x08, 0, 0x01, 0, 0x08}, {}, {A, N}, false},
        {"bad data XOR", {0x08, 0, 0x01, 0, 0x09}, {1, 0xAA, 0x55, 0}, {A, A, N}, false},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        bl().setMemory({});
        enviar({0x31, 0xCE});
        enviar(c.direccion);
        enviar(c.datos);
        EXPECT_EQ(respuestas(), c.respuesta);
        EXPECT_EQ(bl().memory().size(), c.escrito ? 2u : 0u);
        if (c.escrito) {
            EXPECT_EQ(bl().memory().at(0x08000100), 0xAA);
        }
    }
}

TEST_F(BootloaderSimulado, RefusesBadComplementsAndGarbledBytes) {
    enviar({0x31, 0xCF});
    EXPECT_EQ(respuestas(), std::vector<uint8_t>{N});
    bl().setMemory({{0x08000000, 1}});
    enviar({0x43, 0xBC, 0x00, 0x00, 0x01}); // a page list whose checksum is wrong
    EXPECT_EQ(respuestas(), (std::vector<uint8_t>{A, N}));
    EXPECT_EQ(bl().memory().size(), 1u);
    // At the wrong format the command arrives as other bytes and is refused.
    g.sim.link->cambia_conf(115200, 8, 1, 'N', 0);
    enviar({0x43, 0xBC});
    EXPECT_EQ(respuestas(), std::vector<uint8_t>{N});
    EXPECT_EQ(bl().eraseCount(), 0);
}

TEST_F(BootloaderSimulado, EraseAnswersWhenItIsOverAndWriteUnprotectRestarts) {
    bl().setMemory({{0x08000000, 1}});
    const Tiempo t0 = g.ahora();
    enviar({0x43, 0xBC, 0xFF, 0x00});
    EXPECT_EQ(respuestas(), std::vector<uint8_t>{A});
    g.sim.link->reset_interface(); // the command's ACK is not the erase's
    EXPECT_EQ(g.sim.link->recibir_datos_nenlace(0, 40, "y"), TRAMA_RECIBIDA);
    EXPECT_EQ(respuestas(), std::vector<uint8_t>{A});
    EXPECT_NEAR(static_cast<double>(g.ms_desde(t0)), 1000.0, 60.0);
    EXPECT_TRUE(bl().memory().empty());

    enviar({0x73, 0x8C});
    EXPECT_EQ(respuestas(), (std::vector<uint8_t>{A, A}));
    EXPECT_EQ(g.modo(), SimUnit::Mode::Application);
}

// What a general-purpose client asks first: the version and command list, the
// version with its option bytes, the product ID.
TEST_F(BootloaderSimulado, AnswersTheInformationCommands) {
    struct Caso {
        const char* nombre;
        std::vector<uint8_t> orden;
        std::vector<uint8_t> respuesta;
    };
    const std::vector<Caso> casos = {
        {"Get",
         {0x00, 0xFF},
         {A, 9, 0x22, 0x00, 0x01, 0x02, 0x11, 0x21, 0x31, 0x43, 0x44, 0x73, A}},
        {"Get Version", {0x01, 0xFE}, {A, 0x22, 0x00, 0x00, A}},
        {"Get ID", {0x02, 0xFD}, {A, 1, 0x04, 0x10, A}},
        {"Get ID, bad complement", {0x02, 0xFC}, {N}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        enviar(c.orden);
        EXPECT_EQ(respuestas(), c.respuesta);
    }
}

// Page erases clear exactly their pages and take their share of a global erase;
// the special codes of Extended Erase clear everything.
TEST_F(BootloaderSimulado, ErasesByPagesAndByExtendedErase) {
    struct Caso {
        const char* nombre;
        std::vector<uint8_t> orden; // command, complement, then the erase's bytes
        std::vector<uint8_t> respuesta;
        std::vector<uint32_t> quedan; // of the bytes placed at pages 0, 1, 2 and 127
    };
    const uint32_t P = SimArmBootloader::PAGE_SIZE;
    const uint32_t B = SimArmBootloader::FLASH_BASE;
    const std::vector<Caso> casos = {
        {"pages 0 and 2", {0x43, 0xBC, 1, 0, 2, 1 ^ 0 ^ 2}, {A, A}, {B + P, B + 127 * P}},
        {"page past the flash",
         {0x43, 0xBC, 0, 128, 128},
         {A, N},
         {B, B + P, B + 2 * P, B + 127 * P}},
        {"extended, page 1", {0x44, 0xBB, 0, 0, 0, 1, 1}, {A, A}, {B, B + 2 * P, B + 127 * P}},
        {"extended, mass", {0x44, 0xBB, 0xFF, 0xFF, 0x00}, {A, A}, {}},
        {"extended, bank 1", {0x44, 0xBB, 0xFF, 0xFE, 0x01}, {A, A}, {}},
        {"extended, bad checksum",
         {0x44, 0xBB, 0xFF, 0xFF, 0x01},
         {A, N},
         {B, B + P, B + 2 * P, B + 127 * P}},
        {"extended, reserved code",
         {0x44, 0xBB, 0xFF, 0xF0, 0x0F},
         {A, N},
         {B, B + P, B + 2 * P, B + 127 * P}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        bl().setMemory({{B, 1}, {B + P, 2}, {B + 2 * P + 5, 3}, {B + 127 * P, 4}});
        enviar(c.orden);
        g.sim.link->reset_interface();
        g.sim.link->recibir_datos_nenlace(0, 40, "y"); // waits out an erase
        EXPECT_EQ(respuestas(), c.respuesta);
        std::vector<uint32_t> quedan;
        for (const auto& [a, v] : bl().memory())
            quedan.push_back(a & ~(P - 1));
        EXPECT_EQ(quedan, c.quedan);
    }
    // Two pages of 128 cost 2/128 of the global erase's second: from the list's
    // checksum arriving to the erase's ACK leaving.
    enviar({0x43, 0xBC, 1, 5, 6, 1 ^ 5 ^ 6});
    EXPECT_EQ(respuestas(), (std::vector<uint8_t>{A, A}));
    Tiempo fin_lista{0}, ack{0};
    for (const auto& r : g.linea().bytes())
        (r.fromHost ? fin_lista : ack) = r.fromHost ? r.arrived : r.sent;
    const double ms_borrado = std::chrono::duration<double, std::milli>(ack - fin_lista).count();
    EXPECT_NEAR(ms_borrado, 1000.0 * 2 / 128, 0.5);
}

TEST_F(BootloaderSimulado, GoChecksItsAddressAndStartsTheApplication) {
    enviar({0x21, 0xDE, 0x08, 0x00, 0x00, 0x00, 0x00}); // bad XOR
    EXPECT_EQ(respuestas(), (std::vector<uint8_t>{A, N}));
    EXPECT_EQ(g.modo(), SimUnit::Mode::ArmBootloader);
    enviar({0x21, 0xDE, 0x08, 0x00, 0x00, 0x00, 0x08});
    EXPECT_EQ(respuestas(), (std::vector<uint8_t>{A, A}));
    EXPECT_EQ(g.modo(), SimUnit::Mode::Application);
}

// A unit link with no modem lines, as over a pseudo-terminal: DTR means nothing,
// a synchronisation byte reaching the application starts the bootloader, and a
// frame start reaching the idle bootloader goes back to the application.
class EnlaceSinLineas final : public UnitLink {
public:
    Tiempo now() const override { return t; }
    void sendToHost(const std::vector<uint8_t>& b, const LineFormat&) override {
        enviados.insert(enviados.end(), b.begin(), b.end());
    }
    void schedule(Tiempo, std::function<void()>) override {}
    bool hasModemLines() const override { return false; }
    Tiempo t{0};
    std::vector<uint8_t> enviados;
};

TEST(BootloaderSinLineasModem, EnteredAndLeftByTraffic) {
    SimUnit u(SimUnit::Controller::ARM);
    EnlaceSinLineas e;
    u.attach(&e);
    u.onDtr(false, ms(0));
    u.onDtr(true, ms(50));
    u.onDtr(false, ms(100));
    u.onDtr(true, ms(150));
    u.onDtr(false, ms(200));
    u.onDtr(true, ms(250));
    EXPECT_EQ(u.mode(), SimUnit::Mode::Application);
    u.onByte(0x7F, false, ms(300));
    EXPECT_EQ(u.mode(), SimUnit::Mode::ArmBootloader);
    EXPECT_EQ(e.enviados, std::vector<uint8_t>{SimArmBootloader::ACK});
    // 0xA5 inside a Write Memory block is data, not a way out.
    for (uint8_t b : {0x31, 0xCE, 0x08, 0x00, 0x00, 0x00, 0x08, 0x01, 0xA5, 0xA5, 0x01})
        u.onByte(b, false, ms(310));
    EXPECT_EQ(u.mode(), SimUnit::Mode::ArmBootloader);
    EXPECT_EQ(u.armBootloader().memory().at(0x08000000), 0xA5);
    u.onByte(0xA5, false, ms(400));
    EXPECT_EQ(u.mode(), SimUnit::Mode::Application);
}

} // namespace
