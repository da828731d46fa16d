// The program's main block: the window without arguments, the headless loader with them.
#include <QApplication>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

#include "sim/puerto_simulado.h"

#ifdef VTR_HAVE_HEADLESS
#include "ui/headless/headless.h"
#endif
// The window lands in its own library; until its entry point exists the program
// is the headless loader alone.
#if defined(VTR_HAVE_WINDOW) && __has_include("ui/window/run_window.h")
#include "ui/window/run_window.h"
#define VTR_RUN_WINDOW 1
#endif

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
#ifdef VTR_RUN_WINDOW
    if (argc <= 1) {
        QApplication app(argc, argv);
        QApplication::setApplicationName("VTR-900 Installer");
        return runWindow(app);
    }
#endif
#ifdef VTR_HAVE_HEADLESS
    // No widgets and no display are needed without the window.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("vtr900prog");
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args = QCoreApplication::arguments();
    if (argc <= 1) {
        err << "vtr900prog: this build has no window; the headless loader follows.\n";
        err.flush();
        runHeadless(args << QStringLiteral("--help"), out, err, false);
        return ExitUsage;
    }
    return runHeadless(args, out, err, VTR_ISATTY(stdout) != 0);
#else
    std::fputs("vtr900prog: built without a front end\n", stderr);
    return 2;
#endif
}
