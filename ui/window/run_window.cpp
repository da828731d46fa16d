#include "ui/window/run_window.h"

#include "ui/window/fprincipal.h"

#include <QApplication>

int runWindow(QApplication& app) {
    QApplication::setApplicationName(QStringLiteral("VTR-900 Installer"));
    TPagesDlg_principal ventana;
    ventana.show();
    return app.exec();
}
