#pragma once
// The window against simulated units in simulated time. The units and the clock are
// in place before the window is created; the window's destructor ends every worker
// before the units go. Results are awaited by processing the window's events with a
// bounded real-time wait, since the workers' callbacks run on this thread.

#include "common/global.h"
#include "comms/nombres_puerto.h"
#include "comms/tint_enlace.h"
#include "loader/tmgrupo_superv.h"
#include "sim/reloj_simulado.h"
#include "sim/unidad_simulada.h"
#include "ui/window/fprincipal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <optional>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

inline QString muestra(const char* nombre) {
    return QStringLiteral(VTR_SOURCE_DIR "/samples/") + QLatin1String(nombre);
}

// Processes events until cond holds or max real time has passed.
template <class F> bool esperarQue(F cond, int maxMs = 30000) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > maxMs)
            return false;
        QTest::qWait(2);
    }
    return true;
}

// Answers every modal message box that opens (OK) and keeps its text and icon.
class CapturaCajas {
public:
    CapturaCajas() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* mb = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                textos << mb->text();
                iconos << mb->icon();
                nombres << mb->accessibleName();
                mb->accept();
            }
        });
        timer_.start();
    }
    QStringList textos;
    QList<QMessageBox::Icon> iconos;
    QStringList nombres; // accessible names

private:
    QTimer timer_;
};

class VentanaTest : public ::testing::Test {
protected:
    SimClock clock;
    ScopedTimeSource useClock{clock};
    QTemporaryDir ajustes; // the user's settings (the dialog's folder), private to the test
    std::array<std::shared_ptr<SimUnit>, MAX_PUERTOS> unidades;
    std::unique_ptr<TPagesDlg_principal> w;
    std::unique_ptr<QSignalSpy> estados;
    std::optional<QString> siguienteFichero; // what the open dialog gives next

    void SetUp() override {
        reiniciar_estado_global();
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, ajustes.path());
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        // A port without a unit cannot be opened.
        for (int i = 0; i < MAX_PUERTOS; ++i)
            fijar_nombre_puerto(i, "/nonexistent/vtr900-port" + std::to_string(i));
    }
    void TearDown() override {
        estados.reset();
        w.reset();
        for (int i = 0; i < MAX_PUERTOS; ++i) {
            fijar_unidad_simulada(i, nullptr);
            fijar_nombre_puerto(i, "");
        }
        QLocale::setDefault(QLocale::system());
        reiniciar_estado_global();
    }

    std::shared_ptr<SimUnit> conUnidad(int idx, SimUnit::Controller c) {
        unidades[static_cast<size_t>(idx)] = std::make_shared<SimUnit>(c);
        fijar_nombre_puerto(idx, c == SimUnit::Controller::ARM ? "sim:arm" : "sim:xa");
        fijar_unidad_simulada(idx, unidades[static_cast<size_t>(idx)]);
        return unidades[static_cast<size_t>(idx)];
    }

    void crearVentana(const QString& diccionario = {}) {
        w = std::make_unique<TPagesDlg_principal>(nullptr, diccionario);
        w->setSelectorFichero([this](QFileDialog&) { return siguienteFichero; });
        estados = std::make_unique<QSignalSpy>(w.get(), &TPagesDlg_principal::estadoMostrado);
    }

    // A control of the window by its object name.
    template <class T = QWidget> T* c(const char* nombre) const {
        T* p = w->findChild<T*>(QLatin1String(nombre));
        if (!p)
            ADD_FAILURE() << "no control " << nombre;
        return p;
    }
    QString texto(const char* nombre) const { return c<QLabel>(nombre)->text(); }
    QPushButton* load() const { return c<QPushButton>("BitBtn_start"); }

    QStringList estadosMostrados() const {
        QStringList r;
        for (const QList<QVariant>& args : *estados)
            r << args.at(0).toString();
        return r;
    }

    QRadioButton* radioPuerto(int idx) {
        const std::string n = "RadioButton_com" + std::to_string(idx + 1);
        return c<QRadioButton>(n.c_str());
    }

    // Clicks a port and waits for the end of the status refresh (Load enabled).
    bool elegirPuerto(int idx) {
        radioPuerto(idx)->click();
        return esperarQue([&] { return load()->isEnabled() && !pedir_estado; });
    }

    void elegirFichero(const QString& ruta) {
        siguienteFichero = ruta;
        c<QToolButton>("SpeedButton_fichero")->click();
    }

    // Presses Load and waits for the result of the load.
    bool cargarYEsperar() {
        const qsizetype antes = estados->size();
        load()->click();
        if (!grabar_firmware)
            return false;
        return esperarQue([&] {
            return !grabar_firmware && load()->isEnabled() &&
                   c("LMDProgressFill_progreso")->isHidden() && estados->size() > antes;
        });
    }
};
