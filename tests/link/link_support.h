#pragma once
// A port's worker wired to a simulated unit in simulated time, for the link-level
// and transfer tests: its thread stays idle and the procedures are called on the
// test thread; what it reports to the front end is recorded.

#include "loader/supervisor_listener.h"
#include "loader/tmgrupo_superv.h"
#include "support/sim_fixture.h"

#include <QTemporaryDir>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

struct RecordingListener final : SupervisorListener {
    std::vector<std::string> status;
    std::vector<int> progress;
    void setStatusText(const std::string& text) override { status.push_back(text); }
    void setLoadEnabled(bool) override {}
    void setVersionText(const std::string&) override {}
    void setProgress(int percent) override { progress.push_back(percent); }
    void setVersionToLoad(const std::string&) override {}
    void showResult(int, const std::string&) override {}
    void finishLoad() override {}
};

struct WorkerOnSimPort {
    static constexpr uint8_t kPort = 1;
    SimPortFixture sim;
    std::unique_ptr<Tmgrupo_superv> superv;
    RecordingListener listener;
    QTemporaryDir dir;

    explicit WorkerOnSimPort(SimUnit::Controller c = SimUnit::Controller::ARM) : sim(c, kPort) {
        sim.open();
        superv = std::make_unique<Tmgrupo_superv>();
        superv->fpcom = kPort;
        superv->setListener(&listener);
        grupos_supev[kPort] = superv.get();
    }
    ~WorkerOnSimPort() {
        grupos_supev[kPort] = nullptr;
        superv.reset();
    }

    SimRunningSoftware& software() { return sim.unit->software(); }
    SimRunningSoftware::Records records() {
        sim.unit->line().pump();
        return software().records();
    }
    std::string path(const std::string& name) const {
        return dir.filePath(QString::fromStdString(name)).toStdString();
    }
    std::string writeFile(const std::string& name, const std::string& bytes) const {
        const std::string p = path(name);
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    // Every trace line queued so far, taken out of the queue.
    std::vector<std::string> takeTrace() {
        std::vector<std::string> out;
        while (Tmensaje* m = superv->traza_log.leer()) {
            out.push_back(m->ftraza);
            delete m;
        }
        return out;
    }
};

// Frames of the transfer with a given sub-command.
inline std::vector<SimRunningSoftware::Frame> framesWithSub(const SimRunningSoftware::Records& r,
                                                            uint8_t sub) {
    std::vector<SimRunningSoftware::Frame> out;
    for (const auto& f : r.frames)
        if (f.command == COMANDO_COMANDO && !f.payload.empty() && f.payload[0] == sub)
            out.push_back(f);
    return out;
}

inline uint32_t be32(const std::vector<uint8_t>& p, size_t pos) {
    return static_cast<uint32_t>(p[pos]) << 24 | static_cast<uint32_t>(p[pos + 1]) << 16 |
           static_cast<uint32_t>(p[pos + 2]) << 8 | p[pos + 3];
}
