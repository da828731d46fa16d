#pragma once
// Ring of trace records with one producer (the port's worker) and one consumer
// (the window's timer or the headless front end), without a lock.
//
// The producer writes a slot and then publishes ffinal (release); the consumer reads
// ffinal (acquire), then the slot, and publishes ffrente (release) after it has
// taken the record. A full ring drops the new record and counts it instead of
// wrapping onto unread slots (which would make the queue read as empty).

#include "comms/Tmensaje_int.h"

#include <array>
#include <atomic>
#include <cstdint>

constexpr int MAX_MENSAJES = 5000; // highest slot index: 5001 slots, at most 5000 unread

class Tcola_mensaje {
public:
    Tcola_mensaje() = default;
    ~Tcola_mensaje();
    Tcola_mensaje(const Tcola_mensaje&) = delete;
    Tcola_mensaje& operator=(const Tcola_mensaje&) = delete;

    bool hay_mensajes() const;
    // Takes ownership of men. Returns false (and releases men) when the ring is full.
    bool add(Tmensaje* men);
    Tmensaje* primero() const; // nullptr when empty; the record stays queued
    Tmensaje* leer();          // removes and returns the first record; caller owns it
    // Records dropped because the ring was full, since the last call (consumer side).
    uint64_t tomar_descartados();
    uint64_t descartados() const { return fdescartados.load(std::memory_order_acquire); }

    int32_t frente() const { return ffrente.load(std::memory_order_acquire); }
    int32_t final_() const { return ffinal.load(std::memory_order_acquire); }

private:
    static int32_t siguiente(int32_t i) { return i + 1 > MAX_MENSAJES ? 0 : i + 1; }
    std::atomic<int32_t> ffrente{0};
    std::atomic<int32_t> ffinal{0};
    std::array<Tmensaje*, MAX_MENSAJES + 1> datos{};
    std::atomic<uint64_t> fdescartados{0};
    uint64_t fdescartados_vistos = 0; // consumer only
};
