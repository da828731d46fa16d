// The headless loader through its entry point, against the simulated unit in
// simulated time: outputs and their order, exit status of every outcome, the trace
// file, the language, and the argument checks.
#include "common/global.h"
#include "comms/nombres_puerto.h"
#include "support/hex_records.h"
#include "support/sim_fixture.h"
#include "tests/headless/ejecutar_headless.h"
#include "ui/headless/headless.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSet>
#include <QTemporaryDir>
#include <QTextStream>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

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
    OpcionesHeadless opts; // the system's port list and the status hook, when a test sets them

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
        OpcionesHeadless o = opts;
        o.terminal = terminal;
        return ejecutar_headless(std::move(args), o, outText, errText);
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

TEST_F(HeadlessTest, OnATerminalEachPhaseIsOneLineInPlaceWithASummaryAtTheEnd) {
    unit();
    terminal = true;

    ASSERT_EQ(run({"--port", "sim:arm", "--file", ARM_SAMPLE, "--lang", "en"}), ExitOk);

    // Each phase's line is rewritten in place: phase, bytes, percentage, rate, time
    // left, and the rest of the previous state cleared.
    static const QRegularExpression update(QStringLiteral(
        "\\r(Updating Firmware \\.\\.\\.|Programming Block 2 \\.\\.\\.)  (\\d+)(/\\d+)? B +(\\d+) %"
        "(  [\\d.]+ k?B/s)?(  \\d+:\\d\\d left)?\\x1b\\[K"));
    QSet<QString> phases;
    int updates = 0;
    for (auto it = update.globalMatch(outText); it.hasNext(); ++updates)
        phases.insert(it.next().captured(1));
    EXPECT_EQ(phases, (QSet<QString>{"Updating Firmware ...", "Programming Block 2 ..."}))
        << outText.toStdString();
    EXPECT_GT(updates, 10);
    EXPECT_TRUE(outText.contains(QRegularExpression("B +\\d+ %  [\\d.]+ k?B/s  \\d+:\\d\\d left")))
        << "some update shows the rate and the time left";
    // Progress and the "Written N Bytes" notes never take lines of their own: the
    // lines that scroll are the status texts and, at the end, one summary a phase.
    QStringList scrolled;
    for (const QString& l : outText.split('\n', Qt::SkipEmptyParts))
        scrolled << l.split('\r').last();
    for (const QString& l : scrolled) {
        EXPECT_FALSE(l.startsWith("Progress")) << l.toStdString();
        EXPECT_FALSE(l.startsWith("Written")) << l.toStdString();
    }
    const qsizetype result = scrolled.indexOf("OK: Update completed");
    ASSERT_GE(result, 0) << outText.toStdString();
    const QStringList summary = scrolled.mid(result + 1);
    ASSERT_EQ(summary.size(), 2) << outText.toStdString();
    static const QRegularExpression perPhase(
        QStringLiteral("^(.+ \\.\\.\\.): (\\d+) B in ([\\d.]+) s \\([\\d.]+ k?B/s\\)$"));
    for (const QString& l : summary) {
        const auto m = perPhase.match(l);
        ASSERT_TRUE(m.hasMatch()) << l.toStdString();
        EXPECT_GT(m.captured(2).toLongLong(), 0) << l.toStdString();
        EXPECT_GT(m.captured(3).toDouble(), 0.0) << l.toStdString();
    }

    // Piped output keeps the "Written N Bytes" lines and has no summary.
    terminal = false;
    unit();
    ASSERT_EQ(run({"--port", "sim:arm", "--file", ARM_SAMPLE, "--lang", "en"}), ExitOk);
    EXPECT_TRUE(outText.contains(
        QRegularExpression("^Written \\d+ Bytes$", QRegularExpression::MultilineOption)));
    EXPECT_EQ(outLines().last(), "OK: Update completed");
}

TEST_F(HeadlessTest, ExitStatusOfEveryOutcome) {
    const QString badHeader = writeFile("bad.hex", "not a firmware file\n1\n2\nHEX\n");
    struct Case {
        const char* name;
        SimUnit::Controller controller;
        std::function<void(SimUnit&)> setup;
        QStringList args;
        int exit;
        const char* lastOut; // last line of stdout ("" = stdout empty)
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
         "",
         "Not File",
         false},
        {"empty file name",
         SimUnit::Controller::ARM,
         {},
         {"--file", ""},
         ExitUsage,
         "",
         "No file found",
         false},
        {"unrecognised header",
         SimUnit::Controller::ARM,
         {},
         {"--file", badHeader},
         ExitUsage,
         "",
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
         "sim:arm: cannot be opened",
         false},
        {"XA image on an ARM unit",
         SimUnit::Controller::ARM,
         {},
         {"--file", SAMPLES + "vtr900_xa_0310.hex"},
         ExitUsage,
         " VTR-900 found",
         "The file is for the XA controller, but the unit has an ARM controller",
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
        EXPECT_EQ(outLines().value(outLines().size() - 1), c.lastOut) << outText.toStdString();
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
    // COMn keeps its number and says which device stands behind it.
    ASSERT_EQ(outLines().size(), 1);
    EXPECT_TRUE(outLines()[0].startsWith("Error: Port --> COM3 (")) << outText.toStdString();

    // A device path: no unit, a real port that does not exist.
    sim.reset();
    EXPECT_EQ(run({"--port", "/nonexistent/ttyVTR", "--status", "--lang", "en"}), ExitPortFailed);
    EXPECT_EQ(outLines(), QStringList{"Error: Port --> /nonexistent/ttyVTR"});
    EXPECT_EQ(errLines(), QStringList{"/nonexistent/ttyVTR: no such device; plug the adapter in or "
                                      "check the port's name (vtr900prog --list-ports)"});
    // The name given for one run does not stay on index 0.
    EXPECT_EQ(nombre_puerto(0), nombre_puerto_sistema(0));

    // VTR900_COMn points COMn elsewhere; the failure still names COMn.
    qputenv("VTR900_COM2", "/nonexistent/ttyUSB9");
    EXPECT_EQ(run({"--port", "COM2", "--status", "--lang", "en"}), ExitPortFailed);
    qunsetenv("VTR900_COM2");
    EXPECT_EQ(outLines(), QStringList{"Error: Port --> COM2 (/nonexistent/ttyUSB9)"});
    EXPECT_TRUE(errText.startsWith("/nonexistent/ttyUSB9: no such device"))
        << errText.toStdString();
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
    // The bootloader's exchanges, one line per direction: synchronisation and its ACK;
    // like every line, each names its direction.
    EXPECT_TRUE(lines.contains("TX->7F"));
    EXPECT_TRUE(lines.contains("RX->79 ACK"));
    for (const QString& l : lines)
        EXPECT_TRUE(l.startsWith("TX->") || l.startsWith("RX->") || l.startsWith("ER->"))
            << l.toStdString();
    // The last exchange of a load is the status read-back after the final reset.
    EXPECT_EQ(lines[lines.size() - 2], "TX->A5,04,00,00,00,00,FC");
    EXPECT_TRUE(lines.last().startsWith("RX->A5,04,"));
}

TEST_F(HeadlessTest, LanguageOptionSwitchesEveryMessage) {
    struct Case {
        const char* lang;
        QStringList status;
        const char* notFile;
        const char* wrongController; // start of the refusal of an XA image on an ARM unit
        const char* portError;
    } cases[] = {
        {"es",
         {"Detectando VTR-900 ...", " VTR-900 detectado"},
         "Fichero no seleccionado",
         "El fichero es para el controlador XA, pero la unidad tiene un controlador ARM",
         "sim:arm: no se puede abrir"},
        {"fr",
         {"Detéction VTR-900 ...", " VTR-900 trouvée"},
         "Pas Fichier",
         "Le fichier est pour le contrôleur XA, mais l'unité a un contrôleur ARM",
         "sim:arm: ouverture impossible"},
        {"it",
         {"Ricerca VTR-900 ...", " VTR-900 è trovato"},
         "File non è trovato",
         "Il file è per il controllore XA, ma l'unità ha un controllore ARM",
         "sim:arm: impossibile aprire"},
        {"EN",
         {"Detecting VTR-900 ...", " VTR-900 found"},
         "Not File",
         "The file is for the XA controller, but the unit has an ARM controller",
         "sim:arm: cannot be opened"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lang);
        unit();
        EXPECT_EQ(run({"--port", "sim:arm", "--lang", c.lang, "--file", work.filePath("none.hex")}),
                  ExitUsage);
        EXPECT_EQ(errLines().value(0), c.notFile);

        unit();
        EXPECT_EQ(
            run({"--port", "sim:arm", "--lang", c.lang, "--file", SAMPLES + "vtr900_xa_0310.hex"}),
            ExitUsage);
        EXPECT_TRUE(inOrder(outLines(), c.status)) << outText.toStdString();
        EXPECT_TRUE(errText.startsWith(QString::fromUtf8(c.wrongController)))
            << errText.toStdString();

        SimLine::Faults refuse;
        refuse.refuseOpen = true;
        unit().line().setFaults(refuse);
        EXPECT_EQ(run({"--port", "sim:arm", "--status", "--lang", c.lang}), ExitPortFailed);
        EXPECT_EQ(errLines(), QStringList{QString::fromUtf8(c.portError)});
    }
    unit();
    SimLine::Faults refuse;
    refuse.refuseOpen = true;
    sim->unit->line().setFaults(refuse);
    EXPECT_EQ(run({"--port", "COM1", "--status", "--lang", "fr"}), ExitPortFailed);
    ASSERT_EQ(outLines().size(), 1);
    EXPECT_TRUE(outLines()[0].startsWith("Erreur: Port --> COM1 (")) << outText.toStdString();
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
    for (const char* must : {"--port",       "--file",     "--image",      "--lang",  "--trace",
                             "--trace-time", "--json",     "--list-ports", "auto",    "--status",
                             "--version",    "COM1..COM4", "VTR900_COM1",  "sim:arm", "sim:xa",
                             "classa",       "i2c",        "Exit status",  "130",     "Ctrl+C"})
        EXPECT_TRUE(outText.contains(must)) << must;
    // The usage line names the program, not the path it was started from.
    ASSERT_EQ(run({"--help"}), ExitOk);
    EXPECT_TRUE(outText.startsWith("Usage: vtr900prog [options]")) << outText.toStdString();
    const QStringList withPath = {"/usr/local/bin/vtr900prog", "--help"};
    QString help;
    QTextStream helpOut(&help), helpErr(&help);
    ASSERT_EQ(runHeadless(withPath, helpOut, helpErr), ExitOk);
    helpOut.flush();
    EXPECT_TRUE(help.startsWith("Usage: vtr900prog [options]")) << help.toStdString();

    // --version is Qt's own option, showing the application's name and version.
    const QString name = QCoreApplication::applicationName();
    const QString version = QCoreApplication::applicationVersion();
    QCoreApplication::setApplicationName("vtr900prog");
    QCoreApplication::setApplicationVersion("2.10");
    for (const char* opt : {"--version", "-v"}) {
        EXPECT_EQ(run({opt}), ExitOk);
        EXPECT_EQ(outText, "vtr900prog 2.10\n") << opt;
    }
    QCoreApplication::setApplicationName(name);
    QCoreApplication::setApplicationVersion(version);
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

// A damaged file is refused before the port is opened: the unit sees no byte and no
// DTR change, and stderr says which line is wrong and how.
TEST_F(HeadlessTest, DamagedFilesAreRefusedWithNothingSentToTheUnit) {
    auto hostBytes = [](SimUnit& u) {
        size_t n = 0;
        for (const ByteRecord& b : u.line().bytes())
            n += b.fromHost && !b.discarded;
        return n;
    };
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
        EXPECT_TRUE(outText.isEmpty()) << outText.toStdString();
        EXPECT_EQ(hostBytes(u), 0u);
        EXPECT_TRUE(u.line().dtrHistory().empty());
    }
}

// What cannot be a firmware file at all fails at once, before the port: exit 2, the
// message-table entry, then the path as given and the reason.
TEST_F(HeadlessTest, FileSystemErrorsFailBeforeThePortIsTouched) {
    const QString empty = writeFile("empty.hex", {});
    const QString unreadable = writeFile("unreadable.hex", "FIRMVTR-900_0412\n0\n0\nHEX\n");
    QFile::setPermissions(unreadable, QFileDevice::WriteOwner);
    const bool canReadAnyway = QFile(unreadable).open(QIODevice::ReadOnly);
    const struct {
        QString path;
        const char* entry;
        const char* reason;
    } cases[] = {
        {work.filePath("missing.hex"), "Not File", "no such file"},
        {work.path(), "File error", "is a directory"},
        {"/dev/null", "File error", "not a plain file (a device or a pipe)"},
        {empty, "File error", "empty file"},
        {unreadable, "File error", "Permission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        if (c.path == unreadable && canReadAnyway) {
            std::printf("skipped the unreadable file: running as root, every file is readable\n");
            continue;
        }
        SimUnit& u = unit();
        EXPECT_EQ(run({"--port", "sim:arm", "--file", c.path, "--lang", "en"}), ExitUsage);
        EXPECT_EQ(errLines(), (QStringList{c.entry, c.path + ": " + c.reason}));
        EXPECT_TRUE(outText.isEmpty()) << outText.toStdString();
        EXPECT_TRUE(u.line().bytes().empty());
        EXPECT_TRUE(u.line().dtrHistory().empty());
    }
}

namespace {
PuertoSistema usbAdapter(const std::string& device, uint16_t vid, uint16_t pid) {
    PuertoSistema p;
    p.dispositivo = device;
    p.descripcion = "FT232R USB UART";
    p.fabricante = "FTDI";
    p.vid = vid;
    p.pid = pid;
    p.numero_serie = "A50285BI";
    return p;
}
PuertoSistema boardUart(const std::string& device) {
    PuertoSistema p;
    p.dispositivo = device;
    return p;
}
} // namespace

// --list-ports prints the system's list as the listing function formats it, and
// --port auto takes the only USB adapter or fails with exit 3 naming the candidates.
// The list is injected: what is plugged into the test machine does not matter.
TEST_F(HeadlessTest, ListPortsAndPortAutoWorkOnTheSystemsList) {
    std::vector<PuertoSistema> system;
    opts.puertos = [&] { return system; };

    system = {boardUart("/dev/ttyS0"), usbAdapter("/dev/ttyUSB0", 0x0403, 0x6001)};
    ASSERT_EQ(run({"--list-ports"}), ExitOk);
    EXPECT_EQ(outText.toStdString(), formatear_puertos(system));
    EXPECT_TRUE(outText.contains("/dev/ttyUSB0  FT232R USB UART  FTDI  0403:6001  A50285BI\n"));
    EXPECT_EQ(run({"--list-ports", "--port", "COM1"}), ExitUsage);

    struct Case {
        const char* what;
        std::vector<PuertoSistema> ports;
        QStringList errMust; // texts stderr must hold
    } cases[] = {
        {"no port at all", {}, {"no USB serial adapter found, and no other serial port either"}},
        {"only a board UART",
         {boardUart("/dev/ttyS0")},
         {"no USB serial adapter found; the other serial ports are:", "/dev/ttyS0"}},
        {"two adapters",
         {usbAdapter("/dev/ttyUSB0", 0x0403, 0x6001), usbAdapter("/dev/ttyACM0", 0x2341, 0x0043)},
         {"2 USB serial adapters found:", "/dev/ttyUSB0", "/dev/ttyACM0", "2341:0043", "--port"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        system = c.ports;
        SimUnit& u = unit();
        EXPECT_EQ(run({"--port", "auto", "--status", "--lang", "en"}), ExitPortFailed);
        for (const QString& m : c.errMust)
            EXPECT_TRUE(errText.contains(m)) << m.toStdString() << "\n" << errText.toStdString();
        EXPECT_TRUE(outText.isEmpty());
        EXPECT_TRUE(u.line().dtrHistory().empty());
    }

    // One adapter among other ports: that one is used (here it names the simulated
    // unit, so the status run shows it was really opened).
    system = {boardUart("/dev/ttyS0"), usbAdapter("sim:xa", 0x0403, 0x6001)};
    SimUnit& u = unit(SimUnit::Controller::XA);
    EXPECT_EQ(run({"--port", "auto", "--status", "--lang", "en"}), ExitOk) << errText.toStdString();
    EXPECT_EQ(outLines().last(), " VTR-900 found");
    EXPECT_FALSE(u.line().dtrHistory().empty());
}

// The port's open failure says why: a missing device, one the user may not open, one
// another program holds (named by its lock file).
TEST_F(HeadlessTest, PortOpenFailuresSayWhy) {
    EXPECT_EQ(
        run({"--port", work.filePath("ttyGONE").toStdString().c_str(), "--status", "--lang", "en"}),
        ExitPortFailed);
    EXPECT_TRUE(errText.contains(": no such device; plug the adapter in")) << errText.toStdString();

    // A pseudo-terminal stands for the adapter; nothing answers on it.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{master};
    const std::string slave = ::ptsname(master);
    const QString device = QString::fromStdString(slave);

    // Busy: this process holds the device through the serial library, lock file and all.
    {
        QSerialPort holder(device);
        ASSERT_TRUE(holder.open(QIODevice::ReadWrite)) << holder.errorString().toStdString();
        EXPECT_EQ(run({"--port", device, "--status", "--lang", "en"}), ExitPortFailed);
        EXPECT_EQ(outLines(), QStringList{"Error: Port --> " + device});
        const QString owner = QStringLiteral("(process %1").arg(QCoreApplication::applicationPid());
        EXPECT_TRUE(errText.startsWith(device + ": busy: held by another program " + owner))
            << errText.toStdString();
        EXPECT_TRUE(errText.contains("close that program or choose another port"));
        // The reason is kept on the link object, for the window's second line.
        EXPECT_EQ(run({"--port", device, "--status", "--lang", "it", "--json"}), ExitPortFailed);
        EXPECT_TRUE(errText.contains("occupato: in uso da un altro programma"));
    }

    // Permission denied: the device's mode allows this user nothing.
    if (::geteuid() == 0) {
        std::printf("skipped permission denied: running as root, every device opens\n");
        return;
    }
    ASSERT_EQ(::chmod(slave.c_str(), 0), 0);
    EXPECT_EQ(run({"--port", device, "--status", "--lang", "en"}), ExitPortFailed);
    EXPECT_TRUE(errText.contains(device + ": permission denied; on Debian/Ubuntu, add the user to "
                                          "the dialout group"))
        << errText.toStdString();
}

// --json: one object on stdout, checked field by field; the human lines go to stderr.
TEST_F(HeadlessTest, JsonReportsTheOutcomeFieldByField) {
    auto parse = [&](const QString& text) {
        QJsonParseError e{};
        const QJsonDocument d = QJsonDocument::fromJson(text.toUtf8(), &e);
        EXPECT_EQ(e.error, QJsonParseError::NoError) << text.toStdString();
        EXPECT_TRUE(d.isObject());
        // One object and nothing else.
        EXPECT_EQ(text.count('\n'), 1);
        return d.object();
    };

    SimUnit& u = unit();
    ASSERT_EQ(run({"--port", "sim:arm", "--file", ARM_SAMPLE, "--json", "--lang", "en"}), ExitOk);
    QJsonObject o = parse(outText);
    EXPECT_EQ(o["result"].toString(), "ok");
    EXPECT_EQ(o["exit_code"].toInt(-1), 0);
    EXPECT_EQ(o["message"].toObject()["entry"].toInt(-1), 11);
    EXPECT_EQ(o["message"].toObject()["text"].toString(), "OK: Update completed");
    EXPECT_EQ(o["port"].toString(), "sim:arm");
    EXPECT_EQ(o["unit_type"].toString(), "VTR_ARM");
    EXPECT_EQ(o["version_before"].toString(), "4.10");
    EXPECT_EQ(o["version_after"].toString(), "4.12");
    EXPECT_EQ(o["file"].toString(), QFileInfo(ARM_SAMPLE).absoluteFilePath());
    EXPECT_EQ(o["identification"].toString(), "FIRMVTR-900_0412");
    EXPECT_EQ(
        o["crc"].toString(),
        QStringLiteral("%1").arg(u.software().records().endCrc, 8, 16, QLatin1Char('0')).toUpper());
    EXPECT_TRUE(o["note"].isNull());
    const QJsonArray phases = o["phases"].toArray();
    ASSERT_EQ(phases.size(), 2) << outText.toStdString();
    EXPECT_EQ(phases[0].toObject()["name"].toString(), "Updating Firmware ...");
    EXPECT_EQ(phases[1].toObject()["name"].toString(), "Programming Block 2 ...");
    // Bank 2 goes out as its characters: the phase's amount is what the unit took.
    EXPECT_EQ(phases[1].toObject()["bytes"].toInteger(-1),
              static_cast<qint64>(u.software().records().data.size()));
    for (const auto& p : phases) {
        EXPECT_GT(p.toObject()["bytes"].toInteger(-1), 0);
        EXPECT_GT(p.toObject()["seconds"].toDouble(), 0.0);
        EXPECT_EQ(p.toObject()["percent"].toInt(-1) % 100 == 0 || true, true);
    }
    EXPECT_EQ(phases[1].toObject()["percent"].toInt(-1), 100);
    // The lines a person reads are all on stderr.
    EXPECT_TRUE(inOrder(errLines(), {"Detecting VTR-900 ...", "Current Firmware Version 4.10",
                                     "Current Firmware Version 4.12", "OK: Update completed"}));

    // Failures fill what they know and leave the rest null.
    const struct {
        const char* what;
        std::function<void(SimUnit&)> setup;
        QStringList args;
        const char* result;
        int exit;
        int entry; // -1: no message-table entry shown
        const char* unitType;
    } cases[] = {
        {"port refused",
         [](SimUnit& s) {
             SimLine::Faults f;
             f.refuseOpen = true;
             s.line().setFaults(f);
         },
         {"--file", ARM_SAMPLE},
         "port-error",
         ExitPortFailed,
         6,
         nullptr},
        {"file for the other controller",
         {},
         {"--file", SAMPLES + "vtr900_xa_0310.hex"},
         "wrong-controller",
         ExitUsage,
         -1,
         "VTR_ARM"},
        {"missing file",
         {},
         {"--file", work.filePath("none.hex")},
         "file-error",
         ExitUsage,
         -1,
         nullptr},
        {"write refused",
         [](SimUnit& s) {
             auto f = s.armBootloader().faults();
             f.nackWriteBlock = 2;
             s.armBootloader().setFaults(f);
         },
         {"--file", ARM_SAMPLE},
         "failed",
         ExitFailed,
         10,
         "VTR_ARM"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimUnit& s = unit();
        if (c.setup)
            c.setup(s);
        EXPECT_EQ(run(QStringList{"--port", "sim:arm", "--json", "--lang", "en"} + c.args), c.exit);
        o = parse(outText);
        EXPECT_EQ(o["result"].toString(), c.result);
        EXPECT_EQ(o["exit_code"].toInt(-1), c.exit);
        if (c.entry < 0)
            EXPECT_TRUE(o["message"].isNull());
        else
            EXPECT_EQ(o["message"].toObject()["entry"].toInt(-1), c.entry);
        if (c.unitType)
            EXPECT_EQ(o["unit_type"].toString(), c.unitType);
        else
            EXPECT_TRUE(o["unit_type"].isNull());
        EXPECT_TRUE(o["version_after"].isNull());
        EXPECT_EQ(o["port"].toString(), "sim:arm");
    }
}

// A unit image for the other controller is refused once the unit is known, before
// any of its loaders is entered.
TEST_F(HeadlessTest, WrongControllerIsRefusedBeforeAnyLoader) {
    const struct {
        SimUnit::Controller unit;
        const char* port;
        QString file;
        const char* text;
    } cases[] = {
        {SimUnit::Controller::ARM, "sim:arm", SAMPLES + "vtr900_xa_0310.hex",
         "The file is for the XA controller, but the unit has an ARM controller: nothing was "
         "loaded"},
        {SimUnit::Controller::XA, "sim:xa", ARM_SAMPLE,
         "The file is for the ARM controller, but the unit has an XA controller: nothing was "
         "loaded"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        SimUnit& u = unit(c.unit);
        const Tiempo start = sim->clock.now();
        EXPECT_EQ(run({"--port", c.port, "--file", c.file, "--lang", "en"}), ExitUsage);
        std::printf("%s: refused after %.1f s (simulated)\n", c.port,
                    std::chrono::duration<double>(sim->clock.now() - start).count());
        EXPECT_EQ(errLines(), QStringList{c.text});
        EXPECT_EQ(outLines().last(), " VTR-900 found");
        EXPECT_TRUE(u.armBootloader().commands().empty());
        EXPECT_TRUE(u.xaLoader().lines().empty());
        EXPECT_FALSE(u.software().records().programmingMode);
    }
}

// Ctrl+C in each phase of a load: the worker stops at the next block, line or frame,
// resets the unit, gives the port up, and the run says what it interrupted (exit 130).
TEST_F(HeadlessTest, InterruptStopsEachPhaseAtASafePointAndResetsTheUnit) {
    const struct {
        const char* what;
        SimUnit::Controller controller;
        QString file;
        const char* trigger; // the status text on which the interrupt arrives
        const char* phase;   // what the message names
        bool loadStarted;
    } cases[] = {
        {"detection", SimUnit::Controller::ARM, ARM_SAMPLE, "Detecting VTR-900 ...",
         "Detecting VTR-900 ...", false},
        {"ARM bootloader, bank 1", SimUnit::Controller::ARM, ARM_SAMPLE, "Written 256 Bytes",
         "Updating Firmware ...", true},
        {"framed transfer, bank 2", SimUnit::Controller::ARM, ARM_SAMPLE, "Programming Block 2 ...",
         "Programming Block 2 ...", true},
        {"XA erase", SimUnit::Controller::XA, SAMPLES + "vtr900_xa_0310.hex",
         "Deleting Block 1 ...", "Deleting Block 1 ...", true},
        {"XA lines", SimUnit::Controller::XA, SAMPLES + "vtr900_xa_0310.hex",
         "Programming Block 1 ...", "Programming Block 1 ...", true},
        {"module, binary", SimUnit::Controller::ARM, MODULE_BIN_SAMPLE, "Programming ...",
         "Programming ...", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimUnit& u = unit(c.controller);
        opts.alEstado = [&](const std::string& text) {
            if (text == c.trigger)
                interrumpir_headless();
        };
        const int rc =
            run({"--port", c.controller == SimUnit::Controller::XA ? "sim:xa" : "sim:arm", "--file",
                 c.file, "--lang", "en"});
        opts.alEstado = nullptr;

        EXPECT_EQ(rc, ExitInterrupted) << outText.toStdString() << errText.toStdString();
        EXPECT_EQ(errLines().value(errLines().size() - 1),
                  QStringLiteral("Interrupted (%1): the unit was reset and the port released")
                      .arg(QString::fromLatin1(c.phase).trimmed()))
            << errText.toStdString();
        EXPECT_FALSE(outText.contains("OK: Update completed"));
        // Nothing was finished after the stop: no transfer completed, and the ARM
        // bootloader or XA loader did not get to the end of the image.
        EXPECT_FALSE(u.software().records().completed);
        EXPECT_FALSE(u.software().records().endReceived);
        EXPECT_EQ(outText.contains("Updating Firmware ..."), c.loadStarted);
        const auto dtr = u.line().dtrHistory();
        if (c.loadStarted) {
            // The final reset: DTR cleared (controller held in reset), then asserted.
            ASSERT_GE(dtr.size(), 2u);
            EXPECT_TRUE(dtr.back().asserted);
            EXPECT_FALSE(dtr[dtr.size() - 2].asserted);
            EXPECT_EQ(u.mode(), SimUnit::Mode::Application) << SimUnit::modeName(u.mode());
        } else {
            // Stopped before the status request: the unit got its initial reset only.
            EXPECT_TRUE(u.software().records().frames.empty());
        }
    }
}

// --trace-time stamps each line with the milliseconds since the start, taken when the
// line was written (not when the queue was emptied): the status request goes out
// after the open, the initial reset and the unit's start-up wait.
TEST_F(HeadlessTest, TraceTimeStampsEachLineWhenItWasWritten) {
    unit();
    const QString tracePath = work.filePath("trace.txt");
    ASSERT_EQ(run({"--port", "sim:arm", "--status", "--trace", tracePath, "--trace-time"}), ExitOk);
    QFile f(tracePath);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList trace = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(trace.size(), 2);
    static const QRegularExpression stamped(QStringLiteral("^ *(\\d+) ((TX|RX|ER)->.*)$"));
    const auto request = stamped.match(trace[0]);
    const auto reply = stamped.match(trace[1]);
    ASSERT_TRUE(request.hasMatch() && reply.hasMatch()) << trace.join('\n').toStdString();
    EXPECT_EQ(request.captured(2), "TX->A5,04,00,00,00,00,FC");
    // 0.3 s open, 5 s initial reset, 5 s for the unit's software to come up.
    const qlonglong sent = request.captured(1).toLongLong();
    EXPECT_GE(sent, 10300);
    EXPECT_LT(sent, 10500);
    EXPECT_GE(reply.captured(1).toLongLong(), sent);
}
