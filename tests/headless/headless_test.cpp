// The headless loader through its entry point, against the simulated unit in
// simulated time: outputs and their order, exit status of every outcome, the trace
// file, the language, and the argument checks.
#include "common/global.h"
#include "comms/nombres_puerto.h"
#include "support/hex_records.h"
#include "support/sim_fixture.h"
#include "ui/headless/headless.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

const QString SAMPLES = QStringLiteral(VTR_SOURCE_DIR "/samples/");
const QString ARM_SAMPLE = SAMPLES + "vtr900_arm_0412.hex";
const QString JOINT_SAMPLE = SAMPLES + "vtr900_joint.hex";
const QString MODULE_BIN_SAMPLE = SAMPLES + "module_xyz100_0102.bin";

void silence(SimUnit& u) {
    auto c = u.software().config();
    c.silent = true;
    u.software().setConfig(c);
    auto f = u.armBootloader().faults();
    f.silent = true;
    u.armBootloader().setFaults(f);
}

class HeadlessTest : public ::testing::Test {
protected:
    QTemporaryDir work; // the operator's files
    std::unique_ptr<SimPortFixture> sim;
    QString outText, errText;
    bool terminal = false;

    void SetUp() override { ASSERT_TRUE(work.isValid()); }
    void TearDown() override { sim.reset(); }
    SimUnit& unit(SimUnit::Controller c = SimUnit::Controller::ARM, uint8_t idx = 0) {
        // The old fixture goes first: its end puts the real clock back and removes
        // the unit of its index.
        sim.reset();
        sim = std::make_unique<SimPortFixture>(c, idx);
        return *sim->unit;
    }
    int run(QStringList args) {
        outText.clear();
        errText.clear();
        QTextStream out(&outText);
        QTextStream err(&errText);
        args.prepend(QStringLiteral("vtr900prog"));
        const int rc = runHeadless(args, out, err, terminal);
        out.flush();
        err.flush();
        // Nothing of the run may be left behind for the next one.
        for (const auto& g : grupos_supev)
            EXPECT_EQ(g.load(), nullptr);
        for (const auto& p : puertos)
            EXPECT_EQ(p.load(), nullptr);
        return rc;
    }
    QStringList outLines() const { return outText.split('\n', Qt::SkipEmptyParts); }
    QStringList errLines() const { return errText.split('\n', Qt::SkipEmptyParts); }
    QString writeFile(const QString& name, const QByteArray& content) {
        const QString path = work.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        return path;
    }
};

// Checks that `expected` appears in `lines` in this order (other lines may come
// between).
::testing::AssertionResult inOrder(const QStringList& lines, const QStringList& expected) {
    qsizetype at = 0;
    for (const QString& e : expected) {
        while (at < lines.size() && lines[at] != e)
            ++at;
        if (at == lines.size())
            return ::testing::AssertionFailure()
                   << "missing or out of order: '" << e.toStdString() << "' in\n"
                   << lines.join('\n').toStdString();
        ++at;
    }
    return ::testing::AssertionSuccess();
}

} // namespace

TEST_F(HeadlessTest, ArmLoadPrintsStatusVersionProgressCrcAndResultInOrder) {
    SimUnit& u = unit();

    ASSERT_EQ(run({"--port", "sim:arm", "--file", ARM_SAMPLE, "--lang", "en"}), ExitOk)
        << outText.toStdString() << errText.toStdString();

    const QStringList lines = outLines();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first(), "Detecting VTR-900 ...");
    EXPECT_EQ(lines.last(), "OK: Update completed");
    // The CRC line shows what the unit received at the end of the transfer.
    const auto r = u.software().records();
    ASSERT_TRUE(r.completed);
    const QString crc =
        QStringLiteral("CRC --> %1").arg(r.endCrc, 8, 16, QLatin1Char('0')).toUpper();
    EXPECT_TRUE(inOrder(lines, {"Current Firmware Version 4.10", " VTR-900 found",
                                "Updating Firmware ...", crc, " Wait  ...",
                                "Current Firmware Version 4.12", "OK: Update completed"}));
    // Empty status texts (the refresh clears its notice) are not printed.
    EXPECT_FALSE(outText.contains("\n\n"));
    // Not a terminal: a line at each ten per cent reached, climbing within a block.
    static const QRegularExpression progress(QStringLiteral("^Progress \\.\\.\\. (\\d+) %$"));
    int lastTens = 0, progressLines = 0;
    for (const QString& l : lines) {
        const auto m = progress.match(l);
        if (!m.hasMatch())
            continue;
        const int p = m.captured(1).toInt();
        EXPECT_EQ(p % 10, 0) << l.toStdString();
        if (p <= lastTens) {
            EXPECT_LE(p, 10) << "a later block starts again from its first ten";
        }
        lastTens = p;
        ++progressLines;
    }
    EXPECT_EQ(lastTens, 100);
    EXPECT_GE(progressLines, 10);
    EXPECT_FALSE(outText.contains('\r'));
    EXPECT_TRUE(errText.isEmpty()) << errText.toStdString();
}

TEST_F(HeadlessTest, OnATerminalProgressUpdatesOneLineInPlace) {
    unit();
    terminal = true;

    ASSERT_EQ(run({"--port", "sim:arm", "--file", ARM_SAMPLE, "--lang", "en"}), ExitOk);

    EXPECT_TRUE(outText.contains("\rProgress ... 100 %")) << outText.toStdString();
    // Fixed width: a one-digit value is padded so that it covers a longer one.
    EXPECT_TRUE(outText.contains(QRegularExpression("\\rProgress \\.\\.\\.   \\d %")))
        << outText.toStdString();
    // Progress never takes lines of its own, and the next text starts on a fresh line.
    for (const QString& l : outText.split('\n'))
        EXPECT_FALSE(l.startsWith("Progress")) << l.toStdString();
    static const QRegularExpression textAfterProgress(QStringLiteral("% *[^\\s\\r\\n%]"));
    EXPECT_FALSE(textAfterProgress.match(outText).hasMatch());
    EXPECT_TRUE(outText.endsWith("OK: Update completed\n"));
}

TEST_F(HeadlessTest, ExitStatusOfEveryOutcome) {
    const QString badHeader = writeFile("bad.hex", "not a firmware file\n1\n2\nHEX\n");
    struct Case {
        const char* name;
        SimUnit::Controller controller;
        std::function<void(SimUnit&)> setup;
        QStringList args;
        int exit;
        const char* lastOut; // last line of stdout ("" = none expected)
        const char* lastErr; // first line of stderr ("" = stderr empty)
        bool loadStarted;
    } cases[] = {
        {"update completed",
         SimUnit::Controller::ARM,
         {},
         {"--file", ARM_SAMPLE},
         ExitOk,
         "OK: Update completed",
         "",
         true},
        {"write refused in the middle",
         SimUnit::Controller::ARM,
         [](SimUnit& u) {
             auto f = u.armBootloader().faults();
             f.nackWriteBlock = 3;
             u.armBootloader().setFaults(f);
         },
         {"--file", ARM_SAMPLE},
         ExitFailed,
         "Error: Invalid Update",
         "",
         true},
        {"unit full",
         SimUnit::Controller::ARM,
         [](SimUnit& u) {
             auto c = u.software().config();
             c.refuseBinary = true;
             u.software().setConfig(c);
         },
         {"--file", MODULE_BIN_SAMPLE},
         ExitFailed,
         "Error: not enough free space for file download",
         "",
         true},
        {"silent unit, load",
         SimUnit::Controller::ARM,
         silence,
         {"--file", ARM_SAMPLE},
         ExitFailed,
         "Error: Invalid Update",
         "",
         true},
        {"status, unit found",
         SimUnit::Controller::XA,
         {},
         {"--status"},
         ExitOk,
         " VTR-900 found",
         "",
         false},
        {"status, no unit",
         SimUnit::Controller::ARM,
         silence,
         {"--status"},
         ExitFailed,
         " VTR-900 not found",
         "",
         false},
        {"file does not exist",
         SimUnit::Controller::ARM,
         {},
         {"--file", work.filePath("missing.hex")},
         ExitUsage,
         " VTR-900 found",
         "Not File",
         false},
        {"empty file name",
         SimUnit::Controller::ARM,
         {},
         {"--file", ""},
         ExitUsage,
         " VTR-900 found",
         "No file found",
         false},
        {"unrecognised header",
         SimUnit::Controller::ARM,
         {},
         {"--file", badHeader},
         ExitUsage,
         " VTR-900 found",
         "File error",
         false},
        {"joint file on XA without --image",
         SimUnit::Controller::XA,
         {},
         {"--file", JOINT_SAMPLE},
         ExitUsage,
         "Select Version",
         "Select Version",
         false},
        {"port cannot be opened",
         SimUnit::Controller::ARM,
         [](SimUnit& u) {
             SimLine::Faults f;
             f.refuseOpen = true;
             u.line().setFaults(f);
         },
         {"--file", ARM_SAMPLE},
         ExitPortFailed,
         "Error: Port --> sim:arm",
         "",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimUnit& u = unit(c.controller);
        if (c.setup)
            c.setup(u);

        const int rc = run(
            QStringList{"--port", c.controller == SimUnit::Controller::XA ? "sim:xa" : "sim:arm",
                        "--lang", "en"} +
            c.args);

        EXPECT_EQ(rc, c.exit) << outText.toStdString() << errText.toStdString();
        ASSERT_FALSE(outLines().isEmpty());
        EXPECT_EQ(outLines().last(), c.lastOut) << outText.toStdString();
        if (*c.lastErr)
            EXPECT_TRUE(errLines().value(0).startsWith(c.lastErr)) << errText.toStdString();
        else
            EXPECT_TRUE(errText.isEmpty()) << errText.toStdString();
        EXPECT_EQ(outText.contains("Updating Firmware ..."), c.loadStarted);
        if (!c.loadStarted) {
            EXPECT_FALSE(u.software().records().programmingMode);
        }
    }
}

TEST_F(HeadlessTest, ImageOptionChoosesTheJointImageOnXaAndIsIgnoredOnArm) {
    struct Case {
        SimUnit::Controller controller;
        const char* port;
        const char* image;
        const char* versionAfter;
        const char* identification; // what the unit was told it receives
    } cases[] = {
        {SimUnit::Controller::XA, "sim:xa", "i2c", "Current Firmware Version 2.05",
         "FIRMVTR-900_0205"},
        {SimUnit::Controller::XA, "sim:xa", "CLASSA", "Current Firmware Version 3.06",
         "FIRMVTR-900_0306"},
        {SimUnit::Controller::ARM, "sim:arm", "i2c", "Current Firmware Version 4.12",
         "FIRMVTR-900_0412"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        SimUnit& u = unit(c.controller);

        const int rc =
            run({"--port", c.port, "--file", JOINT_SAMPLE, "--image", c.image, "--lang", "en"});

        EXPECT_EQ(rc, ExitOk) << outText.toStdString() << errText.toStdString();
        EXPECT_TRUE(
            inOrder(outLines(), {"Updating Firmware ...", c.versionAfter, "OK: Update completed"}));
        EXPECT_EQ(u.software().records().identification, c.identification);
    }
}

TEST_F(HeadlessTest, PortNamesMapToTheirIndexAndFailuresNameThePort) {
    // COM3 is index 2: a unit installed there answers, the one at index 0 is never
    // touched.
    SimPortFixture other(SimUnit::Controller::ARM, 2);
    SimUnit& atZero = unit(SimUnit::Controller::ARM, 0);
    EXPECT_EQ(run({"--port", "com3", "--status", "--lang", "en"}), ExitOk) << outText.toStdString();
    EXPECT_EQ(outLines().last(), " VTR-900 found");
    EXPECT_FALSE(other.unit->line().dtrHistory().empty());
    EXPECT_TRUE(atZero.line().dtrHistory().empty());

    SimLine::Faults refuse;
    refuse.refuseOpen = true;
    other.unit->line().setFaults(refuse);
    EXPECT_EQ(run({"--port", "COM3", "--status", "--lang", "en"}), ExitPortFailed);
    EXPECT_EQ(outLines(), QStringList{"Error: Port --> COM3"});

    // A device path: no unit, a real port that does not exist.
    sim.reset();
    EXPECT_EQ(run({"--port", "/nonexistent/ttyVTR", "--status", "--lang", "en"}), ExitPortFailed);
    EXPECT_EQ(outLines(), QStringList{"Error: Port --> /nonexistent/ttyVTR"});
    // The name given for one run does not stay on index 0.
    EXPECT_EQ(nombre_puerto(0), nombre_puerto_sistema(0));

    // VTR900_COMn points COMn elsewhere; the failure still names COMn.
    qputenv("VTR900_COM2", "/nonexistent/ttyUSB9");
    EXPECT_EQ(run({"--port", "COM2", "--status", "--lang", "en"}), ExitPortFailed);
    qunsetenv("VTR900_COM2");
    EXPECT_EQ(outLines(), QStringList{"Error: Port --> COM2"});
}

TEST_F(HeadlessTest, TraceFileHoldsEveryTracedLineStartingWithTheStatusRequest) {
    unit();
    const QString tracePath = work.filePath("trace.txt");

    ASSERT_EQ(run({"--port", "sim:arm", "--status", "--trace", tracePath}), ExitOk);

    QFile f(tracePath);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList trace = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(trace.size(), 2);
    EXPECT_EQ(trace[0], "TX->A5,04,00,00,00,00,FC");
    EXPECT_TRUE(trace[1].startsWith("RX->A5,04,")) << trace[1].toStdString();
    EXPECT_TRUE(errText.isEmpty());

    // "-" is standard error, and a load's trace arrives whole (drained to the end):
    // one line per frame the unit received, the bootloader's exchanges between.
    SimUnit& u = unit();
    ASSERT_EQ(run({"--port", "sim:arm", "--file", ARM_SAMPLE, "--trace", "-"}), ExitOk);
    const QStringList lines = errLines();
    ASSERT_GT(lines.size(), 10);
    EXPECT_EQ(lines.first(), "TX->A5,04,00,00,00,00,FC");
    EXPECT_EQ(lines.filter(QRegularExpression("^TX->A5,")).size(),
              static_cast<qsizetype>(u.software().records().frames.size()));
    // The bootloader's exchanges, one line per direction: synchronisation and its ACK.
    EXPECT_TRUE(lines.contains("TX->7F"));
    EXPECT_TRUE(lines.contains("RX->79 ACK"));
    // The last exchange of a load is the status read-back after the final reset.
    EXPECT_EQ(lines[lines.size() - 2], "TX->A5,04,00,00,00,00,FC");
    EXPECT_TRUE(lines.last().startsWith("RX->A5,04,"));
}

TEST_F(HeadlessTest, LanguageOptionSwitchesEveryMessage) {
    struct Case {
        const char* lang;
        QStringList status;
        const char* notFile;
    } cases[] = {
        {"es", {"Detectando VTR-900 ...", " VTR-900 detectado"}, "Fichero no seleccionado"},
        {"fr", {"Detéction VTR-900 ...", " VTR-900 trouvée"}, "Pas Fichier"},
        {"it", {"Ricerca VTR-900 ...", " VTR-900 è trovato"}, "File non è trovato"},
        {"EN", {"Detecting VTR-900 ...", " VTR-900 found"}, "Not File"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lang);
        unit();
        EXPECT_EQ(run({"--port", "sim:arm", "--lang", c.lang, "--file", work.filePath("none.hex")}),
                  ExitUsage);
        EXPECT_TRUE(inOrder(outLines(), c.status)) << outText.toStdString();
        EXPECT_EQ(errLines().value(0), c.notFile);
    }
    unit();
    SimLine::Faults refuse;
    refuse.refuseOpen = true;
    sim->unit->line().setFaults(refuse);
    EXPECT_EQ(run({"--port", "COM1", "--status", "--lang", "fr"}), ExitPortFailed);
    EXPECT_EQ(outLines(), QStringList{"Erreur: Port --> COM1"});
}

TEST_F(HeadlessTest, BadArgumentsExitTwoWithoutTouchingThePort) {
    const QList<QStringList> bad = {
        {},
        {"--status"},
        {"--port", "sim:arm"},
        {"--port", "sim:arm", "--status", "--file", ARM_SAMPLE},
        {"--port", "sim:arm", "--file", ARM_SAMPLE, "--image", "usb"},
        {"--port", "sim:arm", "--status", "--lang", "de"},
        {"--port", "sim:arm", "--status", "--bogus"},
        {"--port", "sim:arm", "--status", "extra"},
        {"--port", "sim:foo", "--status"},
        {"--port", "sim:arm", "--status", "--trace", work.filePath("no/such/dir/t.txt")},
        {"--port"},
    };
    for (const QStringList& args : bad) {
        SCOPED_TRACE(args.join(' ').toStdString());
        SimUnit& u = unit();
        EXPECT_EQ(run(args), ExitUsage);
        EXPECT_TRUE(outText.isEmpty()) << outText.toStdString();
        EXPECT_FALSE(errText.isEmpty());
        EXPECT_TRUE(u.line().dtrHistory().empty()) << "the port was opened";
    }
}

TEST_F(HeadlessTest, HelpAndVersion) {
    ASSERT_EQ(run({"--help"}), ExitOk);
    for (const char* must :
         {"--port", "--file", "--image", "--lang", "--trace", "--status", "--version", "COM1..COM4",
          "VTR900_COM1", "sim:arm", "sim:xa", "classa", "i2c", "Exit status"})
        EXPECT_TRUE(outText.contains(must)) << must;
    ASSERT_EQ(run({"--version"}), ExitOk);
    EXPECT_EQ(outText, "vtr900prog 2.10\n");
}

// The worker reports on its own thread while the front end drains the trace on
// its own: the race detector runs this one.
TEST_F(HeadlessTest, ThreadedLoadWithTraceReportsWhileDraining) {
    unit();
    const QString tracePath = work.filePath("trace.txt");
    ASSERT_EQ(
        run({"--port", "sim:arm", "--file", ARM_SAMPLE, "--trace", tracePath, "--lang", "en"}),
        ExitOk);
    EXPECT_EQ(outLines().last(), "OK: Update completed");
    QFile f(tracePath);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_GT(f.readAll().count('\n'), 100);
}

// A damaged file is refused when it is chosen: the run sends the port nothing beyond
// what a --status run sends (open, reset, status request), and says on stderr which
// line is wrong and how.
TEST_F(HeadlessTest, DamagedFilesAreRefusedWithNothingSentToTheUnit) {
    auto hostBytes = [](SimUnit& u) {
        size_t n = 0;
        for (const ByteRecord& b : u.line().bytes())
            n += b.fromHost && !b.discarded;
        return n;
    };
    SimUnit& reference = unit();
    ASSERT_EQ(run({"--port", "sim:arm", "--status", "--lang", "en"}), ExitOk);
    const size_t statusBytes = hostBytes(reference);
    ASSERT_GT(statusBytes, 0u);

    const std::string arm0800 = hexExtendedLinear(0x0800);
    const std::string data = hexRecord(0x00, 0x0000, {0x11, 0x22, 0x33, 0x44});
    const std::string end = hexEndRecord();
    std::string badSum = data;
    badSum.replace(badSum.size() - 2, 2, "00");
    std::string nonHex = data;
    nonHex[10] = 'x';
    auto file = [](const std::string& id, const std::vector<std::string>& records) {
        QByteArray b = QByteArray::fromStdString(id) + "\n0\n0\nHEX\n";
        for (const auto& r : records)
            b += QByteArray::fromStdString(r) + "\n";
        return b;
    };
    const std::string ARM_ID = "FIRMVTR-900_0412";
    const struct {
        const char* what;
        QByteArray content;
        const char* reason; // part of the second line on stderr
    } cases[] = {
        {"wrong checksum", file(ARM_ID, {arm0800, badSum, end}), "line 6: checksum is 00"},
        {"non-hex digit", file(ARM_ID, {arm0800, nonHex, end}), "line 6: character 'x'"},
        {"count longer than the line", file(ARM_ID, {arm0800, ":0800000011223344AA", end}),
         "line 6: byte count 08"},
        {"missing end record", file(ARM_ID, {arm0800, data}), "no end record"},
        {"joint section cut short", "VTR-JOINT\nx\ny\nz\n" + file(ARM_ID, {arm0800, data}),
         "FIRMVTR-900_0412: no end record"},
        {"conflicting overlap", file(ARM_ID, {arm0800, data, hexRecord(0x00, 0x0003, {0x99}), end}),
         "line 7: the byte at address 0x08000003 differs from the one on line 6"},
        {"unknown record type", file(ARM_ID, {arm0800, hexRecord(0x07, 0, {}), data, end}),
         "line 6: unknown record type 07"},
        {"ARM data before any extended address", file(ARM_ID, {data, arm0800, end}),
         "line 5: address 0x00000000 is outside the controller's memory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimUnit& u = unit();
        const QString f = writeFile("damaged.hex", c.content);

        EXPECT_EQ(run({"--port", "sim:arm", "--file", f, "--lang", "en"}), ExitUsage);

        const QStringList err = errLines();
        ASSERT_EQ(err.size(), 2) << errText.toStdString();
        EXPECT_EQ(err[0], "File error");
        EXPECT_TRUE(err[1].startsWith("damaged.hex")) << err[1].toStdString();
        EXPECT_TRUE(err[1].contains(c.reason)) << err[1].toStdString();
        EXPECT_FALSE(outText.contains("Updating Firmware ...")) << outText.toStdString();
        EXPECT_EQ(hostBytes(u), statusBytes);
        EXPECT_FALSE(u.software().records().programmingMode);
    }
}
