#include "common/reloj.h"

#include <atomic>
#include <thread>

Tiempo RealClock::now() const {
    return std::chrono::duration_cast<Tiempo>(std::chrono::steady_clock::now().time_since_epoch());
}

void RealClock::sleepUntil(Tiempo deadline) {
    const auto target = std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(deadline));
    std::this_thread::sleep_until(target);
}

namespace {
RealClock g_real;
std::atomic<TimeSource*> g_actual{nullptr};
} // namespace

TimeSource& reloj() {
    TimeSource* t = g_actual.load(std::memory_order_acquire);
    return t ? *t : g_real;
}

void fijar_reloj(TimeSource* t) {
    g_actual.store(t, std::memory_order_release);
}
