#pragma once
// An XA unit on port 0 at 9600 8-N-1, a worker whose thread stays idle (the tests
// call its procedures themselves), a listener that records what the worker reports,
// and Intel HEX images written to a temporary folder.

#include "loader/supervisor_listener.h"
#include "loader/tablas_xa.h"
#include "loader/tmgrupo_superv.h"
#include "support/hex_records.h"
#include "support/sim_fixture.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

class RecordingListener final : public SupervisorListener {
public:
    struct Event {
        enum Kind { Status, Progress, Other } kind;
        std::string text;
        int value;
    };
    void setStatusText(const std::string& t) override { events.push_back({Event::Status, t, 0}); }
    void setLoadEnabled(bool) override { events.push_back({Event::Other, "load", 0}); }
    void setVersionText(const std::string&) override {}
    void setProgress(int p) override { events.push_back({Event::Progress, {}, p}); }
    void setVersionToLoad(const std::string&) override {}
    void showResult(int, const std::string&) override {}
    void finishLoad() override {}

    std::vector<std::string> statusTexts() const {
        std::vector<std::string> out;
        for (const auto& e : events)
            if (e.kind == Event::Status)
                out.push_back(e.text);
        return out;
    }
    std::vector<int> progress() const {
        std::vector<int> out;
        for (const auto& e : events)
            if (e.kind == Event::Progress)
                out.push_back(e.value);
        return out;
    }

    std::vector<Event> events;
};

// An image built record by record, with the memory its data records describe.
struct HexImage {
    std::vector<std::string> lines;
    std::map<uint32_t, uint8_t> memory;
    uint32_t upper = 0;

    HexImage& data(uint16_t address, const std::vector<uint8_t>& bytes) {
        lines.push_back(hexRecord(0x00, address, bytes));
        for (size_t i = 0; i < bytes.size(); ++i)
            memory[(upper << 16) + address + static_cast<uint32_t>(i)] = bytes[i];
        return *this;
    }
    HexImage& extended(uint16_t high) {
        upper = high;
        lines.push_back(hexExtendedLinear(high));
        return *this;
    }
    HexImage& raw(const std::string& line) {
        lines.push_back(line);
        return *this;
    }
    HexImage& end() { return raw(hexEndRecord()); }
    int32_t characters() const {
        int32_t n = 0;
        for (const auto& l : lines)
            n += static_cast<int32_t>(l.size());
        return n;
    }
};

inline std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 7);
    return v;
}

class XaFixture : public ::testing::Test {
protected:
    SimPortFixture sim{SimUnit::Controller::XA, 0};
    RecordingListener listener;
    Tmgrupo_superv worker;
    QTemporaryDir dir;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Tinterface_enlace& link = sim.open();
        ASSERT_TRUE(link.abierto());
        // The load sets the loader's line format before it programs.
        link.cambia_conf(9600, 8, 1, 'N', 0);
        worker.fpcom = sim.index;
        worker.setListener(&listener);
        grupos_supev[sim.index] = &worker;
        puerto_seleccionado = sim.index;
    }
    void TearDown() override { grupos_supev[sim.index] = nullptr; }

    SimXaLoader& loader() { return sim.unit->xaLoader(); }

    // Writes the image as bank 1 (CR LF line ends, as the file selection writes
    // them) and sets the total the progress is computed on.
    void useImage(const HexImage& img, int32_t total = -1) {
        const std::string path = dir.filePath("FIRMB1.HEX").toStdString();
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (const auto& l : img.lines)
            out << l << "\r\n";
        out.close();
        fichero_banco1 = path;
        size_tele = total >= 0 ? total : img.characters();
    }

    // The lines the loader received, the synchronisation and command lines included.
    std::vector<std::string> received() { return loader().lineTexts(); }
    int timesReceived(const std::string& line) {
        int n = 0;
        for (const auto& l : received())
            n += l == line;
        return n;
    }
};

// The lines of a complete programming around the image records that are sent.
inline std::vector<std::string> expectedSession(const std::vector<std::string>& records) {
    std::vector<std::string> s = {tabla_sincro,         tabla_velocidad,      tabla_borrar_bloque0,
                                  tabla_borrar_bloque1, tabla_borrar_bloque2, tabla_borrar_bloque3,
                                  tabla_borrar_bloque4};
    s.insert(s.end(), records.begin(), records.end());
    for (const std::string* l : {&tabla_borrar_boot_status, &tabla_status, &tabla_boot,
                                 &tabla_verif_status, &tabla_verif_boot})
        s.push_back(*l);
    return s;
}
