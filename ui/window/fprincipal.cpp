#include "ui/window/fprincipal.h"

#include "common/global.h"
#include "common/idiomas.h"
#include "common/version_programa.h"
#include "comms/nombres_puerto.h"
#include "comms/tint_enlace.h"
#include "loader/tmgrupo_superv.h"
#include "ui/comun/carga.h"
#include "ui/window/traductor_captions.h"
#include "ui_fprincipal.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QStandardPaths>
#include <QStyle>
#include <QTextBlock>
#include <QThread>
#include <QTranslator>

#include <array>
#include <chrono>

namespace {

constexpr int INDICE_MONITOR = 1; // tab index of the Monitor page

// Where the folder of the last firmware file chosen is remembered, per user.
const QString AJUSTE_CARPETA = QStringLiteral("dialogo/carpeta");
QSettings ajustes() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("vtr900prog"),
                     QStringLiteral("vtr900prog"));
}

// A unit answered on the port shown: only then is there something to load into.
bool unidad_detectada() {
    return tipo_vtr == TIPO_VTR_ARM || tipo_vtr == TIPO_VTR_XA;
}

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

void procesarEventos() {
    QCoreApplication::processEvents();
}

// A value field with nothing to show says so: an empty one would have a screen
// reader fall back to reading its caption as if it were the value.
void mostrarValor(QLabel* campo, const QString& valor) {
    campo->setText(valor.trimmed().isEmpty() ? TPagesDlg_principal::SIN_VALOR : valor);
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
    // Taken again after the call, so that what the window did is published to the
    // worker, which takes the same lock when the call returns.
    std::lock_guard<std::mutex> lock(m_);
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
}

void OyenteVentana::setStatusText(const std::string& text) {
    enHiloVentana([&] { ventana_.mostrarEstado(q(text)); });
}

void OyenteVentana::setLoadEnabled(bool enabled) {
    enHiloVentana([&] { ventana_.ui().BitBtn_start->setEnabled(enabled && unidad_detectada()); });
}

void OyenteVentana::setVersionText(const std::string& version) {
    enHiloVentana([&] { mostrarValor(ventana_.ui().StaticText_version, q(version)); });
}

void OyenteVentana::setProgress(int percent) {
    enHiloVentana([&] { ventana_.mostrarProgreso(percent); });
}

void OyenteVentana::showWait(Espera what, int msec) {
    enHiloVentana([&] { ventana_.mostrarEspera(what, msec); });
}

void OyenteVentana::setVersionToLoad(const std::string& version) {
    enHiloVentana([&] { mostrarValor(ventana_.ui().StaticText_version_acargar, q(version)); });
}

void OyenteVentana::showNote(const std::string& text) {
    enHiloVentana([&] {
        nota_ = q(text);
        ventana_.mostrarEstado(nota_);
    });
}

void OyenteVentana::showResult(int /*entry*/, const std::string& text) {
    // The load is over: what remains until Load comes back is the time the result is
    // shown, not work, so no bar says otherwise. The result first; a note that
    // explains it (the two versions, a file's reason) stays below it.
    enHiloVentana([&] {
        ventana_.terminarEspera();
        ventana_.ui().Label_fase->hide();
        ventana_.ui().LMDProgressFill_progreso->hide();
        ventana_.ui().Label_progreso->hide();
        QString t = q(text);
        if (!nota_.isEmpty())
            t += QLatin1Char('\n') + nota_;
        nota_.clear();
        ventana_.mostrarEstado(t);
    });
}

void OyenteVentana::finishLoad() {
    enHiloVentana([&] {
        auto& u = ventana_.ui();
        ventana_.terminarEspera();
        u.Label_fase->hide();
        u.LMDProgressFill_progreso->setValue(0);
        u.LMDProgressFill_progreso->hide();
        u.Label_progreso->hide();
        u.BitBtn_start->setEnabled(true);
        ventana_.bloquearSeleccion(false);
        // The image of a joint file was chosen for this load only: the next Load of
        // the same file asks again.
        ventana_.eleccion_ = EleccionXa::Ninguna;
    });
}

void OyenteVentana::portOpenDone(bool opened) {
    enHiloVentana([&] {
        auto& u = ventana_.ui();
        if (!opened) {
            u.LMDProgressFill_progreso->hide();
            u.Label_progreso->hide();
            u.BitBtn_start->setEnabled(false);
        }
        ventana_.bloquearPuertos(false);
    });
}

// ---- what the file selection shows

void VistaFicherosVentana::showFileError(Mensaje entry, const std::string& motivo) {
    // The table's text first; why, when there is more to say, on a line of its own.
    QString texto = q(texto_mensaje(entry));
    if (!motivo.empty())
        texto += QLatin1Char('\n') + q(motivo);
    ventana_.mostrarError(texto);
}

void VistaFicherosVentana::setFileName(const std::string& path) {
    // The field shows the end of a long path; its tool tip gives all of it.
    const QString nativo = QDir::toNativeSeparators(q(path));
    ventana_.ui().Edit_fichero->setText(nativo);
    ventana_.ui().Edit_fichero->setToolTip(nativo);
}

void VistaFicherosVentana::setModuleText(const std::string& t) {
    mostrarValor(ventana_.ui().StaticText_modulo, q(t));
}

void VistaFicherosVentana::setVersionToLoad(const std::string& t) {
    mostrarValor(ventana_.ui().StaticText_version_acargar, q(t));
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
    // The form's own captions carry the version the build was made from.
    ui_->Label4->setText(QStringLiteral("V") + QLatin1String(VERSION_PROGRAMA));
    ui_->Version->setText(QStringLiteral("Version:  ") + QLatin1String(VERSION_PROGRAMA));
    FormCreate(dictionary);
}

TPagesDlg_principal::~TPagesDlg_principal() {
    if (traductorQt_)
        QCoreApplication::removeTranslator(traductorQt_.get());
    // Closing ends the workers; a window released without being closed does the same,
    // before the widgets their callbacks write go.
    terminarTrabajadores();
}

int TPagesDlg_principal::idiomaCaptions(int idiomaMensajes) {
    return captions_para_idioma(idiomaMensajes);
}

QString TPagesDlg_principal::rutaDiccionario() {
    // Next to the program (its build folder), in the data folder of an installed
    // program (any prefix), then wherever the system keeps application data.
    const QDir dir(QCoreApplication::applicationDirPath());
    for (const QString& c :
         {QStringLiteral("vtr900prog.mld"), QStringLiteral("../share/vtr900prog/vtr900prog.mld")})
        if (QFileInfo(dir.filePath(c)).isFile())
            return dir.filePath(c);
    const QString instalado = QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                                     QStringLiteral("vtr900prog/vtr900prog.mld"));
    return instalado.isEmpty() ? dir.filePath(QStringLiteral("vtr900prog.mld")) : instalado;
}

QUrl TPagesDlg_principal::urlDocumentacion() {
    // Next to the program in its build folder (the build copies it there), or in the
    // documentation folder of an installed program.
    const QDir dir(QCoreApplication::applicationDirPath());
    for (const QString& c :
         {QStringLiteral("README.md"), QStringLiteral("../share/doc/vtr900prog/README.md")}) {
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
    ui_->SpeedButton_puertos->setIcon(st->standardIcon(QStyle::SP_BrowserReload));

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
    ui_->Label_fase->hide();
    cuentaAtras_.setInterval(1000);
    connect(&cuentaAtras_, &QTimer::timeout, this, &TPagesDlg_principal::actualizarCuentaAtras);
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
    // Firmware files first, anything else on request; a name without a suffix is
    // taken as it is.
    dialogo_->setNameFilters(
        {QStringLiteral("Firmware (*.hex *.HEX *.bin *.BIN)"), QStringLiteral("All files (*)")});
    dialogo_->setDefaultSuffix(QString());
    dialogo_->setDirectory(carpetaDialogo());
    // What the dialog shows is what is selected: the field is never typed into.
    ui_->Edit_fichero->setReadOnly(true);
    selector_ = [](QFileDialog& d) -> std::optional<QString> {
        if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty())
            return std::nullopt;
        return d.selectedFiles().constFirst();
    };

    listaPuertos_ = [] { return puertos_del_sistema(); };
    SpeedButton_puertosClick();

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
        cargarTraduccionesQt(idioma);
    }

    // Accessibility: empty values say so, and each image of a joint file is tied to
    // the product families it is for (after the captions, in their language).
    for (QLabel* v : {ui_->StaticText_version, ui_->StaticText_modulo,
                      ui_->StaticText_version_acargar, ui_->Label_estado})
        mostrarValor(v, {});
    ui_->Label9->setBuddy(ui_->RadioButton3);
    ui_->Label10->setBuddy(ui_->RadioButton3);
    ui_->Label11->setBuddy(ui_->RadioButton1);
    ui_->Label13->setBuddy(ui_->RadioButton1);
    ui_->RadioButton3->setAccessibleDescription(ui_->Label9->text() + QStringLiteral(", ") +
                                                ui_->Label10->text());
    ui_->RadioButton1->setAccessibleDescription(ui_->Label11->text() + QStringLiteral(", ") +
                                                ui_->Label13->text());

    for (auto& p : puertos)
        p.store(nullptr);
    for (auto& g : grupos_supev)
        g.store(nullptr);
    pedir_estado = false;

    monitorActivo_ = true;
    timer_.start();
    centrar();
}

void TPagesDlg_principal::cargarTraduccionesQt(int idioma) {
    const Idioma* fila = idioma_de_columna(idioma);
    if (!fila)
        return;
    // The distribution's translations of Qt's own texts: the file dialog and the
    // buttons of the message boxes. Without them those stay English.
    auto t = std::make_unique<QTranslator>();
    if (!t->load(QLocale(fila->qt), QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return;
    QCoreApplication::installTranslator(t.get());
    traductorQt_ = std::move(t);
}

void TPagesDlg_principal::ajustarTamano() {
    // The form keeps its size unless the captions of the language need more room;
    // it is measured with the image choice shown, its widest state.
    const bool eleccionOculta = ui_->GroupBox5->isHidden();
    ui_->GroupBox5->setVisible(true);
    ensurePolished(); // the style's margins and fonts are part of the measure
    layout()->invalidate();
    layout()->activate();
    const QSize necesario = layout()->totalSizeHint();
    ui_->GroupBox5->setVisible(!eleccionOculta);
    setFixedSize(QSize(ANCHO, ALTO).expandedTo(necesario));
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
    connect(ui_->SpeedButton_puertos, &QToolButton::clicked, this,
            &TPagesDlg_principal::SpeedButton_puertosClick);
    connect(ui_->ComboBox_puertos, &QComboBox::activated, this,
            &TPagesDlg_principal::ComboBox_puertosActivated);
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
    a.abrirEnTrabajador = true;
    return a;
}

void TPagesDlg_principal::mostrarEstado(const QString& texto) {
    mostrarValor(ui_->Label_estado, texto);
    emit estadoMostrado(texto);
}

void TPagesDlg_principal::mostrarError(const QString& texto) {
    QMessageBox caja(QMessageBox::Critical, QCoreApplication::applicationName(), texto,
                     QMessageBox::Ok, this);
    caja.setAccessibleName(caja.windowTitle());
    caja.exec();
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
    // Measured again once shown: only then are the fonts and the style's metrics
    // those the operator sees.
    ajustarTamano();
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
        mostrarEstado(q(texto_mensaje(Mensaje::Espere)));
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
    // The port is opened and the unit reset on the port's worker: the window shows
    // "Detecting" at once and stays responsive; only the port choice waits for it.
    if (seleccionar_puerto(nuevo, &oyente_, acciones()) == ResultadoSeleccion::Abriendo &&
        trabajador_del_puerto(nuevo) && !trabajador_del_puerto(nuevo)->esperar_tarea({}))
        bloquearPuertos(true);
}

void TPagesDlg_principal::bloquearPuertos(bool bloqueados) {
    for (int i = 0; i < MAX_PUERTOS; ++i)
        radioPuerto(i)->setEnabled(!bloqueados);
    ui_->ComboBox_puertos->setEnabled(!bloqueados);
    ui_->SpeedButton_puertos->setEnabled(!bloqueados);
    ui_->SpeedButton1->setEnabled(!bloqueados);
}

void TPagesDlg_principal::SpeedButton1Click() {
    if (!puerto_monitorizado(puerto_seleccionado.load()))
        return;
    mostrarEstado(q(texto_mensaje(Mensaje::Detectando)));
    ui_->GroupBox5->hide();
    pedir_estado = true;
}

QString TPagesDlg_principal::carpetaDialogo() {
    const QString guardada = ajustes().value(AJUSTE_CARPETA).toString();
    if (!guardada.isEmpty() && QFileInfo(guardada).isDir())
        return guardada;
    const QString documentos = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documentos).isDir() ? documentos : QDir::homePath();
}

void TPagesDlg_principal::SpeedButton_ficheroClick() {
    const std::optional<QString> elegido = selector_(*dialogo_);
    if (!elegido)
        return; // cancelled: the selection stays as it was, and nothing is said
    if (!elegido->isEmpty()) {
        const QString carpeta = QFileInfo(*elegido).absolutePath();
        ajustes().setValue(AJUSTE_CARPETA, carpeta);
        dialogo_->setDirectory(carpeta);
    }
    elegir_fichero(elegido->toStdString(), seleccion_, vista_);
    // An image chosen for the earlier file means nothing for this one.
    eleccion_ = EleccionXa::Ninguna;
}

void TPagesDlg_principal::mostrarEleccionVersion() {
    ui_->RadioButton1->show();
    ui_->RadioButton3->show();
    ui_->BitBtn_start->setEnabled(false);
    mostrarEstado(q(texto_mensaje(Mensaje::SeleccioneVersion)));
    procesarEventos();
    // Neither image is taken for the operator: Load comes back only with a click on
    // one of them, so a second press of Load (a double click) never writes an image
    // nobody has seen.
    for (QRadioButton* r : {ui_->RadioButton1, ui_->RadioButton3}) {
        r->setAutoExclusive(false);
        r->setChecked(false);
        r->setAutoExclusive(true);
    }
    eleccion_ = EleccionXa::Ninguna;
    mostrarValor(ui_->StaticText_version_acargar, {});
    ui_->GroupBox5->show();
}

void TPagesDlg_principal::CargarClick() {
    if (ui_->Edit_fichero->text().isEmpty())
        SpeedButton_ficheroClick();

    const std::string vtr = tipo_vtr;
    if (seleccion_.valida && seleccion_.joint) {
        if (vtr == TIPO_VTR_XA && eleccion_ == EleccionXa::Ninguna) {
            // Joint file on an XA unit: the operator chooses the image first.
            mostrarEleccionVersion();
            return;
        }
        if (vtr == TIPO_VTR_ARM) {
            mostrarValor(ui_->StaticText_version_acargar,
                         q(seleccion_.imagen(ImagenUnidad::Arm).version));
            procesarEventos();
            ui_->GroupBox5->hide();
        }
    }
    // An image already chosen (CLASS A or USB-I2C) is loaded as chosen.

    if (!ui_->Edit_fichero->text().isEmpty()) {
        // A rejected file, or an image the file does not hold, is never sent.
        TrabajoCarga trabajo;
        if (const auto rechazo = preparar_carga(seleccion_, eleccion_, trabajo)) {
            mostrarEstado(q(texto_mensaje(*rechazo)));
            return;
        }
        terminarEspera();
        ui_->LMDProgressFill_progreso->setValue(0);
        ui_->LMDProgressFill_progreso->show();
        ui_->Label_progreso->show();
        ui_->Label_fase->clear();
        ui_->Label_fase->show();
        if (pedir_carga(puerto_seleccionado.load(), std::move(trabajo)))
            bloquearSeleccion(true);
        ui_->GroupBox5->hide();
        ui_->BitBtn_start->setEnabled(false);
        mostrarEstado(q(texto_mensaje(Mensaje::Actualizando)));
    }
    procesarEventos();
}

void TPagesDlg_principal::bloquearSeleccion(bool bloqueada) {
    for (int i = 0; i < MAX_PUERTOS; ++i)
        radioPuerto(i)->setEnabled(!bloqueada);
    for (QWidget* c : std::initializer_list<QWidget*>{
             ui_->SpeedButton1, ui_->SpeedButton_fichero, ui_->Edit_fichero, ui_->RadioButton1,
             ui_->RadioButton3, ui_->ComboBox_puertos, ui_->SpeedButton_puertos})
        c->setEnabled(!bloqueada);
}

void TPagesDlg_principal::RadioButton1Click() {
    eleccion_ = EleccionXa::ClassA;
    ui_->BitBtn_start->setEnabled(true);
    mostrarValor(ui_->StaticText_version_acargar,
                 q(seleccion_.imagen(ImagenUnidad::ClassA).version));
}

void TPagesDlg_principal::RadioButton3Click() {
    eleccion_ = EleccionXa::I2C;
    ui_->BitBtn_start->setEnabled(true);
    mostrarValor(ui_->StaticText_version_acargar, q(seleccion_.imagen(ImagenUnidad::I2C).version));
}

void TPagesDlg_principal::anadirLineaMemo(const QString& linea) {
    if (lineasMemo() > MAX_LINEAS_MEMO)
        ui_->Memo_tramas_tx->clear();
    ui_->Memo_tramas_tx->appendPlainText(linea);
}

void TPagesDlg_principal::Timer_eventosTimer() {
    timer_.stop();
    vaciar_trazas([this](const QString& linea) { anadirLineaMemo(linea); },
                  [this](int puerto, uint64_t perdidas) {
                      anadirLineaMemo(
                          QStringLiteral("COM%1: %2 trace lines dropped (trace queue full)")
                              .arg(puerto + 1)
                              .arg(perdidas));
                  });
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

void TPagesDlg_principal::SpeedButton_puertosClick() {
    QComboBox* lista = ui_->ComboBox_puertos;
    lista->clear(); // shows its caption again: nothing is chosen by a refresh
    if (!listaPuertos_)
        return;
    for (const PuertoSistema& p : listaPuertos_()) {
        QString texto = q(p.dispositivo);
        if (!p.descripcion.empty())
            texto += QStringLiteral("  ") + q(p.descripcion);
        lista->addItem(texto, q(p.dispositivo));
    }
    lista->setCurrentIndex(-1);
}

void TPagesDlg_principal::ComboBox_puertosActivated(int item) {
    const std::string dispositivo = ui_->ComboBox_puertos->itemData(item).toString().toStdString();
    if (dispositivo.empty())
        return;
    // The device takes the place of the checked COM button (COM 1 when none is).
    int idx = 0;
    for (int i = 0; i < MAX_PUERTOS; ++i)
        if (radioPuerto(i)->isChecked())
            idx = i;
    // A port its worker is still opening is left to it first.
    if (Tmgrupo_superv* g = trabajador_del_puerto(idx))
        while (!g->esperar_tarea(std::chrono::milliseconds(10)))
            procesarEventos();
    if (nombre_puerto(idx) == dispositivo && puerto_monitorizado(idx))
        return; // already the port being watched
    // What that COM had open, or failed to open, under its old name is given up first.
    if (puerto_seleccionado.load() == idx && puerto_monitorizado(idx)) {
        detener_monitorizacion(acciones());
        if (Tmgrupo_superv* g = trabajador_del_puerto(idx))
            while (!g->esperar_cierre(std::chrono::milliseconds(10)))
                procesarEventos();
    }
    if (Tinterface_enlace* l = puertos[static_cast<size_t>(idx)].load(); l && l->error_open())
        delete puertos[static_cast<size_t>(idx)].exchange(nullptr); // never reached a worker
    fijar_nombre_puerto(idx, dispositivo);
    radioPuerto(idx)->setToolTip(q(dispositivo));
    radioPuerto(idx)->setChecked(true);
    RadioButton_com1Click();
}

// ---- the progress line

QString TPagesDlg_principal::textoEspera(Espera que, int idioma) {
    // French, Spanish, English, Italian: the columns of the message table.
    static const std::array<std::array<const char*, 4>, 5> textos = {{
        {"Entrée dans le chargeur de l'unité", "Entrando en el cargador de la unidad",
         "Entering the unit's loader", "Ingresso nel caricatore dell'unità"},
        {"Effacement de la mémoire", "Borrando la memoria", "Erasing the memory",
         "Cancellazione della memoria"},
        {"Attente de l'unité", "Esperando a la unidad", "Waiting for the unit",
         "Attesa dell'unità"},
        {"Redémarrage de l'unité", "Reiniciando la unidad", "Resetting the unit",
         "Riavvio dell'unità"},
        {"Vérification de la version", "Comprobando la versión", "Checking the version",
         "Verifica della versione"},
    }};
    const auto fila = static_cast<size_t>(que);
    const auto col = static_cast<size_t>(idioma >= 0 && idioma < NUM_IDIOMAS ? idioma : 0);
    return fila < textos.size() ? QString::fromUtf8(textos[fila][col]) : QString();
}

void TPagesDlg_principal::mostrarEspera(Espera que, int msec) {
    if (ui_->LMDProgressFill_progreso->isHidden())
        return; // not a load
    espera_ = que;
    ui_->LMDProgressFill_progreso->setRange(0, 0); // busy: work goes on, no count to show
    if (msec > 0) {
        finEspera_ = reloj().now() + ms(msec);
        cuentaAtras_.start();
    } else {
        finEspera_ = {};
        cuentaAtras_.stop();
    }
    actualizarCuentaAtras();
}

void TPagesDlg_principal::actualizarCuentaAtras() {
    QString t = textoEspera(espera_, idioma_actual_texto.load());
    if (finEspera_ != Tiempo{}) {
        const auto resta =
            std::chrono::duration_cast<std::chrono::milliseconds>(finEspera_ - reloj().now());
        const long long s = (resta.count() + 999) / 1000; // whole seconds, rounded up
        if (s > 0)
            t += QStringLiteral(" (%1 s)").arg(s);
        else
            cuentaAtras_.stop();
    }
    ui_->Label_fase->setText(t);
    emit esperaMostrada(t);
}

void TPagesDlg_principal::terminarEspera() {
    cuentaAtras_.stop();
    finEspera_ = {};
    ui_->LMDProgressFill_progreso->setRange(0, 100);
    ui_->Label_fase->clear();
}

void TPagesDlg_principal::mostrarProgreso(int porcentaje) {
    if (ui_->LMDProgressFill_progreso->maximum() == 0)
        terminarEspera();
    ui_->LMDProgressFill_progreso->setValue(porcentaje);
}
