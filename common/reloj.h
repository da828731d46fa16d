#pragma once
// The one time source behind every protocol wait: the serial polls, the pauses of
// the DTR sequences and of retardo_msec, and the simulated unit's timing.
//
// The real clock reads std::chrono::steady_clock and sleeps. The simulated clock
// (sim/reloj_simulado.h) jumps to the deadline at once, so seconds of prescribed
// waits cost nothing and every run of a test is the same.

#include <chrono>

using Tiempo = std::chrono::microseconds; // instants since the clock's epoch, and durations

class TimeSource {
public:
    virtual ~TimeSource() = default;
    virtual Tiempo now() const = 0;
    // Blocks the caller until now() >= deadline (returns at once when it already is).
    virtual void sleepUntil(Tiempo deadline) = 0;
    // True for a clock that jumps instead of sleeping.
    virtual bool isSimulated() const { return false; }

    void sleepFor(Tiempo d) {
        if (d.count() > 0)
            sleepUntil(now() + d);
    }
};

class RealClock final : public TimeSource {
public:
    Tiempo now() const override;
    void sleepUntil(Tiempo deadline) override;
};

// The process-wide time source; the real clock unless a test installed another.
TimeSource& reloj();
// Installs a time source (nullptr: back to the real clock). Not for use while
// workers run: tests install it before they create any port or worker.
void fijar_reloj(TimeSource* t);

// Installs a time source for the lifetime of a scope.
class ScopedTimeSource {
public:
    explicit ScopedTimeSource(TimeSource& t) { fijar_reloj(&t); }
    ~ScopedTimeSource() { fijar_reloj(nullptr); }
    ScopedTimeSource(const ScopedTimeSource&) = delete;
    ScopedTimeSource& operator=(const ScopedTimeSource&) = delete;
};

// Milliseconds as a Tiempo.
constexpr Tiempo ms(long long v) {
    return std::chrono::milliseconds(v);
}
