#pragma once
// One of the programs the simulated unit's controller can be running: its running
// software (framed protocol), the ARM controller's UART bootloader, or the XA
// controller's in-system programming loader.

#include "sim/linea_simulada.h"

#include <atomic>
#include <utility>
#include <vector>

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

    // Whether the records of what this program received are kept whole (the
    // default: tests read them back) or only their newest entry, which the program
    // may still consult. A unit served for hours keeps the latter, so that its
    // memory does not grow with every load.
    void setKeepHistory(bool on) { keepHistory_.store(on); }

protected:
    // Appends one entry to a record of what was received.
    template <class T> void anotar(std::vector<T>& registro, T entrada) {
        if (!keepHistory_.load())
            registro.clear();
        registro.push_back(std::move(entrada));
    }

    SimUnit& unit_;
    std::atomic<bool> keepHistory_{true};
};
