#include "ui/comun/carga.h"

#include "common/global.h"
#include "common/texto_traza.h"
#include "comms/Tcola.h"
#include "loader/tmgrupo_superv.h"
#include "ui/comun/espejo_globales.h"

#include <memory>

Tmgrupo_superv* trabajador_del_puerto(int puerto) {
    if (puerto < 0 || puerto >= RANURAS_PUERTO)
        return nullptr;
    return grupos_supev[static_cast<size_t>(puerto)].load();
}

bool puerto_monitorizado(int puerto) {
    Tmgrupo_superv* g = trabajador_del_puerto(puerto);
    return g && puertos[static_cast<size_t>(puerto)].load() && g->fmon.load();
}

void elegir_fichero(const std::string& nombre, SeleccionFichero& seleccion,
                    FileSelectionView& view) {
    seleccionar_fichero(nombre, tipo_vtr.get(), seleccion, view);
    reflejar_seleccion(seleccion);
}

std::optional<Mensaje> preparar_carga(const SeleccionFichero& seleccion, EleccionXa eleccion,
                                      TrabajoCarga& trabajo) {
    return preparar_carga(seleccion, tipo_vtr.get(), eleccion, trabajo);
}

bool pedir_carga(int puerto, TrabajoCarga trabajo) {
    Tmgrupo_superv* g = trabajador_del_puerto(puerto);
    if (!g)
        return false;
    g->pedir_carga(std::move(trabajo));
    return true;
}

void vaciar_trazas(const std::function<void(const QString& linea)>& linea,
                   const std::function<void(int puerto, uint64_t perdidas)>& perdidas) {
    vaciar_trazas([&](const QString& l, Tiempo) { linea(l); }, perdidas);
}

void vaciar_trazas(const std::function<void(const QString& linea, Tiempo momento)>& linea,
                   const std::function<void(int puerto, uint64_t perdidas)>& perdidas) {
    for (int i = 0; i < RANURAS_PUERTO; ++i)
        vaciar_trazas_puerto(i, linea, perdidas);
}

void vaciar_trazas_puerto(int puerto,
                          const std::function<void(const QString& linea, Tiempo momento)>& linea,
                          const std::function<void(int puerto, uint64_t perdidas)>& perdidas) {
    Tmgrupo_superv* g = trabajador_del_puerto(puerto);
    if (!g)
        return;
    while (g->traza_log.hay_mensajes()) {
        std::unique_ptr<Tmensaje> rec(g->traza_log.leer());
        if (rec)
            linea(texto_traza_visible(rec->ftraza), rec->fmomento);
    }
    // Lines the worker could not queue while the trace was full are not lost
    // silently.
    if (const uint64_t n = g->traza_log.tomar_descartados(); n > 0)
        perdidas(puerto, n);
}
