// Several units loaded at once from one command, against simulated units named on
// the command line ("sim:arm#1", "sim:xa#1", ...), in simulated time: each unit ends
// with its own image or its own failure, the summary and the exit status say which,
// and an interrupt stops every load.
#include "common/global.h"
#include "files/seleccion_fichero.h"
#include "sim/puerto_simulado.h"
#include "sim/unidad_simulada.h"
#include "support/reloj_por_hilo.h"
#include "tests/headless/ejecutar_headless.h"
#include "ui/headless/headless.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTextStream>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

namespace {

const QString SAMPLES = QStringLiteral(VTR_SOURCE_DIR "/samples/");
const QString JOINT_SAMPLE = SAMPLES + "vtr900_joint.hex";
const QString ARM_SAMPLE = SAMPLES + "vtr900_arm_0412.hex";

// The three units of a production rack: two good ones and one whose bootloader
// refuses the erase.
const QStringList RACK = {"--port",   "sim:arm#1", "--port",
                          "sim:xa#1", "--port",    "sim:arm#2,fault=nack-erase"};

class NoView final : public FileSelectionView {
public:
    void showFileError(Mensaje, const std::string&) override {}
    void setFileName(const std::string&) override {}
    void setModuleText(const std::string&) override {}
    void setVersionToLoad(const std::string&) override {}
    void setLoadEnabled(bool) override {}
    void hideVersionGroup() override {}
};

// What the data records of Intel HEX text put where (extended linear and segment
// addresses applied): the bytes a controller's own loader holds after writing it.
std::map<uint32_t, uint8_t> memoriaDe(const std::string& hex) {
    std::map<uint32_t, uint8_t> m;
    uint32_t base = 0;
    size_t at = 0;
    while ((at = hex.find(':', at)) != std::string::npos) {
        auto byte = [&](size_t i) {
            return static_cast<uint8_t>(std::stoi(hex.substr(at + 1 + 2 * i, 2), nullptr, 16));
        };
        const uint8_t n = byte(0);
        const uint32_t dir = (static_cast<uint32_t>(byte(1)) << 8) | byte(2);
        const uint8_t tipo = byte(3);
        if (tipo == 0x00)
            for (uint8_t i = 0; i < n; ++i)
                m[base + dir + i] = byte(4 + i);
        else if (tipo == 0x04)
            base = ((static_cast<uint32_t>(byte(4)) << 8) | byte(5)) << 16;
        else if (tipo == 0x02)
            base = ((static_cast<uint32_t>(byte(4)) << 8) | byte(5)) << 4;
        at += 1;
    }
    return m;
}

class SeveralUnitsThreaded : public ::testing::Test {
protected:
    SimClockPorHilo clock; // each unit's threads on a timeline of their own
    ScopedTimeSource useClock{clock};
    QString outText, errText;
    OpcionesHeadless opts;

    void SetUp() override {
        reiniciar_estado_global();
        olvidar_unidades_por_nombre(); // every named unit starts as a new one
    }
    void TearDown() override {
        olvidar_unidades_por_nombre();
        reiniciar_estado_global();
    }
    int run(QStringList args) { return ejecutar_headless(std::move(args), opts, outText, errText); }
    static SimUnit& named(const std::string& unit) {
        auto u = unidad_simulada_por_nombre(unit);
        EXPECT_TRUE(u) << unit;
        static SimUnit none(SimUnit::Controller::ARM);
        return u ? *u : none;
    }
    QStringList outLines() const { return outText.split('\n', Qt::SkipEmptyParts); }
    // The summary row of a port: the line that begins with it after the heading.
    QString row(const QString& port) const {
        const QStringList l = outLines();
        const qsizetype head = l.indexOf(QRegularExpression(QStringLiteral("PORT +UNIT.*")));
        for (qsizetype i = head + 1; head >= 0 && i < l.size(); ++i)
            if (l[i].startsWith(port + QLatin1Char(' ')))
                return l[i].simplified();
        return {};
    }
    // The lines a port's unit printed, without their prefix, in order.
    QStringList linesOf(const QString& port) const {
        QStringList r;
        for (const QString& l : outLines())
            if (l.startsWith(port + QStringLiteral(": ")))
                r << l.mid(port.size() + 2);
        return r;
    }
};

SeleccionFichero jointImages() {
    SeleccionFichero s;
    NoView v;
    seleccionar_fichero(JOINT_SAMPLE.toStdString(), TIPO_VTR_NONE, s, v);
    EXPECT_TRUE(s.valida && s.joint);
    return s;
}

} // namespace

TEST_F(SeveralUnitsThreaded, TheGoodUnitsHoldTheirImagesAndTheFaultyOneFailsAlone) {
    const int rc =
        run(RACK + QStringList{"--file", JOINT_SAMPLE, "--image", "classa", "--lang", "en"});
    EXPECT_EQ(rc, ExitFailed) << outText.toStdString() << errText.toStdString();

    // Each good unit got the image of its own controller out of the joint file.
    const SeleccionFichero joint = jointImages();
    const auto armImage = memoriaDe(joint.imagen(ImagenUnidad::Arm).banco1);
    const auto xaImage = memoriaDe(joint.imagen(ImagenUnidad::ClassA).banco1);
    ASSERT_FALSE(armImage.empty());
    ASSERT_FALSE(xaImage.empty());
    SimUnit& arm1 = named("arm#1");
    SimUnit& xa1 = named("xa#1");
    SimUnit& arm2 = named("arm#2");
    EXPECT_EQ(arm1.armBootloader().memory(), armImage);
    EXPECT_EQ(xa1.xaLoader().memory(), xaImage);
    EXPECT_TRUE(arm1.software().records().completed);
    EXPECT_TRUE(xa1.software().records().completed);
    // The faulty one: its erase was refused, so nothing of the image reached it.
    EXPECT_NE(arm2.armBootloader().memory(), armImage);
    EXPECT_FALSE(arm2.software().records().completed);
    EXPECT_EQ(arm2.armBootloader().eraseCount(), 0);

    // Piped, each unit's lines carry its port, in the order of its own load.
    EXPECT_EQ(linesOf("sim:arm#1").value(0), "Detecting VTR-900 ...");
    EXPECT_EQ(linesOf("sim:arm#1").last(), "OK: Update completed");
    EXPECT_TRUE(linesOf("sim:arm#1").contains("Current Firmware Version 4.12"));
    EXPECT_EQ(linesOf("sim:xa#1").last(), "OK: Update completed");
    EXPECT_TRUE(linesOf("sim:xa#1").contains("Current Firmware Version 3.06"));
    EXPECT_FALSE(linesOf("sim:arm#2,fault=nack-erase").contains("OK: Update completed"));
    EXPECT_FALSE(linesOf("sim:arm#2,fault=nack-erase").isEmpty());

    // The summary: port, unit type, version before -> after, result, time.
    EXPECT_TRUE(row("sim:arm#1").startsWith(QStringLiteral("sim:arm#1 ARM 4.10 \u2192 4.12 OK ")))
        << row("sim:arm#1").toStdString() << "\n"
        << outText.toStdString();
    EXPECT_TRUE(row("sim:xa#1").startsWith(QStringLiteral("sim:xa#1 XA 3.05 \u2192 3.06 OK ")))
        << row("sim:xa#1").toStdString();
    const QString bad = row("sim:arm#2,fault=nack-erase");
    EXPECT_TRUE(bad.startsWith(QStringLiteral("sim:arm#2,fault=nack-erase ARM 4.10 \u2192 - "
                                              "failed: ")))
        << bad.toStdString();
}

TEST_F(SeveralUnitsThreaded, EveryUnitOkExitsZeroAndTheSameNameIsTheSameUnit) {
    // --ports keeps a simulated unit's options with its name.
    ASSERT_EQ(run({"--ports", "sim:arm#1,sim:arm#2", "--file", ARM_SAMPLE, "--lang", "en"}), ExitOk)
        << outText.toStdString() << errText.toStdString();
    EXPECT_TRUE(row("sim:arm#1").contains(QStringLiteral("4.10 \u2192 4.12 OK")));
    EXPECT_TRUE(row("sim:arm#2").contains(QStringLiteral("4.10 \u2192 4.12 OK")));
    // Opened again by name, a unit is found as its load left it.
    ASSERT_EQ(run({"--ports", "sim:arm#2,sim:xa#3", "--status", "--lang", "en"}), ExitOk);
    EXPECT_TRUE(row("sim:arm#2").startsWith(QStringLiteral("sim:arm#2 ARM 4.12 found")))
        << row("sim:arm#2").toStdString();
    EXPECT_TRUE(row("sim:xa#3").startsWith(QStringLiteral("sim:xa#3 XA 3.05 found")))
        << row("sim:xa#3").toStdString();
}

TEST_F(SeveralUnitsThreaded, OnATerminalEachUnitHasOneLineRedrawnInPlace) {
    opts.terminal = true;
    ASSERT_EQ(run({"--ports", "sim:arm#1,sim:arm#2,fault=nack-erase", "--file", ARM_SAMPLE,
                   "--lang", "en"}),
              ExitFailed);
    // Every redraw goes back up over the panel's two lines and rewrites both; no
    // unit's line scrolls the screen on its own.
    const QString up = QStringLiteral("\x1b[2A");
    EXPECT_GT(outText.count(up), 10) << outText.toStdString();
    EXPECT_FALSE(outText.contains(QStringLiteral("\nsim:arm#1: ")));
    // The last drawing of the panel: each unit's line ends with its outcome.
    const QString last = outText.mid(outText.lastIndexOf(up) + up.size());
    const QStringList panel = last.split('\n');
    ASSERT_GE(panel.size(), 2);
    static const QRegularExpression erase(QStringLiteral("\r|\x1b\\[K"));
    QString one = panel[0], two = panel[1];
    one.remove(erase);
    two.remove(erase);
    EXPECT_TRUE(one.startsWith("sim:arm#1:")) << one.toStdString();
    EXPECT_TRUE(one.simplified().endsWith("ARM OK")) << one.toStdString();
    EXPECT_TRUE(two.startsWith("sim:arm#2,fault=nack-erase:")) << two.toStdString();
    EXPECT_TRUE(two.contains("ARM failed: Error: Invalid Update")) << two.toStdString();
    // Then the summary, once the panel is done.
    EXPECT_TRUE(row("sim:arm#1").contains(QStringLiteral("4.10 \u2192 4.12 OK")));
    EXPECT_TRUE(row("sim:arm#2,fault=nack-erase").contains("failed"));
}

TEST_F(SeveralUnitsThreaded, JsonIsAnArrayOfOneObjectPerUnit) {
    EXPECT_EQ(run(RACK + QStringList{"--file", JOINT_SAMPLE, "--image", "classa", "--json",
                                     "--lang", "en"}),
              ExitFailed);
    QJsonParseError e{};
    const QJsonDocument d = QJsonDocument::fromJson(outText.toUtf8(), &e);
    ASSERT_EQ(e.error, QJsonParseError::NoError) << outText.toStdString();
    ASSERT_TRUE(d.isArray()) << "standard output holds the array alone";
    const QJsonArray a = d.array();
    ASSERT_EQ(a.size(), 3);
    const struct {
        const char* port;
        const char* result;
        int exit;
        const char* type;
        const char* before;
        QJsonValue after;
    } expected[] = {
        {"sim:arm#1", "ok", ExitOk, "VTR_ARM", "4.10", "4.12"},
        {"sim:xa#1", "ok", ExitOk, "VTR_XA", "3.05", "3.06"},
        {"sim:arm#2,fault=nack-erase", "failed", ExitFailed, "VTR_ARM", "4.10", QJsonValue()},
    };
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(expected[i].port);
        const QJsonObject o = a[i].toObject();
        EXPECT_EQ(o["port"].toString(), expected[i].port);
        EXPECT_EQ(o["result"].toString(), expected[i].result);
        EXPECT_EQ(o["exit_code"].toInt(), expected[i].exit);
        EXPECT_EQ(o["unit_type"].toString(), expected[i].type);
        EXPECT_EQ(o["version_before"].toString(), expected[i].before);
        EXPECT_EQ(o["version_after"], expected[i].after);
        EXPECT_EQ(o["file"].toString(), JOINT_SAMPLE);
        EXPECT_FALSE(o["identification"].toString().isEmpty());
        EXPECT_TRUE(o["message"].isObject());
        EXPECT_TRUE(o["phases"].isArray());
    }
    EXPECT_EQ(a[0].toObject()["message"].toObject()["text"].toString(), "OK: Update completed");
    EXPECT_NE(a[2].toObject()["message"].toObject()["text"].toString(), "OK: Update completed");
    EXPECT_FALSE(a[0].toObject()["crc"].isNull());
}

TEST_F(SeveralUnitsThreaded, StatusReportsEachUnit) {
    const struct {
        const char* what;
        QString ports;
        int exit;
        QStringList rows; // each row's start
    } cases[] = {
        {"all found",
         "sim:arm#1,sim:xa#1",
         ExitOk,
         {"sim:arm#1 ARM 4.10 found", "sim:xa#1 XA 3.05 found"}},
        {"one silent",
         "sim:arm#1,sim:xa#2,fault=silent",
         ExitFailed,
         {"sim:arm#1 ARM 4.10 found", "sim:xa#2,fault=silent - - no-unit"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(run({"--ports", c.ports, "--status", "--lang", "en"}), c.exit)
            << outText.toStdString();
        for (const QString& r : c.rows) {
            const QString port = r.section(QLatin1Char(' '), 0, 0);
            EXPECT_TRUE(row(port).startsWith(r + QLatin1Char(' ')))
                << row(port).toStdString() << "\n"
                << outText.toStdString();
        }
    }
}

TEST_F(SeveralUnitsThreaded, InterruptStopsEveryLoadAndReleasesEveryPort) {
    // The interrupt arrives while one unit is in its framed transfer; the others are
    // wherever their own loads got to.
    std::atomic<bool> dado{false};
    opts.alEstado = [&](const std::string& text) {
        if (text == "Programming Block 2 ..." && !dado.exchange(true))
            interrumpir_headless();
    };
    const int rc = run({"--port", "sim:arm#1", "--port", "sim:arm#2", "--port", "sim:xa#1",
                        "--file", JOINT_SAMPLE, "--image", "i2c", "--lang", "en"});
    ASSERT_TRUE(dado.load());
    EXPECT_EQ(rc, ExitInterrupted) << outText.toStdString() << errText.toStdString();
    for (const char* u : {"arm#1", "arm#2", "xa#1"}) {
        SCOPED_TRACE(u);
        SimUnit& unit = named(u);
        EXPECT_FALSE(unit.software().records().completed);
        // Each stopped at a safe point and got the final reset: back in its software.
        EXPECT_EQ(unit.mode(), SimUnit::Mode::Application) << SimUnit::modeName(unit.mode());
        EXPECT_TRUE(row(QStringLiteral("sim:") + u).contains(QStringLiteral(" interrupted ")))
            << outText.toStdString();
    }
    EXPECT_FALSE(outText.contains("OK: Update completed"));
}

TEST_F(SeveralUnitsThreaded, PortListsAreCheckedBeforeAnyPortIsTouched) {
    const struct {
        const char* what;
        QStringList args;
        int exit;
        const char* err;
    } cases[] = {
        {"same port twice",
         {"--port", "sim:arm#1", "--ports", "sim:xa#1,sim:arm#1"},
         ExitUsage,
         "port 'sim:arm#1' given twice"},
        {"unit number zero",
         {"--port", "sim:arm#0", "--port", "sim:xa#1"},
         ExitUsage,
         "bad unit number '0'"},
        {"unit number not a number",
         {"--ports", "sim:arm#1,sim:arm#x"},
         ExitUsage,
         "bad unit number 'x'"},
        {"auto-all without adapters",
         {"--port", "auto-all"},
         ExitUsage,
         "--port auto-all: no USB serial adapter is present"},
    };
    opts.puertos = [] { return std::vector<PuertoSistema>{}; };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(run(c.args + QStringList{"--status", "--lang", "en"}), c.exit);
        EXPECT_TRUE(errText.contains(c.err)) << errText.toStdString();
        EXPECT_TRUE(outText.isEmpty()) << outText.toStdString();
        // Nothing was opened: no unit was created by its name.
        EXPECT_EQ(unidad_simulada_por_nombre("xa#1"), nullptr);
    }
    // auto-all takes every USB adapter present, one unit on each.
    opts.puertos = [] {
        std::vector<PuertoSistema> v(3);
        v[0].dispositivo = "/dev/ttyS0"; // a board UART: not taken
        v[1].dispositivo = "sim:arm#5";
        v[2].dispositivo = "sim:xa#5";
        for (int i : {1, 2}) {
            v[static_cast<size_t>(i)].vid = 0x0403;
            v[static_cast<size_t>(i)].pid = 0x6001;
        }
        return v;
    };
    EXPECT_EQ(run({"--port", "auto-all", "--status", "--lang", "en"}), ExitOk)
        << outText.toStdString() << errText.toStdString();
    EXPECT_TRUE(row("sim:arm#5").startsWith("sim:arm#5 ARM 4.10 found"));
    EXPECT_TRUE(row("sim:xa#5").startsWith("sim:xa#5 XA 3.05 found"));
    EXPECT_TRUE(row("/dev/ttyS0").isEmpty());
}
