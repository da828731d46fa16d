#include "ui/headless/headless.h"

#include "common/global.h"
#include "common/reloj.h"
#include "comms/motivo_apertura.h"
#include "comms/nombres_puerto.h"
#include "comms/tint_enlace.h"
#include "loader/seleccion_puerto.h"
#include "loader/supervisor_listener.h"
#include "loader/tmgrupo_superv.h"
#include "sim/fallos.h"
#include "ui/comun/carga.h"
#include "ui/headless/textos_headless.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

// Captions of the window's labels that head the version and progress lines.
const char* const CAPTION_VERSION = "Current Firmware Version";
const char* const CAPTION_PROGRESS = "Progress ...";

// How often the trace queue is emptied and Ctrl+C looked for while the worker runs:
// the window drains it once a second; more often keeps a --trace - stream close to
// the traffic and the 5000-record ring far from full during a fast load.
constexpr std::chrono::milliseconds PERIODO_TRAZA{100};

const char* const DESCRIPTION =
    "Updates the firmware of a VTR-900 unit on a serial port without the window.\n"
    "\n"
    "PORT is COM1..COM4, any device path (a USB adapter, a pseudo-terminal), auto\n"
    "(the only USB serial adapter present; see --list-ports), or sim:arm / sim:xa,\n"
    "the built-in simulated unit (ARM or XA controller) running in real time;\n"
    "sim:arm,fault=NAME rehearses a failure (the faults: README, \"Rehearsing failures\").\n"
    "COM1..COM4 are /dev/ttyS0../dev/ttyS3 (COM1..COM4 on Windows) unless the\n"
    "environment variable VTR900_COM1..VTR900_COM4 names another device or a sim:\n"
    "port, e.g. VTR900_COM1=/dev/ttyUSB0.\n"
    "\n"
    "FILE (a unit image, a module firmware or a joint file) is checked before the port\n"
    "is opened. A load then opens PORT at 19200 8-N-1, resets the unit, reads its\n"
    "status and loads the file; a unit image for the other controller is refused\n"
    "before anything is written. A joint file on an XA unit needs --image to choose\n"
    "the CLASS A or USB-I2C image. Ctrl+C stops the load at its next safe point,\n"
    "resets the unit and releases the port; a second Ctrl+C ends at once.\n"
    "\n"
    "Several units at once: --port P1 --port P2 ..., --ports P1,P2,... or --port\n"
    "auto-all (every USB serial adapter present). The file is checked once, then\n"
    "every unit is detected and loaded on its own, all at the same time, each with\n"
    "the image of its own controller. On a terminal one line per unit is redrawn in\n"
    "place; piped, each line starts with its port. A summary table ends the run\n"
    "(port, unit, version before -> after, result, time); --json writes an array.\n"
    "sim:arm#1, sim:arm#2, sim:xa#1 ... are separate simulated units.\n"
    "\n"
    "Exit status: 0 update completed (or --status found the unit; with several\n"
    "ports, every unit); 1 update failed, not enough free space on the unit, or\n"
    "--status found no unit (with several ports, any unit); 2 bad arguments,\n"
    "file errors, a file for the other controller, a missing --image or no adapter\n"
    "for --port auto-all; 3 the port cannot be opened, or --port auto found no\n"
    "single USB adapter; 130 interrupted.";

// ---- Ctrl+C

std::atomic<bool> g_interrumpido{false};
// The workers of the run in progress, one per port index, each published once it
// exists, so that a request to stop reaches every load without waiting for the
// main thread's next look.
std::array<std::atomic<Tmgrupo_superv*>, RANURAS_PUERTO> g_trabajadores{};
// Held while a stop request goes through the workers, and while a unit withdraws its
// worker before releasing it: one unit's thread may ask every load to stop while
// another unit's worker is being released.
std::mutex g_trabajadores_m;
// The lock file of each port the run holds, for a second Ctrl+C that ends the
// process without the normal release. Written before its flag is raised, read in
// the handler.
char g_ruta_bloqueo[RANURAS_PUERTO][512];
std::array<std::atomic<bool>, RANURAS_PUERTO> g_hay_bloqueo{};

extern "C" void manejar_interrupcion(int) {
    if (!g_interrumpido.exchange(true)) {
#ifndef _WIN32
        // Said at once, so that whoever pressed it knows it was taken.
        static const char parada[] =
            "\nvtr900prog: stopping at the next safe point (Ctrl+C again ends at once)\n";
        (void)!::write(2, parada, sizeof parada - 1);
#endif
        return;
    }
#ifndef _WIN32
    for (size_t i = 0; i < g_hay_bloqueo.size(); ++i)
        if (g_hay_bloqueo[i].load())
            ::unlink(g_ruta_bloqueo[i]);
    static const char aviso[] = "\nvtr900prog: interrupted\n";
    (void)!::write(2, aviso, sizeof aviso - 1);
    ::_exit(ExitInterrupted);
#else
    std::_Exit(ExitInterrupted);
#endif
}

void recordar_bloqueo(int indice, const std::string& dispositivo) {
    const auto i = static_cast<size_t>(indice);
    g_hay_bloqueo[i].store(false);
    const std::string ruta = ruta_bloqueo_puerto(dispositivo);
    if (ruta.empty() || ruta.size() >= sizeof g_ruta_bloqueo[i])
        return;
    std::memcpy(g_ruta_bloqueo[i], ruta.c_str(), ruta.size() + 1);
    g_hay_bloqueo[i].store(true);
}

// ---- arguments

struct PortArgument {
    int index = 0;
    std::string name; // set when the argument names the device itself
};

QString textoPuerto(const PortArgument& p) {
    return QString::fromStdString(p.name.empty() ? "COM" + std::to_string(p.index + 1) : p.name);
}

// COM1..COM4 select their index (and whatever VTR900_COMn maps it to); any other
// text is a device or sim: name served through index 0 (with several ports, through
// the indices after COM1..COM4).
std::optional<PortArgument> parsePort(const QString& arg, QString& error) {
    static const QRegularExpression com(QStringLiteral("^COM([1-4])$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const auto m = com.match(arg);
    if (m.hasMatch())
        return PortArgument{m.captured(1).toInt() - 1, {}};
    const std::string name = arg.toStdString();
    if (name.empty()) {
        error = QStringLiteral("--port needs a value");
        return std::nullopt;
    }
    std::string motivo;
    if (es_puerto_simulado(name) && !leer_puerto_simulado(name.substr(4), motivo)) {
        error = QString::fromStdString(motivo);
        return std::nullopt;
    }
    return PortArgument{0, name};
}

// Why FILE cannot be loaded, before anything is opened: "" when it is a readable,
// non-empty plain file. The contents are checked by the file selection itself.
QString motivoFichero(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("no such file");
    if (info.isDir())
        return QStringLiteral("is a directory");
    if (!info.isFile())
        return QStringLiteral("not a plain file (a device or a pipe)");
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return f.errorString().isEmpty() ? QStringLiteral("cannot be read") : f.errorString();
    if (f.size() == 0)
        return QStringLiteral("empty file");
    return {};
}

// The controller a unit image is written through; "" for files that suit either.
std::string controladorFichero(const std::string& tipoFichero) {
    if (tipoFichero == TIPO_FICHERO_VTR_XA)
        return "XA";
    if (tipoFichero == TIPO_FICHERO_VTR_ARM)
        return "ARM";
    return {};
}
std::string controladorUnidad(const std::string& tipoVtr) {
    if (tipoVtr == TIPO_VTR_XA)
        return "XA";
    if (tipoVtr == TIPO_VTR_ARM)
        return "ARM";
    return {};
}
// The unit's column of the panel and the summary: its controller, or "-".
QString textoTipo(const std::string& tipoVtr) {
    const std::string c = controladorUnidad(tipoVtr);
    return c.empty() ? QStringLiteral("-") : QString::fromStdString(c);
}

QString textoSegundos(double s) {
    const int total = static_cast<int>(s + 0.5);
    return QStringLiteral("%1:%2").arg(total / 60).arg(total % 60, 2, 10, QLatin1Char('0'));
}

QString textoRitmo(double bytesPorSegundo) {
    if (bytesPorSegundo >= 1000.0)
        return QStringLiteral("%1 kB/s").arg(bytesPorSegundo / 1000.0, 0, 'f', 1);
    return QStringLiteral("%1 B/s").arg(bytesPorSegundo, 0, 'f', 0);
}

// One transfer phase of a load: what it was called on the status line, how far it
// got, and when it ran on the time source.
struct Fase {
    std::string nombre;
    int porcentaje = 0;
    int porcentajeInicial = 0;
    int64_t bytes = -1, total = 0; // -1: not known; 0 total: the worker did not tell it
    Tiempo inicio{}, fin{};
    // The first progress: rate and time left are measured from it, so that the
    // phase's setup (a loader's entry, an erase) does not count as transfer.
    Tiempo primerAvance{};
    int64_t bytesPrimerAvance = 0;
    double fraccionPrimerAvance = 0.0;
    double segundos() const { return std::chrono::duration<double>(fin - inicio).count(); }
    // How much of this phase is done, 0..1: by its amounts when the worker tells them,
    // else by the load's percentage from where the phase began (which may count
    // several phases together).
    double fraccionHecha() const {
        if (total > 0 && bytes >= 0)
            return static_cast<double>(bytes) / static_cast<double>(total);
        if (porcentajeInicial >= 100)
            return 1.0;
        return static_cast<double>(porcentaje - porcentajeInicial) / (100 - porcentajeInicial);
    }
    int porcentajeFase() const {
        return total > 0 ? static_cast<int>(fraccionHecha() * 100.0 + 0.5) : porcentaje;
    }
};

// Everything a run found out, for the end summary and --json.
struct Informe {
    std::string puerto;
    std::string fichero;
    std::string identificacion;
    std::string tipoUnidad;
    std::string versionAntes, versionDespues;
    std::string crc;
    std::string nota; // the worker's note beside the result (the versions that differ)
    int entrada = -1; // message-table entry of the result, -1 when none was shown
    std::string texto;
    std::string resultado;
    int salida = ExitOk;
    std::vector<Fase> fases;
    double segundos = 0.0; // from the start of the unit's run to its end, on the time source
    std::string motivo;    // the first error told about this unit, for the summary table
};

// The result column of the summary: what became of the unit, and why when it failed.
std::string textoResultado(const Informe& i) {
    if (i.salida == ExitOk)
        return i.resultado == "ok" ? "OK" : i.resultado;
    if (i.resultado == "interrupted")
        return i.resultado; // the phase it stopped in was told with the interrupt
    std::string t = i.resultado;
    const std::string& why = !i.texto.empty() ? i.texto : i.motivo;
    if (!why.empty())
        t += ": " + why;
    if (!i.nota.empty())
        t += " (" + i.nota + ")";
    return t;
}

// What the loaders of one run share: the output lock, and with several units on a
// terminal the panel of their live lines, one per unit, redrawn in place.
struct Compartido {
    std::mutex m;
    bool panel = false;
    std::vector<QString> lineas;  // guarded by m: one per unit
    int dibujadas = 0;            // guarded by m: lines of the panel on the screen
    std::vector<QString> errores; // guarded by m: held back while the panel is drawn
};
void dibujarPanelLocked(QTextStream& out, Compartido& c);

// The front end's side of the worker's callbacks. The worker calls them on its own
// thread while the main thread only waits, so each takes the output lock; the main
// thread takes the same lock for everything it prints.
class HeadlessLoader final : public SupervisorListener {
public:
    HeadlessLoader(QTextStream& out, QTextStream& err, QTextStream* trace, bool terminal,
                   bool traceTime, const OpcionesHeadless& opciones, Compartido& compartido,
                   int fila = -1, QString puerto = {})
        : out_(out), err_(err), trace_(trace), terminal_(terminal), traceTime_(traceTime),
          opciones_(opciones), inicio_(reloj().now()), c_(compartido), m_(compartido.m),
          fila_(fila), prefijo_(puerto.isEmpty() ? QString() : puerto + QStringLiteral(": ")) {}

    int run(const PortArgument& port, const QString& file, bool statusOnly, const QString& image);
    // The file alone, before any port is touched: false (with the report filled in)
    // when it cannot be loaded.
    bool comprobarFichero(const QString& file, SeleccionFichero& selection);
    // One unit's run on its port, the file already checked.
    int runPuerto(const PortArgument& port, const SeleccionFichero& selection, bool statusOnly,
                  const QString& image);
    Informe& informe() { return informe_; }
    void anchoPuerto(int ancho) { anchoPrefijo_ = ancho; }

    // ---- SupervisorListener (worker thread)
    void setStatusText(const std::string& text) override {
        mostrarEstado(text);
        if (opciones_.alEstado && !text.empty())
            opciones_.alEstado(text);
    }
    void mostrarEstado(const std::string& text) {
        std::lock_guard<std::mutex> lock(m_);
        if (resultShown_ || text.empty())
            return;
        if (text.rfind(prefijoGrabados_, 0) == 0) {
            // "Written N Bytes": the amount of the phase, when the worker tells no
            // other. On a terminal it goes into the phase's line instead of scrolling
            // the screen.
            escritos_ = std::atoll(text.c_str() + prefijoGrabados_.size());
            if (terminal_)
                return;
        }
        if (text.rfind(prefijoCrc_, 0) == 0)
            informe_.crc = text.substr(prefijoCrc_.size());
        else if (text.rfind(prefijoGrabados_, 0) != 0)
            cerrarFaseLocked();
        lineLocked(text);
    }
    void setLoadEnabled(bool) override {
        // dostart ends every status refresh.
        std::lock_guard<std::mutex> lock(m_);
        refreshDone_ = true;
        cv_.notify_all();
    }
    void setVersionText(const std::string& version) override {
        std::lock_guard<std::mutex> lock(m_);
        if (version.empty() || resultShown_)
            return;
        // Before the load: the version found. During it, only the read-back after
        // the final reset (" Wait  ...") is the version after; the one shown between
        // the banks is still the old software's.
        if (!cargando_)
            informe_.versionAntes = version;
        else if (ultimoEstado_ == prefijoEspere_)
            informe_.versionDespues = version;
        lineLocked(std::string(CAPTION_VERSION) + " " + version);
    }
    void setProgress(int percent) override {
        std::lock_guard<std::mutex> lock(m_);
        progressLocked(percent);
    }
    void setProgressBytes(int64_t done, int64_t total) override {
        // Comes just before the percentage it explains.
        std::lock_guard<std::mutex> lock(m_);
        avanceBytes_ = done;
        avanceTotal_ = total;
    }
    void setVersionToLoad(const std::string&) override {}
    // What the result cannot say by itself ("Unit reports 4.10, file is 4.12"),
    // on the line before it.
    void showNote(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_);
        lineLocked(text);
        informe_.nota = text;
    }
    void showResult(int entry, const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_);
        cerrarFaseLocked();
        if (!g_interrumpido.load()) {
            // The result names no phase: the one an interrupt names stays as it was.
            const std::string fase = ultimoEstado_;
            lineLocked(text);
            ultimoEstado_ = fase;
        }
        result_ = entry;
        resultText_ = text;
        resultShown_ = true;
    }
    void finishLoad() override {
        std::lock_guard<std::mutex> lock(m_);
        loadDone_ = true;
        cv_.notify_all();
    }

    // ---- main thread
    void statusLine(const std::string& text) {
        {
            std::lock_guard<std::mutex> lock(m_);
            lineLocked(text);
        }
        if (opciones_.alEstado && !text.empty())
            opciones_.alEstado(text);
    }
    void errorLine(const std::string& text) {
        std::lock_guard<std::mutex> lock(m_);
        if (informe_.motivo.empty())
            informe_.motivo = text;
        if (c_.panel) {
            c_.errores.push_back(prefijo_ + QString::fromStdString(text));
            return;
        }
        endProgressLocked();
        out_.flush();
        err_ << prefijo_ << QString::fromStdString(text) << '\n';
        err_.flush();
    }
    void noteFileError() { fileError_ = true; }
    bool fileError() const { return fileError_; }

private:
    // Waits until done() holds or the worker has left its thread, emptying the trace
    // queue meanwhile. False when the worker ended without finishing. A Ctrl+C asks
    // the worker to stop at its next safe point and goes on waiting for it.
    template <class Pred> bool waitFor(Tmgrupo_superv* g, Pred done);
    void drainTrace();
    void shutdown(int index);
    void resumenFases();
    int terminar(int salida, const std::string& resultado);

    // This unit's line of the panel, and the panel redrawn.
    void panelLocked(const QString& estado) {
        c_.lineas[static_cast<size_t>(fila_)] = prefijo_.leftJustified(anchoPrefijo_) +
                                                textoTipo(informe_.tipoUnidad).leftJustified(4) +
                                                estado;
        dibujarPanelLocked(out_, c_);
    }
    void endProgressLocked() {
        if (progressOpen_) {
            out_ << '\n';
            progressOpen_ = false;
        }
    }
    void lineLocked(const std::string& text) {
        if (text.empty())
            return;
        if (c_.panel) {
            panelLocked(QString::fromStdString(text).trimmed());
            if (text.rfind(prefijoGrabados_, 0) != 0) {
                ultimoEstado_ = text;
                momentoEstado_ = reloj().now();
            }
            return;
        }
        endProgressLocked();
        out_ << prefijo_ << QString::fromStdString(text) << '\n';
        out_.flush();
        if (text.rfind(prefijoGrabados_, 0) != 0) {
            ultimoEstado_ = text;
            momentoEstado_ = reloj().now();
        }
    }
    // Ends the phase in progress: a new status text begins whatever comes next.
    void cerrarFaseLocked() {
        if (faseAbierta_) {
            faseAbierta_ = false;
            endProgressLocked();
        }
        avanceBytes_ = avanceTotal_ = 0;
        escritos_ = -1;
    }
    void progressLocked(int percent) {
        const Tiempo ahora = reloj().now();
        if (!faseAbierta_ || (percent < lastPercent_ && percent <= 10)) {
            // The first progress after a status text, or a new block that starts from
            // the beginning again, opens a phase named after that text; it began
            // when the text was shown.
            Fase f;
            f.nombre = ultimoEstado_;
            f.inicio = faseAbierta_ ? ahora : momentoEstado_;
            f.porcentajeInicial = percent;
            fases_.push_back(f);
            faseAbierta_ = true;
        }
        Fase& f = fases_.back();
        f.porcentaje = percent;
        if (avanceTotal_ > 0) {
            f.bytes = avanceBytes_;
            f.total = avanceTotal_;
        } else if (escritos_ >= 0) {
            f.bytes = escritos_;
        }
        f.fin = ahora; // the phase's transfer ends with its last progress
        if (f.primerAvance == Tiempo{}) {
            f.primerAvance = ahora;
            f.bytesPrimerAvance = std::max<int64_t>(f.bytes, 0);
            f.fraccionPrimerAvance = f.fraccionHecha();
        }
        if (c_.panel) {
            if (percent != lastPercent_)
                panelLocked(lineaFase(f, ahora));
        } else if (terminal_) {
            if (percent == lastPercent_ && progressOpen_)
                return;
            out_ << '\r' << lineaFase(f, ahora) << QStringLiteral("\x1b[K");
            progressOpen_ = true;
        } else {
            // A line at each 10 % reached; a new block restarting from a lower value
            // counts its tens again.
            const int tens = percent / 10 * 10;
            if (percent < lastPercent_)
                lastTens_ = tens;
            if (tens > lastTens_) {
                out_ << prefijo_ << QStringLiteral("%1 %2 %").arg(CAPTION_PROGRESS).arg(tens)
                     << '\n';
                lastTens_ = tens;
            }
        }
        lastPercent_ = percent;
        out_.flush();
    }
    // "Programming Block 2 ...  1305/2778 B   47 %  2.1 kB/s  0:01 left"
    QString lineaFase(const Fase& f, Tiempo ahora) const {
        const double s = std::chrono::duration<double>(ahora - f.primerAvance).count();
        QString l = QString::fromStdString(f.nombre).trimmed();
        if (f.bytes >= 0)
            l += f.total > 0 ? QStringLiteral("  %1/%2 B").arg(f.bytes).arg(f.total)
                             : QStringLiteral("  %1 B").arg(f.bytes);
        l += QStringLiteral("  %1 %").arg(f.porcentajeFase(), 3);
        if (s > 0.0) {
            if (f.bytes > f.bytesPrimerAvance)
                l += QStringLiteral("  ") +
                     textoRitmo(static_cast<double>(f.bytes - f.bytesPrimerAvance) / s);
            const double hecho = f.fraccionHecha();
            const double ahoraHecho = hecho - f.fraccionPrimerAvance;
            if (ahoraHecho > 0.0 && hecho < 1.0)
                l += QStringLiteral("  %1 left").arg(textoSegundos(s * (1.0 - hecho) / ahoraHecho));
        }
        return l;
    }

    QTextStream& out_;
    QTextStream& err_;
    QTextStream* trace_;
    const bool terminal_;
    const bool traceTime_;
    const OpcionesHeadless& opciones_;
    const Tiempo inicio_;
    Compartido& c_;
    std::mutex& m_;         // the run's output lock, shared by the loaders of several units
    const int fila_;        // the unit's line of the panel
    const QString prefijo_; // "PORT: " before each line of one unit among several
    int anchoPrefijo_ = 0;  // the panel's port column, as wide as the widest port
    int puertoIndice_ = -1; // the port index of the unit's run
    const std::string prefijoGrabados_ = texto_mensaje(Mensaje::Grabados);
    const std::string prefijoCrc_ = texto_mensaje(Mensaje::Crc);
    const std::string prefijoEspere_ = texto_mensaje(Mensaje::Espere);

    std::condition_variable cv_;
    bool refreshDone_ = false;
    bool loadDone_ = false;
    bool resultShown_ = false;
    bool cargando_ = false;
    int result_ = -1;
    std::string resultText_;
    bool progressOpen_ = false;
    int lastPercent_ = 0;
    int lastTens_ = 0;
    std::string ultimoEstado_;
    std::vector<Fase> fases_;
    bool faseAbierta_ = false;
    int64_t escritos_ = -1;                     // the last "Written N Bytes" of the phase
    int64_t avanceBytes_ = 0, avanceTotal_ = 0; // the worker's amounts, 0 total: none
    Tiempo momentoEstado_{};                    // when ultimoEstado_ was shown
    Informe informe_;
    bool fileError_ = false; // main thread only
};

// The panel of several units on a terminal: each unit's line rewritten where it was.
void dibujarPanelLocked(QTextStream& out, Compartido& c) {
    if (c.dibujadas > 0)
        out << QStringLiteral("\x1b[%1A").arg(c.dibujadas);
    for (const QString& l : c.lineas)
        out << '\r' << l << QStringLiteral("\x1b[K") << '\n';
    c.dibujadas = static_cast<int>(c.lineas.size());
    out.flush();
}

// File-selection errors to err; the rest of what the window shows for a file has
// no place in the output.
class HeadlessFileView final : public FileSelectionView {
public:
    explicit HeadlessFileView(HeadlessLoader& loader) : loader_(loader) {}
    void showFileError(Mensaje entry, const std::string& why) override {
        loader_.noteFileError();
        loader_.errorLine(texto_mensaje(entry));
        if (!why.empty())
            loader_.errorLine(why);
    }
    void setFileName(const std::string&) override {}
    void setModuleText(const std::string&) override {}
    void setVersionToLoad(const std::string&) override {}
    void setLoadEnabled(bool) override {}
    void hideVersionGroup() override {}

private:
    HeadlessLoader& loader_;
};

template <class Pred> bool HeadlessLoader::waitFor(Tmgrupo_superv* g, Pred done) {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_);
            if (cv_.wait_for(lock, PERIODO_TRAZA, [&] { return done(); }))
                break;
        }
        drainTrace();
        if (g && g_interrumpido.load() && !g->cancelado())
            g->cancelar();
        if (!g || !g->en_ejecucion()) {
            std::lock_guard<std::mutex> lock(m_);
            return done();
        }
    }
    drainTrace();
    return true;
}

void HeadlessLoader::drainTrace() {
    // Several units: each loader empties its own worker's queue only.
    const auto vaciar = [&](const auto& linea, const auto& perdidas) {
        if (fila_ >= 0)
            vaciar_trazas_puerto(puertoIndice_, linea, perdidas);
        else
            vaciar_trazas(linea, perdidas);
    };
    vaciar(
        [&](const QString& line, Tiempo momento) {
            if (trace_) {
                std::lock_guard<std::mutex> lock(m_);
                if (traceTime_)
                    *trace_ << QStringLiteral("%1 ").arg(
                        std::chrono::duration_cast<std::chrono::milliseconds>(momento - inicio_)
                            .count(),
                        8);
                *trace_ << prefijo_ << line << '\n';
            }
        },
        [&](int, uint64_t lost) {
            if (trace_) {
                std::lock_guard<std::mutex> lock(m_);
                *trace_ << prefijo_
                        << QStringLiteral("(%1 trace lines lost: the trace queue was full)\n")
                               .arg(static_cast<qulonglong>(lost));
            }
        });
    if (trace_) {
        std::lock_guard<std::mutex> lock(m_);
        trace_->flush();
    }
}

void HeadlessLoader::shutdown(int index) {
    // The worker is stopped and its thread has ended before its trace queue is
    // emptied for the last time, so that no line produced at the end is lost; then
    // every worker and link object goes.
    if (Tmgrupo_superv* g = trabajador_del_puerto(index)) {
        g->Stop();
        if (QThread* t = g->hilo())
            t->wait();
    }
    drainTrace();
    {
        std::lock_guard<std::mutex> lock(g_trabajadores_m);
        g_trabajadores[static_cast<size_t>(index)].store(nullptr);
    }
    if (fila_ >= 0) {
        // One unit among several: the others' workers go on.
        liberar_trabajador(index);
    } else {
        liberar_trabajadores();
        hab_traza = false;
    }
    g_hay_bloqueo[static_cast<size_t>(index)].store(false); // released with the port
    std::lock_guard<std::mutex> lock(m_);
    endProgressLocked();
    out_.flush();
}

void HeadlessLoader::resumenFases() {
    std::lock_guard<std::mutex> lock(m_);
    informe_.fases = fases_;
    // Several units end with the summary table instead.
    if (!terminal_ || fases_.empty() || fila_ >= 0)
        return;
    // Bytes, time and effective rate of each phase, once the load is over.
    endProgressLocked();
    for (const Fase& f : fases_) {
        QString l = QString::fromStdString(f.nombre).trimmed() + QStringLiteral(":");
        if (f.bytes >= 0)
            l += QStringLiteral(" %1 B").arg(f.bytes);
        else
            l += QStringLiteral(" %1 %").arg(f.porcentajeFase());
        l += QStringLiteral(" in %1 s").arg(f.segundos(), 0, 'f', 1);
        if (f.bytes > 0 && f.segundos() > 0.0)
            l += QStringLiteral(" (%1)").arg(
                textoRitmo(static_cast<double>(f.bytes) / f.segundos()));
        out_ << l << '\n';
    }
    out_.flush();
}

int HeadlessLoader::terminar(int salida, const std::string& resultado) {
    std::lock_guard<std::mutex> lock(m_);
    informe_.salida = salida;
    informe_.resultado = resultado;
    informe_.segundos = std::chrono::duration<double>(reloj().now() - inicio_).count();
    if (c_.panel)
        panelLocked(QString::fromStdString(textoResultado(informe_)));
    return salida;
}

int HeadlessLoader::run(const PortArgument& port, const QString& file, bool statusOnly,
                        const QString& image) {
    informe_.puerto = textoPuerto(port).toStdString();
    // The file first: a file that cannot be loaded fails before the port is touched.
    SeleccionFichero selection;
    if (!statusOnly && !comprobarFichero(file, selection))
        return terminar(ExitUsage, "file-error");
    return runPuerto(port, selection, statusOnly, image);
}

bool HeadlessLoader::comprobarFichero(const QString& file, SeleccionFichero& selection) {
    HeadlessFileView view(*this);
    const QString path = file.isEmpty() ? QString() : QFileInfo(file).absoluteFilePath();
    informe_.fichero = path.toStdString();
    if (path.isEmpty()) {
        view.showFileError(Mensaje::FicheroNoEncontrado, {});
        return false;
    }
    if (const QString why = motivoFichero(path); !why.isEmpty()) {
        view.showFileError(QFileInfo::exists(path) ? Mensaje::ErrorFichero : Mensaje::SinFichero,
                           (file + QStringLiteral(": ") + why).toStdString());
        return false;
    }
    elegir_fichero(path.toStdString(), selection, view);
    if (fileError_)
        return false;
    informe_.identificacion = selection.id;
    return true;
}

int HeadlessLoader::runPuerto(const PortArgument& port, const SeleccionFichero& selection,
                              bool statusOnly, const QString& image) {
    informe_.puerto = textoPuerto(port).toStdString();
    puertoIndice_ = port.index;
    HeadlessFileView view(*this);
    if (!port.name.empty())
        fijar_nombre_puerto(port.index, port.name);
    struct NameGuard {
        const PortArgument& p;
        ~NameGuard() {
            if (!p.name.empty())
                fijar_nombre_puerto(p.index, "");
        }
    } nameGuard{port};

    AccionesPuerto acciones;
    const std::string portError = texto_mensaje(Mensaje::ErrorPuerto);
    auto& publicado = g_trabajadores[static_cast<size_t>(port.index)];
    acciones.mostrarEstado = [&](const std::string& text) {
        // The worker exists from here on: a stop request can reach it even before it
        // starts.
        publicado.store(trabajador_del_puerto(port.index));
        if (g_interrumpido.load())
            if (Tmgrupo_superv* w = publicado.load())
                w->cancelar();
        // The failure to open is reported below, with the device's own name.
        if (text.rfind(portError, 0) != 0)
            statusLine(text);
    };
    acciones.detenerMonitor = [] {};
    acciones.procesarEventos = [] {};
    acciones.falloApertura = [] {};
    acciones.iniciarMonitor = [] {};
    acciones.independiente = fila_ >= 0;

    const ResultadoSeleccion sel = seleccionar_puerto(port.index, this, acciones);
    if (sel != ResultadoSeleccion::Abierto) {
        const Tinterface_enlace* l = puertos[static_cast<size_t>(port.index)].load();
        const MotivoApertura motivo = l ? l->motivo_apertura() : MotivoApertura{};
        std::string text = portError;
        std::string device =
            motivo.dispositivo.empty() ? nombre_puerto(port.index) : motivo.dispositivo;
        if (port.name.empty()) {
            // COMn keeps its number, and says which device it stands for.
            text += std::to_string(port.index + 1) + " (" + device + ")";
        } else {
            // "... --> COM" names a port by its number; a device has its own name.
            if (text.size() >= 3 && text.compare(text.size() - 3, 3, "COM") == 0)
                text.erase(text.size() - 3);
            text += port.name;
            device = port.name;
        }
        statusLine(text);
        if (motivo.fallo()) {
            const int idioma = idioma_actual_texto.load();
            std::string why = device + ": " + texto_motivo_apertura(motivo, idioma);
            if (const std::string advice = consejo_motivo_apertura(motivo, idioma); !advice.empty())
                why += "; " + advice;
            errorLine(why);
        }
        informe_.entrada = static_cast<int>(Mensaje::ErrorPuerto);
        informe_.texto = text;
        shutdown(port.index);
        return terminar(ExitPortFailed, "port-error");
    }
    if (const Tinterface_enlace* l = puertos[static_cast<size_t>(port.index)].load())
        recordar_bloqueo(port.index, l->nombre());
    Tmgrupo_superv* g = trabajador_del_puerto(port.index);
    // The notices the window leaves on its screen for a while are not waited for here.
    if (g)
        g->sin_esperas_de_pantalla(true);

    const bool refreshed = waitFor(g, [&] { return refreshDone_; });
    // What this port's worker found; a unit on another port may be of another kind.
    const std::string tipoUnidad = g ? g->tipo_unidad() : TIPO_VTR_NONE;
    {
        std::lock_guard<std::mutex> lock(m_);
        informe_.tipoUnidad = tipoUnidad;
    }
    if (g_interrumpido.load()) {
        shutdown(port.index);
        errorLine(texto_interrumpido(texto_mensaje(Mensaje::Detectando), idioma_actual_texto));
        return terminar(ExitInterrupted, "interrupted");
    }
    if (!refreshed) {
        shutdown(port.index);
        return terminar(ExitFailed, "failed");
    }
    const bool found = tipoUnidad != TIPO_VTR_NONE && !tipoUnidad.empty();
    if (statusOnly) {
        shutdown(port.index);
        return terminar(found ? ExitOk : ExitFailed, found ? "found" : "no-unit");
    }

    // A unit image for the other controller is refused as soon as the unit is known,
    // before any loader is entered.
    const std::string forFile = controladorFichero(selection.tipo_fichero);
    const std::string ofUnit = controladorUnidad(tipoUnidad);
    if (!selection.joint && !forFile.empty() && !ofUnit.empty() && forFile != ofUnit) {
        errorLine(texto_controlador_equivocado(forFile, ofUnit, idioma_actual_texto));
        shutdown(port.index);
        return terminar(ExitUsage, "wrong-controller");
    }

    // What Load does in the window, with --image standing for the choice buttons.
    const EleccionXa choice = image.isEmpty()                 ? EleccionXa::Ninguna
                              : image == QLatin1String("i2c") ? EleccionXa::I2C
                                                              : EleccionXa::ClassA;
    TrabajoCarga job;
    if (const auto refused = preparar_carga(selection, tipoUnidad, choice, job)) {
        if (*refused == Mensaje::SeleccioneVersion) {
            statusLine(texto_mensaje(Mensaje::SeleccioneVersion));
            errorLine(texto_mensaje(Mensaje::SeleccioneVersion) + ": --image classa|i2c");
        } else {
            view.showFileError(*refused, {});
        }
        shutdown(port.index);
        return terminar(ExitUsage, "file-error");
    }
    if (!job.id.empty())
        informe_.identificacion = job.id; // a joint file: the chosen image's line
    statusLine(texto_mensaje(Mensaje::Actualizando));
    {
        std::lock_guard<std::mutex> lock(m_);
        lastPercent_ = 0;
        lastTens_ = 0;
        cargando_ = true;
    }
    pedir_carga(port.index, std::move(job));
    const bool finished = waitFor(g, [&] { return loadDone_; });
    int entry = -1;
    std::string fase;
    {
        std::lock_guard<std::mutex> lock(m_);
        entry = result_;
        informe_.entrada = result_;
        informe_.texto = resultText_;
        fase = ultimoEstado_;
    }
    shutdown(port.index);
    resumenFases();
    if (g_interrumpido.load()) {
        errorLine(texto_interrumpido(QString::fromStdString(fase).trimmed().toStdString(),
                                     idioma_actual_texto));
        return terminar(ExitInterrupted, "interrupted");
    }
    if (!finished && entry < 0)
        return terminar(ExitFailed, "failed");
    // A failed load and a unit without room for the file both end in ExitFailed.
    if (entry == static_cast<int>(Mensaje::CargaOk))
        return terminar(ExitOk, "ok");
    return terminar(ExitFailed,
                    entry == static_cast<int>(Mensaje::SinEspacio) ? "no-space" : "failed");
}

QJsonObject informeJson(const Informe& i) {
    auto texto = [](const std::string& s) {
        return s.empty() ? QJsonValue(QJsonValue::Null) : QJsonValue(QString::fromStdString(s));
    };
    QJsonArray fases;
    for (const Fase& f : i.fases)
        fases.append(QJsonObject{
            {QStringLiteral("name"), QString::fromStdString(f.nombre).trimmed()},
            {QStringLiteral("bytes"),
             f.total > 0 ? QJsonValue(static_cast<qint64>(f.bytes)) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("percent"), f.porcentajeFase()},
            {QStringLiteral("seconds"), f.segundos()},
        });
    QJsonObject mensaje;
    if (i.entrada >= 0)
        mensaje = QJsonObject{{QStringLiteral("entry"), i.entrada},
                              {QStringLiteral("text"), QString::fromStdString(i.texto)}};
    return QJsonObject{
        {QStringLiteral("result"), QString::fromStdString(i.resultado)},
        {QStringLiteral("exit_code"), i.salida},
        {QStringLiteral("message"),
         i.entrada >= 0 ? QJsonValue(mensaje) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("port"), texto(i.puerto)},
        {QStringLiteral("unit_type"), texto(i.tipoUnidad == TIPO_VTR_NONE ? "" : i.tipoUnidad)},
        {QStringLiteral("version_before"), texto(i.versionAntes)},
        {QStringLiteral("version_after"), texto(i.versionDespues)},
        {QStringLiteral("file"), texto(i.fichero)},
        {QStringLiteral("identification"), texto(i.identificacion)},
        {QStringLiteral("crc"), texto(i.crc)},
        {QStringLiteral("note"), texto(i.nota)},
        {QStringLiteral("phases"), fases},
    };
}

// "--ports P1,P2,...": a simulated unit's options follow its name after a comma too
// ("sim:arm#2,fault=nack-erase"), so a part that is an option joins the one before.
QStringList partirPuertos(const QString& lista) {
    QStringList r;
    for (const QString& parte : lista.split(QLatin1Char(','))) {
        if (parte.contains(QLatin1Char('=')) && !r.isEmpty() &&
            r.constLast().startsWith(QLatin1String("sim:")))
            r.last() += QLatin1Char(',') + parte;
        else
            r << parte;
    }
    return r;
}

// The summary of several units: port, unit type, version before and after, result
// (and why it failed), time.
void tablaResumen(QTextStream& out, const std::vector<Informe>& informes) {
    struct Fila {
        QString puerto, tipo, version, resultado, tiempo;
    };
    std::vector<Fila> filas{{QStringLiteral("PORT"), QStringLiteral("UNIT"),
                             QStringLiteral("VERSION"), QStringLiteral("RESULT"),
                             QStringLiteral("TIME")}};
    auto o = [](const std::string& v) {
        return v.empty() ? QStringLiteral("-") : QString::fromStdString(v);
    };
    for (const Informe& i : informes) {
        QString version = o(i.versionAntes);
        if (!i.versionDespues.empty() || (i.resultado != "found" && i.resultado != "no-unit"))
            version += QStringLiteral(" \u2192 ") + o(i.versionDespues);
        filas.push_back({QString::fromStdString(i.puerto), textoTipo(i.tipoUnidad), version,
                         QString::fromStdString(textoResultado(i)), textoSegundos(i.segundos)});
    }
    qsizetype a = 0, b = 0, c = 0, d = 0;
    for (const Fila& f : filas) {
        a = std::max(a, f.puerto.size());
        b = std::max(b, f.tipo.size());
        c = std::max(c, f.version.size());
        d = std::max(d, f.resultado.size());
    }
    for (const Fila& f : filas)
        out << f.puerto.leftJustified(a) << "  " << f.tipo.leftJustified(b) << "  "
            << f.version.leftJustified(c) << "  " << f.resultado.leftJustified(d) << "  "
            << f.tiempo.rightJustified(4) << '\n';
    out.flush();
}

// Several units at once: the file checked once, then one worker per port, each
// unit's run on a thread of its own; the summary table at the end. 0 only when
// every unit ended OK (or was found, with --status).
int runVarios(const std::vector<PortArgument>& ports, QTextStream& realOut, QTextStream& err,
              QTextStream* trace, bool json, bool traceTime, bool statusOnly, const QString& file,
              const QString& image, const OpcionesHeadless& opciones) {
    QTextStream& out = json ? err : realOut;
    Compartido compartido;
    compartido.panel = opciones.terminal && !json;
    compartido.lineas.resize(ports.size());
    std::vector<std::unique_ptr<HeadlessLoader>> loaders;
    int ancho = 0;
    for (const PortArgument& p : ports)
        ancho = std::max(ancho, static_cast<int>(textoPuerto(p).size()) + 2);
    for (size_t i = 0; i < ports.size(); ++i) {
        loaders.push_back(std::make_unique<HeadlessLoader>(
            out, err, trace, opciones.terminal && !json, traceTime, opciones, compartido,
            static_cast<int>(i), textoPuerto(ports[i])));
        loaders.back()->anchoPuerto(ancho);
    }

    std::vector<Informe> informes;
    auto resultado = [&](int rc) {
        if (json) {
            QJsonArray a;
            for (const Informe& i : informes)
                a.append(informeJson(i));
            realOut << QJsonDocument(a).toJson(QJsonDocument::Compact) << '\n';
            realOut.flush();
        }
        return rc;
    };

    // The file once, before any port is touched: its errors say it once, unprefixed.
    SeleccionFichero selection;
    if (!statusOnly) {
        Compartido solo;
        HeadlessLoader fichero(out, err, trace, false, traceTime, opciones, solo);
        if (!fichero.comprobarFichero(file, selection)) {
            for (const PortArgument& p : ports) {
                Informe i = fichero.informe();
                i.puerto = textoPuerto(p).toStdString();
                i.salida = ExitUsage;
                i.resultado = "file-error";
                informes.push_back(i);
            }
            return resultado(ExitUsage);
        }
    }

    {
        std::vector<std::thread> hilos;
        hilos.reserve(ports.size());
        for (size_t i = 0; i < ports.size(); ++i)
            hilos.emplace_back([&, i] {
                HeadlessLoader& l = *loaders[i];
                if (!statusOnly) {
                    l.informe().fichero = QFileInfo(file).absoluteFilePath().toStdString();
                    l.informe().identificacion = selection.id;
                }
                l.runPuerto(ports[i], selection, statusOnly, image);
            });
        for (std::thread& h : hilos)
            h.join();
    }
    // Whatever a unit's worker left (none normally), and the trace switched off.
    liberar_trabajadores();
    hab_traza = false;

    bool todos = true;
    for (auto& l : loaders) {
        informes.push_back(l->informe());
        todos = todos && informes.back().salida == ExitOk;
    }
    {
        std::lock_guard<std::mutex> lock(compartido.m);
        for (const QString& e : compartido.errores)
            err << e << '\n';
        err.flush();
    }
    out << '\n';
    tablaResumen(out, informes);
    if (g_interrumpido.load())
        return resultado(ExitInterrupted);
    return resultado(todos ? ExitOk : ExitFailed);
}

// The usage line names the program, not the path it was started by.
QString ayuda(const QCommandLineParser& parser, const QString& programa) {
    QString t = parser.helpText();
    const QStringList qtArgs = QCoreApplication::arguments();
    const QString usado = qtArgs.isEmpty() ? programa : qtArgs.constFirst();
    const qsizetype fin = t.indexOf(QLatin1Char('\n'));
    QString primera = t.left(fin);
    if (!usado.isEmpty())
        primera.replace(usado, QFileInfo(programa.isEmpty() ? usado : programa).fileName());
    return primera + t.mid(fin);
}

} // namespace

void interrumpir_headless() {
    g_interrumpido.store(true);
    std::lock_guard<std::mutex> lock(g_trabajadores_m);
    for (const auto& t : g_trabajadores)
        if (Tmgrupo_superv* g = t.load())
            g->cancelar();
}

void instalar_manejador_interrupcion() {
#ifndef _WIN32
    struct sigaction sa {};
    sa.sa_handler = manejar_interrupcion;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
#else
    std::signal(SIGINT, manejar_interrupcion);
#endif
}

int runHeadless(const QStringList& args, QTextStream& out, QTextStream& err, bool outIsTerminal) {
    OpcionesHeadless o;
    o.terminal = outIsTerminal;
    return runHeadless(args, out, err, o);
}

int runHeadless(const QStringList& args, QTextStream& realOut, QTextStream& err,
                const OpcionesHeadless& opciones) {
    g_interrumpido.store(false);
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(DESCRIPTION));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption portOpt(
        QStringLiteral("port"),
        QStringLiteral("Serial port: COM1..COM4, a device path, auto, sim:arm or sim:xa. "
                       "Given several times, loads every unit at once; auto-all takes every "
                       "USB serial adapter present."),
        QStringLiteral("PORT"));
    const QCommandLineOption portsOpt(
        QStringLiteral("ports"),
        QStringLiteral("Several ports at once, separated by commas: P1,P2,..."),
        QStringLiteral("P1,P2,..."));
    const QCommandLineOption listOpt(
        QStringLiteral("list-ports"),
        QStringLiteral("Lists the system's serial ports: device, description, manufacturer, "
                       "USB VID:PID and serial number."));
    const QCommandLineOption fileOpt(
        QStringLiteral("file"), QStringLiteral("Firmware file to load."), QStringLiteral("FILE"));
    const QCommandLineOption statusOpt(
        QStringLiteral("status"),
        QStringLiteral("Only read the unit's status and version; exit 1 when no unit answers."));
    const QCommandLineOption imageOpt(
        QStringLiteral("image"),
        QStringLiteral("Image of a joint file for an XA unit: classa or i2c (ignored for ARM)."),
        QStringLiteral("classa|i2c"));
    const QCommandLineOption langOpt(
        QStringLiteral("lang"),
        QStringLiteral("Language of the messages: fr, es, en or it (default: the locale's; "
                       "English under the C/POSIX locale)."),
        QStringLiteral("fr|es|en|it"));
    const QCommandLineOption traceOpt(
        QStringLiteral("trace"),
        QStringLiteral("Writes every traced frame and line to FILE (- for standard error)."),
        QStringLiteral("FILE"));
    const QCommandLineOption traceTimeOpt(
        QStringLiteral("trace-time"),
        QStringLiteral("Prefixes each trace line with the milliseconds since the start."));
    const QCommandLineOption jsonOpt(
        QStringLiteral("json"),
        QStringLiteral("Writes one JSON object with the outcome to standard output at the end; "
                       "the other lines go to standard error."));
    parser.addOptions({help, portOpt, portsOpt, listOpt, fileOpt, statusOpt, imageOpt, langOpt,
                       traceOpt, traceTimeOpt, jsonOpt});

    auto usageError = [&](const QString& why) {
        err << "vtr900prog: " << why << '\n' << "Try 'vtr900prog --help'.\n";
        err.flush();
        return ExitUsage;
    };

    if (!parser.parse(args))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        realOut << ayuda(parser, args.value(0));
        realOut.flush();
        return ExitOk;
    }
    if (parser.isSet(version)) {
        realOut << QCoreApplication::applicationName() << ' '
                << QCoreApplication::applicationVersion() << '\n';
        realOut.flush();
        return ExitOk;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    auto sistema = [&] { return opciones.puertos ? opciones.puertos() : puertos_del_sistema(); };
    if (parser.isSet(listOpt)) {
        if (parser.isSet(portOpt) || parser.isSet(portsOpt) || parser.isSet(fileOpt) ||
            parser.isSet(statusOpt))
            return usageError(QStringLiteral("--list-ports takes no --port, --file or --status"));
        realOut << QString::fromStdString(formatear_puertos(sistema()));
        realOut.flush();
        return ExitOk;
    }
    if (!parser.isSet(portOpt) && !parser.isSet(portsOpt))
        return usageError(QStringLiteral("--port is required"));
    const bool statusOnly = parser.isSet(statusOpt);
    if (statusOnly == parser.isSet(fileOpt))
        return usageError(QStringLiteral("give either --file or --status"));

    const QString image = parser.value(imageOpt).toLower();
    if (parser.isSet(imageOpt) && image != QLatin1String("classa") && image != QLatin1String("i2c"))
        return usageError(QStringLiteral("--image must be classa or i2c"));

    if (parser.isSet(langOpt)) {
        const int idioma = idioma_para_codigo(parser.value(langOpt).toLower().toStdString());
        if (idioma < 0)
            return usageError(QStringLiteral("--lang must be fr, es, en or it"));
        idioma_actual_texto = idioma;
    } else if (QLocale::system().language() == QLocale::C) {
        // Containers, CI and ssh sessions often run under the C/POSIX locale: an
        // operator there reads English better than the table's default French.
        idioma_actual_texto = idioma_para_codigo("en");
    } else {
        elegir_idioma_del_sistema();
    }

    QString portError;
    QStringList portArgs;
    for (const QString& p : parser.values(portOpt))
        portArgs << p;
    for (const QString& l : parser.values(portsOpt))
        portArgs << partirPuertos(l);
    QStringList resueltos;
    for (const QString& portArg : portArgs) {
        if (portArg.compare(QLatin1String("auto-all"), Qt::CaseInsensitive) == 0) {
            // Every USB serial adapter present, one unit on each.
            const EleccionPuertoAuto eleccion = elegir_puerto_auto(sistema());
            if (eleccion.adaptadores.empty()) {
                err << "vtr900prog: --port auto-all: no USB serial adapter is present\n"
                    << QString::fromStdString(describir_fallo_auto(eleccion));
                err.flush();
                return ExitUsage;
            }
            for (const PuertoSistema& a : eleccion.adaptadores)
                resueltos << QString::fromStdString(a.dispositivo);
        } else if (portArg.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0) {
            const EleccionPuertoAuto eleccion = elegir_puerto_auto(sistema());
            if (!eleccion.elegido()) {
                err << QString::fromStdString(describir_fallo_auto(eleccion));
                err.flush();
                return ExitPortFailed;
            }
            resueltos << QString::fromStdString(eleccion.dispositivo);
        } else {
            resueltos << portArg;
        }
    }
    std::vector<PortArgument> ports;
    for (const QString& portArg : resueltos) {
        auto p = parsePort(portArg, portError);
        if (!p)
            return usageError(portError);
        ports.push_back(*p);
    }
    if (ports.empty())
        return usageError(QStringLiteral("--port needs a value"));
    if (ports.size() > 1) {
        // Each unit on a port index of its own: COMn keeps its number, the devices
        // named take the indices after COM1..COM4.
        int siguiente = MAX_PUERTOS;
        QSet<QString> vistos;
        for (PortArgument& p : ports) {
            const QString clave = textoPuerto(p).toLower();
            if (vistos.contains(clave))
                return usageError(QStringLiteral("port '%1' given twice").arg(textoPuerto(p)));
            vistos.insert(clave);
            if (p.name.empty())
                continue;
            if (siguiente >= RANURAS_PUERTO)
                return usageError(
                    QStringLiteral("at most %1 ports at once").arg(RANURAS_PUERTO - MAX_PUERTOS));
            p.index = siguiente++;
        }
    }

    std::unique_ptr<QFile> traceFile;
    std::unique_ptr<QTextStream> traceFileStream;
    QTextStream* trace = nullptr;
    if (parser.isSet(traceOpt)) {
        const QString name = parser.value(traceOpt);
        if (name == QLatin1String("-")) {
            trace = &err;
        } else {
            traceFile = std::make_unique<QFile>(name);
            if (!traceFile->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
                return usageError(QStringLiteral("cannot write the trace file '%1': %2")
                                      .arg(name, traceFile->errorString()));
            traceFileStream = std::make_unique<QTextStream>(traceFile.get());
            trace = traceFileStream.get();
        }
    }

    // With --json the object is the only thing on standard output.
    const bool json = parser.isSet(jsonOpt);
    if (ports.size() > 1)
        return runVarios(ports, realOut, err, trace, json, parser.isSet(traceTimeOpt), statusOnly,
                         parser.value(fileOpt), image, opciones);
    QTextStream& out = json ? err : realOut;
    Compartido compartido;
    HeadlessLoader loader(out, err, trace, opciones.terminal && !json, parser.isSet(traceTimeOpt),
                          opciones, compartido);
    const int rc = loader.run(ports.front(), parser.value(fileOpt), statusOnly, image);
    if (json) {
        realOut << QJsonDocument(informeJson(loader.informe())).toJson(QJsonDocument::Compact)
                << '\n';
        realOut.flush();
    }
    return rc;
}
