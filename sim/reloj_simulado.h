#pragma once
// Simulated time: sleeping jumps the clock to the deadline at once.
//
// Several threads may read and advance it (the window's thread runs the initial
// reset, the worker then runs the load); the clock only moves forward.

#include "common/reloj.h"

#include <atomic>

class SimClock final : public TimeSource {
public:
    explicit SimClock(Tiempo start = ms(1000)) : now_(start.count()) {}
    Tiempo now() const override { return Tiempo(now_.load(std::memory_order_acquire)); }
    void sleepUntil(Tiempo deadline) override { advanceTo(deadline); }
    bool isSimulated() const override { return true; }
    void advanceTo(Tiempo t) {
        long long cur = now_.load(std::memory_order_acquire);
        while (t.count() > cur &&
               !now_.compare_exchange_weak(cur, t.count(), std::memory_order_acq_rel)) {
        }
    }

private:
    std::atomic<long long> now_;
};
