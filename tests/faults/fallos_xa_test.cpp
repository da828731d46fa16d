// The XA loader's rehearsal faults on the wire, without the host's loader: what
// exactly goes wrong, and that nothing else does.
#include "loader/tablas_xa.h"
#include "sim/fallos.h"
#include "support/cargador_xa_en_linea.h"
#include "support/hex_records.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The loader on the line with one rehearsal fault.
struct CargadorEnLinea : CargadorXaEnLinea {
    explicit CargadorEnLinea(const char* fallo) {
        std::string error;
        aplicar_fallo(*sim.unit, *leer_fallo(fallo, error));
    }
};

} // namespace

// Only the n-th data record comes back wrong, in its last character; the loader
// takes and acknowledges it all the same, and the other lines are untouched.
TEST(XaRehearsalFaults, WrongEchoChangesOnlyTheNthDataRecordsEcho) {
    CargadorEnLinea c("wrong-echo:2");
    EXPECT_EQ(c.exchange(tabla_borrar_bloque0), tabla_borrar_bloque0 + ".\r\n");
    const std::string r1 = hexRecord(0, 0x0000, {1, 2, 3});
    const std::string r2 = hexRecord(0, 0x0010, {4, 5, 6});
    const std::string r3 = hexRecord(0, 0x0020, {7, 8, 9});
    EXPECT_EQ(c.exchange(r1), r1 + ".\r\n");
    std::string mal = r2;
    mal.back() = mal.back() == '0' ? '1' : '0';
    EXPECT_EQ(c.exchange(r2), mal + ".\r\n");
    EXPECT_EQ(c.exchange(r3), r3 + ".\r\n");
    const auto mem = c.sim.unit->xaLoader().memory();
    EXPECT_EQ(mem.at(0x0010), 4);
    EXPECT_EQ(mem.at(0x0012), 6);
}

// The acknowledgement of the last block's erase is the last thing said; a restart of
// the controller gives it its voice back.
TEST(XaRehearsalFaults, SilentAfterEraseFallsSilentOnceTheLastBlockIsErased) {
    CargadorEnLinea c("silent-after-erase");
    EXPECT_EQ(c.exchange(tabla_borrar_bloque3), tabla_borrar_bloque3 + ".\r\n");
    EXPECT_EQ(c.exchange(tabla_borrar_bloque4), tabla_borrar_bloque4 + ".\r\n");
    EXPECT_EQ(c.exchange(hexRecord(0, 0x0000, {1})), "");
    EXPECT_EQ(c.exchange("f"), "");
    c.sim.unit->enterMode(SimUnit::Mode::Application, c.sim.clock.now());
    c.sim.unit->enterMode(SimUnit::Mode::XaLoader, c.sim.clock.now());
    EXPECT_EQ(c.exchange("f"), "f");
}
