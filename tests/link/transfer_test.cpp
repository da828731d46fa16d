// Firmware transfers over the framed protocol, end to end against the simulated
// unit's running software in simulated time: what the unit received is compared
// with the file, byte for byte, and with the CRC it carried.
#include "link_support.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using Records = SimRunningSoftware::Records;

// A line of Intel HEX-like text of the given length, different for every seed.
std::string hexLine(size_t len, int seed) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s(len, ':');
    for (size_t i = 1; i < len; ++i)
        s[i] = digits[(i * 7 + static_cast<size_t>(seed) * 13) % 16];
    return s;
}

std::string packetText(const SimRunningSoftware::Frame& f) {
    return std::string(f.payload.begin() + 2, f.payload.end());
}

// The dialogue common to both variants: identification, start, packets numbered
// 1, 2, ... modulo 8, and the end with the next number and the CRC of all data.
void expectDialogue(const Records& r, const std::string& id, size_t packets) {
    ASSERT_GE(r.frames.size(), 3u);
    std::vector<uint8_t> idp{SUBCOMANDO_ID_GRABACION};
    idp.insert(idp.end(), id.begin(), id.end());
    idp.push_back(0);
    EXPECT_EQ(r.frames[0].payload, idp);
    EXPECT_EQ(r.frames[0].sequence, 0);
    const auto& start = r.frames[1].payload;
    ASSERT_GE(start.size(), 2u);
    EXPECT_EQ(start[0], SUBCOMANDO_INICIO_TRANSFERENCIA);
    EXPECT_EQ(start[1], TRANSFERENCIA_FIRMWARE);
    EXPECT_EQ(r.frames[1].sequence, 0);
    const auto pk = framesWithSub(r, SUBCOMANDO_PAQUETE_TRANSFERENCIA);
    ASSERT_EQ(pk.size(), packets);
    for (size_t i = 0; i < pk.size(); ++i) {
        EXPECT_EQ(pk[i].sequence, (i + 1) % 8) << "packet " << i + 1;
        EXPECT_EQ(pk[i].payload[1], TRANSFERENCIA_FIRMWARE);
    }
    EXPECT_EQ(r.sequenceErrors, 0);
    const auto end = framesWithSub(r, SUBCOMANDO_FIN_TRANSFERENCIA);
    ASSERT_EQ(end.size(), 1u);
    EXPECT_EQ(end[0].sequence, (packets + 1) % 8);
    ASSERT_EQ(end[0].payload.size(), 6u);
    EXPECT_EQ(be32(end[0].payload, 2), SimRunningSoftware::crc32(r.data));
    EXPECT_TRUE(r.crcMatched);
    EXPECT_TRUE(r.completed);
}

struct HexCase {
    const char* name;
    std::vector<std::string> lines;
    std::vector<size_t> packetSizes;
};

} // namespace

TEST(HexTransfer, PacketsCarryTheFileTextInOrder) {
    const std::string l600 = hexLine(600, 1);
    std::vector<std::string> many;
    for (int i = 0; i < 20; ++i)
        many.push_back(hexLine(200, i));
    const std::vector<HexCase> cases = {
        {"252 characters in one packet", {hexLine(100, 1), hexLine(100, 2), hexLine(52, 3)}, {252}},
        {"253 characters: the last line opens packet 2",
         {hexLine(100, 1), hexLine(100, 2), hexLine(53, 3)},
         {200, 53}},
        {"last line that does not fit is the last packet",
         {hexLine(250, 1), hexLine(10, 2)},
         {250, 10}},
        {"empty file", {}, {}},
        {"more than eight packets", many, std::vector<size_t>(20, 200)},
        // Mended: a line longer than a packet goes in pieces, nothing is lost.
        {"line of 253 characters", {hexLine(253, 1)}, {252, 1}},
        {"line of 600 between short ones",
         {hexLine(40, 1), l600, hexLine(40, 2), hexLine(11, 3)},
         {40, 252, 252, 96 + 40 + 11}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinkRig w;
        std::string file, text;
        for (const auto& l : c.lines) {
            file += l + "\r\n";
            text += l;
        }
        EXPECT_EQ(w.tramas().grabar_flash_intelhex("FIRMVTR-900_0412", file, 0,
                                                   static_cast<long long>(text.size())),
                  Resultado::Ok);
        const auto r = w.records();
        expectDialogue(r, "FIRMVTR-900_0412", c.packetSizes.size());
        EXPECT_EQ(r.frames[1].payload.size(), 2u); // the HEX start carries no size
        const auto pk = framesWithSub(r, SUBCOMANDO_PAQUETE_TRANSFERENCIA);
        std::vector<size_t> sizes;
        for (const auto& p : pk)
            sizes.push_back(packetText(p).size());
        EXPECT_EQ(sizes, c.packetSizes);
        EXPECT_EQ(std::string(r.data.begin(), r.data.end()), text);
        EXPECT_EQ(w.crcReported(), crcText(SimRunningSoftware::crc32(r.data)));
        EXPECT_TRUE(r.rejected.empty());
        // The CRC is the last thing reported: shown before the end message goes out.
        ASSERT_FALSE(w.rec.log().empty());
        EXPECT_EQ(w.rec.log().back(), "crc:" + crcText(SimRunningSoftware::crc32(r.data)));
    }
}

TEST(HexTransfer, EmptyFileEndsWithCrcZeroAndSequenceOne) {
    LinkRig w;
    EXPECT_EQ(w.tramas().grabar_flash_intelhex("X", "", 0, 0), Resultado::Ok);
    const auto end = framesWithSub(w.records(), SUBCOMANDO_FIN_TRANSFERENCIA);
    ASSERT_EQ(end.size(), 1u);
    EXPECT_EQ(end[0].payload, (std::vector<uint8_t>{SUBCOMANDO_FIN_TRANSFERENCIA,
                                                    TRANSFERENCIA_FIRMWARE, 0, 0, 0, 0}));
    EXPECT_EQ(end[0].sequence, 1);
}

TEST(HexTransfer, IdentificationPayloadAndNewVersionAfterwards) {
    LinkRig w;
    const std::string fin = ":00000001FF\n"; // LF line ends too
    EXPECT_EQ(w.tramas().grabar_flash_intelhex("abc", fin, 0, 0), Resultado::Ok);
    const auto r = w.records();
    EXPECT_EQ(r.frames[0].payload, (std::vector<uint8_t>{0x00, 0x61, 0x62, 0x63, 0x00}));
    EXPECT_EQ(std::string(r.data.begin(), r.data.end()), ":00000001FF");

    // A complete transfer of FIRMVTR-900_0412 makes the unit report 4.12.
    EXPECT_EQ(w.tramas().grabar_flash_intelhex("FIRMVTR-900_0412", fin, 0, 0), Resultado::Ok);
    TransferenciaTramas t = w.tramas();
    ASSERT_EQ(t.pedir_estado(), TRAMA_RECIBIDA);
    EXPECT_EQ(t.version_mayor(), 4);
    EXPECT_EQ(t.version_menor(), 12);
}

// A unit that never answers packets still gets every one (three times each, taken
// once) and the end message; the end's answer decides.
TEST(HexTransfer, UnansweredPacketsDoNotStopTheTransfer) {
    LinkRig w;
    SimRunningSoftware::Config cfg;
    cfg.noAnswerToPackets = true;
    w.software().setConfig(cfg);
    const std::vector<std::string> lines{hexLine(200, 1), hexLine(200, 2), hexLine(200, 3)};
    EXPECT_EQ(w.tramas().grabar_flash_intelhex(
                  "ID", lines[0] + "\r\n" + lines[1] + "\r\n" + lines[2], 0, 0),
              Resultado::Ok);
    const auto r = w.records();
    const auto pk = framesWithSub(r, SUBCOMANDO_PAQUETE_TRANSFERENCIA);
    ASSERT_EQ(pk.size(), 9u);
    for (size_t i = 0; i < pk.size(); ++i)
        EXPECT_EQ(pk[i].sequence, i / 3 + 1);
    EXPECT_EQ(r.packets, 3);
    EXPECT_EQ(std::string(r.data.begin(), r.data.end()), lines[0] + lines[1] + lines[2]);
    EXPECT_TRUE(r.completed);
}

TEST(HexTransfer, FailsWhenIdentificationOrEndIsUnanswered) {
    struct Case {
        const char* name;
        std::vector<int> noAnswerTo;
        size_t frames;
    } cases[] = {
        {"identification", {1, 2, 3}, 3},
        // id, start, one packet, then the end three times
        {"end", {4, 5, 6}, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinkRig w;
        SimRunningSoftware::Config cfg;
        cfg.noAnswerTo = c.noAnswerTo;
        w.software().setConfig(cfg);
        EXPECT_EQ(w.tramas().grabar_flash_intelhex("ID", ":00000001FF\r\n", 0, 0),
                  Resultado::SinRespuesta);
        EXPECT_EQ(w.records().frames.size(), c.frames);
    }
}

TEST(HexTransfer, ProgressStaysWithinBoundsWhateverTheTotal) {
    struct Case {
        const char* name;
        int partial;
        int total;
        std::vector<int> progress;
    } cases[] = {
        {"own total", 0, 300, {66, 100}},
        {"after a controller step", 300, 600, {83, 100}},
        {"total unknown", 0, 0, {0, 0}},
        {"total too small", 0, 100, {100, 100}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinkRig w;
        EXPECT_EQ(w.tramas().grabar_flash_intelhex("ID", hexLine(200, 1) + "\r\n" + hexLine(100, 2),
                                                   c.partial, c.total),
                  Resultado::Ok);
        EXPECT_EQ(w.rec.progresos(), c.progress);
    }
}

// ---- binary images

namespace {

const std::string kHeader = "VTR-900 MODULE\r\nFIRMMOD_0203\r\nBIN\r\n12345\r\n";

std::string image(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 29 + 0xA5) & 0xFF); // every value, 0xA5 and CR too
    return s;
}

} // namespace

TEST(BinTransfer, ImageAfterTheHeaderGoesInPacketsOf253) {
    for (size_t n : {size_t(0), size_t(1), size_t(253), size_t(506), size_t(2000)}) {
        SCOPED_TRACE(n);
        LinkRig w;
        const std::string img = image(n);
        EXPECT_EQ(w.tramas().grabar_flash_bin("FIRMMOD_0203", kHeader + img, 0), Resultado::Ok);
        const auto r = w.records();
        const size_t packets = (n + 252) / 253;
        expectDialogue(r, "FIRMMOD_0203", packets);
        ASSERT_EQ(r.frames[1].payload.size(), 6u);
        EXPECT_EQ(be32(r.frames[1].payload, 2), n);
        EXPECT_EQ(std::string(r.data.begin(), r.data.end()), img);
        for (const auto& p : framesWithSub(r, SUBCOMANDO_PAQUETE_TRANSFERENCIA))
            EXPECT_LE(p.payload.size(), 255u);
        EXPECT_EQ(w.crcReported(), crcText(SimRunningSoftware::crc32(r.data)));
        EXPECT_TRUE(r.rejected.empty());
        if (n > 0) {
            EXPECT_EQ(w.rec.progresos().back(), 100);
        } else {
            EXPECT_EQ(be32(framesWithSub(r, SUBCOMANDO_FIN_TRANSFERENCIA)[0].payload, 2), 0u);
        }
    }
}

// Data made of start bytes doubles in size on the wire: a full packet of them is
// longer than one send of the physical level and must still arrive whole.
TEST(BinTransfer, ImageOfStartBytesArrivesWhole) {
    LinkRig w;
    const std::string img(600, '\xA5');
    EXPECT_EQ(w.tramas().grabar_flash_bin("ID", kHeader + img, 0), Resultado::Ok);
    const auto r = w.records();
    EXPECT_EQ(std::string(r.data.begin(), r.data.end()), img);
    EXPECT_TRUE(r.completed);
    EXPECT_TRUE(r.rejected.empty());
}

// The unit takes its time to make room: the first packet follows the start's
// answer only after the 20 s wait.
TEST(BinTransfer, StartIsAnsweredAfterTheLongWait) {
    LinkRig w;
    EXPECT_EQ(w.tramas().grabar_flash_bin("ID", kHeader + image(10), 0), Resultado::Ok);
    const auto r = w.records();
    const auto pk = framesWithSub(r, SUBCOMANDO_PAQUETE_TRANSFERENCIA);
    ASSERT_EQ(pk.size(), 1u);
    // From the start byte of one frame to the start byte of the next.
    EXPECT_GE(pk[0].start - r.frames[1].start, ms(20000));
    EXPECT_LT(pk[0].start - r.frames[1].start, ms(20500));
}

TEST(BinTransfer, RefusalAndSilenceFailWithoutEndMessage) {
    struct Case {
        const char* name;
        bool refuse;
        bool silentPackets;
        Resultado result;
        size_t packets; // packet frames on the wire
    } cases[] = {
        {"image refused", true, false, Resultado::Rechazado, 0},
        {"packets unanswered", false, true, Resultado::SinRespuesta, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinkRig w;
        SimRunningSoftware::Config cfg;
        cfg.refuseBinary = c.refuse;
        cfg.noAnswerToPackets = c.silentPackets;
        w.software().setConfig(cfg);
        EXPECT_EQ(w.tramas().grabar_flash_bin("ID", kHeader + image(600), 0), c.result);
        const auto r = w.records();
        const auto pk = framesWithSub(r, SUBCOMANDO_PAQUETE_TRANSFERENCIA);
        ASSERT_EQ(pk.size(), c.packets);
        for (const auto& p : pk)
            EXPECT_EQ(p.sequence, 1); // the first packet, again and again
        EXPECT_TRUE(framesWithSub(r, SUBCOMANDO_FIN_TRANSFERENCIA).empty());
    }
}

// A port whose link object is gone fails the transfer cleanly: nothing reaches
// the unit and no wait is spent on it.
TEST(Transfer, ClosedPortFailsCleanly) {
    for (bool binary : {false, true}) {
        SCOPED_TRACE(binary ? "binary" : "HEX");
        LinkRig w;
        Contexto cerrado = w.contexto();
        cerrado.enlace = nullptr;
        TransferenciaTramas t(cerrado, w.tx, w.rx);
        const Tiempo t0 = w.ahora();
        EXPECT_EQ(binary ? t.grabar_flash_bin("ID", kHeader + image(600), 0)
                         : t.grabar_flash_intelhex("ID", ":00000001FF\r\n", 0, 0),
                  Resultado::FalloPuerto);
        EXPECT_EQ(w.ahora(), t0);
        EXPECT_TRUE(w.records().frames.empty());
    }
}

// The whole transfer leaves trace lines only while the switch is on.
TEST(Transfer, TraceQueueFollowsTheSwitch) {
    for (bool on : {true, false}) {
        SCOPED_TRACE(on);
        LinkRig w;
        hab_traza = on;
        EXPECT_EQ(w.tramas().grabar_flash_intelhex("ID", hexLine(200, 1) + "\r\n" + hexLine(100, 2),
                                                   0, 0),
                  Resultado::Ok);
        const auto lines = w.takeTrace();
        if (!on) {
            EXPECT_TRUE(lines.empty());
            continue;
        }
        // identification, start, two packets, end: a TX and an RX line each
        ASSERT_EQ(lines.size(), 10u);
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_EQ(lines[i].substr(0, 4), i % 2 ? "RX->" : "TX->") << i;
    }
}

// The identification and its two zero bytes travel in a one-byte length: a longer
// one is refused before anything is sent instead of going out cut short.
TEST(Transfer, IdentificationLongerThanAFrameIsRefused) {
    for (size_t len : {size_t(253), size_t(254)}) {
        SCOPED_TRACE(len);
        LinkRig w;
        const std::string id(len, 'I');
        EXPECT_EQ(w.tramas().grabar_flash_intelhex(id, ":00000001FF\r\n", 0, 0),
                  len > 253 ? Resultado::ErrorFichero : Resultado::Ok);
        const auto r = w.records();
        EXPECT_EQ(r.frames.empty(), len > 253);
        if (len <= 253) {
            EXPECT_EQ(r.identification, id);
        }
    }
}
