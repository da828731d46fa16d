// Programming the XA controller end to end against the simulated loader, in
// simulated time: the unit enters its loader through the real DTR sequence, every
// line crosses the simulated wire, and the loader's memory is compared with the image.

#include "tests/xa/xa_fixture.h"

#include <algorithm>

namespace {

ImagenHex typicalImage() {
    ImagenHex img;
    img.linea(REG_DIRECCION_EXT_CERO) // skipped, wherever it stands
        .datos(0x0000, patron(16, 0x02))
        .datos(0x0010, patron(16, 0x40))
        .datos(0x2100, patron(32, 0x11)) // 32-byte record, second block
        .linea(REG_DIRECCION_EXT_CERO)
        .datos(0xC000, patron(5, 0xA0)) // odd count, last block
        .datos(0xFFFC, patron(4, 0xEE))
        .fin();
    return img;
}

std::vector<std::string> sentRecords(const ImagenHex& img) {
    std::vector<std::string> out;
    std::copy_if(img.lineas.begin(), img.lineas.end(), std::back_inserter(out),
                 [](const std::string& l) { return l != REG_DIRECCION_EXT_CERO; });
    return out;
}

} // namespace

TEST_F(XaFixture, FullProgrammingWritesTheImageAndReadsBackStatusAndBootVector) {
    const ImagenHex img = typicalImage();
    useImage(img);

    EXPECT_EQ(grabar(), Resultado::Ok);

    EXPECT_EQ(sim.unit->mode(), SimUnit::Mode::XaLoader); // entered through DTR
    EXPECT_FALSE(sim.unit->line().dtrAsserted());         // left cleared: the caller resets
    EXPECT_EQ(received(), expectedSession(sentRecords(img)));
    EXPECT_EQ(loader().memory(), img.memoria);
    EXPECT_TRUE(loader().unerasedWrites().empty());
    EXPECT_EQ(loader().erasedBlocks(), (std::vector<uint8_t>{0x00, 0x20, 0x40, 0x80, 0xC0}));
    EXPECT_EQ(loader().statusByte(), 0x00);
    EXPECT_EQ(loader().bootVector(), 0xF8);
    EXPECT_EQ(rec.estados(), (std::vector<std::string>{texto_mensaje(Mensaje::BorrandoBloque1),
                                                       texto_mensaje(Mensaje::ProgramandoBloque1Xa),
                                                       texto_mensaje(Mensaje::Bloque1Ok)}));
    // One progress report per line of the file, skipped lines included, ending at 100.
    const std::vector<int> p = rec.progresos();
    ASSERT_EQ(p.size(), img.lineas.size());
    EXPECT_TRUE(std::is_sorted(p.begin(), p.end()));
    EXPECT_GT(p.front(), 0); // the skipped first record counts
    EXPECT_EQ(p.back(), 100);
    EXPECT_EQ(leidos(), img.caracteres()); // line ends not counted
}

TEST_F(XaFixture, RecordsAreSentOneAtATimeAfterThePreviousAcknowledgement) {
    const ImagenHex img = typicalImage();
    useImage(img);
    ASSERT_EQ(grabar(), Resultado::Ok);

    // No record may leave the host before the loader acknowledged every line before
    // it (each acknowledgement ends with CR): the loader has no room for a second line.
    std::vector<Tiempo> crArrivals;
    std::vector<Tiempo> recordStarts;
    for (const auto& b : sim.unit->line().bytes()) {
        if (!b.fromHost && b.value == '\r')
            crArrivals.push_back(b.arrived);
        if (b.fromHost && b.value == ':')
            recordStarts.push_back(b.sent);
    }
    ASSERT_EQ(recordStarts.size(), expectedSession(sentRecords(img)).size() - 1);
    for (size_t i = 0; i < recordStarts.size(); ++i) {
        const auto answered = std::count_if(crArrivals.begin(), crArrivals.end(),
                                            [&](Tiempo t) { return t <= recordStarts[i]; });
        EXPECT_GE(answered, static_cast<long>(i)) << "line " << i;
    }
}

TEST_F(XaFixture, EmptyFileStillSynchronisesErasesAndClosesWithTheFinalLines) {
    useImage(ImagenHex{}, 0);

    EXPECT_EQ(grabar(), Resultado::Ok);

    EXPECT_EQ(received(), expectedSession({}));
    EXPECT_EQ(rec.estados(), (std::vector<std::string>{texto_mensaje(Mensaje::BorrandoBloque1),
                                                       texto_mensaje(Mensaje::Bloque1Ok)}));
    EXPECT_TRUE(rec.progresos().empty());
    EXPECT_EQ(leidos(), 0);
}

TEST_F(XaFixture, NonZeroExtendedAddressIsSentAndPlacesTheDataAbove64K) {
    ImagenHex img;
    img.datos(0x0100, patron(8, 0x30)).extendida(0x0001).datos(0x0200, patron(8, 0x50)).fin();
    useImage(img);

    EXPECT_EQ(grabar(), Resultado::Ok);

    EXPECT_EQ(timesReceived(hexRecord(0x04, 0, {0x00, 0x01})), 1);
    EXPECT_EQ(loader().memory(), img.memoria);
    EXPECT_EQ(loader().memory().count(0x10200), 1u);
}

TEST_F(XaFixture, UnansweredSpeedLineIsTriedFiveTimesAndTheEraseStillStarts) {
    SimXaLoader::Faults f;
    f.lineFaults.push_back({tabla_velocidad, SimXaLoader::LineFault::Kind::Silent, {}, -1});
    loader().setFaults(f);
    ImagenHex img;
    img.datos(0x0000, patron(16, 1)).fin();
    useImage(img);

    EXPECT_EQ(grabar(), Resultado::Ok);

    EXPECT_EQ(timesReceived(tabla_velocidad), 5);
    EXPECT_EQ(loader().erasedBlocks().size(), 5u);
    EXPECT_EQ(loader().memory(), img.memoria);
}

TEST_F(XaFixture, SilentLoaderFailsWithoutErasingAndStillShowsTheEraseMessage) {
    SimXaLoader::Faults f;
    f.silent = true;
    loader().setFaults(f);
    ImagenHex img;
    img.datos(0x0000, patron(16, 1)).fin();
    useImage(img);

    EXPECT_EQ(grabar(), Resultado::SinRespuesta);

    EXPECT_EQ(received(), std::vector<std::string>(5, tabla_sincro));
    EXPECT_TRUE(loader().erasedBlocks().empty());
    EXPECT_EQ(rec.estados(), std::vector<std::string>{texto_mensaje(Mensaje::BorrandoBloque1)});
    EXPECT_EQ(leidos(), 0);
}

// An erase is awaited twice for about 8 s of silence each, without sending it again.
struct EraseCase {
    const char* name;
    Tiempo eraseTime;
    bool fails;
};

class XaEraseTime : public XaFixture, public ::testing::WithParamInterface<EraseCase> {};

TEST_P(XaEraseTime, EraseIsAcceptedWithinTwoWaits) {
    SimXaLoader::Faults f;
    f.eraseTime = GetParam().eraseTime;
    loader().setFaults(f);
    ImagenHex img;
    img.datos(0x0000, patron(16, 1)).fin();
    useImage(img);

    EXPECT_EQ(grabar() != Resultado::Ok, GetParam().fails);

    if (GetParam().fails) {
        // The chain stops at the first erase: nothing else is sent after it.
        EXPECT_EQ(received(),
                  (std::vector<std::string>{tabla_sincro, tabla_velocidad, tabla_borrar_bloque0}));
        EXPECT_EQ(rec.estados(), std::vector<std::string>{texto_mensaje(Mensaje::BorrandoBloque1)});
    } else {
        EXPECT_EQ(received(), expectedSession(img.lineas));
        EXPECT_EQ(loader().memory(), img.memoria);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, XaEraseTime,
                         ::testing::Values(EraseCase{"Quick", ms(500), false},
                                           EraseCase{"InSecondWait", ms(12000), false},
                                           EraseCase{"BeyondBothWaits", ms(17000), true}),
                         [](const auto& i) { return std::string(i.param.name); });

// A record's echo and acknowledgement are awaited three times for about 8 s of
// silence each; the record itself is sent once.
struct RecordAnswerCase {
    const char* name;
    SimXaLoader::LineFault::Kind kind;
    Tiempo delay;
    bool fails;
};

class XaRecordAnswer : public XaFixture, public ::testing::WithParamInterface<RecordAnswerCase> {};

TEST_P(XaRecordAnswer, RecordIsAcceptedOnlyWhenEchoAndAcknowledgementShareAWait) {
    ImagenHex img;
    img.datos(0x0000, patron(16, 1))
        .datos(0x0010, patron(16, 2))
        .datos(0x0020, patron(16, 3))
        .fin();
    const std::string faulty = img.lineas[1];
    SimXaLoader::Faults f;
    f.lineFaults.push_back({faulty, GetParam().kind, GetParam().delay, 1});
    loader().setFaults(f);
    useImage(img);

    EXPECT_EQ(grabar() != Resultado::Ok, GetParam().fails);

    EXPECT_EQ(timesReceived(faulty), 1); // never sent again
    const std::vector<int> p = rec.progresos();
    if (GetParam().fails) {
        // Progress was reported for the failed record, then the file was left.
        EXPECT_EQ(p.size(), 2u);
        EXPECT_EQ(timesReceived(img.lineas[2]), 0);
        EXPECT_EQ(timesReceived(tabla_borrar_boot_status), 0);
        EXPECT_EQ(leidos(), static_cast<int>(img.lineas[0].size() + img.lineas[1].size()));
        EXPECT_EQ(rec.estados(),
                  (std::vector<std::string>{texto_mensaje(Mensaje::BorrandoBloque1),
                                            texto_mensaje(Mensaje::ProgramandoBloque1Xa)}));
    } else {
        EXPECT_EQ(received(), expectedSession(img.lineas));
        EXPECT_EQ(loader().memory(), img.memoria);
        EXPECT_EQ(p.back(), 100);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XaRecordAnswer,
    ::testing::Values(
        // The echo arrives in the first wait, the acknowledgement after it timed out:
        // the next wait starts matching from ':' again and never sees it.
        RecordAnswerCase{"SplitAcrossWaits", SimXaLoader::LineFault::Kind::SplitAck, ms(9000),
                         true},
        // Silent through the first wait, then the whole answer.
        RecordAnswerCase{"LateInSecondWait", SimXaLoader::LineFault::Kind::LateAnswer, ms(8500),
                         false},
        RecordAnswerCase{"LateInThirdWait", SimXaLoader::LineFault::Kind::LateAnswer, ms(17000),
                         false},
        RecordAnswerCase{"LaterThanThreeWaits", SimXaLoader::LineFault::Kind::LateAnswer, ms(25000),
                         true},
        // Characters that answer nothing keep the wait alive past 8 s.
        RecordAnswerCase{"ChatterBeforeAnswer", SimXaLoader::LineFault::Kind::Chatter, ms(20000),
                         false}),
    [](const auto& i) { return std::string(i.param.name); });

// The closing read-backs must return the values just programmed.
struct ReadBackCase {
    const char* name;
    int status;
    int boot;
    const std::string* failingLine;
};

class XaReadBack : public XaFixture, public ::testing::WithParamInterface<ReadBackCase> {};

TEST_P(XaReadBack, WrongValueFailsByTimeOutAfterFiveAttempts) {
    SimXaLoader::Faults f;
    f.statusReadBack = GetParam().status;
    f.bootReadBack = GetParam().boot;
    loader().setFaults(f);
    ImagenHex img;
    img.datos(0x0000, patron(16, 1)).fin();
    useImage(img);

    EXPECT_EQ(grabar(), Resultado::SinRespuesta);

    EXPECT_EQ(timesReceived(*GetParam().failingLine), 5);
    const auto st = rec.estados();
    EXPECT_EQ(std::count(st.begin(), st.end(), texto_mensaje(Mensaje::Bloque1Ok)), 0);
    EXPECT_EQ(leidos(), img.caracteres());
    if (GetParam().failingLine == &tabla_verif_status) {
        EXPECT_EQ(timesReceived(tabla_verif_boot), 0); // the rest is skipped
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XaReadBack,
    ::testing::Values(ReadBackCase{"StatusNotZero", 0x01, -1, &tabla_verif_status},
                      ReadBackCase{"StatusSeventy", 0x70, -1, &tabla_verif_status},
                      ReadBackCase{"BootNotF8", -1, 0xF0, &tabla_verif_boot},
                      ReadBackCase{"BootSwapped", -1, 0x8F, &tabla_verif_boot}),
    [](const auto& i) { return std::string(i.param.name); });

// ---- bad input: a clear failure, never a crash, a hang or a false success

TEST_F(XaFixture, ClosedPortFailsBeforeTheUnitIsTouched) {
    ImagenHex img;
    img.datos(0x0000, patron(16, 1)).fin();
    useImage(img);
    sim.unit->line().clearRecords();
    Contexto cerrado = rig.contexto();
    cerrado.enlace = nullptr; // the port's link object is gone

    GrabadorXa xa(cerrado);
    EXPECT_EQ(xa.grabar_micro(img.texto(), img.caracteres()), Resultado::FalloPuerto);
    EXPECT_EQ(xa.caracteres_leidos(), 0);

    EXPECT_TRUE(sim.unit->line().dtrHistory().empty());
    EXPECT_TRUE(sim.unit->line().bytes().empty());
}

struct MalformedCase {
    const char* name;
    std::string line;
};

class XaMalformedLine : public XaFixture, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(XaMalformedLine, IsSentAsItStandsAndFailsTheStep) {
    ImagenHex img;
    img.datos(0x0000, patron(16, 1)).linea(GetParam().line).datos(0x0010, patron(16, 2)).fin();
    useImage(img);

    EXPECT_EQ(grabar(), Resultado::SinRespuesta);

    EXPECT_EQ(loader().memory(), ImagenHex{}.datos(0x0000, patron(16, 1)).memoria);
    EXPECT_EQ(timesReceived(img.lineas[2]), 0);
    EXPECT_EQ(timesReceived(tabla_borrar_boot_status), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, XaMalformedLine,
                         ::testing::Values(MalformedCase{"BadChecksum", ":0400100001020304E0"},
                                           MalformedCase{"NotHex", ":04001000ZZ020304E2"},
                                           MalformedCase{"Short", ":0400"},
                                           MalformedCase{"Empty", ""},
                                           MalformedCase{"NoColon", "hello"}),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(XaFixture, ProgressStaysWithinZeroToHundredWhateverTheTotal) {
    const ImagenHex img = typicalImage();
    for (int32_t total : {0, 10, img.caracteres() * 2}) {
        SCOPED_TRACE(total);
        rec.clear();
        rig.deteccion().genera_reset(); // as the load does after programming
        useImage(img, total);
        EXPECT_EQ(grabar(), Resultado::Ok);
        const std::vector<int> p = rec.progresos();
        ASSERT_EQ(p.size(), img.lineas.size());
        for (int v : p) {
            EXPECT_GE(v, 0);
            EXPECT_LE(v, 100);
        }
        if (total == 10) {
            EXPECT_EQ(p.back(), 100);
        }
        if (total == img.caracteres() * 2) {
            EXPECT_EQ(p.back(), 50);
        }
    }
}
