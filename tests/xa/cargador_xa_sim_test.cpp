// The simulated XA loader on its own: what it answers on the wire to each kind of
// line, what it does to its memory, and how it is entered without modem lines.

#include "support/cargador_xa_en_linea.h"
#include "tests/xa/xa_fixture.h"

#include <deque>
#include <functional>

namespace {

using LoaderOnLine = CargadorXaEnLinea;

struct AnswerCase {
    const char* name;
    std::string line;
    std::string answer; // after the echo
};

} // namespace

class XaLoaderAnswers : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(XaLoaderAnswers, EchoesTheLineThenAnswers) {
    LoaderOnLine l;
    const auto& c = GetParam();
    const std::string echo = c.line == "f" ? "" : c.line;
    EXPECT_EQ(l.exchange(c.line), echo + c.answer);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XaLoaderAnswers,
    ::testing::Values(AnswerCase{"Synchronisation", "f", "f"},
                      AnswerCase{"Speed", tabla_velocidad, ".\r\n"},
                      AnswerCase{"BlockErase", tabla_borrar_bloque3, ".\r\n"},
                      AnswerCase{"DataRecord", hexRecord(0, 0x1234, {1, 2, 3}), ".\r\n"},
                      AnswerCase{"EndRecord", ":00000001FF", ".\r\n"},
                      AnswerCase{"StatusReadBack", tabla_verif_status, "00.\r\n"},
                      AnswerCase{"BootReadBack", tabla_verif_boot, "F8.\r\n"},
                      AnswerCase{"BadChecksum", ":0300000001020300", "X\r\n"},
                      AnswerCase{"UnknownBlock", hexRecord(0x83, 0, {0x01, 0x10}), "X\r\n"},
                      AnswerCase{"UnknownType", hexRecord(0x02, 0, {0x10, 0x00}), "X\r\n"}),
    [](const auto& i) { return std::string(i.param.name); });

TEST(XaLoaderState, EraseProgramAndReadBackFollowTheCommands) {
    LoaderOnLine l;
    SimXaLoader& x = l.sim.unit->xaLoader();
    // Written before any erase: the memory takes it, and the write is flagged.
    l.exchange(hexRecord(0, 0x2000, {0xAA}));
    EXPECT_EQ(x.unerasedWrites(), std::vector<uint32_t>{0x2000});
    // Erasing block 1 (0x2000..0x3FFF) clears it and leaves block 0 alone.
    l.exchange(hexRecord(0, 0x0010, {0x55}));
    EXPECT_EQ(l.exchange(tabla_borrar_bloque1), tabla_borrar_bloque1 + ".\r\n");
    EXPECT_EQ(x.memory(), (std::map<uint32_t, uint8_t>{{0x0010, 0x55}}));
    l.exchange(hexRecord(0, 0x3FFF, {0x77}));
    EXPECT_EQ(x.unerasedWrites().size(), 2u); // 0x2000 and 0x0010; 0x3FFF was erased

    EXPECT_EQ(l.exchange(tabla_borrar_boot_status), tabla_borrar_boot_status + ".\r\n");
    EXPECT_EQ(l.exchange(tabla_verif_status), tabla_verif_status + "FF.\r\n");
    l.exchange(tabla_status);
    l.exchange(tabla_boot);
    EXPECT_EQ(l.exchange(tabla_verif_status), tabla_ack_verif_status);
    EXPECT_EQ(l.exchange(tabla_verif_boot), tabla_ack_verif_boot);
}

TEST(XaLoaderState, BlockEraseAnswersAfterTheEraseTime) {
    LoaderOnLine l;
    SimXaLoader::Faults f;
    f.eraseTime = ms(3000);
    l.sim.unit->xaLoader().setFaults(f);
    const size_t mark = l.sim.unit->line().bytes().size();
    l.exchange(tabla_borrar_bloque0, 80);
    const auto bytes = l.sim.unit->line().bytes();
    Tiempo lastEcho{0}, ack{0};
    for (size_t i = mark; i < bytes.size(); ++i) {
        if (bytes[i].fromHost)
            continue;
        if (bytes[i].value == '.')
            ack = bytes[i].sent;
        else if (ack == Tiempo(0))
            lastEcho = bytes[i].sent;
    }
    EXPECT_GE(ack - lastEcho, ms(3000));
    EXPECT_LT(ack - lastEcho, ms(3010));
}

// Over a pseudo-terminal there is no DTR: the unit is driven by traffic alone.
namespace {
class NoModemLines final : public UnitLink {
public:
    Tiempo now() const override { return now_; }
    void sendToHost(const std::vector<uint8_t>& bytes, const LineFormat&) override {
        sent.insert(sent.end(), bytes.begin(), bytes.end());
    }
    void schedule(Tiempo at, std::function<void()> fn) override {
        events.push_back({at, std::move(fn)});
    }
    bool hasModemLines() const override { return false; }
    void run() {
        while (!events.empty()) {
            auto e = std::move(events.front());
            events.pop_front();
            now_ = std::max(now_, e.first);
            e.second();
        }
    }
    std::string text() const { return std::string(sent.begin(), sent.end()); }
    std::vector<uint8_t> sent;
    std::deque<std::pair<Tiempo, std::function<void()>>> events;
    Tiempo now_{0};
};
} // namespace

TEST(XaLoaderNoModemLines, SynchronisationEntersTheLoaderAndAFrameStartLeavesIt) {
    SimUnit unit(SimUnit::Controller::XA);
    NoModemLines pty;
    unit.attach(&pty);
    ASSERT_EQ(unit.mode(), SimUnit::Mode::Application);

    unit.onByte('f', false, ms(10));
    pty.run();
    EXPECT_EQ(unit.mode(), SimUnit::Mode::XaLoader);
    EXPECT_EQ(pty.text(), "f");

    pty.sent.clear();
    const std::string rec = hexRecord(0, 0x0000, {0x12, 0x34});
    for (char c : rec)
        unit.onByte(static_cast<uint8_t>(c), false, ms(20));
    pty.run();
    EXPECT_EQ(pty.text(), rec + ".\r\n");

    unit.onByte(0xA5, false, ms(30));
    EXPECT_EQ(unit.mode(), SimUnit::Mode::Application);

    // An ARM unit's application takes no notice of the XA synchronisation character.
    SimUnit arm(SimUnit::Controller::ARM);
    NoModemLines pty2;
    arm.attach(&pty2);
    arm.onByte('f', false, ms(10));
    EXPECT_EQ(arm.mode(), SimUnit::Mode::Application);
}
