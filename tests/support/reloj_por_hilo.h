#pragma once
// Simulated time for several units loaded at once: each thread has a timeline of its
// own, so that one unit's long wait (an erase, a restart) does not jump the clock
// under another unit's short time-out, which a single shared simulated clock would.
// Every unit is driven by its own threads only (the one that opens its port, then
// its worker), so each unit still sees its own waits in order and in full.
//
// A thread's timeline begins, at its first look at the clock, where the furthest
// timeline has got to: time never goes back for a thread, and a thread that starts
// later starts later.

#include "common/reloj.h"

#include <atomic>
#include <cstdint>

class SimClockPorHilo final : public TimeSource {
public:
    explicit SimClockPorHilo(Tiempo start = ms(1000))
        : id_(siguiente().fetch_add(1) + 1), marca_(start.count()) {}
    Tiempo now() const override { return Tiempo(propio()); }
    void sleepUntil(Tiempo deadline) override {
        long long& t = propio();
        if (deadline.count() > t)
            t = deadline.count();
        long long m = marca_.load(std::memory_order_acquire);
        while (t > m && !marca_.compare_exchange_weak(m, t, std::memory_order_acq_rel)) {
        }
    }
    bool isSimulated() const override { return true; }

private:
    struct Linea {
        uint64_t reloj = 0; // the clock this thread's timeline belongs to
        long long ahora = 0;
    };
    static std::atomic<uint64_t>& siguiente() {
        static std::atomic<uint64_t> n{0};
        return n;
    }
    long long& propio() const {
        thread_local Linea l;
        if (l.reloj != id_) {
            l.reloj = id_;
            l.ahora = marca_.load(std::memory_order_acquire);
        }
        return l.ahora;
    }
    const uint64_t id_;
    mutable std::atomic<long long> marca_; // the furthest any timeline has got
};
