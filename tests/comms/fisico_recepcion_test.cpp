// Receiving frames and expected texts at the physical level, in simulated time.
#include "linea_prueba.h"

#include <gtest/gtest.h>

namespace {

const Bytes kHeader = {0x00, 0x01, 0x02, 0x03}; // address, extended address, command

struct FrameCase {
    const char* name;
    Bytes wire;     // as the unit sends it
    Bytes expected; // as it must be stored, start byte first
};

// Doubled start bytes: after the second stored byte a pair on the wire stands
// for one start-byte value; the byte right after the start byte is never paired.
const FrameCase kFrames[] = {
    {"plain", concat({{0xA5}, kHeader, {3, 0x11, 0x22, 0x33}, {0x5C}}),
     concat({{0xA5}, kHeader, {3, 0x11, 0x22, 0x33}, {0x5C}})},
    {"pair", concat({{0xA5}, kHeader, {3, 0x11, 0xA5, 0xA5, 0x22}, {0x5C}}),
     concat({{0xA5}, kHeader, {3, 0x11, 0xA5, 0x22}, {0x5C}})},
    {"quadruple", concat({{0xA5}, kHeader, {2, 0xA5, 0xA5, 0xA5, 0xA5}, {0x5C}}),
     concat({{0xA5}, kHeader, {2, 0xA5, 0xA5}, {0x5C}})},
    {"two_separate_pairs", concat({{0xA5}, kHeader, {3, 0xA5, 0xA5, 0x33, 0xA5, 0xA5}, {0x5C}}),
     concat({{0xA5}, kHeader, {3, 0xA5, 0x33, 0xA5}, {0x5C}})},
    {"byte_after_start_not_paired", Bytes{0xA5, 0xA5, 0x01, 0x02, 0x03, 0x00, 0x5C},
     Bytes{0xA5, 0xA5, 0x01, 0x02, 0x03, 0x00, 0x5C}},
    {"noise_before_start", concat({{0x00, 0xFF, 0x12}, {0xA5}, kHeader, {1, 0x44}, {0x5C}}),
     concat({{0xA5}, kHeader, {1, 0x44}, {0x5C}})},
    {"length_zero", concat({{0xA5}, kHeader, {0}, {0x5C}}), concat({{0xA5}, kHeader, {0}, {0x5C}})},
};

class FrameReceive : public ::testing::TestWithParam<FrameCase> {};

TEST_P(FrameReceive, StoresTheFrameAsSent) {
    LineFixture f;
    ASSERT_EQ(f.open(), 0);
    const FrameCase& c = GetParam();
    // A trailing byte after the frame must not be taken into it.
    f.fromUnit(concat({c.wire, {0x77}}));
    Tbuff rx{};
    ASSERT_EQ(f.receive(rx), TRAMA_RECIBIDA);
    EXPECT_EQ(rx[0], c.expected.size());
    EXPECT_EQ(stored(rx), c.expected);
    // The frame ended on its checksum: the call returned when that byte arrived.
    EXPECT_EQ(f.clock.now(), f.unitArrivals()[c.wire.size() - 1]);
}

INSTANTIATE_TEST_SUITE_P(Physical, FrameReceive, ::testing::ValuesIn(kFrames),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PhysicalReceive, NoiseBeforeTheStartByteKeepsTheReceiverAlive) {
    LineFixture f;
    ASSERT_EQ(f.open(), 0);
    const Tiempo t0 = f.clock.now();
    // Time-out 2 is 100 ms of silence; noise every 80 ms for a second, then a frame.
    for (int i = 1; i <= 12; ++i)
        f.fromUnitAt(t0 + ms(80) * i, {0x10});
    f.fromUnitAt(t0 + ms(1040), concat({{0xA5}, kHeader, {0}, {0x5C}}));
    Tbuff rx{};
    EXPECT_EQ(f.receive(rx, 2), TRAMA_RECIBIDA);
    EXPECT_EQ(rx[0], 7);
}

TEST(PhysicalReceive, TimeOutCountsPollsOfSilence) {
    for (int32_t timeout : {0, 1, 40}) {
        SCOPED_TRACE(timeout);
        LineFixture f;
        ASSERT_EQ(f.open(), 0);
        Tbuff rx{};
        Tiempo t0 = f.clock.now();
        // Time-out 0 on an empty line returns at the first empty poll, without waiting.
        EXPECT_EQ(f.receive(rx, timeout), ERROR_TIMEOUT);
        EXPECT_EQ(f.clock.now() - t0, PERIODO_SONDEO * timeout);
        t0 = f.clock.now();
        EXPECT_EQ(f.port->recibir_datos_nfisico(Sondeos{timeout}, "y"), ERROR_TIMEOUT);
        EXPECT_EQ(f.clock.now() - t0, Sondeos{timeout}.duracion());
    }
}

TEST(PhysicalReceive, AnyByteRestartsTheSilenceCount) {
    LineFixture f;
    ASSERT_EQ(f.open(), 0);
    const Tiempo t0 = f.clock.now();
    f.fromUnitAt(t0 + ms(1000), {0x10});
    f.fromUnitAt(t0 + ms(3000), {0x10, 0xA5, 0x01}); // a frame that never ends
    Tbuff rx{};
    EXPECT_EQ(f.receive(rx, 40), ERROR_TIMEOUT);
    const auto arrivals = f.unitArrivals();
    ASSERT_EQ(arrivals.size(), 4u);
    EXPECT_EQ(f.clock.now(), arrivals.back() + PERIODO_SONDEO * 40);
}

TEST(PhysicalReceive, OtherProtocolReadsNothing) {
    LineFixture f;
    ASSERT_EQ(f.open(), 0);
    const Bytes frame = concat({{0xA5}, kHeader, {0}, {0x5C}});
    f.fromUnit(frame);
    f.clock.advanceTo(f.unitArrivals().back());
    const Tiempo t0 = f.clock.now();
    Tbuff rx{};
    EXPECT_EQ(f.receive(rx, 40, 1), ERROR_TIMEOUT);
    EXPECT_EQ(f.clock.now(), t0);
    // The bytes are still there for the framed protocol.
    EXPECT_EQ(f.receive(rx, 0), TRAMA_RECIBIDA);
    EXPECT_EQ(stored(rx), frame);
}

TEST(PhysicalReceive, FrameCutShortTimesOut) {
    LineFixture f;
    ASSERT_EQ(f.open(), 0);
    f.fromUnit(concat({{0xA5}, kHeader, {3, 0x11}}));
    Tbuff rx{};
    EXPECT_EQ(f.receive(rx, 4), ERROR_TIMEOUT);
}

// The count travels in one byte: a frame storing more than 255 bytes is an error,
// never a short frame.
TEST(PhysicalReceive, FrameOfMoreThan255StoredBytesIsRejected) {
    struct Case {
        uint8_t length;
        int result;
    };
    for (const Case c : {Case{248, TRAMA_RECIBIDA}, Case{249, ERROR_CHECKSUM}}) {
        SCOPED_TRACE(int(c.length));
        LineFixture f;
        ASSERT_EQ(f.open(), 0);
        Bytes data(c.length, 0x3C);
        const Bytes wire = concat({{0xA5}, kHeader, {c.length}, data, {0x5C}});
        f.fromUnit(wire);
        Tbuff rx{};
        rx.fill(0xEE);
        EXPECT_EQ(f.receive(rx), c.result);
        if (c.result == TRAMA_RECIBIDA) {
            EXPECT_EQ(rx[0], 255);
            EXPECT_EQ(stored(rx), wire);
        } else {
            EXPECT_EQ(rx[0], 0);
        }
    }
}

TEST(PhysicalReceive, TextWaitMatchesInOrderAndSkipsTheLastCharacter) {
    struct Case {
        const char* text;
        const char* wire;
        int result;
        int returnsOn; // index of the wire byte whose arrival ends the wait
    };
    const Case cases[] = {
        {"y", "aybyc", TRAMA_RECIBIDA, 1}, // the first y
        {"AB", "xAyB", TRAMA_RECIBIDA, 1}, // as soon as the A: B is not waited for
        {"AB", "B", ERROR_TIMEOUT, -1},    // characters only match in order
        {"ABC", "AxCB", TRAMA_RECIBIDA, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.wire);
        LineFixture f;
        ASSERT_EQ(f.open(), 0);
        const std::string w = c.wire;
        f.fromUnit(Bytes(w.begin(), w.end()));
        EXPECT_EQ(f.port->recibir_datos_nfisico(3, c.text), c.result);
        if (c.returnsOn >= 0) {
            EXPECT_EQ(f.clock.now(), f.unitArrivals()[static_cast<size_t>(c.returnsOn)]);
        }
    }
}

TEST(PhysicalReceive, UnpluggedAdapterEndsTheWaitAtOnce) {
    LineFixture f;
    ASSERT_EQ(f.open(), 0);
    SimLine::Faults faults;
    faults.unplugAt = f.clock.now() + ms(500);
    f.line->setFaults(faults);
    Tbuff rx{};
    EXPECT_EQ(f.receive(rx, 40), ERROR_INTERFACE_NOOPEN);
    EXPECT_EQ(f.clock.now(), faults.unplugAt);
    EXPECT_EQ(f.port->recibir_datos_nfisico(40, "y"), ERROR_INTERFACE_NOOPEN);
    EXPECT_EQ(f.clock.now(), faults.unplugAt);
}

TEST(PhysicalReceive, ClosedPortIsReported) {
    LineFixture f;
    Tbuff rx{};
    EXPECT_EQ(f.receive(rx), ERROR_INTERFACE_NOOPEN);
    EXPECT_EQ(f.send({1, 2}), ERROR_INTERFACE_NOOPEN);
}

} // namespace
