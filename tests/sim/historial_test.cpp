// A unit served load after load (the companion) keeps only the newest entry of each
// record of what it received: its memory stays flat, and the loads it serves still
// end with the image in its flash.
#include "support/worker_rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace {

size_t mayor_registro(SimUnit& u) {
    const auto& a = u.armBootloader();
    const auto s = u.software().records();
    return std::max({a.commands().size(), a.blocks().size(), a.reads().size(),
                     a.erasedPages().size(), s.frames.size(), s.rejected.size(),
                     u.xaLoader().lines().size(), u.xaLoader().unerasedWrites().size()});
}

} // namespace

TEST(UnitHistory, LoadsInARowKeepOnlyTheNewestRecordsAndStillWriteTheImage) {
    struct Caso {
        const char* nombre;
        SimUnit::Controller controlador;
        std::string tipo;
        const char* id;
        uint32_t base; // where bank 1 lands in the controller's flash
    } casos[] = {
        {"ARM", SimUnit::Controller::ARM, TIPO_FICHERO_VTR_ARM, "FIRMVTR-900_0412", 0x08000000},
        {"XA", SimUnit::Controller::XA, TIPO_FICHERO_VTR_XA, "FIRMVTR-900_0307", 0x0000},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        WorkerRig rig(c.controlador);
        rig.unit().setKeepHistory(false);
        ASSERT_TRUE(rig.select());
        // Two loads with different images: the second must replace the first whole.
        for (const uint8_t seed : {uint8_t{0x10}, uint8_t{0x90}}) {
            SCOPED_TRACE(static_cast<int>(seed));
            auto b1 = registros_datos(0x0000, 300, seed);
            if (c.controlador == SimUnit::Controller::ARM)
                b1.insert(b1.begin(), hexExtendedLinear(0x0800));
            const size_t from = rig.rec.size();

            ASSERT_TRUE(rig.load(trabajo_unidad(c.tipo, c.id, con_fin(b1),
                                                con_fin(registros_datos(0x4000, 200, seed)))));

            const auto log = rig.rec.since(from);
            EXPECT_NE(std::find(log.begin(), log.end(), "resultado:11:OK: Update completed"),
                      log.end());
            const auto memoria = c.controlador == SimUnit::Controller::ARM
                                     ? rig.unit().armBootloader().memory()
                                     : rig.unit().xaLoader().memory();
            EXPECT_EQ(memoria, bytes_de(c.base, 300, seed));
            EXPECT_LE(mayor_registro(rig.unit()), 1u);
            const auto borrados = rig.unit().xaLoader().erasedBlocks();
            EXPECT_EQ(std::set<uint8_t>(borrados.begin(), borrados.end()).size(), borrados.size());
        }
    }
}
