#pragma once
// A simulated unit wired to a port index, in simulated time.

#include "common/global.h"
#include "comms/nombres_puerto.h"
#include "comms/tint_enlace.h"
#include "sim/reloj_simulado.h"
#include "sim/unidad_simulada.h"

#include <memory>

struct SimPortFixture {
    SimClock clock;
    ScopedTimeSource useClock{clock};
    std::shared_ptr<SimUnit> unit;
    std::unique_ptr<Tinterface_enlace> link;
    uint8_t index;

    explicit SimPortFixture(SimUnit::Controller c = SimUnit::Controller::ARM, uint8_t idx = 0)
        : unit(std::make_shared<SimUnit>(c)), index(idx) {
        reiniciar_estado_global();
        fijar_unidad_simulada(idx, unit);
    }
    ~SimPortFixture() {
        if (puertos[index] == link.get())
            puertos[index] = nullptr;
        link.reset();
        fijar_unidad_simulada(index, nullptr);
        reiniciar_estado_global();
    }
    // Opens the port as the window does: 19200 8-N-1.
    Tinterface_enlace& open() {
        link = std::make_unique<Tinterface_enlace>();
        link->abrir_interface(index, MODO_RS232, 19200, 8, 1, 'N', 0, THRESHOLD08, 15000, 15000,
                              AJUSTE_RS485_DEF);
        puertos[index] = link.get();
        return *link;
    }
};
