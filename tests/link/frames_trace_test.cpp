// Frames of the framed protocol, the CRC-32 and the trace lines, checked on the
// wire against the simulated unit's running software.
#include "link_support.h"

#include "loader/tmgrupo_superv.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

std::vector<uint8_t> wire(const Tmensaje& m, int n) {
    return {m.trama_nfisico.begin(), m.trama_nfisico.begin() + n};
}

Tmensaje message(uint8_t cmd, uint8_t seq, int32_t addr, const std::vector<uint8_t>& data) {
    Tmensaje m;
    m.fcomando = cmd;
    m.fnsecuencia = seq;
    m.fdireccion = addr;
    m.fnbytes = static_cast<int32_t>(data.size());
    std::copy(data.begin(), data.end(), m.trama_nenlace.begin());
    return m;
}

struct FrameCase {
    const char* name;
    uint8_t cmd;
    uint8_t seq;
    int32_t addr;
    std::vector<uint8_t> data;
    std::vector<uint8_t> expected;
};

} // namespace

TEST(LinkFrames, BuildsStuffedFramesWithChecksum) {
    const std::vector<FrameCase> cases = {
        {"status request", 4, 0, 0, {}, {0xA5, 0x04, 0x00, 0x00, 0x00, 0x00, 0xFC}},
        {"only low command and sequence bits", 0x13, 9, 0, {}, {0xA5, 0x13, 0, 0, 0, 0, 0xED}},
        {"address and data 0xA5 doubled",
         0,
         0,
         0x12A5,
         {0xA5},
         {0xA5, 0x00, 0x00, 0x12, 0xA5, 0xA5, 0x01, 0xA5, 0xA5, 0xA3}},
        // 0x03 + 0x01 + 0x57 = 0x5B: the checksum is 0xA5 and doubled too.
        {"checksum 0xA5 doubled", 3, 0, 0, {0x57}, {0xA5, 0x03, 0, 0, 0, 0x01, 0x57, 0xA5, 0xA5}},
    };
    Tinterface_enlace l;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Tmensaje m = message(c.cmd, c.seq, c.addr, c.data);
        m.fsubprotocolo = 5;
        const int n = l.prepara_trama(m);
        ASSERT_EQ(n, static_cast<int>(c.expected.size()));
        EXPECT_EQ(wire(m, n), c.expected);
        EXPECT_EQ(m.fsubprotocolo, 0);
    }
}

// Every payload length and every byte value goes through the unit's own receiver:
// the frames it takes carry exactly the payload that was sent, with no rejection.
TEST(LinkFrames, UnitTakesEveryFrameTheHostBuilds) {
    LinkRig w;
    w.software().setConfig([] {
        SimRunningSoftware::Config c;
        c.silent = true; // only what arrives matters here
        return c;
    }());
    auto& l = *w.sim.link;
    std::vector<std::vector<uint8_t>> sent;
    for (int len : {0, 1, 2, 7, 64, 200, 253}) {
        std::vector<uint8_t> p{SUBCOMANDO_PAQUETE_TRANSFERENCIA, TRANSFERENCIA_FIRMWARE};
        for (int i = 0; i < len; ++i)
            p.push_back(static_cast<uint8_t>(0xA5 + i * 91)); // many 0xA5 among them
        Tmensaje m = message(COMANDO_COMANDO, static_cast<uint8_t>(sent.size() + 1), 0, p);
        ASSERT_EQ(l.enviar_trama_nenlace(w.kPort, 30, m), TRAMA_TRANSMITIDA);
        sent.push_back(p);
    }
    w.sim.clock.advanceTo(w.sim.clock.now() + ms(2000));
    const auto r = w.records();
    EXPECT_TRUE(r.rejected.empty());
    ASSERT_EQ(r.frames.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(r.frames[i].payload, sent[i]);
        EXPECT_EQ(r.frames[i].sequence, (i + 1) % 8);
    }
}

// The unit's receiver: frames with a bad checksum or stuffing, or garbled, are not
// taken and get no answer.
TEST(LinkFrames, UnitRejectsDamagedFrames) {
    using R = SimRunningSoftware::Rejection;
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        R reason;
    } cases[] = {
        {"wrong checksum", {0xA5, 0x04, 0, 0, 0, 0, 0xFD}, R::Checksum},
        {"single 0xA5 inside", {0xA5, 0x03, 0, 0, 0, 0x01, 0xA5, 0x57}, R::Stuffing},
        {"status with data", {0xA5, 0x04, 0, 0, 0, 0x01, 0x00, 0xFB}, R::Length},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinkRig w;
        Tbuff b{};
        std::copy(c.bytes.begin(), c.bytes.end(), b.begin());
        ASSERT_EQ(w.sim.link->enviar_trama_nfisico(static_cast<int32_t>(c.bytes.size()), 30, b),
                  TRAMA_TRANSMITIDA);
        Tmensaje rx;
        EXPECT_EQ(w.sim.link->recibir_trama_nenlace(w.kPort, 40, rx), ERROR_TIMEOUT);
        const auto r = w.records();
        EXPECT_TRUE(r.frames.empty());
        ASSERT_EQ(r.rejected.size(), 1u);
        EXPECT_EQ(r.rejected[0].reason, c.reason);
    }
}

TEST(LinkFrames, GarbledBytesAreNeverTakenAsAFrame) {
    LinkRig w;
    w.sim.link->cambia_conf(9600, 8, 1, 'N', 0); // the unit stays at 19200
    Tmensaje tx, rx;
    prepararPeticionEstado(tx);
    EXPECT_EQ(w.tramas().enviar_mensaje(tx, rx, 1, 0), ERROR_TIMEOUT);
    const auto r = w.records();
    EXPECT_TRUE(r.frames.empty());
    EXPECT_EQ(r.garbledBytes, 7);
}

// The unit's answer is decoded even though its checksum byte is wrong, and noise
// before the answer is skipped.
TEST(LinkFrames, ReceivedFramesAreDecodedWhateverTheirChecksumAndAfterNoise) {
    struct Case {
        const char* name;
        bool wrongChecksum;
        std::vector<uint8_t> noise;
    } cases[] = {{"wrong checksum", true, {}}, {"noise first", false, {0x00, 0x13, 0xFF, 0x0A}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinkRig w;
        SimRunningSoftware::Config cfg;
        cfg.major = 7;
        cfg.minor = 9;
        cfg.model = 0x1234;
        cfg.unitType = 2;
        cfg.wrongChecksum = c.wrongChecksum;
        cfg.noise = c.noise;
        w.software().setConfig(cfg);
        Tmensaje tx, rx;
        prepararPeticionEstado(tx);
        tx.fnsecuencia = 5;
        ASSERT_EQ(w.tramas().enviar_mensaje(tx, rx, 1, 0), TRAMA_RECIBIDA);
        EXPECT_EQ(rx.fcomando, 4);
        EXPECT_EQ(rx.fnsecuencia, 5);
        ASSERT_EQ(rx.fnbytes, 5);
        const std::vector<uint8_t> data(rx.trama_nenlace.begin(), rx.trama_nenlace.begin() + 5);
        EXPECT_EQ(data, (std::vector<uint8_t>{2, 0x12, 0x34, 7, 9}));
        const int count = rx.trama_nfisico[0];
        ASSERT_EQ(count, 12);
        unsigned sum = 0;
        for (int i = 2; i <= count; ++i)
            sum += rx.trama_nfisico[static_cast<size_t>(i)];
        EXPECT_EQ((sum & 0xFF) != 0, c.wrongChecksum);
    }
}

// ---- enviar_mensaje and the two requests of the load sequence

TEST(LinkExchange, RetriesSendTheSameFrameAndStopAtTheFirstAnswer) {
    struct Case {
        const char* name;
        std::vector<int> noAnswerTo;
        int attempts;
        int result;
        size_t framesSent;
    } cases[] = {
        {"answered at once", {}, 3, TRAMA_RECIBIDA, 1},
        {"first unanswered", {1}, 3, TRAMA_RECIBIDA, 2},
        {"never answered", {1, 2, 3}, 3, ERROR_TIMEOUT, 3},
        {"no attempt", {}, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinkRig w;
        SimRunningSoftware::Config cfg;
        cfg.noAnswerTo = c.noAnswerTo;
        w.software().setConfig(cfg);
        Tmensaje tx, rx;
        prepararPeticionModoProgramacion(tx);
        tx.fnsecuencia = 3;
        EXPECT_EQ(w.tramas().enviar_mensaje(tx, rx, c.attempts, 0), c.result);
        const auto r = w.records();
        ASSERT_EQ(r.frames.size(), c.framesSent);
        for (const auto& f : r.frames) {
            EXPECT_EQ(f.command, COMANDO_COMANDO);
            EXPECT_EQ(f.sequence, 3);
            EXPECT_EQ(f.payload, std::vector<uint8_t>{SUBCOMANDO_MODO_GRABACION});
        }
        EXPECT_EQ(r.programmingMode, c.framesSent > 0);
    }
}

TEST(LinkExchange, StatusReplyCarriesTheControllersVersionAndSurvivesABootDelay) {
    struct Case {
        const char* name;
        SimUnit::Controller controller;
        Tiempo bootDelay;
        int result;
        uint8_t major, minor;
    } cases[] = {
        {"ARM", SimUnit::Controller::ARM, Tiempo(0), TRAMA_RECIBIDA, 4, 10},
        {"XA", SimUnit::Controller::XA, Tiempo(0), TRAMA_RECIBIDA, 3, 5},
        // Each attempt is about 2 s: the third one is heard after a 3 s boot.
        {"boot of 3 s", SimUnit::Controller::ARM, ms(3000), TRAMA_RECIBIDA, 4, 10},
        {"boot of 10 s", SimUnit::Controller::ARM, ms(10000), ERROR_TIMEOUT, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinkRig w(c.controller);
        SimRunningSoftware::Config cfg;
        cfg.bootDelay = c.bootDelay;
        w.software().setConfig(cfg);
        w.software().restart(w.sim.clock.now());
        Tmensaje tx, rx;
        prepararPeticionEstado(tx);
        EXPECT_EQ(w.tramas().enviar_mensaje(tx, rx, 3, 0), c.result);
        if (c.result == TRAMA_RECIBIDA) {
            EXPECT_EQ(rx.trama_nenlace[3], c.major);
            EXPECT_EQ(rx.trama_nenlace[4], c.minor);
        }
        EXPECT_EQ(w.records().ignoredWhileBooting > 0, c.bootDelay > Tiempo(0));
    }
}

TEST(LinkExchange, ClosedPortIsReportedWithoutSending) {
    LinkRig w;
    puertos[w.kPort] = nullptr;
    Tmensaje tx, rx;
    prepararPeticionEstado(tx);
    EXPECT_EQ(w.tramas().enviar_mensaje(tx, rx, 3, 0), ERROR_INTERFACE_NOOPEN);
    EXPECT_TRUE(w.sim.unit->line().bytesFromHost().empty());
}

// ---- CRC-32

TEST(LinkCrc, StandardValueChainingAndEmptyInput) {
    Tbuff b{};
    const std::string s = "123456789";
    std::copy(s.begin(), s.end(), b.begin());
    EXPECT_EQ(Tinterface_enlace::calcular_crc_32_torvex(0, b, 9), 0xCBF43926u);
    for (uint32_t seed : {0u, 0xCBF43926u, 0xFFFFFFFFu})
        EXPECT_EQ(Tinterface_enlace::calcular_crc_32_torvex(seed, b, 0), 0u) << seed;

    // Data of every length around the eight-byte pass, in one go and in two chunks.
    std::vector<uint8_t> data(300);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 151 + 7);
    for (size_t len : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 255u, 300u}) {
        const std::vector<uint8_t> part(data.begin(), data.begin() + static_cast<long>(len));
        const uint32_t whole = SimRunningSoftware::crc32(part);
        EXPECT_EQ(Tinterface_enlace::calcular_crc_32(0, part.data(), len), whole) << len;
        for (size_t cut = 1; cut < len; cut += 5) {
            const uint32_t a = Tinterface_enlace::calcular_crc_32(0, part.data(), cut);
            EXPECT_EQ(Tinterface_enlace::calcular_crc_32(a, part.data() + cut, len - cut), whole)
                << len << " cut at " << cut;
        }
    }
}

// ---- trace lines

TEST(LinkTrace, LinesOfFramesAndMarkers) {
    Tmgrupo_superv g;
    Tmensaje m;
    m.trama_nfisico[0] = 1;
    m.trama_nfisico[1] = 0x0A;
    EXPECT_EQ(g.anota_mensaje(0, m, 1, MODO_ANOT_RX, 0), "RX->0A");
    EXPECT_EQ(g.anota_mensaje(0, m, 0, 7, 0), "");

    struct Case {
        int language;
        int modo;
        const char* line;
    } cases[] = {
        {0, MODO_ANOT_ERROR_CHECKSUM, "ER->ERREUR CHECKSUM"},
        {2, MODO_ANOT_ERROR_CHECKSUM, "ER->ERROR CHECKSUM"},
        {2, MODO_ANOT_ERROR_TIMEOUT, "ER->ERROR TIMEOUT"},
    };
    for (const auto& c : cases) {
        idioma_actual_texto = c.language;
        EXPECT_EQ(g.anota_mensaje(0, m, 1, c.modo, 1), c.line);
    }
    idioma_actual_texto = 0;
}

// A status exchange leaves the TX line of the request and the RX line of the reply
// (its minor version 10 is written 0A), and nothing at all with the switch off.
TEST(LinkTrace, StatusExchangeIsTracedOnlyWithTheSwitchOn) {
    for (bool on : {true, false}) {
        SCOPED_TRACE(on);
        LinkRig w;
        hab_traza = on;
        Tmensaje tx, rx;
        prepararPeticionEstado(tx);
        ASSERT_EQ(w.tramas().enviar_mensaje(tx, rx, 3, 0), TRAMA_RECIBIDA);
        const auto lines = w.takeTrace();
        if (on)
            EXPECT_EQ(lines, (std::vector<std::string>{"TX->A5,04,00,00,00,00,FC",
                                                       "RX->A5,04,00,00,00,05,01,03,84,04,0A,61"}));
        else
            EXPECT_TRUE(lines.empty());
    }
}

// A frame too long to be counted in one byte (249 data bytes: 256 stored) is
// rejected and traced as a checksum error.
TEST(LinkTrace, RejectedFrameLeavesTheCheckSumMarker) {
    LinkRig w;
    hab_traza = true;
    idioma_actual_texto = 2;
    std::vector<uint8_t> frame{0xA5, 0x04, 0, 0, 0, 249};
    frame.resize(6 + 249 + 1, 0x11);
    w.sim.unit->link().sendToHost(frame, FORMAT_19200_8N1);
    Tmensaje rx;
    EXPECT_EQ(w.sim.link->recibir_trama_nenlace(w.kPort, 40, rx), ERROR_CHECKSUM);
    EXPECT_EQ(w.takeTrace(), std::vector<std::string>{"ER->ERROR CHECKSUM"});
}

// Raw text longer than the serial layer's buffer goes out whole, in order, once.
TEST(LinkTrace, LongTextIsSentWholeAndTracedOnce) {
    LinkRig w;
    hab_traza = true;
    std::string text(1234, ' ');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>('0' + i % 43);
    w.sim.link->enviar_datos_nenlace(w.kPort, text);
    w.sim.clock.advanceTo(w.sim.clock.now() + ms(2000));
    w.sim.unit->line().pump();
    const auto got = w.sim.unit->line().bytesFromHost();
    EXPECT_EQ(std::string(got.begin(), got.end()), text);
    EXPECT_EQ(w.takeTrace(), std::vector<std::string>{text});
}

// With a small transmit buffer the text takes a while to go out; what the unit says
// meanwhile (here an answer to its first part) must still be there afterwards.
TEST(LinkTrace, LongTextKeepsWhatTheUnitSaidMeanwhile) {
    LinkRig w;
    auto& l = *w.sim.link;
    ASSERT_EQ(l.abrir_interface(w.kPort, MODO_RS232, 19200, 8, 1, 'N', 0, THRESHOLD08, 15000, 64,
                                AJUSTE_RS485_DEF),
              0);
    UnitLink& unit = w.sim.unit->link();
    unit.schedule(w.sim.clock.now() + ms(50), [&unit] {
        unit.sendToHost({'O', 'K', '!'}, FORMAT_19200_8N1);
    });
    w.sim.link->enviar_datos_nenlace(w.kPort, std::string(1200, 'x'));
    EXPECT_EQ(l.recibir_datos_nfisico(40, "OK!"), TRAMA_RECIBIDA);
}
