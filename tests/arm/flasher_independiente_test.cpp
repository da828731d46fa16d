// An independent client against the simulated bootloader: the distribution's
// general-purpose STM32 serial flasher writes, verifies and reads back a 64 KiB
// image through the model served on a pseudo-terminal, on the real clock. A model
// that only answers our own loader's habits fails here. Skipped (saying why) when
// the flasher is not installed.
#include "sim/pty_bridge.h"
#include "sim/unidad_simulada.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#ifndef _WIN32

namespace {

struct Ejecucion {
    bool terminado = false;
    int codigo = -1;
    std::string salida;
};

Ejecucion ejecutar(const QString& programa, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(programa, args);
    Ejecucion e;
    if (!p.waitForStarted(10000))
        return e;
    e.terminado = p.waitForFinished(120000);
    if (!e.terminado)
        p.kill();
    p.waitForFinished(5000);
    e.codigo = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    e.salida = p.readAll().toStdString();
    return e;
}

} // namespace

TEST(FlasherIndependiente, WritesVerifiesAndReadsBackThroughTheModel) {
    const QString flasher = QStandardPaths::findExecutable("stm32flash");
    if (flasher.isEmpty())
        GTEST_SKIP() << "stm32flash is not installed (scripts/install-deps.sh installs it): "
                        "the model is not checked by an independent client";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // 64 KiB that no block of which repeats another, with erased-looking runs
    // among them.
    QByteArray imagen(64 * 1024, '\0');
    uint32_t x = 0x12345678;
    for (int i = 0; i < imagen.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        imagen[i] = static_cast<char>((i / 4096) % 5 == 3 ? 0xFF : x >> 24);
    }
    const QString origen = dir.filePath("imagen.bin");
    const QString leido = dir.filePath("leido.bin");
    {
        QFile f(origen);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(imagen);
    }

    auto unidad = crear_unidad_simulada("arm");
    PtyBridge puente(*unidad);
    std::string error;
    ASSERT_TRUE(puente.open(error)) << error;
    const QString pty = QString::fromStdString(puente.slavePath());
    bool servido = false;
    std::thread hilo([&] { servido = puente.run(); });

    // Write and verify each block, then jump to the application; a second run
    // finds the unit there and enters the bootloader again to read the flash.
    // A pseudo-terminal keeps no parity setting (the flasher checks what it set),
    // and carries none: 8n1 here is the same traffic.
    const Ejecucion escritura = ejecutar(
        flasher, {"-b", "115200", "-m", "8n1", "-w", origen, "-v", "-g", "0x08000000", pty});
    const Ejecucion lectura = ejecutar(
        flasher, {"-b", "115200", "-m", "8n1", "-r", leido, "-S", "0x08000000:65536", pty});
    puente.stop();
    hilo.join();
    EXPECT_TRUE(servido);

    ASSERT_TRUE(escritura.terminado) << escritura.salida;
    EXPECT_EQ(escritura.codigo, 0) << escritura.salida;
    ASSERT_TRUE(lectura.terminado) << lectura.salida;
    EXPECT_EQ(lectura.codigo, 0) << lectura.salida;

    QFile f(leido);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll() == imagen) << "the flash read back differs from the image";

    const SimArmBootloader& bl = unidad->armBootloader();
    ASSERT_EQ(bl.memory().size(), static_cast<size_t>(imagen.size()));
    size_t distintos = 0;
    for (const auto& [a, v] : bl.memory())
        distintos += v != static_cast<uint8_t>(imagen[static_cast<int>(a - 0x08000000)]);
    EXPECT_EQ(distintos, 0u);
    // It erased by pages, exactly those the image covers, and ended with Go.
    std::vector<int> paginas(bl.erasedPages());
    std::sort(paginas.begin(), paginas.end());
    std::vector<int> esperadas(64);
    for (int i = 0; i < 64; ++i)
        esperadas[i] = i;
    EXPECT_EQ(paginas, esperadas);
    EXPECT_EQ(bl.eraseCount(), 0);
    bool go = false;
    for (const auto& c : bl.commands())
        go = go || (c.code == 0x21 && c.acked);
    EXPECT_TRUE(go);
}

#endif
