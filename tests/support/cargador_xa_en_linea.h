#pragma once
// The simulated XA loader on its own, at 9600 8-N-1 on the simulated line and
// already started: a test sends lines as the host's loader does and reads off the
// wire what came back.

#include "support/sim_fixture.h"

#include <cstdint>
#include <string>

struct CargadorXaEnLinea {
    SimPortFixture sim{SimUnit::Controller::XA, 0};
    Tinterface_enlace* link = nullptr;

    CargadorXaEnLinea() {
        link = &sim.open();
        link->cambia_conf(9600, 8, 1, 'N', 0);
        sim.unit->enterMode(SimUnit::Mode::XaLoader, sim.clock.now());
    }
    // Sends a line and returns everything the loader sent back until the given
    // silence (idle polls of 50 ms).
    std::string exchange(const std::string& line, int32_t silence = 20) {
        const size_t mark = sim.unit->line().bytes().size();
        link->enviar_datos_nenlace(sim.index, line);
        (void)link->recibir_datos_nfisico(silence, std::string(2, '\x01')); // never matches
        std::string back;
        const auto bytes = sim.unit->line().bytes();
        for (size_t i = mark; i < bytes.size(); ++i)
            if (!bytes[i].fromHost)
                back += static_cast<char>(bytes[i].value);
        return back;
    }
};
