#pragma once
// The one recorder of what the loader reports: the calls of a worker's listener
// (the front end's side) and of a procedure's reporter (when a test runs a
// procedure with no worker), in one ordered log:
//   "estado:<text>", "carga:<0|1>", "version:<text>", "progreso:<n>",
//   "acargar:<text>", "crc:<8 hex digits>", "nota:<text>", "resultado:<n>:<text>",
//   "fin".
// A worker calls from its own thread: every access is locked, and a test can wait
// (real time, bounded) for an entry.

#include "loader/procedimiento.h"
#include "loader/supervisor_listener.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class Grabadora final : public SupervisorListener, public Informador {
public:
    // Called on the reporting thread before an entry is logged (it may throw).
    void setHook(std::function<void(const std::string&)> h) {
        std::lock_guard<std::mutex> lock(m_);
        hook_ = std::move(h);
    }

    // ---- SupervisorListener
    void setStatusText(const std::string& t) override { add("estado:" + t); }
    void setLoadEnabled(bool e) override { add(std::string("carga:") + (e ? "1" : "0")); }
    void setVersionText(const std::string& v) override { add("version:" + v); }
    void setProgress(int p) override { add("progreso:" + std::to_string(p)); }
    void setVersionToLoad(const std::string& v) override { add("acargar:" + v); }
    void showNote(const std::string& t) override { add("nota:" + t); }
    void showResult(int entry, const std::string& text) override {
        add("resultado:" + std::to_string(entry) + ":" + text);
    }
    void finishLoad() override { add("fin"); }

    // ---- Informador
    void estado(const std::string& t) override { setStatusText(t); }
    void progreso(int32_t p) override { setProgress(p); }
    void crc(uint32_t c) override { add("crc:" + hex8(c)); }
    void version_acargar(const std::string& v) override { setVersionToLoad(v); }
    void aviso(const std::string& t) override { showNote(t); }

    static std::string hex8(uint32_t v) {
        char s[16];
        std::snprintf(s, sizeof s, "%08X", v);
        return s;
    }

    std::vector<std::string> log() const {
        std::lock_guard<std::mutex> lock(m_);
        return log_;
    }
    size_t size() const {
        std::lock_guard<std::mutex> lock(m_);
        return log_.size();
    }
    void clear() {
        std::lock_guard<std::mutex> lock(m_);
        log_.clear();
    }
    // The entries that start with `prefijo`, without it ("estado:" gives the texts).
    std::vector<std::string> con(const std::string& prefijo) const {
        std::vector<std::string> out;
        for (const auto& e : log())
            if (e.rfind(prefijo, 0) == 0)
                out.push_back(e.substr(prefijo.size()));
        return out;
    }
    std::vector<std::string> estados() const { return con("estado:"); }
    std::vector<int> progresos() const {
        std::vector<int> out;
        for (const auto& p : con("progreso:"))
            out.push_back(std::stoi(p));
        return out;
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
        // then finds in place whatever the hook observed.
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
