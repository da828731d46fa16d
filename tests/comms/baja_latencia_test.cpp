// Low-latency mode is asked for on every open of a real port; a device that
// refuses it (here a pseudo-terminal, which has no serial driver settings) is
// still opened and used, and the note for the trace says which it was.
#include "comms/puerto_qt.h"
#include "sim/pty_bridge.h"
#include "sim/unidad_simulada.h"

#include <gtest/gtest.h>

#ifdef __linux__

TEST(BajaLatencia, RefusalIsNotedAndThePortStaysOpen) {
    auto unidad = crear_unidad_simulada("arm");
    PtyBridge puente(*unidad);
    std::string error;
    ASSERT_TRUE(puente.open(error)) << error;

    PuertoQt puerto(puente.slavePath());
    EXPECT_TRUE(puerto.ComOpenNote().empty()); // nothing before an open
    puerto.ComInit(0);
    ASSERT_EQ(puerto.ComResult(), scOk);
    EXPECT_TRUE(puerto.ComValid());
    EXPECT_EQ(puerto.ComOpenNote().rfind("Low-latency mode: refused (", 0), 0u)
        << puerto.ComOpenNote();
    EXPECT_TRUE(puerto.ComWrite(0x7F)); // and it carries bytes all the same

    // A failed open says nothing about latency.
    PuertoQt ausente("/dev/no-such-port-vtr900");
    ausente.ComInit(0);
    EXPECT_NE(ausente.ComResult(), scOk);
    EXPECT_TRUE(ausente.ComOpenNote().empty());
}

#endif
