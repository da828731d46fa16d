// The built programs end to end: vtr900sim serves the simulated ARM unit on a
// pseudo-terminal, and vtr900prog loads the bundled sample over it as over any
// serial device, on the real clock (about half a minute of prescribed waits).
#include "common/intel_hex.h"
#include "comms/motivo_apertura.h"
#include "sim/pty_bridge.h"
#include "sim/unidad_simulada.h"
#include "support/hex_records.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <thread>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef _WIN32

namespace {
const QString BIN = QStringLiteral(VTR_BINARY_DIR);
const QString SAMPLE = QStringLiteral(VTR_SOURCE_DIR "/samples/vtr900_arm_0412.hex");
} // namespace

TEST(HeadlessProcess, RealProgramLoadsTheSampleOverAPseudoTerminal) {
    const QString loader = BIN + "/vtr900prog";
    const QString companion = BIN + "/vtr900sim";
    ASSERT_TRUE(QFileInfo(loader).isExecutable() && QFileInfo(companion).isExecutable())
        << "build the vtr900prog and vtr900sim targets first";
    QTemporaryDir cwd;
    ASSERT_TRUE(cwd.isValid());

    QProcess sim;
    sim.start(companion, {"arm"});
    ASSERT_TRUE(sim.waitForStarted(10000));
    while (!sim.canReadLine() && sim.waitForReadyRead(10000)) {
    }
    const QString pty = QString::fromUtf8(sim.readLine()).trimmed();
    ASSERT_TRUE(pty.startsWith("/dev/")) << pty.toStdString();

    QProcess prog;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    prog.setProcessEnvironment(env);
    prog.setWorkingDirectory(cwd.path());
    prog.start(loader, {"--port", pty, "--file", SAMPLE, "--lang", "en"});
    ASSERT_TRUE(prog.waitForStarted(10000));
    const bool finished = prog.waitForFinished(240000);
    if (!finished)
        prog.kill();
    const QString out = QString::fromUtf8(prog.readAllStandardOutput());
    const QString err = QString::fromUtf8(prog.readAllStandardError());

    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(10000));
    EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.exitCode(), 0) << sim.readAllStandardError().toStdString();

    ASSERT_TRUE(finished) << out.toStdString();
    EXPECT_EQ(prog.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(prog.exitCode(), 0) << out.toStdString() << err.toStdString();
    const QStringList lines = out.split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first(), "Detecting VTR-900 ...");
    EXPECT_TRUE(lines.contains("Current Firmware Version 4.10")) << out.toStdString();
    EXPECT_TRUE(lines.contains("Current Firmware Version 4.12")) << out.toStdString();
    EXPECT_EQ(lines.last(), "OK: Update completed");
    // Nothing was written to the working directory.
    EXPECT_TRUE(QDir(cwd.path()).isEmpty());
}

namespace {

// The sample with every data byte inverted and its own version: another image of the
// same shape.
QByteArray invertedSample() {
    QFile f(SAMPLE);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArray out;
    int n = 0;
    for (QByteArray line : f.readAll().split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        ++n;
        const auto r = intel_hex::leer_registro(line.toStdString());
        if (n == 1)
            line = "FIRMVTR-900_0413";
        else if (r && r->tipo == intel_hex::DATOS) {
            std::vector<uint8_t> d = r->datos;
            for (uint8_t& b : d)
                b = static_cast<uint8_t>(~b);
            line = QByteArray::fromStdString(hexRecord(r->tipo, r->offset, d));
        }
        out += line + "\r\n";
    }
    return out;
}

// The ARM controller's flash contents an image asks for (data under upper address
// 0x0800), read here independently of the loader.
std::map<uint32_t, uint8_t> flashOf(const QByteArray& file) {
    std::map<uint32_t, uint8_t> m;
    uint32_t upper = 0;
    for (QByteArray line : file.split('\n')) {
        const auto r = intel_hex::leer_registro(line.trimmed().toStdString());
        if (!r)
            continue;
        if (r->tipo == intel_hex::LINEAL_EXTENDIDA)
            upper = static_cast<uint32_t>(r->datos[0] << 8 | r->datos[1]);
        if (r->tipo == intel_hex::DATOS && upper == 0x0800)
            for (size_t i = 0; i < r->datos.size(); ++i)
                m[upper << 16 | (r->offset + i)] = r->datos[i];
    }
    return m;
}

size_t bytesHeld(const std::map<uint32_t, uint8_t>& image, const std::map<uint32_t, uint8_t>& mem) {
    size_t same = 0;
    for (const auto& [a, v] : image) {
        const auto it = mem.find(a);
        same += it != mem.end() && it->second == v;
    }
    return same;
}

} // namespace

// Two loader processes at once, one per unit, with different images of the same
// kind: each unit ends with exactly its own image, whatever the other process does.
TEST(HeadlessProcess, TwoProgramsAtOnceEachLoadTheirOwnImage) {
    const QString loader = BIN + "/vtr900prog";
    ASSERT_TRUE(QFileInfo(loader).isExecutable()) << "build the vtr900prog target first";
    QTemporaryDir dir; // the operator's files, and the users' shared cache folder
    ASSERT_TRUE(dir.isValid());
    const QByteArray other = invertedSample();
    ASSERT_FALSE(other.isEmpty());
    const QString otherPath = dir.filePath("other.hex");
    {
        QFile f(otherPath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(other);
    }
    QFile s(SAMPLE);
    ASSERT_TRUE(s.open(QIODevice::ReadOnly));
    const std::map<uint32_t, uint8_t> images[2] = {flashOf(s.readAll()), flashOf(other)};
    ASSERT_FALSE(images[0].empty());
    ASSERT_EQ(images[0].size(), images[1].size());

    std::shared_ptr<SimUnit> units[2];
    std::unique_ptr<PtyBridge> bridges[2];
    std::thread serving[2];
    for (int i = 0; i < 2; ++i) {
        units[i] = crear_unidad_simulada("arm");
        bridges[i] = std::make_unique<PtyBridge>(*units[i]);
        std::string error;
        ASSERT_TRUE(bridges[i]->open(error)) << error;
        serving[i] = std::thread([b = bridges[i].get()] { b->run(); });
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CACHE_HOME", dir.path());
    QProcess progs[2];
    const QString files[2] = {SAMPLE, otherPath};
    for (int i = 0; i < 2; ++i) {
        progs[i].setProcessEnvironment(env);
        progs[i].setWorkingDirectory(dir.path());
        progs[i].start(loader, {"--port", QString::fromStdString(bridges[i]->slavePath()), "--file",
                                files[i], "--lang", "en"});
    }
    bool finished[2];
    for (int i = 0; i < 2; ++i) {
        finished[i] = progs[i].waitForFinished(300000);
        if (!finished[i])
            progs[i].kill();
    }
    for (int i = 0; i < 2; ++i) {
        bridges[i]->stop();
        serving[i].join();
    }
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const QString out = QString::fromUtf8(progs[i].readAllStandardOutput());
        ASSERT_TRUE(finished[i]) << out.toStdString();
        EXPECT_EQ(progs[i].exitCode(), 0)
            << out.toStdString() << progs[i].readAllStandardError().toStdString();
        EXPECT_EQ(units[i]->software().records().identification,
                  i == 0 ? "FIRMVTR-900_0412" : "FIRMVTR-900_0413");
        const auto& mem = units[i]->armBootloader().memory();
        EXPECT_EQ(bytesHeld(images[i], mem), images[i].size()) << "the unit holds its own image";
        EXPECT_EQ(bytesHeld(images[1 - i], mem), 0u) << "and nothing of the other";
    }
    // Nothing was left in the shared cache folder or next to the operator's files.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"other.hex"});
}

namespace {

struct Outcome {
    bool finished = false;
    int code = -1;
    QString out, err;
};

// Runs the built program with the given environment changes to its end.
Outcome runProgram(const QStringList& args, const std::map<QString, QString>& set = {},
                   const QStringList& unset = {}, const QString& program = BIN + "/vtr900prog",
                   QStringList prefix = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& [k, v] : set)
        env.insert(k, v);
    for (const QString& k : unset)
        env.remove(k);
    p.setProcessEnvironment(env);
    if (prefix.isEmpty()) {
        p.start(program, args);
    } else {
        const QString first = prefix.takeFirst();
        p.start(first, prefix + QStringList{program} + args);
    }
    Outcome o;
    o.finished = p.waitForStarted(10000) && p.waitForFinished(60000);
    if (!o.finished)
        p.kill();
    o.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    o.out = QString::fromUtf8(p.readAllStandardOutput());
    o.err = QString::fromUtf8(p.readAllStandardError());
    return o;
}

} // namespace

// Started without arguments where there is no display, the program says what to do
// instead of letting the toolkit abort.
TEST(HeadlessProcess, NoArgumentsAndNoDisplayExplainAndExitTwo) {
    const Outcome o =
        runProgram({}, {{"LC_ALL", "C"}}, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
    ASSERT_TRUE(o.finished);
    EXPECT_EQ(o.code, 2);
    EXPECT_TRUE(o.err.contains("the window needs a display")) << o.err.toStdString();
    EXPECT_TRUE(o.err.contains("vtr900prog --port PORT --file FILE")) << o.err.toStdString();
}

// Under the C/POSIX locale the messages are English; the usage line names the program
// however it was started.
TEST(HeadlessProcess, CLocaleSpeaksEnglishAndUsageNamesTheProgram) {
    for (const char* locale : {"C", "POSIX"}) {
        SCOPED_TRACE(locale);
        const Outcome o = runProgram({"--port", "/nonexistent/ttyVTR", "--status"},
                                     {{"LC_ALL", locale}, {"LANG", locale}});
        ASSERT_TRUE(o.finished);
        EXPECT_EQ(o.code, 3);
        EXPECT_EQ(o.out, "Error: Port --> /nonexistent/ttyVTR\n");
        EXPECT_TRUE(o.err.startsWith("/nonexistent/ttyVTR: no such device")) << o.err.toStdString();
    }
    const Outcome help = runProgram({"--help"});
    EXPECT_TRUE(help.out.startsWith("Usage: vtr900prog [options]")) << help.out.toStdString();
    const Outcome version = runProgram({"--version"});
    EXPECT_TRUE(version.out.startsWith("vtr900prog ")) << version.out.toStdString();
}

// Permission denied, arranged as an unprivileged user on a device only root may open.
TEST(HeadlessProcess, PermissionDeniedGivesTheDialoutHint) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    ASSERT_EQ(::chmod(slave.c_str(), 0600), 0);
    QStringList prefix;
    if (::geteuid() == 0) {
        if (!QFileInfo::exists("/usr/bin/setpriv")) {
            ::close(master);
            GTEST_SKIP() << "running as root without setpriv: no unprivileged user to try with";
        }
        prefix = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    }
    const Outcome o =
        runProgram({"--port", QString::fromStdString(slave), "--status", "--lang", "en"}, {}, {},
                   BIN + "/vtr900prog", prefix);
    ::close(master);
    ASSERT_TRUE(o.finished);
    EXPECT_EQ(o.code, 3) << o.err.toStdString();
    EXPECT_TRUE(
        o.err.startsWith(QString::fromStdString(slave) +
                         ": permission denied; on Debian/Ubuntu, add the user to the "
                         "dialout group (sudo usermod -aG dialout $USER), then log in again"))
        << o.err.toStdString();
}

// Ctrl+C over a real serial device: the first stops the load at a safe point, resets
// the unit and releases the port and its lock file (exit 130); a second ends at once,
// and no lock file is left behind either.
TEST(HeadlessProcess, CtrlCStopsTheLoadAndLeavesNoLockFile) {
    const QString loader = BIN + "/vtr900prog";
    ASSERT_TRUE(QFileInfo(loader).isExecutable()) << "build the vtr900prog target first";
    for (int ctrlC : {1, 2}) {
        SCOPED_TRACE(ctrlC);
        auto unit = crear_unidad_simulada("arm");
        PtyBridge bridge(*unit);
        std::string error;
        ASSERT_TRUE(bridge.open(error)) << error;
        std::thread serving([&] { bridge.run(); });
        const std::string lock = ruta_bloqueo_puerto(bridge.slavePath());

        QProcess prog;
        prog.start(loader, {"--port", QString::fromStdString(bridge.slavePath()), "--file", SAMPLE,
                            "--lang", "en"});
        ASSERT_TRUE(prog.waitForStarted(10000));
        // Wait for the ARM bootloader phase, then interrupt.
        QString out;
        while (!out.contains("Written") && prog.state() == QProcess::Running) {
            prog.waitForReadyRead(1000);
            out += QString::fromUtf8(prog.readAllStandardOutput());
        }
        ASSERT_TRUE(out.contains("Written")) << out.toStdString();
        EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(lock))) << lock;
        QString err;
        ::kill(static_cast<pid_t>(prog.processId()), SIGINT);
        if (ctrlC == 2) {
            // A second signal sent before the first was taken would merge with it:
            // it goes once the program has said it is stopping.
            while (!err.contains("stopping at the next safe point") &&
                   prog.state() == QProcess::Running) {
                prog.waitForReadyRead(1000);
                err += QString::fromUtf8(prog.readAllStandardError());
            }
            ::kill(static_cast<pid_t>(prog.processId()), SIGINT);
        }
        const bool finished = prog.waitForFinished(60000);
        if (!finished)
            prog.kill();
        err += QString::fromUtf8(prog.readAllStandardError());
        bridge.stop();
        serving.join();

        ASSERT_TRUE(finished);
        EXPECT_EQ(prog.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(prog.exitCode(), 130) << err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(lock))) << "stale lock " << lock;
        if (ctrlC == 1) {
            // Over a pseudo-terminal bank 1 goes fast: the stop may find its end.
            EXPECT_TRUE(
                err.contains(QRegularExpression("Interrupted \\((Updating Firmware|Programming of "
                                                "internal memory complete)[^)]*\\): "
                                                "the unit was reset and the port released")))
                << err.toStdString();
            EXPECT_FALSE(unit->software().records().completed);
        } else {
            EXPECT_TRUE(err.contains("vtr900prog: interrupted")) << err.toStdString();
        }
    }
}

#endif
