#pragma once
// One of the programs the simulated unit's controller can be running: its running
// software (framed protocol), the ARM controller's UART bootloader, or the XA
// controller's in-system programming loader.

#include "sim/linea_simulada.h"

class SimUnit;

class SimPersonality {
public:
    explicit SimPersonality(SimUnit& unit) : unit_(unit) {}
    virtual ~SimPersonality() = default;
    SimPersonality(const SimPersonality&) = delete;
    SimPersonality& operator=(const SimPersonality&) = delete;

    // The format this program's UART runs at.
    virtual LineFormat format() const = 0;
    virtual void onByte(uint8_t b, bool garbled, Tiempo t) = 0;
    // The controller (re)started this program: forget any half-received input.
    virtual void restart(Tiempo /*t*/) {}

protected:
    SimUnit& unit_;
};
