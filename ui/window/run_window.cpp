#include "ui/window/run_window.h"

#include "ui/window/fprincipal.h"

#include <QApplication>
#include <QIcon>

int runWindow(QApplication& app) {
    QApplication::setApplicationName(QStringLiteral("VTR-900 Installer"));
    // The same picture the desktop entry shows; the desktop file name lets the
    // desktop group the window with its entry.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/vtr900/logo.png")));
    QGuiApplication::setDesktopFileName(QStringLiteral("vtr900prog"));
    TPagesDlg_principal ventana;
    ventana.show();
    return app.exec();
}
