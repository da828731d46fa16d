#include "comms/nombres_puerto.h"
#include "comms/puerto_qt.h"
#include "comms/puerto_sim.h"
#include "comms/supercom.h"
#include "sim/unidad_simulada.h"

namespace {
// The unit's line, sharing the unit's lifetime.
std::shared_ptr<SimLine> linea_de(const std::shared_ptr<SimUnit>& unit) {
    return std::shared_ptr<SimLine>(unit, &unit->line());
}
} // namespace

std::unique_ptr<TMyCOM> crear_puerto_serie(uint8_t port) {
    const std::string name = nombre_puerto(port);
    if (auto unit = unidad_simulada(port))
        return std::make_unique<PuertoSimulado>(linea_de(unit),
                                                es_puerto_simulado(name) ? name : "sim");
    if (auto line = linea_simulada(port))
        return std::make_unique<PuertoSimulado>(line, "sim");
    if (es_puerto_simulado(name)) {
        // A "sim:" port keeps its unit for the life of the program, so that
        // reopening the port finds the unit as it was left.
        auto unit = crear_unidad_simulada(name.substr(4));
        if (unit) {
            fijar_unidad_simulada(port, unit);
            return std::make_unique<PuertoSimulado>(linea_de(unit), name);
        }
    }
    return std::make_unique<PuertoQt>(name);
}
