#include "comms/registro_puertos.h"

#include "common/global.h"
#include "comms/nombres_puerto.h"
#include "comms/puerto_qt.h"

#include <array>
#include <map>
#include <mutex>

namespace {
struct Registro {
    std::mutex m;
    std::map<std::string, CreadorPuerto> porPrefijo;
    std::array<CreadorPuerto, RANURAS_PUERTO> porIndice;
};

Registro& registro() {
    static Registro r;
    return r;
}

bool indice_valido(int idx) {
    return idx >= 0 && idx < RANURAS_PUERTO;
}

// The backend whose prefix is the longest one the name begins with; none for a
// name that only the real port serves.
CreadorPuerto backend_para(const std::map<std::string, CreadorPuerto>& tabla,
                           const std::string& name) {
    const CreadorPuerto* elegido = nullptr;
    size_t largo = 0;
    for (const auto& [prefijo, creador] : tabla) {
        if (prefijo.size() > largo && name.rfind(prefijo, 0) == 0) {
            elegido = &creador;
            largo = prefijo.size();
        }
    }
    return elegido ? *elegido : CreadorPuerto{};
}
} // namespace

void registrar_backend_puerto(const std::string& prefijo, CreadorPuerto creador) {
    if (prefijo.empty())
        return; // the real port serves every unclaimed name; it cannot be replaced
    Registro& r = registro();
    std::lock_guard<std::mutex> lock(r.m);
    if (creador)
        r.porPrefijo[prefijo] = std::move(creador);
    else
        r.porPrefijo.erase(prefijo);
}

void fijar_backend_indice(int idx, CreadorPuerto creador) {
    Registro& r = registro();
    std::lock_guard<std::mutex> lock(r.m);
    if (indice_valido(idx))
        r.porIndice[static_cast<size_t>(idx)] = std::move(creador);
}

bool nombre_de_backend_registrado(const std::string& name) {
    Registro& r = registro();
    std::lock_guard<std::mutex> lock(r.m);
    return static_cast<bool>(backend_para(r.porPrefijo, name));
}

std::unique_ptr<TMyCOM> crear_puerto_serie(uint8_t port) {
    const std::string name = nombre_puerto(port);
    CreadorPuerto delIndice;
    CreadorPuerto delPrefijo;
    {
        Registro& r = registro();
        std::lock_guard<std::mutex> lock(r.m);
        if (indice_valido(port))
            delIndice = r.porIndice[port];
        delPrefijo = backend_para(r.porPrefijo, name);
    }
    // Backends run outside the lock: one may bind an index of its own. A backend
    // that declines (no adapter) leaves the name to the next one.
    for (const CreadorPuerto* creador : {&delIndice, &delPrefijo}) {
        if (*creador) {
            if (auto adaptador = (*creador)(port, name))
                return adaptador;
        }
    }
    return std::make_unique<PuertoQt>(name);
}
