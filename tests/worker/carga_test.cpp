// Loads from the Load request to the final reset and version read-back, against the
// simulated unit: what reached the unit's memories and its running software, and
// what the front end was told, in order.
#include "support/worker_rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

const std::string OK_TEXT = "OK: Update completed";
const std::string FAIL_TEXT = "Error: Invalid Update";
const std::string FULL_TEXT = "Error: not enough free space for file download";

// The end of a successful load: " Wait  ...", the version read back, the result,
// then Load back.
void expect_final_ok(const std::vector<std::string>& log, const std::string& version) {
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log.back(), "fin");
    EXPECT_EQ(log[log.size() - 2], "resultado:11:" + OK_TEXT);
    EXPECT_EQ(log[log.size() - 3], "version:" + version);
    EXPECT_EQ(log[log.size() - 4], "estado: Wait  ...");
}

struct Bancos {
    std::vector<std::string> b1, b2;
};

} // namespace

TEST(WorkerLoad, ArmUnitImageWritesBothBanksResetsAndReadsTheNewVersion) {
    WorkerRig rig(SimUnit::Controller::ARM);
    ASSERT_TRUE(rig.select());
    const Bancos b{con_fin([] {
                       auto v = registros_datos(0x0000, 100, 0x10);
                       v.insert(v.begin(), hexExtendedLinear(0x0800));
                       return v;
                   }()),
                   con_fin(registros_datos(0x4000, 600, 0x55))};
    const TrabajoCarga trabajo =
        trabajo_unidad(TIPO_FICHERO_VTR_ARM, "FIRMVTR-900_0412", b.b1, b.b2);
    rig.unit().software().clearRecords();
    const size_t from = rig.rec.size();

    ASSERT_TRUE(rig.load(trabajo));

    EXPECT_EQ(rig.unit().armBootloader().memory(), bytes_de(0x08000000, 100, 0x10));
    const auto r = rig.unit().software().records();
    EXPECT_TRUE(r.programmingMode);
    EXPECT_EQ(r.identification, "FIRMVTR-900_0412");
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(r.data, concatenadas(b.b2));
    // After the transfer the controller is reset (its own sequence, then the final
    // one), and only then is the status asked again.
    ASSERT_FALSE(r.frames.empty());
    const Tiempo fin_transferencia = r.frames[r.frames.size() - 2].end;
    int cambios_dtr = 0;
    for (const auto& d : rig.unit().line().dtrHistory())
        cambios_dtr += d.t > fin_transferencia && d.t < r.frames.back().start;
    EXPECT_GE(cambios_dtr, 4);
    EXPECT_EQ(r.frames.back().command, 4);
    EXPECT_EQ(rig.unit().mode(), SimUnit::Mode::Application);
    expect_final_ok(rig.rec.since(from), "4.12");
    EXPECT_FALSE(grabar_firmware.load());
}

// The image of a joint file is chosen by the front end (the window asks again at the
// next Load); the worker gets the chosen image as any XA unit image.
TEST(WorkerLoad, XaUnitImageFromJointFileWritesBothBanks) {
    WorkerRig rig(SimUnit::Controller::XA);
    tipo_sw = TIPO_FIRM_VTR_JOINT;
    ASSERT_TRUE(rig.select());
    ASSERT_TRUE(tipo_vtr == TIPO_VTR_XA);
    const Bancos b{con_fin([] {
                       auto v = registros_datos(0x0000, 64, 0x01);
                       auto w = registros_datos(0x2100, 40, 0x80);
                       v.insert(v.end(), w.begin(), w.end());
                       return v;
                   }()),
                   con_fin(registros_datos(0x8000, 300, 0x33))};
    rig.unit().software().clearRecords();
    const size_t from = rig.rec.size();

    ASSERT_TRUE(rig.load(trabajo_unidad(TIPO_FICHERO_VTR_XA, "FIRMVTR-900_0307", b.b1, b.b2)));

    auto esperado = bytes_de(0x0000, 64, 0x01);
    esperado.merge(bytes_de(0x2100, 40, 0x80));
    EXPECT_EQ(rig.unit().xaLoader().memory(), esperado);
    const auto r = rig.unit().software().records();
    EXPECT_TRUE(r.programmingMode);
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(r.data, concatenadas(b.b2));
    expect_final_ok(rig.rec.since(from), "3.07");
}

// Module firmware goes straight to the running software, as Intel HEX text (header
// lines included) or as the binary data after the header.
TEST(WorkerLoad, ModuleFirmwareInBothFormsReachesTheRunningSoftware) {
    const std::vector<std::string> cabecera{"VTR-900 MODULE", "FIRMQLN-300_0102", "ABCD1234",
                                            "HEX"};
    for (const bool binario : {false, true}) {
        SCOPED_TRACE(binario ? "BIN" : "HEX");
        WorkerRig rig(SimUnit::Controller::ARM);
        ASSERT_TRUE(rig.select());
        std::vector<uint8_t> datos(700);
        for (size_t i = 0; i < datos.size(); ++i)
            datos[i] = static_cast<uint8_t>(i * 7 + 3);
        std::vector<std::string> lineas = cabecera;
        const auto regs = con_fin(registros_datos(0x1000, 400, 0x21));
        lineas.insert(lineas.end(), regs.begin(), regs.end());
        const TrabajoCarga trabajo = binario
                                         ? trabajo_modulo_bin(cabecera, datos, "FIRMQLN-300_0102")
                                         : trabajo_modulo_hex(lineas, "FIRMQLN-300_0102");
        rig.unit().software().clearRecords();
        const size_t from = rig.rec.size();

        ASSERT_TRUE(rig.load(trabajo));

        const auto r = rig.unit().software().records();
        EXPECT_EQ(r.binary, binario);
        EXPECT_FALSE(r.programmingMode);
        EXPECT_TRUE(r.completed);
        EXPECT_EQ(r.data, binario ? datos : concatenadas(lineas));
        expect_final_ok(rig.rec.since(from), "1.02");
    }
}

TEST(WorkerLoad, ModuleLoadWhoseStatusRequestIsNotAnsweredStillTransfers) {
    WorkerRig rig(SimUnit::Controller::ARM);
    ASSERT_TRUE(rig.select());
    const auto lineas = con_fin(registros_datos(0x1000, 200, 0x21));
    auto cfg = rig.unit().software().config();
    cfg.noAnswerTo = {1, 2, 3}; // the three attempts of the status request
    rig.unit().software().setConfig(cfg);
    rig.unit().software().clearRecords();
    const size_t from = rig.rec.size();

    ASSERT_TRUE(rig.load(trabajo_modulo_hex(lineas, "FIRMQLN-300_0203")));

    const auto r = rig.unit().software().records();
    ASSERT_GE(r.frames.size(), 4u);
    EXPECT_EQ(r.frames[0].command, 4);
    EXPECT_FALSE(r.frames[2].answered);
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(r.data, concatenadas(lineas));
    expect_final_ok(rig.rec.since(from), "2.03");
}

TEST(WorkerLoad, TransferredImageWithoutStatusReplyAfterTheResetIsAnInvalidUpdate) {
    WorkerRig rig(SimUnit::Controller::ARM);
    ASSERT_TRUE(rig.select());
    const auto lineas = con_fin(registros_datos(0x1000, 100, 0x21));
    auto cfg = rig.unit().software().config();
    cfg.bootDelay = ms(60000); // the unit does not come back after the final reset
    rig.unit().software().setConfig(cfg);
    const size_t from = rig.rec.size();

    ASSERT_TRUE(rig.load(trabajo_modulo_hex(lineas, "FIRMQLN-300_0203")));

    EXPECT_TRUE(rig.unit().software().records().completed);
    const auto log = rig.rec.since(from);
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 3], "estado: Wait  ...");
    EXPECT_EQ(log[log.size() - 2], "resultado:10:" + FAIL_TEXT);
    EXPECT_EQ(log.back(), "fin");
    EXPECT_FALSE(grabar_firmware.load());
}

TEST(WorkerLoad, RefusedBinaryImageReportsNoSpaceAndResetsTheUnit) {
    WorkerRig rig(SimUnit::Controller::ARM);
    ASSERT_TRUE(rig.select());
    const TrabajoCarga trabajo = trabajo_modulo_bin(
        {"A", "FIRMQLN-300_0102", "B", "BIN"}, std::vector<uint8_t>(300, 0x5A), "FIRMQLN-300_0102");
    auto cfg = rig.unit().software().config();
    cfg.refuseBinary = true;
    rig.unit().software().setConfig(cfg);
    rig.unit().software().clearRecords();
    const size_t from = rig.rec.size();

    ASSERT_TRUE(rig.load(trabajo));

    const auto r = rig.unit().software().records();
    EXPECT_EQ(r.packets, 0);
    EXPECT_FALSE(r.endReceived);
    ASSERT_FALSE(r.frames.empty());
    // The final reset: DTR cleared for 1.5 s, then asserted, after the refusal.
    std::vector<DtrRecord> despues;
    for (const auto& d : rig.unit().line().dtrHistory())
        if (d.t > r.frames.back().end)
            despues.push_back(d);
    ASSERT_EQ(despues.size(), 2u);
    EXPECT_FALSE(despues[0].asserted);
    EXPECT_TRUE(despues[1].asserted);
    EXPECT_EQ(despues[1].t - despues[0].t, ms(TIEMPO_RESET));
    const auto log = rig.rec.since(from);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "resultado:20:" + FULL_TEXT);
    EXPECT_EQ(log.back(), "fin");
}

TEST(WorkerLoad, SilentUnitAndFailureInTheMiddleEndAsInvalidUpdate) {
    const auto imagen_arm = [] {
        auto v = registros_datos(0x0000, 16 * 40, 0x10);
        v.insert(v.begin(), hexExtendedLinear(0x0800));
        return con_fin(v);
    };
    struct Caso {
        const char* nombre;
        std::function<void(SimUnit&)> fallo;
    } casos[] = {
        {"silent unit",
         [](SimUnit& u) {
             auto c = u.software().config();
             c.silent = true;
             u.software().setConfig(c);
             auto f = u.armBootloader().faults();
             f.silent = true;
             u.armBootloader().setFaults(f);
         }},
        {"write refused in the middle",
         [](SimUnit& u) {
             auto f = u.armBootloader().faults();
             f.nackWriteBlock = 3;
             u.armBootloader().setFaults(f);
         }},
        {"block stored wrong though acknowledged",
         [](SimUnit& u) {
             auto f = u.armBootloader().faults();
             f.corruptWriteBlock = 1;
             u.armBootloader().setFaults(f);
         }},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        WorkerRig rig(SimUnit::Controller::ARM);
        ASSERT_TRUE(rig.select());
        const auto b1 = imagen_arm();
        TrabajoCarga trabajo = trabajo_unidad(TIPO_FICHERO_VTR_ARM, "FIRMVTR-900_0412", b1,
                                              con_fin(registros_datos(0, 32, 0)));
        trabajo.size_tele = total_caracteres(b1);
        c.fallo(rig.unit());
        rig.unit().software().clearRecords();
        const size_t from = rig.rec.size();

        ASSERT_TRUE(rig.load(trabajo));

        // Nothing went on to the running software once the controller failed.
        EXPECT_TRUE(rig.unit().software().records().frames.empty());
        const auto log = rig.rec.since(from);
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[log.size() - 2], "resultado:10:" + FAIL_TEXT);
        EXPECT_EQ(log.back(), "fin");
        EXPECT_EQ(std::count(log.begin(), log.end(), "estado: Wait  ..."), 0);
        EXPECT_FALSE(grabar_firmware.load());
    }
}

// A unit-firmware load ends with OK only when the unit then reports the version the
// identification line names: a unit whose software kept its old version fails the
// load, and both versions are shown beside the result. Module firmware keeps its
// own end check (any status answer).
TEST(WorkerLoad, UnitThatKeepsItsOldVersionFailsTheLoadWithBothVersions) {
    struct Caso {
        const char* nombre;
        SimUnit::Controller controlador;
        TrabajoCarga trabajo;
        std::string version;             // reported after the load
        std::vector<std::string> cierre; // the note and result, or the result alone
    } casos[] = {
        {"ARM",
         SimUnit::Controller::ARM,
         trabajo_unidad(TIPO_FICHERO_VTR_ARM, "FIRMVTR-900_0412", con_fin([] {
                            auto v = registros_datos(0x0000, 64, 0x10);
                            v.insert(v.begin(), hexExtendedLinear(0x0800));
                            return v;
                        }()),
                        con_fin(registros_datos(0x4000, 64, 0x55))),
         "4.10",
         {"nota:Unit reports 4.10, file is 4.12", "resultado:10:" + FAIL_TEXT}},
        {"XA",
         SimUnit::Controller::XA,
         trabajo_unidad(TIPO_FICHERO_VTR_XA, "FIRMVTR-900_0307",
                        con_fin(registros_datos(0x0000, 64, 0x01)),
                        con_fin(registros_datos(0x8000, 64, 0x33))),
         "3.05",
         {"nota:Unit reports 3.05, file is 3.07", "resultado:10:" + FAIL_TEXT}},
        {"module firmware",
         SimUnit::Controller::ARM,
         trabajo_modulo_hex(con_fin(registros_datos(0x1000, 64, 0x21)), "FIRMQLN-300_0102"),
         "4.10",
         {"resultado:11:" + OK_TEXT}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        WorkerRig rig(c.controlador);
        ASSERT_TRUE(rig.select());
        auto cfg = rig.unit().software().config();
        cfg.keepOldVersion = true;
        rig.unit().software().setConfig(cfg);
        const size_t from = rig.rec.size();

        ASSERT_TRUE(rig.load(c.trabajo));

        EXPECT_TRUE(rig.unit().software().records().completed);
        const auto log = rig.rec.since(from);
        std::vector<std::string> fin{"version:" + c.version};
        fin.insert(fin.end(), c.cierre.begin(), c.cierre.end());
        fin.push_back("fin");
        ASSERT_GE(log.size(), fin.size());
        EXPECT_EQ(std::vector<std::string>(log.end() - static_cast<long>(fin.size()), log.end()),
                  fin);
    }
}

// The note names both versions in every language of the message table.
TEST(WorkerLoad, VersionNoteInEveryLanguage) {
    std::vector<std::string> textos;
    for (int idioma = 0; idioma < 4; ++idioma) {
        idioma_actual_texto = idioma;
        const std::string t = texto_versiones_distintas("4.10", "4.12");
        EXPECT_NE(t.find("4.10"), std::string::npos) << t;
        EXPECT_LT(t.find("4.10"), t.find("4.12")) << t;
        textos.push_back(t);
    }
    idioma_actual_texto = 2;
    std::sort(textos.begin(), textos.end());
    EXPECT_EQ(std::unique(textos.begin(), textos.end()), textos.end());
    EXPECT_EQ(version_de_identificacion("FIRMVTR-900_0412"), "4.12");
    EXPECT_EQ(version_de_identificacion("FIRMVTR-900_0307"), "3.07");
    EXPECT_EQ(version_de_identificacion("FIRMQLN-300_0102"), "");
}

// A controller is erased before it is written: a bank-1 image that could not be
// written as it stands (nothing to write, a damaged record, no end record, data
// outside the controller's memory, two records that disagree) must not get that
// far, the unit keeps its firmware, and the reason is shown beside the result.
TEST(WorkerLoad, Bank1ImageThatCannotBeWrittenIsRefusedBeforeTheUnitIsTouched) {
    using C = SimUnit::Controller;
    const std::string datos = hexRecord(0x00, 0x0000, {1, 2, 3, 4});
    std::string checksum_malo = datos; // its checksum F2 made F0
    checksum_malo.replace(checksum_malo.size() - 2, 2, "F0");
    struct Caso {
        C controlador;
        std::string tipo;
        std::vector<std::string> banco1;
        std::string nota;
    } casos[] = {
        {C::ARM,
         TIPO_FICHERO_VTR_ARM,
         {hexExtendedLinear(0x0800), REG_FIN},
         "the image holds no data"},
        {C::ARM, TIPO_FICHERO_VTR_ARM, {}, "no end record (the file is incomplete)"},
        {C::ARM,
         TIPO_FICHERO_VTR_ARM,
         {hexExtendedLinear(0x0800), checksum_malo, REG_FIN},
         "line 2: checksum is F0, should be F2"},
        {C::ARM,
         TIPO_FICHERO_VTR_ARM,
         {hexExtendedLinear(0x0800), datos},
         "no end record (the file is incomplete)"},
        {C::ARM,
         TIPO_FICHERO_VTR_ARM,
         {datos, REG_FIN}, // before any upper address
         "line 1: address 0x00000000 is outside the controller's memory"},
        {C::ARM,
         TIPO_FICHERO_VTR_ARM,
         {hexExtendedLinear(0x0800), datos, hexRecord(0x00, 0x0002, {9, 9}), REG_FIN},
         "line 3: the byte at address 0x08000002 differs from the one on line 2"},
        {C::XA, TIPO_FICHERO_VTR_XA, {REG_FIN}, "the image holds no data"},
        {C::XA,
         TIPO_FICHERO_VTR_XA,
         {"garbage", ""},
         "line 1: not an Intel HEX record (no ':' at the start)"},
        {C::XA,
         TIPO_FICHERO_VTR_XA,
         {hexExtendedLinear(0x0001), datos, REG_FIN},
         "line 2: address 0x00010000 is outside the controller's memory"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.tipo + " / " + ::testing::PrintToString(c.banco1));
        WorkerRig rig(c.controlador);
        tipo_sw = TIPO_FIRM_VTR_JOINT;
        ASSERT_TRUE(rig.select());
        const std::map<uint32_t, uint8_t> firmware{{0x08000000, 0xAB}, {0x08000001, 0xCD}};
        rig.unit().armBootloader().setMemory(firmware);
        TrabajoCarga trabajo = trabajo_unidad(c.tipo, "FIRMVTR-900_0412", c.banco1,
                                              con_fin(registros_datos(0, 32, 0)));
        trabajo.size_tele = 100;
        rig.unit().line().clearRecords();
        rig.unit().software().clearRecords();
        const size_t from = rig.rec.size();

        ASSERT_TRUE(rig.load(trabajo));

        EXPECT_TRUE(rig.unit().line().bytesFromHost().empty());
        EXPECT_TRUE(rig.unit().line().dtrHistory().empty());
        EXPECT_EQ(rig.unit().armBootloader().eraseCount(), 0);
        EXPECT_EQ(rig.unit().armBootloader().memory(), firmware);
        EXPECT_TRUE(rig.unit().xaLoader().erasedBlocks().empty());
        const auto log = rig.rec.since(from);
        ASSERT_EQ(log.size(), 3u);
        EXPECT_EQ(log[0], "nota:" + c.nota);
        EXPECT_EQ(log[1], "resultado:10:" + FAIL_TEXT);
        EXPECT_EQ(log[2], "fin");
    }
}

// Whatever escapes a programming procedure ends the load like a failed one, and the
// worker goes on serving requests.
TEST(WorkerLoad, ThreadSurvivesAnErrorEscapingAProcedureAndReportsAFailedLoad) {
    WorkerRig rig(SimUnit::Controller::ARM);
    ASSERT_TRUE(rig.select());
    const auto lineas = con_fin(registros_datos(0x1000, 600, 0x21));
    std::atomic<bool> lanzado{false};
    rig.rec.setHook([&](const std::string& e) {
        if (e.rfind("progreso:", 0) == 0 && !lanzado.exchange(true))
            throw std::runtime_error("display gone");
    });
    const size_t from = rig.rec.size();

    ASSERT_TRUE(rig.load(trabajo_modulo_hex(lineas, "FIRMQLN-300_0203")));

    EXPECT_TRUE(lanzado.load());
    auto log = rig.rec.since(from);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "resultado:10:" + FAIL_TEXT);
    EXPECT_EQ(log.back(), "fin");
    EXPECT_FALSE(grabar_firmware.load());
    // Still alive: a refresh is served.
    const int antes = rig.rec.count("carga:1");
    pedir_estado.store(true);
    EXPECT_TRUE(rig.rec.waitFor("carga:1", antes + 1));
}
