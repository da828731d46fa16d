// Test programs run with a QApplication on the offscreen platform, so that window,
// serial and thread tests all find the Qt services they need.
#include "sim/puerto_simulado.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    registrar_puertos_simulados();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
