#pragma once
// A simulated unit on a port, the port's worker with its thread left idle (the
// tests call its procedures on their own thread), a listener that records what the
// worker reports, and the DTR changes seen on the line as offsets from a start.

#include "loader/secuencias_dtr.h"
#include "loader/supervisor_listener.h"
#include "loader/tmgrupo_superv.h"
#include "support/sim_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

class ListenerGrabador final : public SupervisorListener {
public:
    struct Evento {
        enum Tipo { Estado, Progreso, VersionACargar, Otro } tipo;
        std::string texto;
        int valor = 0;
    };
    void setStatusText(const std::string& t) override { eventos.push_back({Evento::Estado, t}); }
    void setLoadEnabled(bool) override { eventos.push_back({Evento::Otro, "start"}); }
    void setVersionText(const std::string& t) override { eventos.push_back({Evento::Otro, t}); }
    void setProgress(int p) override { eventos.push_back({Evento::Progreso, {}, p}); }
    void setVersionToLoad(const std::string& t) override {
        eventos.push_back({Evento::VersionACargar, t});
    }
    void showResult(int, const std::string& t) override { eventos.push_back({Evento::Otro, t}); }
    void finishLoad() override {}

    std::vector<std::string> textos(Evento::Tipo tipo) const {
        std::vector<std::string> out;
        for (const auto& e : eventos)
            if (e.tipo == tipo)
                out.push_back(e.texto);
        return out;
    }
    std::vector<int> progresos() const {
        std::vector<int> out;
        for (const auto& e : eventos)
            if (e.tipo == Evento::Progreso)
                out.push_back(e.valor);
        return out;
    }
    std::vector<Evento> eventos;
};

// A DTR change as an offset in milliseconds from a start, and the level reached.
using CambioDtr = std::pair<long long, bool>;
constexpr bool ACTIVA = true; // asserted
constexpr bool BAJA = false;  // cleared

inline std::vector<CambioDtr> cambios_desde(const std::vector<DtrRecord>& h, Tiempo t0) {
    std::vector<CambioDtr> out;
    for (const auto& r : h)
        if (r.t >= t0)
            out.emplace_back(
                std::chrono::duration_cast<std::chrono::milliseconds>(r.t - t0).count(),
                r.asserted);
    return out;
}

// The changes a table of steps makes when it starts at offset 0.
inline std::vector<CambioDtr> cambios_de_tabla(SecuenciaDtr pasos) {
    std::vector<CambioDtr> out;
    long long t = 0;
    for (const PasoDtr& p : pasos) {
        if (p.llamada != PasoDtr::Llamada::Ninguna)
            out.emplace_back(t, p.llamada == PasoDtr::Llamada::DTROff);
        t += p.espera_msec;
    }
    return out;
}

class GrupoPrueba {
public:
    explicit GrupoPrueba(SimUnit::Controller c, uint8_t idx = 0) : sim(c, idx) {
        Tinterface_enlace& l = sim.open();
        EXPECT_TRUE(l.abierto());
        puerto_seleccionado = idx;
        grupo.fpcom = idx;
        grupo.setListener(&listener);
        grupos_supev[idx] = &grupo;
    }
    ~GrupoPrueba() { grupos_supev[sim.index] = nullptr; }

    SimUnit& unidad() { return *sim.unit; }
    SimLine& linea() { return sim.unit->line(); }
    Tiempo ahora() const { return sim.clock.now(); }
    long long ms_desde(Tiempo t0) const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(ahora() - t0).count();
    }
    SimUnit::Mode modo() {
        linea().pump();
        return unidad().mode();
    }

    SimPortFixture sim;
    ListenerGrabador listener;
    Tmgrupo_superv grupo;
};
