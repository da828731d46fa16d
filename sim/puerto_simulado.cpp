#include "sim/puerto_simulado.h"

#include "common/global.h"
#include "comms/registro_puertos.h"
#include "sim/fallos.h"
#include "sim/linea_simulada.h"
#include "sim/unidad_simulada.h"

#include <array>
#include <map>
#include <mutex>

namespace {
constexpr const char* PREFIJO_SIMULADO = "sim:";

struct Cableado {
    std::shared_ptr<SimUnit> unidad;
    std::shared_ptr<SimLine> linea;
    // The "sim:" name the unit was wired under; empty for a unit a test wired itself,
    // which serves whatever name the index is opened with.
    std::string nombre;
};

std::mutex g_m;
std::array<Cableado, RANURAS_PUERTO> g_cableado;
// The units opened by name, kept for the life of the program: "sim:arm#2" finds the
// same unit on whatever index it is opened next, and never another name's.
std::map<std::string, std::shared_ptr<SimUnit>> g_por_nombre; // guarded by g_m

bool indice_valido(int idx) {
    return idx >= 0 && idx < RANURAS_PUERTO;
}

// The unit's line, sharing the unit's lifetime.
std::shared_ptr<SimLine> linea_de(const std::shared_ptr<SimUnit>& unit) {
    return std::shared_ptr<SimLine>(unit, &unit->line());
}

bool es_nombre_simulado(const std::string& name) {
    return name.rfind(PREFIJO_SIMULADO, 0) == 0;
}

// The adapter for whatever is wired to the index: its unit first, else its line.
std::unique_ptr<TMyCOM> puerto_cableado(uint8_t port, const std::string& name) {
    std::string cableado;
    {
        std::lock_guard<std::mutex> lock(g_m);
        if (indice_valido(port))
            cableado = g_cableado[port].nombre;
    }
    // The index last served another simulated unit: the name finds its own.
    if (!cableado.empty() && cableado != name)
        return nullptr;
    if (auto unit = unidad_simulada(port))
        return std::make_unique<PuertoSimulado>(linea_de(unit),
                                                es_nombre_simulado(name) ? name : "sim");
    if (auto line = linea_simulada(port))
        return std::make_unique<PuertoSimulado>(line, "sim");
    return nullptr;
}

// Binds the index to its wiring in the port registry, or frees it when nothing is
// wired any more. Called with g_m held, so that the registry follows the wiring in
// the same order; the registry never calls back while it holds its own lock.
void actualizar_indice(int idx, const Cableado& c) {
    fijar_backend_indice(idx,
                         c.unidad || c.linea ? CreadorPuerto(&puerto_cableado) : CreadorPuerto{});
}

std::unique_ptr<TMyCOM> puerto_por_nombre(uint8_t port, const std::string& name) {
    std::string error;
    const auto spec =
        leer_puerto_simulado(name.substr(std::char_traits<char>::length(PREFIJO_SIMULADO)), error);
    if (!spec)
        return nullptr; // an unknown kind or fault: the name is left to the real port, which fails
    std::shared_ptr<SimUnit> unit;
    {
        std::lock_guard<std::mutex> lock(g_m);
        auto& guardada = g_por_nombre[spec->unit];
        if (!guardada)
            guardada = crear_unidad_simulada(spec->kind);
        unit = guardada;
    }
    if (!unit)
        return nullptr;
    aplicar_fallo(*unit, spec->fault);
    fijar_unidad_simulada(port, unit);
    {
        std::lock_guard<std::mutex> lock(g_m);
        if (indice_valido(port))
            g_cableado[port].nombre = name;
    }
    return std::make_unique<PuertoSimulado>(linea_de(unit), name);
}
} // namespace

void registrar_puertos_simulados() {
    registrar_backend_puerto(PREFIJO_SIMULADO, &puerto_por_nombre);
}

void fijar_unidad_simulada(int idx, std::shared_ptr<SimUnit> unit) {
    if (!indice_valido(idx))
        return;
    std::lock_guard<std::mutex> lock(g_m);
    auto& c = g_cableado[static_cast<size_t>(idx)];
    c.unidad = std::move(unit);
    c.nombre.clear();
    actualizar_indice(idx, c);
}

std::shared_ptr<SimUnit> unidad_simulada_por_nombre(const std::string& unit) {
    std::lock_guard<std::mutex> lock(g_m);
    const auto it = g_por_nombre.find(unit);
    return it == g_por_nombre.end() ? nullptr : it->second;
}

void olvidar_unidades_por_nombre() {
    std::lock_guard<std::mutex> lock(g_m);
    g_por_nombre.clear();
    for (size_t i = 0; i < g_cableado.size(); ++i) {
        if (g_cableado[i].nombre.empty())
            continue;
        g_cableado[i] = Cableado{};
        actualizar_indice(static_cast<int>(i), g_cableado[i]);
    }
}

std::shared_ptr<SimUnit> unidad_simulada(int idx) {
    std::lock_guard<std::mutex> lock(g_m);
    return indice_valido(idx) ? g_cableado[static_cast<size_t>(idx)].unidad : nullptr;
}

void fijar_linea_simulada(int idx, std::shared_ptr<SimLine> line) {
    if (!indice_valido(idx))
        return;
    std::lock_guard<std::mutex> lock(g_m);
    auto& c = g_cableado[static_cast<size_t>(idx)];
    c.linea = std::move(line);
    actualizar_indice(idx, c);
}

std::shared_ptr<SimLine> linea_simulada(int idx) {
    std::lock_guard<std::mutex> lock(g_m);
    return indice_valido(idx) ? g_cableado[static_cast<size_t>(idx)].linea : nullptr;
}

PuertoSimulado::PuertoSimulado(std::shared_ptr<SimLine> line, std::string name)
    : line_(std::move(line)), name_(std::move(name)) {}

PuertoSimulado::~PuertoSimulado() {
    ComReset();
}

void PuertoSimulado::ComInit(uint8_t) {
    open_ = line_ && line_->hostOpen();
    result_ = open_ ? scOk : scError;
}

void PuertoSimulado::ComSetState(int32_t NewBaud, uint8_t NewDataBits, uint8_t NewStopBits,
                                 char NewParity, uint8_t) {
    if (open_)
        line_->hostSetFormat(LineFormat{NewBaud, NewDataBits, NewStopBits, NewParity});
}

void PuertoSimulado::ComSetBufSize(int32_t RxBufferSize, int32_t TxBufferSize) {
    if (open_)
        line_->hostSetBufferSizes(RxBufferSize, TxBufferSize);
}

void PuertoSimulado::ComRTSOff() {
    if (open_)
        line_->hostSetRts(false);
}

bool PuertoSimulado::ComValid() {
    return open_ && !line_->hostFailed();
}

void PuertoSimulado::ComReset() {
    if (open_)
        line_->hostClose();
    open_ = false;
}

void PuertoSimulado::ComBufClear(uint8_t BufDir) {
    if (!open_)
        return;
    if (BufDir == Dir_Inc)
        line_->hostClearRx();
    else
        line_->hostClearTx();
}

uint8_t PuertoSimulado::RS_LineState() {
    return open_ && line_->hostTxReady() ? TX_READY : 0;
}

bool PuertoSimulado::ComWrite(uint8_t SCh) {
    return open_ && line_->hostWrite(SCh);
}

bool PuertoSimulado::ComRead(uint8_t& RCh) {
    return open_ && line_->hostRead(RCh);
}

void PuertoSimulado::ComDTROn() {
    if (open_)
        line_->hostSetDtr(true);
}

void PuertoSimulado::ComDTROff() {
    if (open_)
        line_->hostSetDtr(false);
}

bool PuertoSimulado::ComWaitRx(Tiempo max) {
    if (!open_) {
        reloj().sleepFor(max);
        return false;
    }
    return line_->hostWaitRx(max);
}

bool PuertoSimulado::ComWaitTxReady(Tiempo max) {
    if (!open_) {
        reloj().sleepFor(max);
        return false;
    }
    return line_->hostWaitTxReady(max);
}

bool PuertoSimulado::ComDrain(Tiempo max) {
    return open_ && line_->hostDrain(max);
}

bool PuertoSimulado::ComFailed() const {
    return open_ && line_->hostFailed();
}
