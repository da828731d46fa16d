#pragma once
// A simulated unit on a port and the loader's procedures run on the test's own
// thread, with no worker at all: each procedure is built with the port's link, the
// simulated clock and the one recorder as its reporter. The DTR changes seen on the
// line are given as offsets from a start, to compare with the tables of steps.

#include "comms/Tcola.h"
#include "comms/tint_enlace.h"
#include "loader/deteccion.h"
#include "loader/grabador_arm.h"
#include "loader/grabador_xa.h"
#include "loader/secuencias_dtr.h"
#include "loader/transferencia_tramas.h"
#include "support/grabadora.h"
#include "support/hex_records.h"
#include "support/sim_fixture.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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

class RigProcedimientos {
public:
    // Opens port idx at 19200 8-N-1, as the front end does. With traza, the trace
    // lines of the port go to this rig's queue (the link level looks the queue up
    // by port; without a worker the rig stands in for it).
    explicit RigProcedimientos(SimUnit::Controller c, uint8_t idx = 0, bool traza = false)
        : sim(c, idx) {
        sim.open();
        idioma_actual_texto = 2; // English texts in the log
        if (traza) {
            cola_ = std::make_unique<Tcola_mensaje>();
            cola_activa().store(cola_.get());
            registrar_proveedor_cola_traza(&cola_de_rig);
        }
    }
    ~RigProcedimientos() {
        if (cola_) {
            cola_activa().store(nullptr);
            while (Tmensaje* m = cola_->leer())
                delete m;
        }
    }
    RigProcedimientos(const RigProcedimientos&) = delete;
    RigProcedimientos& operator=(const RigProcedimientos&) = delete;

    SimPortFixture sim;
    Grabadora rec;
    Tmensaje tx, rx; // the request and reply records a worker would own

    // The port's link now (nullptr once the test closed it).
    Contexto contexto() { return Contexto{puertos[sim.index].load(), sim.index, sim.clock, rec}; }
    GrabadorArm arm() { return GrabadorArm(contexto()); }
    GrabadorXa xa() { return GrabadorXa(contexto()); }
    Deteccion deteccion() { return Deteccion(contexto()); }
    TransferenciaTramas tramas() { return TransferenciaTramas(contexto(), tx, rx); }
    void dtr(SecuenciaDtr pasos) {
        ejecutar_secuencia_dtr(puertos[sim.index].load(), sim.index, sim.clock, pasos);
    }

    SimUnit& unidad() { return *sim.unit; }
    SimLine& linea() { return sim.unit->line(); }
    Tinterface_enlace& enlace() { return *sim.link; }
    Tiempo ahora() const { return sim.clock.now(); }
    void esperar(int32_t msec) { sim.clock.sleepFor(ms(msec)); }
    long long ms_desde(Tiempo t0) const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(ahora() - t0).count();
    }
    SimUnit::Mode modo() {
        linea().pump();
        return unidad().mode();
    }
    SimRunningSoftware& software() { return sim.unit->software(); }
    SimRunningSoftware::Records records() {
        linea().pump();
        return software().records();
    }
    // Every trace line queued so far, taken out of the queue (a rig built with traza).
    std::vector<std::string> takeTrace() {
        std::vector<std::string> out;
        while (cola_)
            if (Tmensaje* m = cola_->leer()) {
                out.push_back(m->ftraza);
                delete m;
            } else {
                break;
            }
        return out;
    }

private:
    static std::atomic<Tcola_mensaje*>& cola_activa() {
        static std::atomic<Tcola_mensaje*> c{nullptr};
        return c;
    }
    static Tcola_mensaje* cola_de_rig(int) { return cola_activa().load(); }
    std::unique_ptr<Tcola_mensaje> cola_;
};
