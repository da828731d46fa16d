// The program's main block: the window without arguments, the headless loader with them.
#include "common/global.h"
#include "common/idiomas.h"
#include "common/version_programa.h"
#include "sim/puerto_simulado.h"
#include "ui/headless/headless.h"
#include "ui/headless/textos_headless.h"
#include "ui/window/run_window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLocale>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <io.h>
#define VTR_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define VTR_ISATTY(f) isatty(fileno(f))
#endif

namespace {

// Where the window could not be shown: no X11 or Wayland display and no platform
// chosen by hand. Qt would abort there; the operator is told how to run headless.
bool sin_pantalla() {
#if defined(_WIN32) || defined(__APPLE__)
    return false;
#else
    auto vacia = [](const char* v) {
        const char* s = std::getenv(v);
        return !s || !*s;
    };
    return vacia("DISPLAY") && vacia("WAYLAND_DISPLAY") && vacia("QT_QPA_PLATFORM");
#endif
}

} // namespace

int main(int argc, char** argv) {
    // "sim:arm" and "sim:xa" name the built-in simulated unit, for demonstrations
    // and trials without a unit.
    registrar_puertos_simulados();
    QCoreApplication::setApplicationVersion(QString::fromLatin1(VERSION_PROGRAMA));
    if (argc <= 1) {
        if (sin_pantalla()) {
            const int idioma = idioma_para_locale(QLocale::system());
            std::fprintf(
                stderr, "%s\n",
                texto_sin_pantalla(idioma >= 0 ? idioma : idioma_para_codigo("en")).c_str());
            return ExitUsage;
        }
        QApplication app(argc, argv);
        QApplication::setApplicationName("VTR-900 Installer");
        return runWindow(app);
    }
    // No widgets and no display are needed without the window.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("vtr900prog");
    instalar_manejador_interrupcion();
    QTextStream out(stdout);
    QTextStream err(stderr);
    OpcionesHeadless opciones;
    opciones.terminal = VTR_ISATTY(stdout) != 0;
    return runHeadless(QCoreApplication::arguments(), out, err, opciones);
}
