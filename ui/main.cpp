// The program's main block: the window without arguments, the headless loader with them.
#include "common/version_programa.h"
#include "sim/puerto_simulado.h"
#include "ui/headless/headless.h"
#include "ui/window/run_window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTextStream>

#ifdef _WIN32
#include <io.h>
#define VTR_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define VTR_ISATTY(f) isatty(fileno(f))
#endif

int main(int argc, char** argv) {
    // "sim:arm" and "sim:xa" name the built-in simulated unit, for demonstrations
    // and trials without a unit.
    registrar_puertos_simulados();
    QCoreApplication::setApplicationVersion(QString::fromLatin1(VERSION_PROGRAMA));
    if (argc <= 1) {
        QApplication app(argc, argv);
        QApplication::setApplicationName("VTR-900 Installer");
        return runWindow(app);
    }
    // No widgets and no display are needed without the window.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("vtr900prog");
    QTextStream out(stdout);
    QTextStream err(stderr);
    return runHeadless(QCoreApplication::arguments(), out, err, VTR_ISATTY(stdout) != 0);
}
