// Pictures of the window's pages for the documentation, against the simulated ARM
// unit: written only when VTR_SCREENSHOT_DIR names a folder (scripts/screenshots.sh).
#include "window_fixture.h"

#include <QDir>
#include <QPlainTextEdit>
#include <QTabWidget>

class Pictures : public VentanaTest {
protected:
    QString carpeta;
    void SetUp() override {
        carpeta = qEnvironmentVariable("VTR_SCREENSHOT_DIR");
        if (carpeta.isEmpty())
            GTEST_SKIP() << "VTR_SCREENSHOT_DIR not set";
        VentanaTest::SetUp();
    }
    void foto(const char* nombre) {
        QTest::qWait(20); // let the layout settle
        const QString ruta = QDir(carpeta).filePath(QLatin1String(nombre));
        EXPECT_TRUE(w->grab().save(ruta)) << ruta.toStdString();
    }
};

TEST_F(Pictures, EveryPage) {
    ASSERT_TRUE(QDir().mkpath(carpeta));
    conUnidad(0, SimUnit::Controller::ARM);
    crearVentana();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    ASSERT_TRUE(elegirPuerto(0));
    elegirFichero(muestra("vtr900_arm_0412.hex"));
    foto("update_before.png");

    ASSERT_TRUE(cargarYEsperar());
    foto("update_after.png");

    w->Timer_eventosTimer();
    w->mostrarMonitor(true);
    c<QPlainTextEdit>("Memo_tramas_tx")->moveCursor(QTextCursor::End);
    foto("monitor.png");
    w->mostrarMonitor(false);

    c<QTabWidget>("PageControl_principal")->setCurrentIndex(2);
    foto("about.png");
}

TEST_F(Pictures, ImageChoiceOfAJointFile) {
    ASSERT_TRUE(QDir().mkpath(carpeta));
    conUnidad(0, SimUnit::Controller::XA);
    crearVentana();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    ASSERT_TRUE(elegirPuerto(0));
    elegirFichero(muestra("vtr900_joint.hex"));
    load()->click();
    c<QRadioButton>("RadioButton1")->click(); // the operator takes CLASS A
    foto("update_choice.png");
}

// The Update page in each language of the dictionary, a unit found and a file chosen.
TEST_F(Pictures, FormInEveryLanguage) {
    ASSERT_TRUE(QDir().mkpath(carpeta));
    const struct {
        QLocale::Language idioma;
        const char* fichero;
    } idiomas[] = {{QLocale::French, "update_fr.png"},
                   {QLocale::Spanish, "update_es.png"},
                   {QLocale::English, "update_en.png"},
                   {QLocale::Italian, "update_it.png"}};
    conUnidad(0, SimUnit::Controller::ARM);
    for (const auto& k : idiomas) {
        SCOPED_TRACE(k.fichero);
        QLocale::setDefault(QLocale(k.idioma));
        crearVentana();
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        ASSERT_TRUE(elegirPuerto(0));
        elegirFichero(muestra("vtr900_arm_0412.hex"));
        foto(k.fichero);
        w.reset();
    }
}
