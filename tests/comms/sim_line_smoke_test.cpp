// The simulated line carries bytes and DTR changes with their times, in simulated time.
#include "support/sim_fixture.h"

#include <gtest/gtest.h>

TEST(SimLine, OpeningRecordsDtrAndTimeOutCostsSimulatedTimeOnly) {
    SimPortFixture f;
    auto& l = f.open();
    ASSERT_TRUE(l.abierto());
    const Tiempo t0 = f.clock.now();
    // 40 idle polls of 50 ms on a silent line: about 2 s, in no real time.
    EXPECT_EQ(l.recibir_datos_nfisico(40, "y"), ERROR_TIMEOUT);
    const Tiempo waited = f.clock.now() - t0;
    EXPECT_GE(waited, ms(2000));
    EXPECT_LE(waited, ms(2100));
    ASSERT_FALSE(f.unit->line().dtrHistory().empty());
}
