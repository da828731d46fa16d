// Opening, sending and changing the line format at the physical level, in
// simulated time, with the wire modelled as a real transmitter behaves.
#include "linea_prueba.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

Bytes counting(size_t n, uint8_t from = 0) {
    Bytes b(n);
    std::iota(b.begin(), b.end(), from);
    return b;
}

TEST(PhysicalOpen, OpensWithTheFormatClearsRtsAndLeavesDtrAsOpened) {
    struct Case {
        uint8_t mode;
        bool rtsAfter;
    };
    // A mode of neither kind (the old modem mode, 2) leaves RTS as it was.
    for (const Case c : {Case{MODO_RS232, false}, Case{MODO_RS485, false}, Case{2, true}}) {
        SCOPED_TRACE(int(c.mode));
        LineFixture f;
        ASSERT_EQ(f.open(FORMAT_19200_8N1, 15000, c.mode), 0);
        EXPECT_TRUE(f.port->abierto());
        EXPECT_EQ(f.port->baud(), 19200);
        EXPECT_EQ(f.line->hostFormat(), FORMAT_19200_8N1);
        EXPECT_EQ(f.line->rtsOn(), c.rtsAfter);
        // DTR as opening left it (asserted), untouched until the first DTR sequence.
        const auto dtr = f.line->dtrHistory();
        ASSERT_EQ(dtr.size(), 1u);
        EXPECT_TRUE(dtr[0].asserted);
    }
}

TEST(PhysicalOpen, PortThatCannotBeOpenedOrIsInUseIsRefused) {
    struct Case {
        const char* name;
        SimLine::Faults faults;
    };
    SimLine::Faults missing;
    missing.refuseOpen = true;
    SimLine::Faults inUse;
    inUse.inUse = true;
    for (const Case& c : {Case{"missing", missing}, Case{"in use", inUse}}) {
        SCOPED_TRACE(c.name);
        LineFixture f;
        f.line->setFaults(c.faults);
        EXPECT_EQ(f.open(FORMAT_115200_8E1), 1);
        EXPECT_FALSE(f.port->abierto());
        EXPECT_EQ(f.port->baud(), 9600); // the fields keep their values
        EXPECT_EQ(f.send({1}), ERROR_INTERFACE_NOOPEN);
        EXPECT_TRUE(f.line->bytes().empty());
    }
}

TEST(PhysicalOpen, SecondOpenOfAPortInUseIsRefusedAndTheFirstKeepsIt) {
    LineFixture f;
    ASSERT_EQ(f.open(), 0);
    Tinterface_com other;
    EXPECT_EQ(other.abrir_interface(LineFixture::kIndex, MODO_RS232, 19200, 8, 1, 'N', 0,
                                    THRESHOLD08, 15000, 15000, AJUSTE_RS485_DEF),
              1);
    EXPECT_FALSE(other.abierto());
    EXPECT_TRUE(f.line->hostIsOpen());
    EXPECT_EQ(f.send({0x42}), TRAMA_TRANSMITIDA);
    f.settle();
    EXPECT_EQ(f.device.values(), Bytes{0x42});
}

TEST(PhysicalSend, SendsEveryByteInOrderUpToTheBufferLimit) {
    LineFixture f;
    ASSERT_EQ(f.open(), 0);
    const Bytes block = counting(MAX_BUF_TRAMA + 1, 7);
    EXPECT_EQ(f.send(block), TRAMA_TRANSMITIDA);
    ASSERT_TRUE(f.port->cambia_conf(19200, 8, 1, 'N', 0)); // waits until they are out
    EXPECT_EQ(f.device.values(), block);
    EXPECT_EQ(f.device.garbledCount(), 0u);
}

TEST(PhysicalSend, LongerSendIsRefusedBeforeAnythingGoesOut) {
    LineFixture f;
    ASSERT_EQ(f.open(), 0);
    EXPECT_NE(f.send(counting(MAX_BUF_TRAMA + 2)), TRAMA_TRANSMITIDA);
    EXPECT_TRUE(f.line->bytes().empty());
}

TEST(PhysicalSend, ZeroBytesDropsUnreadInputAndSucceeds) {
    LineFixture f;
    ASSERT_EQ(f.open(), 0);
    f.fromUnit({'x'});
    f.clock.advanceTo(f.unitArrivals().back());
    EXPECT_EQ(f.send({}), TRAMA_TRANSMITIDA);
    EXPECT_EQ(f.port->recibir_datos_nfisico(0, "x"), ERROR_TIMEOUT);
    EXPECT_TRUE(f.device.got.empty());
}

// A transmitter that never takes another byte: the send gives up after its limit
// of polls and says so, whatever the limit.
TEST(PhysicalSend, StuckTransmitterTimesOutAfterItsLimit) {
    for (int32_t timeout : {5, 30}) {
        SCOPED_TRACE(timeout);
        LineFixture f;
        ASSERT_EQ(f.open(FORMAT_19200_8N1, 4), 0);
        SimLine::Faults stuck;
        stuck.neverDrains = true;
        f.line->setFaults(stuck);
        const Tiempo t0 = f.clock.now();
        EXPECT_EQ(f.send(counting(10), timeout), ERROR_TIMEOUT);
        EXPECT_EQ(f.clock.now() - t0, PERIODO_SONDEO * timeout);
    }
}

TEST(PhysicalSend, UnpluggedAdapterEndsTheSendAtOnce) {
    LineFixture f;
    ASSERT_EQ(f.open(FORMAT_9600_8N1, 1), 0); // one byte at a time: ~1 ms each
    SimLine::Faults faults;
    faults.unplugAt = f.clock.now() + ms(20);
    f.line->setFaults(faults);
    EXPECT_EQ(f.send(counting(100)), ERROR_INTERFACE_NOOPEN);
    EXPECT_EQ(f.clock.now(), faults.unplugAt);
    EXPECT_LT(f.device.got.size(), 100u);
    EXPECT_EQ(f.send({1}), ERROR_INTERFACE_NOOPEN);
}

// The ARM bootloader's Write Memory block goes out one byte per send. On a real
// port the previous byte is still being shifted out when the next send starts:
// every byte accepted for sending must arrive, in order.
TEST(PhysicalSend, WriteMemoryBlockSentByteByByteArrivesWhole) {
    LineFixture f;
    ASSERT_EQ(f.open(), 0);
    f.device.fmt = FORMAT_115200_8E1;
    ASSERT_TRUE(f.port->cambia_conf(115200, 8, 1, 'E', 0));
    Bytes block = {0x31, 0xCE, 0x08, 0x00, 0x10, 0x00, 0x18, 0xFF};
    const Bytes data = counting(256);
    block.insert(block.end(), data.begin(), data.end());
    block.push_back(0xFF); // checksum of 0xFF and 0..255
    for (uint8_t b : block)
        ASSERT_EQ(f.send({b}), TRAMA_TRANSMITIDA);
    f.settle();
    EXPECT_EQ(f.device.values(), block);
    EXPECT_EQ(f.device.garbledCount(), 0u);
}

// A format change must wait until the last byte has left the wire; changing
// speed or parity while it is being shifted out garbles it.
TEST(PhysicalSend, FormatChangeRightAfterASendWaitsForTheWireToEmpty) {
    struct Case {
        LineFormat from, to;
    };
    for (const Case& c :
         {Case{FORMAT_9600_8N1, FORMAT_19200_8N1}, Case{FORMAT_19200_8N1, FORMAT_115200_8E1}}) {
        SCOPED_TRACE(c.from.toString() + " -> " + c.to.toString());
        LineFixture f;
        ASSERT_EQ(f.open(c.from), 0);
        const Bytes block = counting(300);
        ASSERT_EQ(f.send(block), TRAMA_TRANSMITIDA);
        EXPECT_TRUE(f.port->cambia_conf(c.to.baud, c.to.dataBits, c.to.stopBits, c.to.parity, 0));
        EXPECT_EQ(f.line->hostFormat(), c.to);
        f.settle();
        EXPECT_EQ(f.device.values(), block);
        EXPECT_EQ(f.device.garbledCount(), 0u);
        ASSERT_FALSE(f.device.got.empty());
        EXPECT_GE(f.line->formatHistory().back().t, f.device.got.back().t);
    }
}

TEST(PhysicalSend, FormatChangeOnATransmitterThatNeverDrainsIsBounded) {
    LineFixture f;
    ASSERT_EQ(f.open(), 0);
    SimLine::Faults stuck;
    stuck.neverDrains = true;
    f.line->setFaults(stuck);
    ASSERT_EQ(f.send({1, 2, 3}), TRAMA_TRANSMITIDA);
    const Tiempo t0 = f.clock.now();
    EXPECT_FALSE(f.port->cambia_conf(9600, 8, 1, 'N', 0));
    EXPECT_EQ(f.clock.now() - t0, tiempos::MAX_ESPERA_VACIADO + ms(100));
    EXPECT_EQ(f.line->hostFormat(), FORMAT_9600_8N1);
}

TEST(PhysicalSend, DtrNamesAreTheReverseOfTheLibrarys) {
    LineFixture f;
    ASSERT_EQ(f.open(), 0);
    f.port->DTROn(); // clears DTR
    EXPECT_FALSE(f.line->dtrAsserted());
    f.port->DTROff(); // asserts DTR
    EXPECT_TRUE(f.line->dtrAsserted());
    EXPECT_EQ(f.line->dtrHistory().size(), 3u);
}

} // namespace
