#pragma once
// A port's worker against the simulated unit, driven as a front end drives it: the
// port is selected, the refresh runs on the worker's thread, the test posts the
// file variables and the load request, and every callback lands in an ordered log.
//
// The simulated clock makes the load itself instant; the worker's 100 ms polling
// wait and its events are real-time condition waits, so tests wait for log entries
// with a bounded real-time wait.

#include "common/global.h"
#include "loader/seleccion_puerto.h"
#include "loader/supervisor_listener.h"
#include "loader/tmgrupo_superv.h"
#include "support/hex_records.h"
#include "support/sim_fixture.h"

#include <QTemporaryDir>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Ordered log of the callbacks: "estado:<text>", "carga:<0|1>", "version:<text>",
// "progreso:<n>", "acargar:<text>", "resultado:<n>:<text>", "fin".
class RecordingListener final : public SupervisorListener {
public:
    // Called on the worker's thread after an entry was logged and before waiters
    // wake on it (it may throw).
    void setHook(std::function<void(const std::string&)> h) {
        std::lock_guard<std::mutex> lock(m_);
        hook_ = std::move(h);
    }

    void setStatusText(const std::string& t) override { add("estado:" + t); }
    void setLoadEnabled(bool e) override { add(std::string("carga:") + (e ? "1" : "0")); }
    void setVersionText(const std::string& v) override { add("version:" + v); }
    void setProgress(int p) override { add("progreso:" + std::to_string(p)); }
    void setVersionToLoad(const std::string& v) override { add("acargar:" + v); }
    void showResult(int entry, const std::string& text) override {
        add("resultado:" + std::to_string(entry) + ":" + text);
    }
    void finishLoad() override { add("fin"); }

    std::vector<std::string> log() const {
        std::lock_guard<std::mutex> lock(m_);
        return log_;
    }
    size_t size() const {
        std::lock_guard<std::mutex> lock(m_);
        return log_.size();
    }
    // Waits (real time) until the entry has been logged at least n times.
    bool waitFor(const std::string& entry, int n = 1,
                 std::chrono::milliseconds max = std::chrono::seconds(20)) const {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, max, [&] { return countLocked(entry) >= n; });
    }
    int count(const std::string& entry) const {
        std::lock_guard<std::mutex> lock(m_);
        return countLocked(entry);
    }
    // Entries logged from index `from` on.
    std::vector<std::string> since(size_t from) const {
        std::lock_guard<std::mutex> lock(m_);
        return from < log_.size()
                   ? std::vector<std::string>(log_.begin() + static_cast<long>(from), log_.end())
                   : std::vector<std::string>{};
    }

private:
    void add(const std::string& e) {
        std::function<void(const std::string&)> h;
        {
            std::lock_guard<std::mutex> lock(m_);
            h = hook_;
        }
        // The hook runs before the entry is logged: a test that wakes on the entry
        // (a notification or a spurious wake-up finding it in the log) then finds
        // in place whatever the hook observed.
        if (h)
            h(e);
        {
            std::lock_guard<std::mutex> lock(m_);
            log_.push_back(e);
        }
        cv_.notify_all();
    }
    int countLocked(const std::string& e) const {
        int n = 0;
        for (const auto& x : log_)
            n += x == e;
        return n;
    }
    mutable std::mutex m_;
    mutable std::condition_variable cv_;
    std::vector<std::string> log_;
    std::function<void(const std::string&)> hook_;
};

// Data records of n bytes (16 per record) from addr, with byte i = seed + i.
inline std::vector<std::string> registros_datos(uint16_t addr, int n, uint8_t seed) {
    std::vector<std::string> out;
    for (int off = 0; off < n; off += 16) {
        std::vector<uint8_t> d;
        for (int i = off; i < std::min(n, off + 16); ++i)
            d.push_back(static_cast<uint8_t>(seed + i));
        out.push_back(hexRecord(0x00, static_cast<uint16_t>(addr + off), d));
    }
    return out;
}

class WorkerRig {
public:
    explicit WorkerRig(SimUnit::Controller c = SimUnit::Controller::ARM) : sim(c, 0) {
        idioma_actual_texto = 2; // English texts in the log
        acciones.detenerMonitor = [this] { note("hook:detener"); };
        acciones.iniciarMonitor = [this] { note("hook:iniciar"); };
        acciones.falloApertura = [this] { note("hook:fallo"); };
        acciones.mostrarEstado = [this](const std::string& t) { note("hook:estado:" + t); };
    }
    ~WorkerRig() { liberar_trabajadores(); }

    SimPortFixture sim;
    RecordingListener rec;
    AccionesPuerto acciones;
    QTemporaryDir dir;

    SimUnit& unit() { return *sim.unit; }
    Tmgrupo_superv* worker() const { return grupos_supev[0].load(); }

    // Selects the port and waits for the refresh to enable Load.
    bool select() {
        const int before = rec.count("carga:1");
        if (seleccionar_puerto(0, &rec, acciones) != ResultadoSeleccion::Abierto)
            return false;
        return rec.waitFor("carga:1", before + 1);
    }
    // Posts the load request and waits for its end.
    bool load() {
        const int before = rec.count("fin");
        grabar_firmware.store(true);
        return rec.waitFor("fin", before + 1);
    }

    std::string write(const std::string& name, const std::vector<std::string>& lines) {
        const std::string path = dir.filePath(QString::fromStdString(name)).toStdString();
        std::ofstream out(path, std::ios::binary);
        for (const auto& l : lines)
            out << l << "\r\n";
        return path;
    }
    std::string writeBinary(const std::string& name, const std::vector<std::string>& header,
                            const std::vector<uint8_t>& data) {
        const std::string path = write(name, header);
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<long>(data.size()));
        return path;
    }

    std::vector<std::string> hooks() const {
        std::lock_guard<std::mutex> lock(hm_);
        return hooks_;
    }

private:
    void note(const std::string& h) {
        std::lock_guard<std::mutex> lock(hm_);
        hooks_.push_back(h);
    }
    mutable std::mutex hm_;
    std::vector<std::string> hooks_;
};

// Joined lines, as the framed transfer sends an Intel HEX file.
inline std::vector<uint8_t> concatenadas(const std::vector<std::string>& lines) {
    std::vector<uint8_t> out;
    for (const auto& l : lines)
        out.insert(out.end(), l.begin(), l.end());
    return out;
}

inline int total_caracteres(const std::vector<std::string>& lines) {
    int n = 0;
    for (const auto& l : lines)
        n += static_cast<int>(l.size());
    return n;
}

// Chooses a module firmware in Intel HEX form, as the file selection does.
inline void elegir_modulo_hex(WorkerRig& rig, const std::vector<std::string>& lineas,
                              const std::string& id) {
    fichero_banco2 = rig.write("m.hex", lineas);
    tipo_fichero = TIPO_FICHERO_MOD;
    modo_fichero_str = "HEX";
    id_str = id;
    size_tele = total_caracteres(lineas);
}
