// Load benchmark: how close a whole load comes to the line rate.
//
// Loads the bundled samples into the simulated unit in simulated time, through the
// same worker procedures as the program, and reports for each load its simulated
// duration, how long the wire was busy in each direction, what is left for the
// prescribed waits and the unit's own work, and the real time the run cost. These
// are figures to watch, not assertions.
//
//   vtr900_bench [samples folder]

#include "common/global.h"
#include "comms/nombres_puerto.h"
#include "comms/tint_enlace.h"
#include "files/preparar_carga.h"
#include "loader/tmgrupo_superv.h"
#include "sim/reloj_simulado.h"
#include "sim/unidad_simulada.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

class SinVista final : public FileSelectionView {
public:
    void showFileError(Mensaje entry, const std::string&) override {
        error = static_cast<int>(entry);
    }
    void setFileName(const std::string&) override {}
    void setModuleText(const std::string&) override {}
    void setVersionToLoad(const std::string&) override {}
    void setLoadEnabled(bool) override {}
    void hideVersionGroup() override {}
    int error = -1;
};

double segundos(Tiempo t) {
    return static_cast<double>(t.count()) / 1e6;
}

// The stretches during which the wire carried bytes in one direction: each byte
// occupies it from when it started (its acceptance, or the end of the byte before
// it) to its arrival.
std::vector<std::pair<Tiempo, Tiempo>> tramos(const std::vector<ByteRecord>& bytes,
                                              bool desdeHost) {
    std::vector<std::pair<Tiempo, Tiempo>> t;
    Tiempo anterior{0};
    for (const ByteRecord& b : bytes) {
        if (b.fromHost != desdeHost || b.discarded)
            continue;
        const Tiempo inicio = std::max(b.sent, anterior);
        if (b.arrived > inicio)
            t.emplace_back(inicio, b.arrived);
        anterior = b.arrived;
    }
    return t;
}

// Total length of the union of stretches (the XA loader echoes while the host is
// still sending, so the two directions overlap).
Tiempo ocupacion(std::vector<std::pair<Tiempo, Tiempo>> t) {
    std::sort(t.begin(), t.end());
    Tiempo total{0};
    Tiempo hasta{0};
    for (const auto& [a, b] : t) {
        const Tiempo desde = std::max(a, hasta);
        if (b > desde)
            total += b - desde;
        hasta = std::max(hasta, b);
    }
    return total;
}

int cargar(const char* nombre, const std::string& fichero, SimUnit::Controller c) {
    SimClock reloj_simulado;
    ScopedTimeSource usar(reloj_simulado);
    reiniciar_estado_global();
    auto unidad = std::make_shared<SimUnit>(c);
    fijar_unidad_simulada(0, unidad);

    tipo_vtr = c == SimUnit::Controller::ARM ? TIPO_VTR_ARM : TIPO_VTR_XA;
    SinVista vista;
    SeleccionFichero seleccion;
    seleccionar_fichero(fichero, tipo_vtr.get(), seleccion, vista);
    TrabajoCarga trabajo;
    const auto rechazo = preparar_carga(seleccion, tipo_vtr.get(), EleccionXa::ClassA, trabajo);
    if (vista.error >= 0 || rechazo) {
        const int entrada = vista.error >= 0 ? vista.error : static_cast<int>(*rechazo);
        std::fprintf(stderr, "%s: %s\n", fichero.c_str(), texto_mensaje(entrada).c_str());
        return 1;
    }

    auto* enlace = new Tinterface_enlace();
    enlace->abrir_interface(0, MODO_RS232, 19200, 8, 1, 'N', 0, THRESHOLD08, 15000, 15000,
                            AJUSTE_RS485_DEF);
    puertos[0] = enlace;
    auto trabajador = std::make_unique<Tmgrupo_superv>(); // its thread stays idle
    grupos_supev[0] = trabajador.get();
    trabajador->pedir_carga(std::move(trabajo));
    unidad->line().clearRecords();

    const auto real0 = std::chrono::steady_clock::now();
    const Tiempo t0 = reloj_simulado.now();
    trabajador->cargar_firmware(); // on this thread, in simulated time
    const Tiempo duracion = reloj_simulado.now() - t0;
    const auto real = std::chrono::steady_clock::now() - real0;

    const auto bytes = unidad->line().bytes();
    const auto tx = tramos(bytes, true);
    const auto rx = tramos(bytes, false);
    auto ambos = tx;
    ambos.insert(ambos.end(), rx.begin(), rx.end());
    const Tiempo ocupado = ocupacion(ambos);
    std::printf("%-18s %-6s %6.1f s  wire busy %6.1f s (host->unit %5.1f s, unit->host %5.1f s)"
                "  other %5.1f s  real %4.0f ms\n",
                nombre, trabajador->ferror_com ? "FAILED" : "ok", segundos(duracion),
                segundos(ocupado), segundos(ocupacion(tx)), segundos(ocupacion(rx)),
                segundos(duracion - ocupado),
                std::chrono::duration<double, std::milli>(real).count());

    grupos_supev[0] = nullptr;
    trabajador.reset();
    puertos[0] = nullptr;
    delete enlace;
    fijar_unidad_simulada(0, nullptr);
    reiniciar_estado_global();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::string carpeta = argc > 1 ? argv[1] : VTR_SAMPLES_DIR;
    QTemporaryDir imagenes;
    qputenv("VTR900_IMAGE_DIR", imagenes.path().toUtf8());
    std::printf("load, in simulated time: result, duration, time the wire carried bytes, and the\n"
                "rest (prescribed waits, the unit's own work, time-outs)\n");
    int r = 0;
    r |= cargar("ARM unit image", carpeta + "/vtr900_arm_0412.hex", SimUnit::Controller::ARM);
    r |= cargar("XA unit image", carpeta + "/vtr900_xa_0310.hex", SimUnit::Controller::XA);
    r |= cargar("module, Intel HEX", carpeta + "/module_xyz100_0102.hex", SimUnit::Controller::ARM);
    r |= cargar("module, binary", carpeta + "/module_xyz100_0102.bin", SimUnit::Controller::ARM);
    return r;
}
