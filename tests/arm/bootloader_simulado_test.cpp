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
    enviar({0x43, 0xBC, 0xFE}); // only the global erase is offered
    EXPECT_EQ(respuestas(), (std::vector<uint8_t>{A, N}));
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
