#include "ui/headless/headless.h"

#include "common/global.h"
#include "comms/nombres_puerto.h"
#include "loader/seleccion_puerto.h"
#include "loader/supervisor_listener.h"
#include "loader/tmgrupo_superv.h"
#include "ui/comun/carga.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QTextStream>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

namespace {

const char* const PROGRAM_VERSION = "2.10";
// Captions of the window's labels that head the version and progress lines.
const char* const CAPTION_VERSION = "Current Firmware Version";
const char* const CAPTION_PROGRESS = "Progress ...";

// How often the trace queue is emptied while the worker runs: the window drains it
// once a second; more often keeps a --trace - stream close to the traffic and the
// 5000-record ring far from full during a fast load.
constexpr std::chrono::milliseconds PERIODO_TRAZA{100};

const char* const DESCRIPTION =
    "Updates the firmware of a VTR-900 unit on a serial port without the window.\n"
    "\n"
    "PORT is COM1..COM4, any device path (a USB adapter, a pseudo-terminal), or\n"
    "sim:arm / sim:xa, the built-in simulated unit (ARM or XA controller) running in\n"
    "real time. COM1..COM4 are /dev/ttyS0../dev/ttyS3 (COM1..COM4 on Windows) unless\n"
    "the environment variable VTR900_COM1..VTR900_COM4 names another device or a\n"
    "sim: port, e.g. VTR900_COM1=/dev/ttyUSB0.\n"
    "\n"
    "A load opens PORT at 19200 8-N-1, resets the unit, reads its status, selects\n"
    "FILE (a unit image, a module firmware or a joint file) and loads it. A joint\n"
    "file on an XA unit needs --image to choose the CLASS A or USB-I2C image.\n"
    "\n"
    "Exit status: 0 update completed (or --status found the unit); 1 update failed,\n"
    "not enough free space on the unit, or --status found no unit; 2 bad arguments,\n"
    "file errors or a missing --image; 3 the port cannot be opened.";

struct PortArgument {
    int index = 0;
    std::string name; // set when the argument names the device itself
};

// COM1..COM4 select their index (and whatever VTR900_COMn maps it to); any other
// text is a device or sim: name served through index 0.
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
    if (es_puerto_simulado(name) && name != "sim:arm" && name != "sim:xa") {
        error = QStringLiteral("unknown simulated unit '%1' (sim:arm or sim:xa)").arg(arg);
        return std::nullopt;
    }
    return PortArgument{0, name};
}

// The front end's side of the worker's callbacks. The worker calls them on its own
// thread while the main thread only waits, so each takes the output lock; the main
// thread takes the same lock for everything it prints.
class HeadlessLoader final : public SupervisorListener {
public:
    HeadlessLoader(QTextStream& out, QTextStream& err, QTextStream* trace, bool terminal)
        : out_(out), err_(err), trace_(trace), terminal_(terminal) {}

    int run(const PortArgument& port, const QString& file, bool statusOnly, const QString& image);

    // ---- SupervisorListener (worker thread)
    void setStatusText(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_);
        if (!resultShown_)
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
        if (!version.empty() && !resultShown_)
            lineLocked(std::string(CAPTION_VERSION) + " " + version);
    }
    void setProgress(int percent) override {
        std::lock_guard<std::mutex> lock(m_);
        progressLocked(percent);
    }
    void setVersionToLoad(const std::string&) override {}
    void showNote(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_);
        lineLocked(text);
    }
    void showResult(int entry, const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_);
        lineLocked(text);
        result_ = entry;
        resultShown_ = true;
    }
    void finishLoad() override {
        std::lock_guard<std::mutex> lock(m_);
        loadDone_ = true;
        cv_.notify_all();
    }

    // ---- main thread
    void statusLine(const std::string& text) {
        std::lock_guard<std::mutex> lock(m_);
        lineLocked(text);
    }
    void errorLine(const std::string& text) {
        std::lock_guard<std::mutex> lock(m_);
        endProgressLocked();
        out_.flush();
        err_ << QString::fromStdString(text) << '\n';
        err_.flush();
    }
    void noteFileError() { fileError_ = true; }

private:
    // Waits until done() holds or the worker has left its thread, emptying the trace
    // queue meanwhile. False when the worker ended without finishing.
    template <class Pred> bool waitFor(Tmgrupo_superv* g, Pred done);
    void drainTrace();
    void shutdown(int index);

    void endProgressLocked() {
        if (progressOpen_) {
            out_ << '\n';
            progressOpen_ = false;
        }
    }
    void lineLocked(const std::string& text) {
        if (text.empty())
            return;
        endProgressLocked();
        out_ << QString::fromStdString(text) << '\n';
        out_.flush();
    }
    void progressLocked(int percent) {
        if (terminal_) {
            if (percent == lastPercent_)
                return;
            // Fixed width, so that a shorter number leaves nothing of a longer one.
            out_ << '\r' << QStringLiteral("%1 %2 %").arg(CAPTION_PROGRESS).arg(percent, 3);
            progressOpen_ = true;
        } else {
            // A line at each 10 % reached; a new block restarting from a lower value
            // counts its tens again.
            const int tens = percent / 10 * 10;
            if (percent < lastPercent_)
                lastTens_ = tens;
            if (tens > lastTens_) {
                out_ << QStringLiteral("%1 %2 %").arg(CAPTION_PROGRESS).arg(tens) << '\n';
                lastTens_ = tens;
            }
        }
        lastPercent_ = percent;
        out_.flush();
    }

    QTextStream& out_;
    QTextStream& err_;
    QTextStream* trace_;
    const bool terminal_;

    std::mutex m_;
    std::condition_variable cv_;
    bool refreshDone_ = false;
    bool loadDone_ = false;
    bool resultShown_ = false;
    int result_ = -1;
    bool progressOpen_ = false;
    int lastPercent_ = 0;
    int lastTens_ = 0;
    bool fileError_ = false; // main thread only
};

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
        if (!g || !g->en_ejecucion()) {
            std::lock_guard<std::mutex> lock(m_);
            return done();
        }
    }
    drainTrace();
    return true;
}

void HeadlessLoader::drainTrace() {
    vaciar_trazas(
        [&](const QString& line) {
            if (trace_) {
                std::lock_guard<std::mutex> lock(m_);
                *trace_ << line << '\n';
            }
        },
        [&](int, uint64_t lost) {
            if (trace_) {
                std::lock_guard<std::mutex> lock(m_);
                *trace_ << QStringLiteral("(%1 trace lines lost: the trace queue was full)\n")
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
    liberar_trabajadores();
    hab_traza = false;
    std::lock_guard<std::mutex> lock(m_);
    endProgressLocked();
    out_.flush();
}

int HeadlessLoader::run(const PortArgument& port, const QString& file, bool statusOnly,
                        const QString& image) {
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
    acciones.mostrarEstado = [&](const std::string& text) {
        // The failure to open is reported below, with the device's own name when
        // the port was given by name.
        if (text.rfind(portError, 0) != 0)
            statusLine(text);
    };
    acciones.detenerMonitor = [] {};
    acciones.procesarEventos = [] {};
    acciones.falloApertura = [] {};
    acciones.iniciarMonitor = [] {};

    const ResultadoSeleccion sel = seleccionar_puerto(port.index, this, acciones);
    if (sel != ResultadoSeleccion::Abierto) {
        std::string text = portError;
        if (port.name.empty()) {
            text += std::to_string(port.index + 1);
        } else {
            // "... --> COM" names a port by its number; a device has its own name.
            if (text.size() >= 3 && text.compare(text.size() - 3, 3, "COM") == 0)
                text.erase(text.size() - 3);
            text += port.name;
        }
        statusLine(text);
        shutdown(port.index);
        return ExitPortFailed;
    }
    Tmgrupo_superv* g = trabajador_del_puerto(port.index);

    if (!waitFor(g, [&] { return refreshDone_; })) {
        shutdown(port.index);
        return ExitFailed;
    }
    if (statusOnly) {
        const bool found = !(tipo_vtr == TIPO_VTR_NONE) && !tipo_vtr.empty();
        shutdown(port.index);
        return found ? ExitOk : ExitFailed;
    }

    // What Load does in the window, with --image standing for the choice buttons.
    HeadlessFileView view(*this);
    const std::string path =
        file.isEmpty() ? std::string() : QFileInfo(file).absoluteFilePath().toStdString();
    SeleccionFichero selection;
    elegir_fichero(path, selection, view);
    if (fileError_) {
        shutdown(port.index);
        return ExitUsage;
    }
    const EleccionXa choice = image.isEmpty()                 ? EleccionXa::Ninguna
                              : image == QLatin1String("i2c") ? EleccionXa::I2C
                                                              : EleccionXa::ClassA;
    TrabajoCarga job;
    if (const auto refused = preparar_carga(selection, choice, job)) {
        if (*refused == Mensaje::SeleccioneVersion) {
            statusLine(texto_mensaje(Mensaje::SeleccioneVersion));
            errorLine(texto_mensaje(Mensaje::SeleccioneVersion) + ": --image classa|i2c");
        } else {
            view.showFileError(*refused, {});
        }
        shutdown(port.index);
        return ExitUsage;
    }
    statusLine(texto_mensaje(Mensaje::Actualizando));
    {
        std::lock_guard<std::mutex> lock(m_);
        lastPercent_ = 0;
        lastTens_ = 0;
    }
    pedir_carga(port.index, std::move(job));
    const bool finished = waitFor(g, [&] { return loadDone_; });
    int entry = -1;
    {
        std::lock_guard<std::mutex> lock(m_);
        entry = result_;
    }
    shutdown(port.index);
    if (!finished && entry < 0)
        return ExitFailed;
    // A failed load and a unit without room for the file both end in ExitFailed.
    return entry == static_cast<int>(Mensaje::CargaOk) ? ExitOk : ExitFailed;
}

} // namespace

int runHeadless(const QStringList& args, QTextStream& out, QTextStream& err, bool outIsTerminal) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(DESCRIPTION));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Shows the program's version."));
    const QCommandLineOption portOpt(
        QStringLiteral("port"),
        QStringLiteral("Serial port: COM1..COM4, a device path, sim:arm or sim:xa."),
        QStringLiteral("PORT"));
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
        QStringLiteral("Language of the messages: fr, es, en or it (default: the locale's)."),
        QStringLiteral("fr|es|en|it"));
    const QCommandLineOption traceOpt(
        QStringLiteral("trace"),
        QStringLiteral("Writes every traced frame and line to FILE (- for standard error)."),
        QStringLiteral("FILE"));
    parser.addOptions({help, version, portOpt, fileOpt, statusOpt, imageOpt, langOpt, traceOpt});

    auto usageError = [&](const QString& why) {
        err << "vtr900prog: " << why << '\n' << "Try 'vtr900prog --help'.\n";
        err.flush();
        return ExitUsage;
    };

    if (!parser.parse(args))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        out << parser.helpText();
        out.flush();
        return ExitOk;
    }
    if (parser.isSet(version)) {
        out << "vtr900prog " << PROGRAM_VERSION << '\n';
        out.flush();
        return ExitOk;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (!parser.isSet(portOpt))
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
    } else {
        elegir_idioma_del_sistema();
    }

    QString portError;
    const auto port = parsePort(parser.value(portOpt), portError);
    if (!port)
        return usageError(portError);

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

    HeadlessLoader loader(out, err, trace, outIsTerminal);
    return loader.run(*port, parser.value(fileOpt), statusOnly, image);
}
