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

void AdaptadorSimulado::desenchufar_tras(long bytes) {
    std::lock_guard<std::mutex> lock(m_);
    if (fuera_)
        ++enchufe_;
    fuera_ = false;
    tras_ = bytes > 0 ? bytes : 0;
    enviados_ = 0;
}

void AdaptadorSimulado::enchufar() {
    desenchufar_tras(0);
}

uint64_t AdaptadorSimulado::conectar() const {
    std::lock_guard<std::mutex> lock(m_);
    return fuera_ ? 0 : enchufe_;
}

bool AdaptadorSimulado::conectado(uint64_t conexion) const {
    std::lock_guard<std::mutex> lock(m_);
    return !fuera_ && conexion == enchufe_;
}

void AdaptadorSimulado::byte_enviado(uint64_t conexion) {
    std::lock_guard<std::mutex> lock(m_);
    if (fuera_ || conexion != enchufe_)
        return;
    // The byte itself is already on the wire: the unit gets it, and nothing after it.
    if (tras_ > 0 && ++enviados_ >= tras_)
        fuera_ = true;
}

PuertoSimulado::PuertoSimulado(std::shared_ptr<SimLine> line, std::string name)
    : line_(std::move(line)), name_(std::move(name)) {}

PuertoSimulado::~PuertoSimulado() {
    ComReset();
}

void PuertoSimulado::ComInit(uint8_t port) {
    // A unit's line comes with its adapter; a bare line has none and never fails.
    adapter_.reset();
    if (auto unit = unidad_simulada(port); unit && line_.get() == &unit->line())
        adapter_ = std::shared_ptr<AdaptadorSimulado>(unit, &unit->adapter());
    conexion_ = adapter_ ? adapter_->conectar() : 0;
    // An adapter that is out is a device that is not there.
    open_ = line_ && (!adapter_ || conexion_ != 0) && line_->hostOpen();
    result_ = open_ ? scOk : scError;
}

bool PuertoSimulado::usable() const {
    return open_ && (!adapter_ || adapter_->conectado(conexion_));
}

void PuertoSimulado::ComSetState(int32_t NewBaud, uint8_t NewDataBits, uint8_t NewStopBits,
                                 char NewParity, uint8_t) {
    if (usable())
        line_->hostSetFormat(LineFormat{NewBaud, NewDataBits, NewStopBits, NewParity});
}

void PuertoSimulado::ComSetBufSize(int32_t RxBufferSize, int32_t TxBufferSize) {
    if (usable())
        line_->hostSetBufferSizes(RxBufferSize, TxBufferSize);
}

void PuertoSimulado::ComRTSOff() {
    if (usable())
        line_->hostSetRts(false);
}

bool PuertoSimulado::ComValid() {
    return usable() && !line_->hostFailed();
}

void PuertoSimulado::ComReset() {
    // The system lets go of a handle whose device is gone all the same.
    if (open_)
        line_->hostClose();
    open_ = false;
}

void PuertoSimulado::ComBufClear(uint8_t BufDir) {
    if (!usable())
        return;
    if (BufDir == Dir_Inc)
        line_->hostClearRx();
    else
        line_->hostClearTx();
}

uint8_t PuertoSimulado::RS_LineState() {
    return usable() && line_->hostTxReady() ? TX_READY : 0;
}

bool PuertoSimulado::ComWrite(uint8_t SCh) {
    if (!usable() || !line_->hostWrite(SCh))
        return false;
    if (adapter_)
        adapter_->byte_enviado(conexion_);
    return true;
}

bool PuertoSimulado::ComRead(uint8_t& RCh) {
    return usable() && line_->hostRead(RCh);
}

void PuertoSimulado::ComDTROn() {
    if (usable())
        line_->hostSetDtr(true);
}

void PuertoSimulado::ComDTROff() {
    if (usable())
        line_->hostSetDtr(false);
}

bool PuertoSimulado::ComWaitRx(Tiempo max) {
    if (!usable()) {
        reloj().sleepFor(max);
        return false;
    }
    return line_->hostWaitRx(max);
}

bool PuertoSimulado::ComWaitTxReady(Tiempo max) {
    if (!usable()) {
        reloj().sleepFor(max);
        return false;
    }
    return line_->hostWaitTxReady(max);
}

bool PuertoSimulado::ComDrain(Tiempo max) {
    return usable() && line_->hostDrain(max);
}

bool PuertoSimulado::ComFailed() const {
    return open_ && (!usable() || line_->hostFailed());
}
