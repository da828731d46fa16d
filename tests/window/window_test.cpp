// The window's workflow against the simulated units: port choice, file choice, the
// image choice of joint files, loads, the trace page, language and captions, closing.
#include "window_fixture.h"

#include "support/hex_records.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextStream>
#include <QThread>

#include <condition_variable>
#include <mutex>

#include <map>

namespace {

// Data bytes of the bank-1 records of one image section of a joint file (XA: the
// records before the first switch to another upper address), by address.
std::map<uint32_t, uint8_t> bytesBanco1(const QString& conjunto, const QString& marca) {
    QFile f(conjunto);
    std::map<uint32_t, uint8_t> r;
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return r;
    QTextStream in(&f);
    while (!in.atEnd() && !in.readLine().startsWith(marca)) {
    }
    for (int i = 0; i < 3; ++i)
        in.readLine();
    uint32_t upper = 0;
    while (!in.atEnd()) {
        const QString l = in.readLine();
        if (l == QLatin1String(":00000001FF"))
            break;
        const int n = l.mid(1, 2).toInt(nullptr, 16);
        const uint32_t addr = l.mid(3, 4).toUInt(nullptr, 16);
        const int tipo = l.mid(7, 2).toInt(nullptr, 16);
        if (tipo == 4)
            upper = l.mid(9, 4).toUInt(nullptr, 16);
        if (tipo == 0 && upper == 0)
            for (int i = 0; i < n; ++i)
                r[(upper << 16) + addr + static_cast<uint32_t>(i)] =
                    static_cast<uint8_t>(l.mid(9 + 2 * i, 2).toUInt(nullptr, 16));
    }
    return r;
}

size_t bytesIguales(const std::map<uint32_t, uint8_t>& esperados,
                    const std::map<uint32_t, uint8_t>& memoria) {
    size_t n = 0;
    for (const auto& [a, v] : esperados)
        if (auto it = memoria.find(a); it != memoria.end() && it->second == v)
            ++n;
    return n;
}

class Receptor : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void abrir(const QUrl& u) { urls << u; }
};

} // namespace

// ---- the form

TEST_F(VentanaTest, FormHasItsControlsCaptionsAndStartStates) {
    crearVentana();
    EXPECT_EQ(w->windowTitle(), "VTR-900 Firmware Loader");
    EXPECT_EQ(w->size(), QSize(617, 487));
    EXPECT_EQ(w->minimumSize(), w->maximumSize()) << "not resizable";

    auto* tabs = c<QTabWidget>("PageControl_principal");
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), "Update");
    EXPECT_EQ(tabs->tabText(1), "Monitor");
    EXPECT_EQ(tabs->tabText(2), "About ...");
    EXPECT_FALSE(tabs->isTabVisible(1)) << "the Monitor tab is for service work only";
    EXPECT_EQ(tabs->currentIndex(), 0);

    const std::map<const char*, const char*> grupos = {{"GroupBox3", "VTR-900"},
                                                       {"GroupBox1", "Files"},
                                                       {"GroupBox2", "Port"},
                                                       {"GroupBox4", "Status"},
                                                       {"GroupBox5", "Version"}};
    for (const auto& [n, t] : grupos)
        EXPECT_EQ(c<QGroupBox>(n)->title(), t) << n;
    const std::map<const char*, const char*> textos = {{"Label5", "Current Firmware Version"},
                                                       {"Label6", "Firmware File "},
                                                       {"Label12", "Module"},
                                                       {"Label7", "Version to load"},
                                                       {"Label21", "Operation:"},
                                                       {"Label_progreso", "Progress ..."},
                                                       {"Label9", "QLN-3xx"},
                                                       {"Label10", "RDF-8xx"},
                                                       {"Label11", "HWK-8xx"},
                                                       {"Label13", "PLV"},
                                                       {"Label2", "VTR-900"},
                                                       {"Label3", "Firmware Loader"},
                                                       {"Label4", "V2.10"},
                                                       {"Label1", "Messages"},
                                                       {"ProductName", "Firmware Loader"},
                                                       {"Version", "Version:  2.10"},
                                                       {"StaticText_version", "\u2014"},
                                                       {"StaticText_modulo", "\u2014"},
                                                       {"StaticText_version_acargar", "\u2014"},
                                                       {"Label_estado", "\u2014"}};
    for (const auto& [n, t] : textos)
        EXPECT_EQ(texto(n), t) << n;
    const std::map<const char*, const char*> botones = {
        {"RadioButton_com1", "COM 1"},     {"RadioButton_com2", "COM 2"},
        {"RadioButton_com3", "COM 3"},     {"RadioButton_com4", "COM 4"},
        {"RadioButton3", "USB-I2C"},       {"RadioButton1", "CLASS A"},
        {"BitBtn_start", "Load"},          {"BitBtn_borrar", "Clear"},
        {"CheckBox_traza", "Traza ON/OFF"}};
    for (const auto& [n, t] : botones) {
        EXPECT_EQ(c<QAbstractButton>(n)->text(), t) << n;
        if (QString(n).startsWith("Radio")) {
            EXPECT_FALSE(c<QAbstractButton>(n)->isChecked()) << n;
        }
    }
    EXPECT_TRUE(c<QCheckBox>("CheckBox_traza")->isChecked());
    EXPECT_FALSE(load()->isEnabled());
    for (const char* n : {"Label_progreso", "LMDProgressFill_progreso", "GroupBox5"})
        EXPECT_TRUE(c(n)->isHidden()) << n;
    EXPECT_EQ(c<QProgressBar>("LMDProgressFill_progreso")->text(), "0 %");
    EXPECT_TRUE(c<QLineEdit>("Edit_fichero")->text().isEmpty());
    for (const char* n : {"SpeedButton1", "SpeedButton_fichero"})
        EXPECT_FALSE(c<QToolButton>(n)->icon().isNull()) << n;
    EXPECT_TRUE(w->Timer_eventos().isActive());
    EXPECT_EQ(w->Timer_eventos().interval(), 1000);
    EXPECT_EQ(w->OpenDialog_firmware().defaultSuffix(), "");
    EXPECT_TRUE(c<QLineEdit>("Edit_fichero")->isReadOnly());
}

TEST_F(VentanaTest, EveryInputIsNamedForAssistiveTechnology) {
    crearVentana();
    // A widget is named by its own text, its accessible name or a label whose buddy it is.
    QSet<QWidget*> conEtiqueta;
    for (QLabel* l : w->findChildren<QLabel*>())
        if (l->buddy())
            conEtiqueta.insert(l->buddy());
    for (QWidget* x : w->findChildren<QWidget*>()) {
        const bool entrada = qobject_cast<QLineEdit*>(x) || qobject_cast<QPlainTextEdit*>(x) ||
                             qobject_cast<QProgressBar*>(x) || qobject_cast<QToolButton*>(x);
        if (!entrada || x->window() != w.get())
            continue;
        QAccessibleInterface* ai = QAccessible::queryAccessibleInterface(x);
        ASSERT_NE(ai, nullptr);
        EXPECT_TRUE(!ai->text(QAccessible::Name).isEmpty() || conEtiqueta.contains(x))
            << x->objectName().toStdString();
    }
    for (const char* n :
         {"LMDProgressFill_progreso", "Memo_tramas_tx", "SpeedButton1", "SpeedButton_fichero"})
        EXPECT_FALSE(c(n)->accessibleName().isEmpty()) << n;
    for (const char* n : {"Label_estado", "StaticText_version", "StaticText_modulo",
                          "StaticText_version_acargar"}) {
        EXPECT_TRUE(c(n)->accessibleName().isEmpty()) << n << " shows a value";
        // Empty, it reads as empty rather than as its caption.
        QAccessibleInterface* ai = QAccessible::queryAccessibleInterface(c(n));
        ASSERT_NE(ai, nullptr);
        EXPECT_EQ(ai->text(QAccessible::Name), TPagesDlg_principal::SIN_VALOR) << n;
    }
    EXPECT_FALSE(c("PageControl_principal")->accessibleName().isEmpty());
    for (QGroupBox* g : w->findChildren<QGroupBox*>())
        EXPECT_EQ(g->title(), g->title().trimmed()) << g->objectName().toStdString();

    // Each image of a joint file is tied to the product families it serves.
    const struct {
        const char* opcion;
        std::array<const char*, 2> etiquetas;
    } imagenes[] = {{"RadioButton3", {"Label9", "Label10"}},
                    {"RadioButton1", {"Label11", "Label13"}}};
    for (const auto& k : imagenes) {
        auto* opcion = c(k.opcion);
        for (const char* e : k.etiquetas) {
            EXPECT_EQ(c<QLabel>(e)->buddy(), opcion) << e;
            EXPECT_TRUE(opcion->accessibleDescription().contains(texto(e))) << k.opcion;
        }
    }
}

TEST_F(VentanaTest, ServiceShortcutRevealsTheMonitorTab) {
    crearVentana();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    auto* tabs = c<QTabWidget>("PageControl_principal");
    QTest::keyClick(w.get(), Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(tabs->isTabVisible(1));
    EXPECT_EQ(tabs->currentIndex(), 1);
    QTest::keyClick(w.get(), Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(tabs->isTabVisible(1));
    EXPECT_EQ(w->windowTitle(), "VTR-900 Firmware Loader");
}

TEST_F(VentanaTest, AboutLinkOpensTheProgramsDocumentation) {
    crearVentana();
    Receptor r;
    QDesktopServices::setUrlHandler("file", &r, "abrir");
    w->Label18Click();
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(r.urls.size(), 1);
    EXPECT_TRUE(r.urls[0].isLocalFile());
    EXPECT_TRUE(r.urls[0].toLocalFile().endsWith("README.md"));
    EXPECT_TRUE(QFileInfo::exists(r.urls[0].toLocalFile()));
}

// ---- ports

TEST_F(VentanaTest, SelectingAPortOpensItAndDetectsTheUnit) {
    conUnidad(0, SimUnit::Controller::ARM);
    crearVentana();
    ASSERT_TRUE(elegirPuerto(0));
    const QStringList e = estadosMostrados();
    ASSERT_GE(e.size(), 2);
    EXPECT_EQ(e.first(), "Detecting VTR-900 ...");
    EXPECT_TRUE(e.contains(" VTR-900 found"));
    EXPECT_EQ(texto("StaticText_version"), "4.10");
    EXPECT_EQ(puerto_seleccionado.load(), 0);
    EXPECT_EQ(std::string(tipo_vtr), TIPO_VTR_ARM);
    Tinterface_enlace* l = puertos[0].load();
    ASSERT_NE(l, nullptr);
    EXPECT_TRUE(l->abierto());
    EXPECT_EQ(l->baud(), 19200);
    EXPECT_EQ(l->paridad(), 'N');
    ASSERT_NE(grupos_supev[0].load(), nullptr);
    EXPECT_TRUE(grupos_supev[0].load()->fmon.load());

    // The status request and its reply reach the Monitor page at the next tick.
    w->Timer_eventosTimer();
    const QString memo = c<QPlainTextEdit>("Memo_tramas_tx")->toPlainText();
    EXPECT_TRUE(memo.contains("TX->")) << memo.toStdString();
    EXPECT_TRUE(memo.contains("RX->")) << memo.toStdString();
    EXPECT_TRUE(w->Timer_eventos().isActive());
}

// Simulated time that holds every wait made off the window's thread until it is let
// go: the worker stops in the middle of a prescribed pause while the test looks at
// the window. Waits on the window's thread are counted (there should be none).
class RelojRetenido final : public TimeSource {
public:
    explicit RelojRetenido(SimClock& base) : base_(base) {}
    Tiempo now() const override { return base_.now(); }
    bool isSimulated() const override { return true; }
    void sleepUntil(Tiempo t) override {
        if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
            ++enHiloVentana;
        } else {
            std::unique_lock<std::mutex> l(m_);
            ++retenidas_;
            cv_.wait(l, [&] { return suelto_; });
        }
        base_.sleepUntil(t);
    }
    void soltar() {
        {
            std::lock_guard<std::mutex> l(m_);
            suelto_ = true;
        }
        cv_.notify_all();
    }
    int retenidas() {
        std::lock_guard<std::mutex> l(m_);
        return retenidas_;
    }
    std::atomic<int> enHiloVentana{0};

private:
    SimClock& base_;
    std::mutex m_;
    std::condition_variable cv_;
    int retenidas_ = 0; // guarded by m_
    bool suelto_ = false;
};

class ContadorPintado : public QObject {
public:
    std::atomic<int> n{0};
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            ++n;
        return false;
    }
};

// Choosing a port never freezes the window: the port is opened and the unit reset on
// the port's worker, "Detecting" shows at once, the window repaints while the reset
// runs, and Load waits for the unit to be found.
TEST_F(VentanaTest, WindowProcessesEventsWhileTheInitialResetRuns) {
    RelojRetenido retenido(clock);
    fijar_reloj(&retenido);
    struct Fin { // whatever happens, the worker is let go before the clock goes
        std::unique_ptr<TPagesDlg_principal>& ventana;
        SimClock& base;
        RelojRetenido& r;
        ~Fin() {
            r.soltar();
            ventana.reset();
            fijar_reloj(&base);
        }
    } fin{w, clock, retenido};
    conUnidad(0, SimUnit::Controller::ARM);
    crearVentana();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));

    radioPuerto(0)->click();
    EXPECT_EQ(texto("Label_estado"), "Detecting VTR-900 ...");
    ASSERT_TRUE(esperarQue([&] { return retenido.retenidas() > 0; }, 5000))
        << "the worker runs the reset";
    EXPECT_EQ(retenido.enHiloVentana.load(), 0) << "nothing waits on the window's thread";
    EXPECT_FALSE(pedir_estado) << "the reset is still running";
    EXPECT_FALSE(load()->isEnabled());
    EXPECT_FALSE(radioPuerto(1)->isEnabled()) << "the port choice waits for the reset";

    ContadorPintado pintado;
    c("Label_estado")->installEventFilter(&pintado);
    QElapsedTimer t;
    t.start();
    c("Label_estado")->update();
    EXPECT_TRUE(esperarQue([&] { return pintado.n > 0; }, 100)) << "repainted within 100 ms";
    c("Label_estado")->removeEventFilter(&pintado);

    retenido.soltar();
    ASSERT_TRUE(esperarQue([&] { return load()->isEnabled() && !pedir_estado; }));
    EXPECT_TRUE(estadosMostrados().contains(" VTR-900 found"));
    EXPECT_TRUE(radioPuerto(1)->isEnabled());
}

TEST_F(VentanaTest, PortThatCannotOpenShowsItsNumberOnceAndRefreshDoesNothing) {
    crearVentana();
    auto* refrescar = c<QToolButton>("SpeedButton1");
    refrescar->click(); // no port yet
    EXPECT_TRUE(estadosMostrados().isEmpty());
    EXPECT_FALSE(pedir_estado);

    // The port's worker tries to open it; the window says what it is doing at once
    // and then why it could not, naming the device behind the COM.
    const QString error = QStringLiteral("Error: Port --> COM3 (/nonexistent/vtr900-port2)");
    radioPuerto(2)->click();
    ASSERT_TRUE(esperarQue([&] { return texto("Label_estado").startsWith("Error"); }));
    ASSERT_EQ(estadosMostrados().size(), 2);
    EXPECT_EQ(estadosMostrados().first(), "Detecting VTR-900 ...");
    EXPECT_EQ(estadosMostrados().last().split('\n').first(), error);
    EXPECT_EQ(texto("Label_estado").split('\n').first(), error);
    // Why, on a second line, as the system told it.
    EXPECT_TRUE(texto("Label_estado").split('\n').value(1).startsWith("no such device; "))
        << texto("Label_estado").toStdString();
    EXPECT_FALSE(load()->isEnabled());
    EXPECT_TRUE(c("LMDProgressFill_progreso")->isHidden());
    ASSERT_TRUE(esperarQue([&] { return radioPuerto(1)->isEnabled(); }))
        << "the port choice comes back";

    radioPuerto(2)->click(); // marked failed: nothing is tried or shown again
    refrescar->click();      // and nothing is monitored
    QTest::qWait(20);
    EXPECT_EQ(estadosMostrados().size(), 2);
    EXPECT_FALSE(pedir_estado);
    EXPECT_FALSE(load()->isEnabled());
    EXPECT_NE(grupos_supev[2].load(), nullptr);
    EXPECT_FALSE(grupos_supev[2].load()->fmon.load()) << "the worker of a failed port stays idle";
}

TEST_F(VentanaTest, RefreshOfTheMonitoredPortDetectsAgain) {
    conUnidad(0, SimUnit::Controller::XA);
    crearVentana();
    ASSERT_TRUE(elegirPuerto(0));
    estados->clear();
    c<QToolButton>("SpeedButton1")->click();
    EXPECT_TRUE(pedir_estado);
    ASSERT_FALSE(estadosMostrados().isEmpty());
    EXPECT_EQ(estadosMostrados().first(), "Detecting VTR-900 ...");
    ASSERT_TRUE(esperarQue([&] { return !pedir_estado; }));
    EXPECT_TRUE(estadosMostrados().contains(" VTR-900 found"));
    EXPECT_EQ(texto("StaticText_version"), "3.05");
}

TEST_F(VentanaTest, SecondPortStopsTheFirstWorkerAndOpensItsOwn) {
    auto arm = conUnidad(0, SimUnit::Controller::ARM);
    conUnidad(1, SimUnit::Controller::XA);
    crearVentana();
    ASSERT_TRUE(elegirPuerto(0));
    Tmgrupo_superv* primero = grupos_supev[0].load();
    ASSERT_TRUE(elegirPuerto(1));
    EXPECT_EQ(puerto_seleccionado.load(), 1);
    EXPECT_FALSE(primero->fmon.load());
    ASSERT_TRUE(esperarQue([&] { return puertos[0].load() == nullptr; }))
        << "the first worker gives its port up";
    EXPECT_EQ(grupos_supev[0].load(), primero) << "workers are kept for reuse";
    ASSERT_NE(grupos_supev[1].load(), nullptr);
    EXPECT_TRUE(grupos_supev[1].load()->fmon.load());
    EXPECT_EQ(puertos[1].load()->baud(), 19200);
    EXPECT_EQ(texto("StaticText_version"), "3.05");
    EXPECT_EQ(std::string(tipo_vtr), TIPO_VTR_XA);

    // Back to the first port: its worker is reused and detects its unit again.
    const auto framesAntes = arm->software().records().frames.size();
    ASSERT_TRUE(elegirPuerto(0));
    EXPECT_EQ(grupos_supev[0].load(), primero);
    EXPECT_GT(arm->software().records().frames.size(), framesAntes);
    EXPECT_EQ(texto("StaticText_version"), "4.10");
}

// Beside the four COM buttons, the system's serial ports: the list is filled on
// demand, and a port taken from it stands in for the checked COM (COM 1 when none
// is), also when that COM failed to open or watches another unit.
TEST_F(VentanaTest, PortListNamesTheCheckedComAndOpensIt) {
    crearVentana();
    std::vector<PuertoSistema> sistema;
    w->setListaPuertos([&] { return sistema; });
    auto* lista = c<QComboBox>("ComboBox_puertos");
    EXPECT_EQ(lista->count(), 0);
    PuertoSistema arm;
    arm.dispositivo = "sim:arm";
    arm.descripcion = "simulated ARM unit";
    PuertoSistema xa;
    xa.dispositivo = "sim:xa";
    sistema = {arm, xa};
    EXPECT_EQ(lista->count(), 0) << "only refreshed on demand";
    c<QToolButton>("SpeedButton_puertos")->click();
    ASSERT_EQ(lista->count(), 2);
    EXPECT_EQ(lista->itemText(0), "sim:arm  simulated ARM unit");
    EXPECT_EQ(lista->itemText(1), "sim:xa");
    EXPECT_EQ(lista->currentIndex(), -1) << "a refresh chooses nothing";

    radioPuerto(1)->click(); // nothing behind COM 2
    ASSERT_TRUE(
        esperarQue([&] { return texto("Label_estado").startsWith("Error: Port --> COM2"); }));
    ASSERT_TRUE(esperarQue([&] { return lista->isEnabled(); }));
    const struct {
        int item;
        std::string tipo;
        const char* version;
    } pasos[] = {{0, TIPO_VTR_ARM, "4.10"}, {1, TIPO_VTR_XA, "3.05"}};
    for (const auto& p : pasos) {
        SCOPED_TRACE(p.tipo);
        // A simulated unit opened by name stays wired to its index: the next name
        // brings its own.
        fijar_unidad_simulada(1, nullptr);
        lista->setCurrentIndex(p.item);
        emit lista->activated(p.item);
        ASSERT_TRUE(esperarQue([&] { return load()->isEnabled() && !pedir_estado; }));
        EXPECT_EQ(puerto_seleccionado.load(), 1);
        EXPECT_TRUE(radioPuerto(1)->isChecked());
        EXPECT_EQ(nombre_puerto(1), sistema[static_cast<size_t>(p.item)].dispositivo);
        EXPECT_EQ(std::string(tipo_vtr), p.tipo);
        EXPECT_EQ(texto("StaticText_version"), p.version);
    }
}

// A port with nothing that answers behind it: the unit is not found and Load stays
// disabled, also once a file is chosen, until a unit is found on the port shown.
TEST_F(VentanaTest, NoUnitNoLoad) {
    auto mudo = conUnidad(0, SimUnit::Controller::ARM);
    auto config = mudo->software().config();
    config.silent = true;
    mudo->software().setConfig(config);
    auto fallos = mudo->armBootloader().faults();
    fallos.silent = true;
    mudo->armBootloader().setFaults(fallos);
    conUnidad(1, SimUnit::Controller::XA);
    crearVentana();
    radioPuerto(0)->click();
    ASSERT_TRUE(esperarQue([&] {
        return estadosMostrados().contains(" VTR-900 not found") && !pedir_estado &&
               texto("Label_estado") == TPagesDlg_principal::SIN_VALOR;
    }));
    EXPECT_FALSE(load()->isEnabled());
    for (const char* f : {"vtr900_arm_0412.hex", "vtr900_joint.hex", "module_xyz100_0102.bin"}) {
        SCOPED_TRACE(f);
        elegirFichero(muestra(f));
        EXPECT_FALSE(load()->isEnabled());
    }
    load()->click();
    EXPECT_FALSE(grabar_firmware);

    // A unit found on the port shown offers Load.
    ASSERT_TRUE(elegirPuerto(1));
    EXPECT_TRUE(load()->isEnabled());
}

// ---- loads

struct CasoCarga {
    const char* nombre;
    const char* fichero;
    SimUnit::Controller unidad;
    const char* versionACargar; // shown once the file is chosen
    const char* versionFinal;
};

void PrintTo(const CasoCarga& k, std::ostream* os) {
    *os << k.nombre;
}

class CargaTest : public VentanaTest, public ::testing::WithParamInterface<CasoCarga> {};

TEST_P(CargaTest, LoadEndsWithUpdateCompletedAndTheNewVersion) {
    const CasoCarga& k = GetParam();
    auto unidad = conUnidad(0, k.unidad);
    crearVentana();
    ASSERT_TRUE(elegirPuerto(0));
    elegirFichero(muestra(k.fichero));
    EXPECT_EQ(texto("StaticText_version_acargar"), k.versionACargar);
    ASSERT_TRUE(load()->isEnabled());

    ASSERT_TRUE(cargarYEsperar());
    const QStringList e = estadosMostrados();
    EXPECT_TRUE(e.contains("Updating Firmware ..."));
    EXPECT_EQ(texto("Label_estado"), "OK: Update completed");
    EXPECT_EQ(texto("StaticText_version"), k.versionFinal);
    EXPECT_TRUE(c("GroupBox5")->isHidden()) << "no image choice for this load";
    EXPECT_TRUE(c("Label_progreso")->isHidden());
    EXPECT_TRUE(unidad->software().records().completed);

    // The Monitor page: every line names its direction or is an XA text line, and the
    // ARM bootloader's exchanges come as one line per command and per answer.
    w->Timer_eventosTimer();
    const QStringList memo = c<QPlainTextEdit>("Memo_tramas_tx")->toPlainText().split('\n');
    if (k.unidad == SimUnit::Controller::ARM) {
        EXPECT_TRUE(memo.contains("TX->7F"));
        EXPECT_TRUE(memo.contains("TX->31,CE")) << "Write Memory with its complement";
        EXPECT_TRUE(memo.contains("RX->79 ACK"));
        for (const QString& l : memo)
            EXPECT_TRUE(l.startsWith("TX->") || l.startsWith("RX->") || l.startsWith("ER->"))
                << l.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ficheros, CargaTest,
    ::testing::Values(
        CasoCarga{"ArmFile", "vtr900_arm_0412.hex", SimUnit::Controller::ARM, "4.12", "4.12"},
        CasoCarga{"XaFile", "vtr900_xa_0310.hex", SimUnit::Controller::XA, "3.10", "3.10"},
        CasoCarga{"JointFileOnArmLoadsAtOnce", "vtr900_joint.hex", SimUnit::Controller::ARM, "4.12",
                  "4.12"}),
    [](const ::testing::TestParamInfo<CasoCarga>& i) { return std::string(i.param.nombre); });

// A unit that still reports its old version after a load: the result names both
// versions on the line below the table's text.
TEST_F(VentanaTest, LoadThatLeavesTheOldVersionShowsBothVersions) {
    auto arm = conUnidad(0, SimUnit::Controller::ARM);
    crearVentana();
    ASSERT_TRUE(elegirPuerto(0));
    elegirFichero(muestra("vtr900_arm_0412.hex"));
    auto cfg = arm->software().config();
    cfg.keepOldVersion = true;
    arm->software().setConfig(cfg);
    ASSERT_TRUE(cargarYEsperar());
    EXPECT_EQ(texto("Label_estado"), "Error: Invalid Update\nUnit reports 4.10, file is 4.12");
}

// Between the transfers of a load the window says what is going on and shows that
// it goes on: a busy bar and the phase, the fixed pauses with their seconds; the byte
// counts bring the percentage back, and the result is shown with no bar.
struct CasoEsperas {
    const char* nombre;
    const char* fichero;
    SimUnit::Controller unidad;
    std::vector<QString> fases; // in this order (others may come in between)
};

void PrintTo(const CasoEsperas& k, std::ostream* os) {
    *os << k.nombre;
}

class EsperasTest : public VentanaTest, public ::testing::WithParamInterface<CasoEsperas> {};

TEST_P(EsperasTest, WaitsOfALoadShowTheirPhaseOnABusyBar) {
    const CasoEsperas& k = GetParam();
    conUnidad(0, k.unidad);
    crearVentana();
    ASSERT_TRUE(elegirPuerto(0));
    elegirFichero(muestra(k.fichero));
    QStringList vistas;
    bool siempreOcupada = true;
    auto* barra = c<QProgressBar>("LMDProgressFill_progreso");
    QObject::connect(w.get(), &TPagesDlg_principal::esperaMostrada, [&](const QString& t) {
        vistas << t;
        siempreOcupada = siempreOcupada && barra->maximum() == 0 && !barra->isHidden();
    });
    QList<int> valores;
    QObject::connect(barra, &QProgressBar::valueChanged, [&](int v) {
        if (barra->maximum() == 100)
            valores << v;
    });
    ASSERT_TRUE(cargarYEsperar());
    EXPECT_EQ(texto("Label_estado"), "OK: Update completed");
    EXPECT_TRUE(siempreOcupada) << "every wait shows a busy bar";
    qsizetype desde = 0;
    for (const QString& f : k.fases) {
        const qsizetype i = vistas.indexOf(f, desde);
        EXPECT_GE(i, 0) << f.toStdString()
                        << " not shown in order: " << vistas.join(" | ").toStdString();
        if (i >= 0)
            desde = i + 1;
    }
    EXPECT_FALSE(valores.isEmpty()) << "the transfers still count their bytes";
    EXPECT_EQ(barra->maximum(), 100) << "no busy bar left behind";
    EXPECT_TRUE(c("Label_fase")->isHidden());
}

INSTANTIATE_TEST_SUITE_P(
    Cargas, EsperasTest,
    ::testing::Values(CasoEsperas{"ArmUnit",
                                  "vtr900_arm_0412.hex",
                                  SimUnit::Controller::ARM,
                                  {"Entering the unit's loader", "Erasing the memory",
                                   "Waiting for the unit (5 s)", "Resetting the unit (4 s)",
                                   "Checking the version"}},
                      CasoEsperas{"XaUnit",
                                  "vtr900_xa_0310.hex",
                                  SimUnit::Controller::XA,
                                  {"Entering the unit's loader (3 s)", "Erasing the memory",
                                   "Resetting the unit (2 s)", "Checking the version"}}),
    [](const ::testing::TestParamInfo<CasoEsperas>& i) { return std::string(i.param.nombre); });

TEST_F(VentanaTest, JointFileOnXaAsksForTheImageAndLoadsTheOneChosen) {
    auto xa = conUnidad(0, SimUnit::Controller::XA);
    crearVentana();
    ASSERT_TRUE(elegirPuerto(0));
    elegirFichero(muestra("vtr900_joint.hex"));
    EXPECT_EQ(texto("StaticText_modulo"), "VTR-900");
    EXPECT_EQ(texto("StaticText_version_acargar"), TPagesDlg_principal::SIN_VALOR);
    const auto framesAntes = xa->software().records().frames.size();

    // A double click on Load: the first press shows the choice, the second finds
    // Load disabled until the operator takes an image.
    QTest::mouseClick(load(), Qt::LeftButton);
    QTest::mouseDClick(load(), Qt::LeftButton);
    EXPECT_FALSE(c("GroupBox5")->isHidden());
    EXPECT_FALSE(c<QRadioButton>("RadioButton1")->isChecked());
    EXPECT_FALSE(c<QRadioButton>("RadioButton3")->isChecked());
    EXPECT_EQ(texto("Label_estado"), "Select Version");
    EXPECT_FALSE(load()->isEnabled());
    EXPECT_FALSE(grabar_firmware);
    QTest::qWait(150); // longer than the worker's polling period
    EXPECT_EQ(xa->software().records().frames.size(), framesAntes) << "nothing sent yet";
    c<QRadioButton>("RadioButton1")->click();
    EXPECT_EQ(texto("StaticText_version_acargar"), "3.06");
    EXPECT_TRUE(load()->isEnabled());

    // The operator takes USB-I2C: that image, not CLASS A, is the one loaded.
    c<QRadioButton>("RadioButton3")->click();
    EXPECT_EQ(texto("StaticText_version_acargar"), "2.05");
    ASSERT_TRUE(cargarYEsperar());
    EXPECT_EQ(texto("Label_estado"), "OK: Update completed");
    EXPECT_EQ(texto("StaticText_version"), "2.05");
    EXPECT_EQ(xa->software().records().identification, "FIRMVTR-900_0205");
    const auto i2c = bytesBanco1(muestra("vtr900_joint.hex"), "FIRMVTR-900_02");
    const auto classA = bytesBanco1(muestra("vtr900_joint.hex"), "FIRMVTR-900_03");
    ASSERT_FALSE(i2c.empty());
    const auto memoria = xa->xaLoader().memory();
    EXPECT_EQ(bytesIguales(i2c, memoria), i2c.size()) << "the USB-I2C image is in the unit";
    EXPECT_LT(bytesIguales(classA, memoria), classA.size()) << "and the CLASS A one is not";

    // The next Load of the same joint file asks again.
    QTest::mouseClick(load(), Qt::LeftButton);
    QTest::mouseDClick(load(), Qt::LeftButton);
    EXPECT_FALSE(c("GroupBox5")->isHidden());
    EXPECT_EQ(texto("Label_estado"), "Select Version");
    EXPECT_FALSE(c<QRadioButton>("RadioButton3")->isChecked()) << "the last choice is not kept";
    EXPECT_FALSE(load()->isEnabled());
    EXPECT_FALSE(grabar_firmware);
}

// Data bytes an ARM image puts in flash (under upper address 0x0800), by address.
std::map<uint32_t, uint8_t> flashArm(const QString& fichero) {
    QFile f(fichero);
    std::map<uint32_t, uint8_t> r;
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return r;
    QTextStream in(&f);
    uint32_t upper = 0;
    while (!in.atEnd()) {
        const QString l = in.readLine().trimmed();
        if (!l.startsWith(':') || l.size() < 11)
            continue;
        const int n = l.mid(1, 2).toInt(nullptr, 16);
        const uint32_t addr = l.mid(3, 4).toUInt(nullptr, 16);
        const int tipo = l.mid(7, 2).toInt(nullptr, 16);
        if (tipo == 4)
            upper = l.mid(9, 4).toUInt(nullptr, 16);
        if (tipo == 0 && upper == 0x0800)
            for (int i = 0; i < n; ++i)
                r[(upper << 16) + addr + static_cast<uint32_t>(i)] =
                    static_cast<uint8_t>(l.mid(9 + 2 * i, 2).toUInt(nullptr, 16));
    }
    return r;
}

// From Load until the result is shown nothing that changes the selection can be
// used, and the load writes the image that was selected when Load was pressed,
// whether it completes or fails; afterwards the controls come back.
TEST_F(VentanaTest, SelectionIsLockedDuringALoadAndTheLoadKeepsItsImage) {
    QTemporaryDir d;
    const QString otro = d.filePath("other.hex");
    {
        QFile f(otro);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Text));
        for (const std::string& l :
             {std::string("FIRMVTR-900_0499"), std::string("0"), std::string("0"),
              std::string("HEX"), hexExtendedLinear(0x0800),
              hexRecord(0x00, 0x0000, std::vector<uint8_t>(16, 0x5A)), hexEndRecord()})
            f.write(QByteArray::fromStdString(l + "\n"));
    }
    const char* const bloqueados[] = {
        "RadioButton_com1", "RadioButton_com2",    "RadioButton_com3",   "RadioButton_com4",
        "SpeedButton1",     "SpeedButton_fichero", "Edit_fichero",       "RadioButton1",
        "RadioButton3",     "ComboBox_puertos",    "SpeedButton_puertos"};
    const struct {
        const char* caso;
        int nackBloque; // the Write Memory block the bootloader refuses (0 none)
        const char* resultado;
    } casos[] = {{"completed", 0, "OK: Update completed"},
                 {"refused by the bootloader", 3, "Error: Invalid Update"}};
    for (const auto& k : casos) {
        SCOPED_TRACE(k.caso);
        auto arm = conUnidad(0, SimUnit::Controller::ARM);
        auto fallos = arm->armBootloader().faults();
        fallos.nackWriteBlock = k.nackBloque;
        arm->armBootloader().setFaults(fallos);
        conUnidad(1, SimUnit::Controller::XA);
        crearVentana();
        ASSERT_TRUE(elegirPuerto(0));
        const QString elegido = muestra("vtr900_arm_0412.hex");
        elegirFichero(elegido);

        load()->click();
        ASSERT_TRUE(grabar_firmware);
        for (const char* n : bloqueados)
            EXPECT_FALSE(c(n)->isEnabled()) << n;
        // The operator tries another file and another port: nothing happens.
        siguienteFichero = otro;
        c<QToolButton>("SpeedButton_fichero")->click();
        radioPuerto(1)->click();
        EXPECT_EQ(QDir::fromNativeSeparators(c<QLineEdit>("Edit_fichero")->text()), elegido);
        EXPECT_EQ(puerto_seleccionado.load(), 0);
        EXPECT_FALSE(radioPuerto(1)->isChecked());
        // Even a selection made behind the controls' back leaves the running load alone.
        w->SpeedButton_ficheroClick();
        EXPECT_EQ(QDir::fromNativeSeparators(c<QLineEdit>("Edit_fichero")->text()), otro);

        ASSERT_TRUE(esperarQue([&] {
            return !grabar_firmware && load()->isEnabled() &&
                   c("LMDProgressFill_progreso")->isHidden();
        }));
        EXPECT_EQ(texto("Label_estado"), k.resultado);
        for (const char* n : bloqueados)
            EXPECT_TRUE(c(n)->isEnabled()) << n;
        const auto& memoria = arm->armBootloader().memory();
        const auto sample = flashArm(elegido), other = flashArm(otro);
        ASSERT_FALSE(sample.empty());
        EXPECT_EQ(bytesIguales(other, memoria), 0u) << "nothing of the file chosen later";
        if (k.nackBloque == 0) {
            EXPECT_EQ(bytesIguales(sample, memoria), sample.size());
            EXPECT_EQ(arm->software().records().identification, "FIRMVTR-900_0412");
        }
        w.reset();
    }
}

TEST_F(VentanaTest, LoadRefusesAfterARejectedHeader) {
    auto arm = conUnidad(0, SimUnit::Controller::ARM);
    crearVentana();
    ASSERT_TRUE(elegirPuerto(0));
    elegirFichero(muestra("vtr900_arm_0412.hex"));
    QTemporaryDir d;
    const QString malo = d.filePath("unknown.hex");
    {
        QFile f(malo);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Text));
        f.write("GARBAGE HEADER\n0\n0\nHEX\n:00000001FF\n");
    }
    CapturaCajas cajas;
    elegirFichero(malo);
    ASSERT_EQ(cajas.textos.size(), 1);
    const QStringList caja = cajas.textos[0].split('\n');
    ASSERT_EQ(caja.size(), 2) << cajas.textos[0].toStdString();
    EXPECT_EQ(caja[0], "File error");
    EXPECT_TRUE(caja[1].contains("identification line not recognised")) << caja[1].toStdString();
    EXPECT_EQ(cajas.iconos.value(0), QMessageBox::Critical);
    EXPECT_EQ(cajas.nombres.value(0), QCoreApplication::applicationName())
        << "a box is announced by its title";
    EXPECT_EQ(QDir::fromNativeSeparators(c<QLineEdit>("Edit_fichero")->text()), malo);

    const auto framesAntes = arm->software().records().frames.size();
    load()->click();
    EXPECT_FALSE(grabar_firmware) << "the previous file's images are not loaded";
    EXPECT_NE(texto("Label_estado"), "Updating Firmware ...");
    QTest::qWait(150);
    EXPECT_EQ(arm->software().records().frames.size(), framesAntes);
}

TEST_F(VentanaTest, FileErrorsAreShownInBoxesAndCancelIsSilent) {
    auto arm = conUnidad(0, SimUnit::Controller::ARM);
    crearVentana();
    ASSERT_TRUE(elegirPuerto(0));
    CapturaCajas cajas;
    siguienteFichero.reset(); // cancelled, nothing chosen before
    c<QToolButton>("SpeedButton_fichero")->click();
    EXPECT_EQ(cajas.textos, QStringList{});
    EXPECT_EQ(c<QLineEdit>("Edit_fichero")->text(), "");
    elegirFichero("/nonexistent/firmware.hex");
    EXPECT_EQ(cajas.textos, QStringList{"Not File"});

    // Cancelled after a choice: the file chosen stays the one shown and loaded.
    const QString elegido = muestra("vtr900_arm_0412.hex");
    elegirFichero(elegido);
    EXPECT_EQ(texto("StaticText_version_acargar"), "4.12");
    siguienteFichero.reset();
    c<QToolButton>("SpeedButton_fichero")->click();
    EXPECT_EQ(cajas.textos, QStringList{"Not File"});
    EXPECT_EQ(texto("StaticText_version_acargar"), "4.12");
    EXPECT_EQ(QDir::fromNativeSeparators(c<QLineEdit>("Edit_fichero")->text()), elegido);
    ASSERT_TRUE(cargarYEsperar());
    EXPECT_EQ(texto("Label_estado"), "OK: Update completed");
    EXPECT_EQ(arm->software().records().identification, "FIRMVTR-900_0412");
}

// The file field shows what will be loaded and nothing else: it cannot be typed
// into, and its tool tip gives the whole path.
TEST_F(VentanaTest, FileFieldIsReadOnlyWithTheFullPathAsItsTip) {
    crearVentana();
    const QString elegido = muestra("vtr900_xa_0310.hex");
    elegirFichero(elegido);
    auto* campo = c<QLineEdit>("Edit_fichero");
    EXPECT_TRUE(campo->isReadOnly());
    EXPECT_EQ(campo->toolTip(), QDir::toNativeSeparators(elegido));
    campo->setFocus();
    QTest::keyClicks(campo, "/tmp/other.hex");
    QTest::keyClick(campo, Qt::Key_Return);
    EXPECT_EQ(campo->text(), QDir::toNativeSeparators(elegido));
}

// The open dialog offers firmware files first, adds no suffix, starts in the user's
// documents and then wherever the last file was chosen, also in the next session.
TEST_F(VentanaTest, FileDialogRemembersItsFolderAndOffersFirmwareFiles) {
    crearVentana();
    QFileDialog& d = w->OpenDialog_firmware();
    EXPECT_EQ(d.nameFilters(),
              (QStringList{"Firmware (*.hex *.HEX *.bin *.BIN)", "All files (*)"}));
    EXPECT_EQ(d.defaultSuffix(), "");
    const QString documentos = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    EXPECT_EQ(QDir(d.directory()).absolutePath(),
              QDir(QFileInfo(documentos).isDir() ? documentos : QDir::homePath()).absolutePath());

    QTemporaryDir carpeta;
    const QString fichero = carpeta.filePath("unit.hex");
    ASSERT_TRUE(QFile::copy(muestra("vtr900_xa_0310.hex"), fichero));
    elegirFichero(fichero);
    EXPECT_EQ(QDir(d.directory()).canonicalPath(), QDir(carpeta.path()).canonicalPath());
    // A cancelled dialog changes nothing.
    siguienteFichero.reset();
    c<QToolButton>("SpeedButton_fichero")->click();
    EXPECT_EQ(QDir(d.directory()).canonicalPath(), QDir(carpeta.path()).canonicalPath());

    w.reset(); // the next session
    crearVentana();
    EXPECT_EQ(QDir(w->OpenDialog_firmware().directory()).canonicalPath(),
              QDir(carpeta.path()).canonicalPath());
}

// ---- the Monitor page

TEST_F(VentanaTest, MonitorOverThousandLinesIsEmptiedAndDroppedLinesAreShown) {
    crearVentana();
    // An idle worker whose queue only this test fills (one producer).
    auto* g = new Tmgrupo_superv();
    grupos_supev[3].store(g);
    auto* memo = c<QPlainTextEdit>("Memo_tramas_tx");
    for (int i = 0; i < 1001; ++i)
        memo->appendPlainText(QString("line %1").arg(i));
    ASSERT_EQ(w->lineasMemo(), 1001);
    auto linea = [](const std::string& t) {
        auto* m = new Tmensaje();
        m->ftraza = t;
        return m;
    };
    g->traza_log.add(linea("TX->A5,01"));
    w->Timer_eventosTimer();
    EXPECT_EQ(w->lineasMemo(), 1);
    EXPECT_EQ(memo->toPlainText(), "TX->A5,01");

    // A full queue drops what does not fit; the page says how many.
    for (int i = 0; i < MAX_MENSAJES + 3; ++i)
        g->traza_log.add(linea("RX->" + std::to_string(i)));
    w->Timer_eventosTimer();
    EXPECT_FALSE(g->traza_log.hay_mensajes());
    const QString ultima = memo->document()->lastBlock().text();
    EXPECT_TRUE(ultima.contains("3 trace lines dropped")) << ultima.toStdString();
    EXPECT_LE(w->lineasMemo(), 1001);

    // Raw bytes of the bootloaders, or garbage, stay readable.
    c<QPushButton>("BitBtn_borrar")->click();
    EXPECT_EQ(w->lineasMemo(), 0);
    g->traza_log.add(linea("\x7F"));
    g->traza_log.add(linea(std::string("y\xFF\x00Z", 4)));
    g->traza_log.add(linea(":00000001FF\r\n"));
    g->traza_log.add(linea("ER->ERREUR CHECKSUM \xC3\xA9"));
    w->Timer_eventosTimer();
    EXPECT_EQ(memo->toPlainText().split('\n'),
              (QStringList{"<7F>", "y<FF><00>Z", ":00000001FF",
                           QString::fromUtf8("ER->ERREUR CHECKSUM \xC3\xA9")}));

    auto* traza = c<QCheckBox>("CheckBox_traza");
    hab_traza = true;
    traza->click();
    EXPECT_FALSE(hab_traza);
    traza->click();
    EXPECT_TRUE(hab_traza);
}

// ---- language and captions

struct CasoIdioma {
    const char* nombre;
    QLocale::Language idioma;
    const char* diccionario; // "" = the one installed next to the program
    int mensajes;            // idioma_actual_texto
    const char* label5;
    const char* load;
    const char* errorPuerto; // nullptr: entry 6 of the table in that language, then 3
};

void PrintTo(const CasoIdioma& k, std::ostream* os) {
    *os << k.nombre;
}

class IdiomaTest : public VentanaTest, public ::testing::WithParamInterface<CasoIdioma> {};

TEST_P(IdiomaTest, LocaleChoosesMessagesAndCaptions) {
    const CasoIdioma& k = GetParam();
    QLocale::setDefault(QLocale(k.idioma));
    QTemporaryDir d;
    QString dic;
    if (std::string(k.diccionario) == "missing") {
        dic = d.filePath("vtr900prog.mld");
    } else if (std::string(k.diccionario) == "broken") {
        dic = d.filePath("vtr900prog.mld");
        QFile f(dic);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[fr\nLabel5=\"Version actuelle\nBitBtn_start=\"Charger\"\n");
    }
    idioma_actual_texto = 2; // shows that an unknown language falls back to French
    crearVentana(dic);
    EXPECT_EQ(idioma_actual_texto.load(), k.mensajes);
    EXPECT_EQ(texto("Label5"), k.label5);
    EXPECT_EQ(load()->text(), k.load);
    EXPECT_EQ(w->windowTitle(), "VTR-900 Firmware Loader");
    radioPuerto(2)->click();
    const QString error =
        (k.errorPuerto ? QString::fromUtf8(k.errorPuerto)
                       : QString::fromStdString(texto_mensaje(k.mensajes, 6) + "3")) +
        QStringLiteral(" (/nonexistent/vtr900-port2)");
    EXPECT_TRUE(esperarQue([&] { return texto("Label_estado").split('\n').first() == error; }))
        << texto("Label_estado").toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Locales, IdiomaTest,
    ::testing::Values(CasoIdioma{"GermanKeepsFrenchMessagesAndFormCaptions", QLocale::German, "", 0,
                                 "Current Firmware Version", "Load", "Erreur: Port --> COM3"},
                      CasoIdioma{"FrenchTakesTheDictionarysFrench", QLocale::French, "", 0,
                                 "Version actuelle du firmware", "Charger",
                                 "Erreur: Port --> COM3"},
                      CasoIdioma{"SpanishTakesTheDictionarysSpanish", QLocale::Spanish, "", 1,
                                 "Versión actual del firmware", "Cargar", nullptr},
                      CasoIdioma{"ItalianWithoutDictionaryKeepsFormCaptions", QLocale::Italian,
                                 "missing", 3, "Current Firmware Version", "Load", nullptr},
                      CasoIdioma{"FrenchWithBrokenDictionaryKeepsFormCaptions", QLocale::French,
                                 "broken", 0, "Current Firmware Version", "Load",
                                 "Erreur: Port --> COM3"}),
    [](const ::testing::TestParamInfo<CasoIdioma>& i) { return std::string(i.param.nombre); });

// Every caption of the dictionary fits its control in every language: a control is
// never given less room than its size hint asks for, on every page and with the
// image choice shown; Qt's own texts (box and dialog buttons) speak the language too.
struct CasoAjuste {
    const char* nombre;
    QLocale::Language idioma;
    const char* cancelar; // Qt's own "Cancel" in that language
};

void PrintTo(const CasoAjuste& k, std::ostream* os) {
    *os << k.nombre;
}

class AjusteTest : public VentanaTest, public ::testing::WithParamInterface<CasoAjuste> {};

TEST_P(AjusteTest, EveryCaptionFitsItsControl) {
    const CasoAjuste& k = GetParam();
    QLocale::setDefault(QLocale(k.idioma));
    crearVentana();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    EXPECT_GE(w->width(), TPagesDlg_principal::ANCHO);
    EXPECT_GE(w->height(), TPagesDlg_principal::ALTO);

    auto comprobar = [&](const char* estado, int minimo) {
        SCOPED_TRACE(estado);
        QTest::qWait(5); // the layout settles
        int vistos = 0;
        for (QWidget* x : w->findChildren<QWidget*>()) {
            if (!x->isVisible() || x->window() != w.get())
                continue;
            QSize hint;
            if (auto* l = qobject_cast<QLabel*>(x); l && !l->wordWrap() && !l->text().isEmpty())
                hint = l->sizeHint();
            else if (auto* b = qobject_cast<QAbstractButton*>(x); b && !b->text().isEmpty())
                hint = b->sizeHint();
            else if (auto* g = qobject_cast<QGroupBox*>(x))
                hint = g->minimumSizeHint();
            else
                continue;
            ++vistos;
            EXPECT_GE(x->width(), hint.width())
                << x->objectName().toStdString() << " is clipped: " << x->width() << " < "
                << hint.width();
            EXPECT_GE(x->height(), hint.height()) << x->objectName().toStdString();
        }
        EXPECT_GE(vistos, minimo) << "captions measured";
    };
    auto* tabs = c<QTabWidget>("PageControl_principal");
    comprobar("Update page", 20);
    c("GroupBox5")->show();
    comprobar("Update page with the image choice", 27);
    c("GroupBox5")->hide();
    w->mostrarMonitor(true);
    comprobar("Monitor page", 3);
    tabs->setCurrentIndex(2);
    comprobar("About page", 5);

    QDialogButtonBox botones(QDialogButtonBox::Cancel);
    EXPECT_EQ(botones.button(QDialogButtonBox::Cancel)->text().remove(QLatin1Char('&')),
              QString::fromUtf8(k.cancelar));
}

INSTANTIATE_TEST_SUITE_P(Idiomas, AjusteTest,
                         ::testing::Values(CasoAjuste{"French", QLocale::French, "Annuler"},
                                           CasoAjuste{"Spanish", QLocale::Spanish, "Cancelar"},
                                           CasoAjuste{"English", QLocale::English, "Cancel"},
                                           CasoAjuste{"Italian", QLocale::Italian, "Annulla"}),
                         [](const ::testing::TestParamInfo<CasoAjuste>& i) {
                             return std::string(i.param.nombre);
                         });

// ---- closing

TEST_F(VentanaTest, ClosingDuringALoadLetsItFinishAndEndsEveryWorker) {
    auto arm = conUnidad(0, SimUnit::Controller::ARM);
    conUnidad(1, SimUnit::Controller::XA);
    crearVentana();
    w->show();
    ASSERT_TRUE(elegirPuerto(1));
    ASSERT_TRUE(elegirPuerto(0));
    elegirFichero(muestra("vtr900_arm_0412.hex"));
    // The operator closes the window as soon as the worker reports from the load.
    bool duranteCarga = false;
    bool pedido = false;
    QObject::connect(w.get(), &TPagesDlg_principal::estadoMostrado, w.get(), [&](const QString& t) {
        if (pedido || t == "Updating Firmware ...")
            return;
        pedido = true;
        QTimer::singleShot(0, w.get(), [&] {
            duranteCarga = grabar_firmware;
            w->close();
        });
    });
    load()->click();
    ASSERT_TRUE(grabar_firmware);
    ASSERT_TRUE(esperarQue([&] { return !w->isVisible(); }));
    EXPECT_TRUE(duranteCarga);
    EXPECT_FALSE(grabar_firmware);
    EXPECT_TRUE(arm->software().records().completed) << "the load was allowed to finish";
    for (size_t i = 0; i <= MAX_PUERTOS; ++i) {
        EXPECT_EQ(grupos_supev[i].load(), nullptr) << i;
        EXPECT_EQ(puertos[i].load(), nullptr) << i;
    }
    EXPECT_FALSE(w->Timer_eventos().isActive());
}

#include "window_test.moc"
