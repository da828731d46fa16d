#pragma once
// The program's window: port choice, firmware file, Load, status, progress and
// result on the Update page, the trace of the serial traffic on the Monitor page
// (its tab is hidden; Ctrl+Shift+M shows it for service work) and the About page.
//
// Every handler runs on the window's thread. The workers reach the widgets only
// through the window's SupervisorListener, whose calls from a worker's thread run
// here while the worker waits; the file selection reaches them through the
// window's FileSelectionView.

#include "common/reloj.h"
#include "comms/lista_puertos.h"
#include "files/preparar_carga.h"
#include "files/seleccion_fichero.h"
#include "loader/seleccion_puerto.h"
#include "loader/supervisor_listener.h"

#include <QDialog>
#include <QFileDialog>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QRadioButton;
class QTranslator;
class TPagesDlg_principal;

namespace Ui {
class TPagesDlg_principal;
}

// The worker's callbacks. A call from another thread is carried out on the
// window's thread (blocking queued call); a call from the window's own thread runs
// at once, so that nothing waits for itself.
class OyenteVentana final : public QObject, public SupervisorListener {
    Q_OBJECT
public:
    explicit OyenteVentana(TPagesDlg_principal& ventana);
    void setStatusText(const std::string& text) override;
    void setLoadEnabled(bool enabled) override;
    void setVersionText(const std::string& version) override;
    void setProgress(int percent) override;
    void setVersionToLoad(const std::string& version) override;
    void showNote(const std::string& text) override;
    void showResult(int entry, const std::string& text) override;
    void finishLoad() override;
    void showWait(Espera what, int msec) override;
    void portOpenDone(bool opened) override;

signals:
    void llamadaPendiente(); // queued to the window's thread, the worker blocked on it

private:
    void ejecutarPendiente();
    void enHiloVentana(const std::function<void()>& f);
    TPagesDlg_principal& ventana_;
    // The call in transit is handed over under a lock of our own, in both
    // directions, so that what the worker passed and what the window did are
    // published to each other independently of Qt's event queue.
    std::mutex serie_; // one worker call at a time
    std::mutex m_;
    std::function<void()> pendiente_; // guarded by m_
    QString nota_;                    // the note of the load in progress (window's thread only)
};

// What the file selection shows: the window's fields and modal error boxes.
class VistaFicherosVentana final : public FileSelectionView {
public:
    explicit VistaFicherosVentana(TPagesDlg_principal& ventana) : ventana_(ventana) {}
    void showFileError(Mensaje entry, const std::string& motivo) override;
    void setFileName(const std::string& path) override;
    void setModuleText(const std::string& t) override;
    void setVersionToLoad(const std::string& t) override;
    void setLoadEnabled(bool enabled) override;
    void hideVersionGroup() override;
    void processEvents() override;

private:
    TPagesDlg_principal& ventana_;
};

class TPagesDlg_principal final : public QDialog {
    Q_OBJECT
public:
    // Client area of the fixed-size window.
    static constexpr int ANCHO = 617;
    static constexpr int ALTO = 487;
    static constexpr int PERIODO_EVENTOS_MS = 1000; // trace drain period
    static constexpr int MAX_LINEAS_MEMO = 1000;    // more than this empties the trace first
    // What a value field (version, module, status) shows while it has no value.
    static inline const QString SIN_VALOR = QStringLiteral("\u2014");

    // dictionary: the caption dictionary; empty = "vtr900prog.mld" in the program's folder.
    explicit TPagesDlg_principal(QWidget* parent = nullptr, const QString& dictionary = {});
    ~TPagesDlg_principal() override;

    // ---- handlers
    void FormCreate(const QString& dictionary);
    void FormShow();
    void FormClose();
    void RadioButton_com1Click();
    void SpeedButton1Click();
    void SpeedButton_ficheroClick();
    void CargarClick();
    void RadioButton1Click();
    void RadioButton3Click();
    void Timer_eventosTimer();
    void BitBtn_borrarClick();
    void CheckBox_trazaClick();
    void Label18Click();
    void SpeedButton_puertosClick();          // fills the list of the system's ports again
    void ComboBox_puertosActivated(int item); // a port of the list for the checked COM

    // The status line (Label_estado); every text shown there is also signalled.
    void mostrarEstado(const QString& texto);

    // A modal error box titled with the program's name, which is also its accessible
    // name: the table's text first, the reason (if any) on the lines after it.
    void mostrarError(const QString& texto);

    // What a wait of a load says (Label_fase), in message language idioma: the fixed
    // pauses with the seconds left, counted down while it lasts.
    static QString textoEspera(Espera que, int idioma);

    // Shows or hides the Monitor tab (the service shortcut).
    void mostrarMonitor(bool visible);
    bool monitorVisible() const;

    // The open dialog (firmware files, no default suffix; the folder of the file chosen
    // last, remembered per user, or the user's documents at first) and what shows it:
    // by default it runs modally and gives the chosen name, or nothing when the
    // operator cancels. Tests put a chooser of their own in its place.
    using SelectorFichero = std::function<std::optional<QString>(QFileDialog&)>;
    // Where the list of the system's serial ports comes from (the system by default;
    // tests give a list of their own).
    using ListaPuertos = std::function<std::vector<PuertoSistema>()>;
    void setListaPuertos(ListaPuertos l) {
        listaPuertos_ = std::move(l);
        SpeedButton_puertosClick();
    }
    void setSelectorFichero(SelectorFichero s) { selector_ = std::move(s); }
    QFileDialog& OpenDialog_firmware() { return *dialogo_; }
    const QTimer& Timer_eventos() const { return timer_; }

    // The program's documentation, opened by the About page's link.
    static QUrl urlDocumentacion();
    // Where the open dialog starts: the folder of the last file chosen, else the
    // user's documents folder.
    static QString carpetaDialogo();
    // The caption dictionary in the program's folder.
    static QString rutaDiccionario();
    // Caption language for a message language (0 French, 1 Spanish, 2 English,
    // 3 Italian): 2, 3, 1, 4; 0 for none.
    static int idiomaCaptions(int idiomaMensajes);

    Ui::TPagesDlg_principal& ui() { return *ui_; }
    int lineasMemo() const;

signals:
    void estadoMostrado(const QString& texto);
    void esperaMostrada(const QString& texto); // every text the progress line's wait shows

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void reject() override; // Esc closes the window as its title bar does

private:
    friend class OyenteVentana;
    friend class VistaFicherosVentana;

    void conectar();
    void centrar();
    void cargarTraduccionesQt(int idioma); // Qt's own texts in message language idioma
    void ajustarTamano();                  // the fixed size the language's captions need
    AccionesPuerto acciones();
    void anadirLineaMemo(const QString& linea);
    void mostrarEleccionVersion(); // the Version group with CLASS A chosen
    // Disables (or gives back) every control that changes what is selected: the port
    // buttons, refresh, Browse, the file field and the image choice. A load holds them
    // from Load until its result has been shown.
    void bloquearSeleccion(bool bloqueada);
    // Holds the port choice (the COM buttons and the port list) while the worker
    // opens and resets a port; the rest of the window stays usable.
    void bloquearPuertos(bool bloqueados);
    // The progress line during a load: a wait between transfers shows a busy bar and
    // what is going on; the next byte count brings the percentage back.
    void mostrarEspera(Espera que, int msec);
    void mostrarProgreso(int porcentaje);
    void terminarEspera();
    void actualizarCuentaAtras();
    void terminarTrabajadores();
    QRadioButton* radioPuerto(int idx) const;

    std::unique_ptr<Ui::TPagesDlg_principal> ui_;
    OyenteVentana oyente_;
    VistaFicherosVentana vista_;
    QTimer timer_;
    QTimer cuentaAtras_; // once a second while a fixed pause lasts
    Tiempo finEspera_{}; // on the time source: when the fixed pause ends
    Espera espera_ = Espera::Pausa;
    bool monitorActivo_ = false; // the trace timer should run (a port is monitored)
    std::unique_ptr<QFileDialog> dialogo_;
    std::unique_ptr<QTranslator> traductorQt_;  // installed while the window lives
    SeleccionFichero seleccion_;                // what the file choice produced
    EleccionXa eleccion_ = EleccionXa::Ninguna; // the image of a joint file for an XA unit
    SelectorFichero selector_;
    ListaPuertos listaPuertos_;
    bool cerrado_ = false;
};
