#include "ui/window/fprincipal.h"

#include "common/global.h"
#include "common/texto_traza.h"
#include "comms/tint_enlace.h"
#include "loader/tmgrupo_superv.h"
#include "ui/window/traductor_captions.h"
#include "ui_fprincipal.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTextBlock>
#include <QThread>

#include <exception>

namespace {

constexpr int MSG_ACTUALIZANDO = 3;        // "Updating Firmware ..."
constexpr int MSG_DETECTANDO = 5;          // "Detecting VTR-900 ..."
constexpr int MSG_ESPERE = 9;              // " Wait  ..."
constexpr int MSG_SELECCIONE_VERSION = 21; // "Select Version"

constexpr int INDICE_MONITOR = 1; // tab index of the Monitor page

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

void procesarEventos() {
    QCoreApplication::processEvents();
}

} // namespace

// The window's pictures live in a static library: their registration is pulled in
// by hand, before the form loads them.
static void registrarRecursos() {
    Q_INIT_RESOURCE(fprincipal);
}

// ---- the worker's callbacks

OyenteVentana::OyenteVentana(TPagesDlg_principal& ventana) : ventana_(ventana) {
    connect(this, &OyenteVentana::llamadaPendiente, this, &OyenteVentana::ejecutarPendiente,
            Qt::BlockingQueuedConnection);
}

void OyenteVentana::ejecutarPendiente() {
    std::function<void()> f;
    {
        std::lock_guard<std::mutex> lock(m_);
        f = std::move(pendiente_);
        pendiente_ = nullptr;
    }
    if (f)
        f();
    std::lock_guard<std::mutex> lock(m_);
    ++hechas_;
}

void OyenteVentana::enHiloVentana(const std::function<void()>& f) {
    if (QThread::currentThread() == thread()) {
        f();
        return;
    }
    std::lock_guard<std::mutex> serie(serie_);
    {
        std::lock_guard<std::mutex> lock(m_);
        pendiente_ = f;
    }
    emit llamadaPendiente(); // returns when the window has run it
    std::lock_guard<std::mutex> lock(m_);
    (void)hechas_;
}

void OyenteVentana::setStatusText(const std::string& text) {
    enHiloVentana([&] { ventana_.mostrarEstado(q(text)); });
}

void OyenteVentana::setLoadEnabled(bool enabled) {
    enHiloVentana([&] { ventana_.ui().BitBtn_start->setEnabled(enabled); });
}

void OyenteVentana::setVersionText(const std::string& version) {
    enHiloVentana([&] { ventana_.ui().StaticText_version->setText(q(version)); });
}

void OyenteVentana::setProgress(int percent) {
    enHiloVentana([&] { ventana_.ui().LMDProgressFill_progreso->setValue(percent); });
}

void OyenteVentana::setVersionToLoad(const std::string& version) {
    enHiloVentana([&] { ventana_.ui().StaticText_version_acargar->setText(q(version)); });
}

void OyenteVentana::showResult(int /*entry*/, const std::string& text) {
    enHiloVentana([&] { ventana_.mostrarEstado(q(text)); });
}

void OyenteVentana::finishLoad() {
    enHiloVentana([&] {
        auto& u = ventana_.ui();
        u.LMDProgressFill_progreso->setValue(0);
        u.LMDProgressFill_progreso->hide();
        u.Label_progreso->hide();
        u.BitBtn_start->setEnabled(true);
    });
}

// ---- what the file selection shows

void VistaFicherosVentana::showFileError(int entry) {
    QMessageBox::critical(&ventana_, QCoreApplication::applicationName(), q(texto_mensaje(entry)));
}

void VistaFicherosVentana::setFileName(const std::string& path) {
    ventana_.ui().Edit_fichero->setText(QDir::toNativeSeparators(q(path)));
}

void VistaFicherosVentana::setModuleText(const std::string& t) {
    ventana_.ui().StaticText_modulo->setText(q(t));
}

void VistaFicherosVentana::setVersionToLoad(const std::string& t) {
    ventana_.ui().StaticText_version_acargar->setText(q(t));
}

void VistaFicherosVentana::setLoadEnabled(bool enabled) {
    ventana_.ui().BitBtn_start->setEnabled(enabled);
}

void VistaFicherosVentana::hideVersionGroup() {
    ventana_.ui().GroupBox5->hide();
}

void VistaFicherosVentana::processEvents() {
    procesarEventos();
}

// ---- the window

TPagesDlg_principal::TPagesDlg_principal(QWidget* parent, const QString& dictionary)
    : QDialog(parent), ui_(std::make_unique<Ui::TPagesDlg_principal>()), oyente_(*this),
      vista_(*this), dialogo_(std::make_unique<QFileDialog>(this)) {
    registrarRecursos();
    ui_->setupUi(this);
    FormCreate(dictionary);
}

TPagesDlg_principal::~TPagesDlg_principal() {
    // Closing ends the workers; a window released without being closed does the same,
    // before the widgets their callbacks write go.
    terminarTrabajadores();
}

int TPagesDlg_principal::idiomaCaptions(int idiomaMensajes) {
    switch (idiomaMensajes) {
    case 0:
        return 2;
    case 1:
        return 3;
    case 2:
        return 1;
    case 3:
        return 4;
    default:
        return 0;
    }
}

QString TPagesDlg_principal::rutaDiccionario() {
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("vtr900prog.mld"));
}

QUrl TPagesDlg_principal::urlDocumentacion() {
    // Next to the program when installed, or at the top of the source tree for a
    // program run from its build folder.
    const QDir dir(QCoreApplication::applicationDirPath());
    for (const QString& c : {QStringLiteral("README.md"), QStringLiteral("../README.md"),
                             QStringLiteral("../share/doc/vtr900prog/README.md")}) {
        const QFileInfo fi(dir.filePath(c));
        if (fi.isFile())
            return QUrl::fromLocalFile(fi.canonicalFilePath());
    }
    return QUrl::fromLocalFile(dir.filePath(QStringLiteral("README.md")));
}

void TPagesDlg_principal::FormCreate(const QString& dictionary) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(ANCHO, ALTO);
    setSizeGripEnabled(false);

    // Pictures of the buttons: the platform's own icons.
    QStyle* st = style();
    ui_->SpeedButton1->setIcon(st->standardIcon(QStyle::SP_BrowserReload));
    ui_->SpeedButton_fichero->setIcon(st->standardIcon(QStyle::SP_DialogOpenButton));
    ui_->BitBtn_start->setIcon(st->standardIcon(QStyle::SP_ArrowForward));
    ui_->BitBtn_borrar->setIcon(st->standardIcon(QStyle::SP_DialogResetButton));

    // Start states. The progress line keeps its room while hidden, so that the status
    // group does not change height; the Version group gives its room to the status
    // group while no image is being chosen.
    for (QWidget* w : {static_cast<QWidget*>(ui_->Label_progreso),
                       static_cast<QWidget*>(ui_->LMDProgressFill_progreso)}) {
        QSizePolicy sp = w->sizePolicy();
        sp.setRetainSizeWhenHidden(true);
        w->setSizePolicy(sp);
        w->hide();
    }
    ui_->GroupBox5->hide();
    ui_->LMDProgressFill_progreso->setRange(0, 100);
    ui_->LMDProgressFill_progreso->setValue(0);
    ui_->Memo_tramas_tx->setMaximumBlockCount(0);
    ui_->PageControl_principal->setTabVisible(INDICE_MONITOR, false);
    ui_->PageControl_principal->setCurrentIndex(0);
    const QUrl doc = urlDocumentacion();
    ui_->Label18->setText(
        QStringLiteral("<a href=\"%1\" style=\"color: navy; text-decoration: underline;\">%2</a>")
            .arg(doc.toString().toHtmlEscaped(),
                 QStringLiteral("VTR-900 Firmware Loader: README")));
    ui_->Label18->setToolTip(doc.toLocalFile());

    dialogo_->setObjectName(QStringLiteral("OpenDialog_firmware"));
    dialogo_->setFileMode(QFileDialog::ExistingFile);
    dialogo_->setAcceptMode(QFileDialog::AcceptOpen);
    dialogo_->setDefaultSuffix(QStringLiteral("hex"));
    dialogo_->setDirectory(QCoreApplication::applicationDirPath());
    selector_ = [](QFileDialog& d) -> std::optional<QString> {
        if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty())
            return std::nullopt;
        return d.selectedFiles().constFirst();
    };

    timer_.setObjectName(QStringLiteral("Timer_eventos"));
    timer_.setInterval(PERIODO_EVENTOS_MS);
    conectar();

    // Language: messages and captions follow the locale's primary language; any
    // other language keeps French messages and the form's own captions.
    idioma_actual_texto = 0;
    const int idioma = elegir_idioma_del_sistema(QLocale());
    if (idioma >= 0) {
        TraductorCaptions traductor;
        if (traductor.cargar(dictionary.isEmpty() ? rutaDiccionario() : dictionary,
                             idiomaCaptions(idioma)))
            traductor.aplicar(this);
    }

    for (auto& p : puertos)
        p.store(nullptr);
    for (auto& g : grupos_supev)
        g.store(nullptr);
    pedir_estado = false;

    monitorActivo_ = true;
    timer_.start();
    centrar();
}

void TPagesDlg_principal::conectar() {
    for (int i = 0; i < MAX_PUERTOS; ++i)
        connect(radioPuerto(i), &QRadioButton::clicked, this,
                &TPagesDlg_principal::RadioButton_com1Click);
    connect(ui_->SpeedButton1, &QToolButton::clicked, this,
            &TPagesDlg_principal::SpeedButton1Click);
    connect(ui_->SpeedButton_fichero, &QToolButton::clicked, this,
            &TPagesDlg_principal::SpeedButton_ficheroClick);
    connect(ui_->BitBtn_start, &QPushButton::clicked, this, &TPagesDlg_principal::CargarClick);
    connect(ui_->RadioButton1, &QRadioButton::clicked, this,
            &TPagesDlg_principal::RadioButton1Click);
    connect(ui_->RadioButton3, &QRadioButton::clicked, this,
            &TPagesDlg_principal::RadioButton3Click);
    connect(ui_->BitBtn_borrar, &QPushButton::clicked, this,
            &TPagesDlg_principal::BitBtn_borrarClick);
    connect(ui_->CheckBox_traza, &QCheckBox::clicked, this,
            &TPagesDlg_principal::CheckBox_trazaClick);
    connect(ui_->Label18, &QLabel::linkActivated, this, &TPagesDlg_principal::Label18Click);
    connect(&timer_, &QTimer::timeout, this, &TPagesDlg_principal::Timer_eventosTimer);
    auto* atajo = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M), this);
    atajo->setObjectName(QStringLiteral("Atajo_monitor"));
    connect(atajo, &QShortcut::activated, this, [this] { mostrarMonitor(!monitorVisible()); });
}

void TPagesDlg_principal::centrar() {
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        QRect r = frameGeometry();
        r.moveCenter(s->availableGeometry().center());
        move(r.topLeft());
    }
}

QRadioButton* TPagesDlg_principal::radioPuerto(int idx) const {
    switch (idx) {
    case 0:
        return ui_->RadioButton_com1;
    case 1:
        return ui_->RadioButton_com2;
    case 2:
        return ui_->RadioButton_com3;
    default:
        return ui_->RadioButton_com4;
    }
}

AccionesPuerto TPagesDlg_principal::acciones() {
    AccionesPuerto a;
    a.detenerMonitor = [this] {
        monitorActivo_ = false;
        timer_.stop();
        ui_->BitBtn_start->setEnabled(false);
    };
    a.procesarEventos = procesarEventos;
    a.mostrarEstado = [this](const std::string& t) { mostrarEstado(q(t)); };
    a.falloApertura = [this] {
        ui_->LMDProgressFill_progreso->hide();
        ui_->Label_progreso->hide();
        ui_->BitBtn_start->setEnabled(false);
    };
    a.iniciarMonitor = [this] {
        monitorActivo_ = true;
        timer_.start();
    };
    return a;
}

void TPagesDlg_principal::mostrarEstado(const QString& texto) {
    ui_->Label_estado->setText(texto);
    emit estadoMostrado(texto);
}

void TPagesDlg_principal::mostrarMonitor(bool visible) {
    ui_->PageControl_principal->setTabVisible(INDICE_MONITOR, visible);
    if (visible)
        ui_->PageControl_principal->setCurrentIndex(INDICE_MONITOR);
}

bool TPagesDlg_principal::monitorVisible() const {
    return ui_->PageControl_principal->isTabVisible(INDICE_MONITOR);
}

int TPagesDlg_principal::lineasMemo() const {
    const QTextDocument* d = ui_->Memo_tramas_tx->document();
    return d->isEmpty() ? 0 : d->blockCount();
}

void TPagesDlg_principal::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    FormShow();
}

void TPagesDlg_principal::closeEvent(QCloseEvent* e) {
    FormClose();
    e->accept();
}

void TPagesDlg_principal::reject() {
    close();
}

// ---- handlers

void TPagesDlg_principal::FormShow() {
    ui_->PageControl_principal->setFocus();
}

void TPagesDlg_principal::FormClose() {
    detener_monitorizacion(acciones());
    monitorActivo_ = false;
    timer_.stop();
    terminarTrabajadores();
}

void TPagesDlg_principal::terminarTrabajadores() {
    if (cerrado_)
        return;
    cerrado_ = true;
    monitorActivo_ = false;
    timer_.stop();
    if (grabar_firmware.load()) {
        // A running load cannot be cut short without leaving the unit half written:
        // the window waits for it and says so.
        mostrarEstado(q(texto_mensaje(MSG_ESPERE)));
        ui_->PageControl_principal->setEnabled(false);
        procesarEventos();
    }
    // Each worker finishes the request in hand, gives its port up and ends; the
    // window's events are served meanwhile, so a worker blocked in a callback goes on.
    liberar_trabajadores();
}

void TPagesDlg_principal::RadioButton_com1Click() {
    tipo_vtr = TIPO_VTR_NONE;
    ui_->GroupBox5->hide();
    int nuevo = puerto_seleccionado.load();
    for (int i = 0; i < MAX_PUERTOS; ++i) {
        if (radioPuerto(i)->isChecked()) {
            nuevo = i;
            break;
        }
    }
    seleccionar_puerto(nuevo, &oyente_, acciones());
}

void TPagesDlg_principal::SpeedButton1Click() {
    const int p = puerto_seleccionado.load();
    if (p < 0 || p >= MAX_PUERTOS)
        return;
    Tmgrupo_superv* g = grupos_supev[static_cast<size_t>(p)].load();
    if (!g || !puertos[static_cast<size_t>(p)].load() || !g->fmon.load())
        return;
    mostrarEstado(q(texto_mensaje(MSG_DETECTANDO)));
    ui_->GroupBox5->hide();
    pedir_estado = true;
}

void TPagesDlg_principal::SpeedButton_ficheroClick() {
    if (const std::optional<QString> elegido = selector_(*dialogo_))
        ultimoFichero_ = *elegido;
    try {
        seleccionar_fichero(ultimoFichero_.toStdString(), vista_);
    } catch (const std::exception& e) {
        // A file that cannot be read or written ends the selection here.
        QMessageBox::critical(this, QCoreApplication::applicationName(),
                              QString::fromLocal8Bit(e.what()));
    }
}

void TPagesDlg_principal::mostrarEleccionVersion() {
    ui_->RadioButton1->show();
    ui_->RadioButton3->show();
    ui_->BitBtn_start->setEnabled(false);
    mostrarEstado(q(texto_mensaje(MSG_SELECCIONE_VERSION)));
    procesarEventos();
    ui_->GroupBox5->show();
    // CLASS A is the image offered first. Choosing it also when it was still checked
    // from an earlier load makes Load usable again.
    ui_->RadioButton1->setChecked(true);
    RadioButton1Click();
}

void TPagesDlg_principal::CargarClick() {
    if (ui_->Edit_fichero->text().isEmpty())
        SpeedButton_ficheroClick();

    const std::string sw = tipo_sw;
    const std::string vtr = tipo_vtr;
    if (sw == TIPO_FIRM_VTR_JOINT && vtr == TIPO_VTR_XA) {
        // Joint file on an XA unit: the operator chooses the image first.
        mostrarEleccionVersion();
        return;
    }
    if (sw == TIPO_FIRM_VTR_JOINT && vtr == TIPO_VTR_ARM) {
        ui_->StaticText_version_acargar->setText(q(vtr_ARM_version));
        procesarEventos();
        ui_->GroupBox5->hide();
    }
    // An image already chosen (CLASS A or USB-I2C) is loaded as chosen.

    if (!ui_->Edit_fichero->text().isEmpty()) {
        const std::string eleccion = tipo_sw;
        try {
            if (eleccion == TIPO_FIRM_VTR_JOINT || eleccion == TIPO_FIRM_VTR_XAI2C ||
                eleccion == TIPO_FIRM_VTR_XACLASSA)
                selecciona_FirmW_VTR(vista_);
        } catch (const std::exception& e) {
            QMessageBox::critical(this, QCoreApplication::applicationName(),
                                  QString::fromLocal8Bit(e.what()));
            return;
        }
        // A rejected file, or images that cannot be loaded, are never sent: what the
        // bank images still hold belongs to an earlier file.
        if (const int entrada = comprobar_seleccion_para_carga(); entrada >= 0) {
            mostrarEstado(q(texto_mensaje(entrada)));
            return;
        }
        ui_->LMDProgressFill_progreso->setValue(0);
        ui_->LMDProgressFill_progreso->show();
        ui_->Label_progreso->show();
        if (Tmgrupo_superv* g =
                grupos_supev[static_cast<size_t>(puerto_seleccionado.load())].load())
            g->pedir_carga(trabajo_desde_globales());
        ui_->GroupBox5->hide();
        ui_->BitBtn_start->setEnabled(false);
        mostrarEstado(q(texto_mensaje(MSG_ACTUALIZANDO)));
    }
    procesarEventos();
}

void TPagesDlg_principal::RadioButton1Click() {
    tipo_sw = TIPO_FIRM_VTR_XACLASSA;
    ui_->BitBtn_start->setEnabled(true);
    ui_->StaticText_version_acargar->setText(q(vtr_CLASSA_version));
}

void TPagesDlg_principal::RadioButton3Click() {
    tipo_sw = TIPO_FIRM_VTR_XAI2C;
    ui_->BitBtn_start->setEnabled(true);
    ui_->StaticText_version_acargar->setText(q(vtr_I2C_version));
}

void TPagesDlg_principal::anadirLineaMemo(const QString& linea) {
    if (lineasMemo() > MAX_LINEAS_MEMO)
        ui_->Memo_tramas_tx->clear();
    ui_->Memo_tramas_tx->appendPlainText(linea);
}

void TPagesDlg_principal::Timer_eventosTimer() {
    timer_.stop();
    for (int i = 0; i < MAX_PUERTOS; ++i) {
        Tmgrupo_superv* g = grupos_supev[static_cast<size_t>(i)].load();
        if (!g)
            continue;
        while (g->traza_log.hay_mensajes()) {
            if (const Tmensaje* m = g->traza_log.primero())
                anadirLineaMemo(texto_traza_visible(m->ftraza));
            delete g->traza_log.leer();
        }
        // Lines the worker could not queue while the trace was full are not lost
        // silently.
        if (const uint64_t perdidas = g->traza_log.tomar_descartados(); perdidas > 0)
            anadirLineaMemo(QStringLiteral("COM%1: %2 trace lines dropped (trace queue full)")
                                .arg(i + 1)
                                .arg(perdidas));
    }
    procesarEventos();
    if (monitorActivo_ && !cerrado_)
        timer_.start();
}

void TPagesDlg_principal::BitBtn_borrarClick() {
    ui_->Memo_tramas_tx->clear();
}

void TPagesDlg_principal::CheckBox_trazaClick() {
    hab_traza = ui_->CheckBox_traza->isChecked();
}

void TPagesDlg_principal::Label18Click() {
    QDesktopServices::openUrl(urlDocumentacion());
}
