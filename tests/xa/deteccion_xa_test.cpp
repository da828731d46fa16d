// Detection of an XA unit: the ARM probe gets no answer, then the XA loader is
// started by the programming-mode pulses and synchronised with "f".

#include "tests/xa/xa_fixture.h"

namespace {
struct DetectionCase {
    const char* name;
    std::vector<SimXaLoader::LineFault> faults;
    const std::string* expected;
    int syncLinesSent;
    Tiempo answerAfter{0}; // the "f" arrives this long after the last one sent
};
} // namespace

class XaDetection : public XaFixture, public ::testing::WithParamInterface<DetectionCase> {};

TEST_P(XaDetection, SynchronisationDecidesTheUnitType) {
    const auto& c = GetParam();
    SimXaLoader::Faults f;
    f.chatterPeriod = ms(1000);
    f.lineFaults = c.faults;
    loader().setFaults(f);

    rig.deteccion().detectar_VTR_hw();

    EXPECT_EQ(tipo_vtr.get(), *c.expected);
    EXPECT_EQ(timesReceived(tabla_sincro), c.syncLinesSent);
    if (*c.expected == TIPO_VTR_XA) {
        // Reset out of the loader: line asserted, the unit back in its software.
        EXPECT_TRUE(sim.unit->line().dtrAsserted());
        EXPECT_EQ(sim.unit->mode(), SimUnit::Mode::Application);
    } else {
        EXPECT_FALSE(sim.unit->line().dtrAsserted());
    }
    if (c.answerAfter > Tiempo(0)) {
        Tiempo sent{0}, answered{0};
        for (const auto& b : sim.unit->line().bytes()) {
            if (b.fromHost && b.value == 'f' && !b.garbled)
                sent = b.arrived;
            if (!b.fromHost && b.value == 'f')
                answered = b.arrived;
        }
        EXPECT_GE(answered - sent, c.answerAfter);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XaDetection,
    ::testing::Values(DetectionCase{"AnswersAtOnce", {}, &TIPO_VTR_XA, 1},
                      DetectionCase{"AnswersTheFifthAttempt",
                                    {{tabla_sincro, SimXaLoader::LineFault::Kind::Silent, {}, 4}},
                                    &TIPO_VTR_XA,
                                    5},
                      DetectionCase{"NeverAnswers",
                                    {{tabla_sincro, SimXaLoader::LineFault::Kind::Silent, {}, -1}},
                                    &TIPO_VTR_NONE,
                                    5},
                      // Other characters every second keep the first attempt waiting well past its
                      // 2 s of silence, until the "f" comes.
                      DetectionCase{
                          "OtherCharactersKeepTheAttemptAlive",
                          {{tabla_sincro, SimXaLoader::LineFault::Kind::Chatter, ms(6000), 1}},
                          &TIPO_VTR_XA,
                          1,
                          ms(6000)}),
    [](const auto& i) { return std::string(i.param.name); });
