#include "comms/Tcola.h"

Tcola_mensaje::~Tcola_mensaje() {
    while (hay_mensajes())
        delete leer();
}

bool Tcola_mensaje::hay_mensajes() const {
    return ffrente.load(std::memory_order_acquire) != ffinal.load(std::memory_order_acquire);
}

bool Tcola_mensaje::add(Tmensaje* men) {
    const int32_t fin = ffinal.load(std::memory_order_relaxed);
    const int32_t next = siguiente(fin);
    if (next == ffrente.load(std::memory_order_acquire)) {
        delete men;
        fdescartados.fetch_add(1, std::memory_order_acq_rel);
        return false;
    }
    datos[static_cast<size_t>(fin)] = men;
    ffinal.store(next, std::memory_order_release);
    return true;
}

Tmensaje* Tcola_mensaje::primero() const {
    const int32_t fr = ffrente.load(std::memory_order_relaxed);
    if (fr == ffinal.load(std::memory_order_acquire))
        return nullptr;
    return datos[static_cast<size_t>(fr)];
}

Tmensaje* Tcola_mensaje::leer() {
    const int32_t fr = ffrente.load(std::memory_order_relaxed);
    // Reading an empty queue would move ffrente past ffinal; it yields nothing instead.
    if (fr == ffinal.load(std::memory_order_acquire))
        return nullptr;
    Tmensaje* m = datos[static_cast<size_t>(fr)];
    datos[static_cast<size_t>(fr)] = nullptr;
    ffrente.store(siguiente(fr), std::memory_order_release);
    return m;
}

uint64_t Tcola_mensaje::tomar_descartados() {
    const uint64_t total = fdescartados.load(std::memory_order_acquire);
    const uint64_t nuevos = total - fdescartados_vistos;
    fdescartados_vistos = total;
    return nuevos;
}
