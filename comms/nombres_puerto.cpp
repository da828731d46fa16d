#include "comms/nombres_puerto.h"

#include "common/global.h"
#include "comms/registro_puertos.h"

#include <array>
#include <cstdlib>
#include <mutex>

namespace {
std::mutex g_m;
std::array<std::string, RANURAS_PUERTO> g_nombres;

bool indice_valido(int idx) {
    return idx >= 0 && idx < RANURAS_PUERTO;
}
} // namespace

std::string nombre_puerto_sistema(int idx) {
#ifdef _WIN32
    return "COM" + std::to_string(idx + 1);
#else
    return "/dev/ttyS" + std::to_string(idx);
#endif
}

std::string nombre_puerto(int idx) {
    {
        std::lock_guard<std::mutex> lock(g_m);
        if (indice_valido(idx) && !g_nombres[static_cast<size_t>(idx)].empty())
            return g_nombres[static_cast<size_t>(idx)];
    }
    const std::string var = "VTR900_COM" + std::to_string(idx + 1);
    if (const char* v = std::getenv(var.c_str()); v && *v)
        return v;
    return nombre_puerto_sistema(idx);
}

void fijar_nombre_puerto(int idx, const std::string& name) {
    std::lock_guard<std::mutex> lock(g_m);
    if (indice_valido(idx))
        g_nombres[static_cast<size_t>(idx)] = name;
}

bool es_puerto_simulado(const std::string& name) {
    return nombre_de_backend_registrado(name);
}
