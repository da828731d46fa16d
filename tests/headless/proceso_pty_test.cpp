// The built programs end to end: vtr900sim serves the simulated ARM unit on a
// pseudo-terminal, and vtr900prog loads the bundled sample over it as over any
// serial device, on the real clock (about half a minute of prescribed waits).
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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
    QTemporaryDir images;
    QTemporaryDir cwd;
    ASSERT_TRUE(images.isValid() && cwd.isValid());

    QProcess sim;
    sim.start(companion, {"arm"});
    ASSERT_TRUE(sim.waitForStarted(10000));
    while (!sim.canReadLine() && sim.waitForReadyRead(10000)) {
    }
    const QString pty = QString::fromUtf8(sim.readLine()).trimmed();
    ASSERT_TRUE(pty.startsWith("/dev/")) << pty.toStdString();

    QProcess prog;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VTR900_IMAGE_DIR", images.path());
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
    // The images went to their own folder, not to the working directory.
    EXPECT_TRUE(QDir(cwd.path()).isEmpty());
}

#endif
