// The XA loader's rehearsal faults on the wire, without the host's loader: what
// exactly goes wrong, and that nothing else does.
#include "loader/tablas_xa.h"
#include "sim/fallos.h"
#include "support/hex_records.h"
#include "support/sim_fixture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct CargadorEnLinea {
    SimPortFixture sim{SimUnit::Controller::XA, 0};
    Tinterface_enlace* link = nullptr;

    explicit CargadorEnLinea(const char* fallo) {
        link = &sim.open();
        link->cambia_conf(9600, 8, 1, 'N', 0);
        sim.unit->enterMode(SimUnit::Mode::XaLoader, sim.clock.now());
        std::string error;
        aplicar_fallo(*sim.unit, *leer_fallo(fallo, error));
    }
    // Sends a line; what the loader sent back before 1 s of silence.
    std::string intercambio(const std::string& line) {
        const size_t mark = sim.unit->line().bytes().size();
        link->enviar_datos_nenlace(sim.index, line);
        (void)link->recibir_datos_nfisico(20, std::string(2, '\x01')); // never matches
        std::string back;
        const auto bytes = sim.unit->line().bytes();
        for (size_t i = mark; i < bytes.size(); ++i)
            if (!bytes[i].fromHost)
                back += static_cast<char>(bytes[i].value);
        return back;
    }
};

} // namespace

// Only the n-th data record comes back wrong, in its last character; the loader
// takes and acknowledges it all the same, and the other lines are untouched.
TEST(XaRehearsalFaults, WrongEchoChangesOnlyTheNthDataRecordsEcho) {
    CargadorEnLinea c("wrong-echo:2");
    EXPECT_EQ(c.intercambio(tabla_borrar_bloque0), tabla_borrar_bloque0 + ".\r\n");
    const std::string r1 = hexRecord(0, 0x0000, {1, 2, 3});
    const std::string r2 = hexRecord(0, 0x0010, {4, 5, 6});
    const std::string r3 = hexRecord(0, 0x0020, {7, 8, 9});
    EXPECT_EQ(c.intercambio(r1), r1 + ".\r\n");
    std::string mal = r2;
    mal.back() = mal.back() == '0' ? '1' : '0';
    EXPECT_EQ(c.intercambio(r2), mal + ".\r\n");
    EXPECT_EQ(c.intercambio(r3), r3 + ".\r\n");
    const auto mem = c.sim.unit->xaLoader().memory();
    EXPECT_EQ(mem.at(0x0010), 4);
    EXPECT_EQ(mem.at(0x0012), 6);
}

// The acknowledgement of the last block's erase is the last thing said; a restart of
// the controller gives it its voice back.
TEST(XaRehearsalFaults, SilentAfterEraseFallsSilentOnceTheLastBlockIsErased) {
    CargadorEnLinea c("silent-after-erase");
    EXPECT_EQ(c.intercambio(tabla_borrar_bloque3), tabla_borrar_bloque3 + ".\r\n");
    EXPECT_EQ(c.intercambio(tabla_borrar_bloque4), tabla_borrar_bloque4 + ".\r\n");
    EXPECT_EQ(c.intercambio(hexRecord(0, 0x0000, {1})), "");
    EXPECT_EQ(c.intercambio("f"), "");
    c.sim.unit->enterMode(SimUnit::Mode::Application, c.sim.clock.now());
    c.sim.unit->enterMode(SimUnit::Mode::XaLoader, c.sim.clock.now());
    EXPECT_EQ(c.intercambio("f"), "f");
}
