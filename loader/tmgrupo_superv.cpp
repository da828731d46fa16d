#include "loader/tmgrupo_superv.h"

#include "common/global.h"
#include "common/reloj.h"
#include "comms/tint_enlace.h"
#include "loader/deteccion.h"

#include <QThread>

#include <cstdio>

// ---- events

uint64_t Tevento::ticket() const {
    std::lock_guard<std::mutex> lock(s_.m);
    return generation_;
}

void Tevento::pulse() {
    {
        std::lock_guard<std::mutex> lock(s_.m);
        ++generation_;
    }
    s_.cv.notify_all();
}

bool Tevento::wait(uint64_t t, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(s_.m);
    return s_.cv.wait_for(lock, timeout, [&] { return generation_ > t; });
}

int Tevento::wait_any(Tevento& a, uint64_t ta, Tevento& b, uint64_t tb) {
    std::unique_lock<std::mutex> lock(a.s_.m);
    a.s_.cv.wait(lock, [&] { return a.generation_ > ta || b.generation_ > tb; });
    return a.generation_ > ta ? 0 : 1;
}

// ---- the thread

class Tmgrupo_superv::Hilo final : public QThread {
public:
    explicit Hilo(Tmgrupo_superv& owner) : owner_(owner) {}

protected:
    void run() override {
        owner_.Execute();
        owner_.fen_ejecucion.store(false, std::memory_order_release);
    }

private:
    Tmgrupo_superv& owner_;
};

namespace {
// The link level writes the trace lines of a port into the queue of its worker.
Tcola_mensaje* cola_de_grupo(int ncom) {
    if (ncom < 0 || ncom >= RANURAS_PUERTO)
        return nullptr;
    Tmgrupo_superv* g = grupos_supev[static_cast<size_t>(ncom)].load();
    return g ? &g->traza_log : nullptr;
}
} // namespace

Tmgrupo_superv::Tmgrupo_superv()
    : mensaje_tx(std::make_unique<Tmensaje>()), mensaje_rx(std::make_unique<Tmensaje>()),
      fhilo(std::make_unique<Hilo>(*this)) {
    registrar_proveedor_cola_traza(&cola_de_grupo);
    fen_ejecucion.store(true, std::memory_order_release);
    fhilo->start(); // idle until fmon is set and Start pulses it
}

Tmgrupo_superv::~Tmgrupo_superv() {
    if (fabierta)
        Stop();
    // The object must outlive its thread's stay in Execute.
    fhilo->wait();
    // QThread::wait() synchronises through Qt's own primitives; the flag's
    // release/acquire pair makes the end of run() visibly ordered before the
    // release of the thread object (it is already clear once wait() returns).
    while (en_ejecucion())
        QThread::yieldCurrentThread();
}

void Tmgrupo_superv::Start() {
    farranquesuperv_event.pulse();
}

void Tmgrupo_superv::Stop() {
    ffin_tarea.store(true, std::memory_order_release);
    fstopsuperv_event.pulse();
}

QThread* Tmgrupo_superv::hilo() const {
    return fhilo.get();
}

bool Tmgrupo_superv::en_ejecucion() const {
    return fen_ejecucion.load(std::memory_order_acquire);
}

void Tmgrupo_superv::pedir_carga(TrabajoCarga trabajo) {
    fcancelar.store(false, std::memory_order_release);
    {
        std::lock_guard<std::mutex> lock(ftrabajo_m);
        ftrabajo = std::move(trabajo);
    }
    flag_carga().store(true, std::memory_order_release);
}

void Tmgrupo_superv::pedir_refresco() {
    flag_estado().store(true, std::memory_order_release);
}

std::string Tmgrupo_superv::tipo_unidad() const {
    std::lock_guard<std::mutex> lock(ftipo_m);
    return ftipo_unidad.empty() ? TIPO_VTR_NONE : ftipo_unidad;
}

void Tmgrupo_superv::unidad_detectada(const std::string& tipo) {
    {
        std::lock_guard<std::mutex> lock(ftipo_m);
        ftipo_unidad = tipo;
    }
    if (!con_peticiones_propias())
        tipo_vtr = tipo;
}

TrabajoCarga Tmgrupo_superv::trabajo_pedido() const {
    std::lock_guard<std::mutex> lock(ftrabajo_m);
    return ftrabajo;
}

void Tmgrupo_superv::Execute() {
    // ffin_tarea is not cleared here: a Stop given before the thread got this far
    // must still end it.
    ferror_com = false;
    fprogreso = 0;
    error_max_ficheros = false;
    while (!ffin_tarea.load(std::memory_order_acquire)) {
        if (ftarea_pendiente.load(std::memory_order_acquire))
            ejecutar_tarea();
        if (fmon.load(std::memory_order_acquire)) {
            // Both requests guard their own steps; these handlers are the last line,
            // so that the thread never dies with a request flag left set.
            if (flag_estado().load(std::memory_order_acquire)) {
                try {
                    refrescar_estado();
                } catch (...) {
                    flag_estado().store(false);
                }
            }
            if (flag_carga().load(std::memory_order_acquire)) {
                try {
                    cargar_firmware();
                } catch (...) {
                    flag_carga().store(false);
                }
            }
            const uint64_t t = fstopsuperv_event.ticket();
            if (!ffin_tarea.load(std::memory_order_acquire) &&
                fstopsuperv_event.wait(t, std::chrono::milliseconds(100)))
                ffin_tarea.store(true, std::memory_order_release);
        } else {
            const uint64_t ts = fstopsuperv_event.ticket();
            const uint64_t ta = farranquesuperv_event.ticket();
            // The state is checked after the tickets were taken, so a Start or Stop
            // given in between still wakes the wait.
            if (!ffin_tarea.load(std::memory_order_acquire) &&
                !fmon.load(std::memory_order_acquire) &&
                !fcerrar_int.load(std::memory_order_acquire) &&
                !ftarea_pendiente.load(std::memory_order_acquire)) {
                fen_reposo.store(true);
                if (Tevento::wait_any(fstopsuperv_event, ts, farranquesuperv_event, ta) == 0)
                    ffin_tarea.store(true, std::memory_order_release);
                fen_reposo.store(false);
            }
        }
        if (fcerrar_int.load(std::memory_order_acquire))
            cerrar_puerto();
    }
}

void Tmgrupo_superv::cerrar_puerto() {
    {
        // The front end may take the request back (anular_cierre) until here.
        std::lock_guard<std::mutex> lock(fcierre_m);
        if (!fcerrar_int.exchange(false))
            return;
        fmon.store(false, std::memory_order_release);
        fcerrando = true;
    }
    // The slot is emptied before the object goes, so that no other thread can find
    // a link object that is being released.
    const size_t idx = fpcom.load();
    Tinterface_enlace* l = puertos[idx].exchange(nullptr);
    delete l; // cerrar_interface: closes the port if open
    reloj().sleepFor(ms(300));
    {
        std::lock_guard<std::mutex> lock(fcierre_m);
        fcerrando = false;
    }
    fcierre_cv.notify_all();
}

void Tmgrupo_superv::encargar(std::function<void()> tarea) {
    {
        std::lock_guard<std::mutex> lock(ftarea_m);
        ftarea = std::move(tarea);
        ftarea_en_curso = true;
        ftarea_pendiente.store(true, std::memory_order_release);
    }
    farranquesuperv_event.pulse();
}

void Tmgrupo_superv::ejecutar_tarea() {
    std::function<void()> f;
    {
        std::lock_guard<std::mutex> lock(ftarea_m);
        f = std::move(ftarea);
        ftarea = nullptr;
        ftarea_pendiente.store(false, std::memory_order_release);
    }
    try {
        if (f)
            f();
    } catch (...) {
        // The task reports its own outcome; the thread goes on serving requests.
    }
    {
        std::lock_guard<std::mutex> lock(ftarea_m);
        ftarea_en_curso = false;
    }
    ftarea_cv.notify_all();
}

bool Tmgrupo_superv::esperar_tarea(std::chrono::milliseconds max) {
    std::unique_lock<std::mutex> lock(ftarea_m);
    return ftarea_cv.wait_for(lock, max, [&] { return !ftarea_en_curso; });
}

bool Tmgrupo_superv::anular_cierre() {
    bool anulado;
    {
        std::lock_guard<std::mutex> lock(fcierre_m);
        anulado = fcerrar_int.exchange(false);
    }
    fcierre_cv.notify_all();
    return anulado;
}

bool Tmgrupo_superv::esperar_cierre(std::chrono::milliseconds max) {
    std::unique_lock<std::mutex> lock(fcierre_m);
    return fcierre_cv.wait_for(lock, max, [&] { return !fcerrando && !fcerrar_int.load(); });
}

void Tmgrupo_superv::retardo_msec(int32_t t_msec) {
    // Waits on the time source: the deadline is the same as a busy wait's, without
    // holding a processor for seconds.
    if (t_msec <= 0)
        return;
    reloj().sleepFor(ms(t_msec));
}

Tinterface_enlace* Tmgrupo_superv::enlace() const {
    return puertos[static_cast<size_t>(fpcom.load())].load();
}

Contexto Tmgrupo_superv::contexto() {
    return Contexto{enlace(), fpcom.load(), reloj(), *this, &fcancelar};
}

void Tmgrupo_superv::recuperar_puerto() {
    // The port belongs to this thread: it is opened again here, never elsewhere.
    if (Tinterface_enlace* l = enlace(); l && l->perdido())
        l->reabrir();
}

void Tmgrupo_superv::genera_reset_inicial() {
    Deteccion(contexto()).genera_reset_inicial();
}

// ---- the procedures' reporter

void Tmgrupo_superv::estado(const std::string& texto) {
    fcarga = texto;
    domensaje();
}

void Tmgrupo_superv::progreso(int32_t porcentaje) {
    fprogreso = porcentaje;
    doprogreso();
}

void Tmgrupo_superv::avance(int64_t hechos, int64_t total) {
    if (auto* l = listener())
        l->setProgressBytes(hechos, total);
}

void Tmgrupo_superv::crc(uint32_t crc) {
    fcrc = crc;
    docrc();
}

void Tmgrupo_superv::version_acargar(const std::string& version) {
    doversion_acargar(version);
}

void Tmgrupo_superv::espera(Espera que, int32_t msec) {
    // Only a load shows its waits: a status refresh has no progress to keep alive.
    if (!flag_carga().load(std::memory_order_acquire))
        return;
    if (auto* l = listener())
        l->showWait(que, msec);
}

void Tmgrupo_superv::aviso(const std::string& texto) {
    if (auto* l = listener())
        l->showNote(texto);
}

// ---- callbacks: each runs on the front end's thread while the worker waits

void Tmgrupo_superv::domensaje() {
    if (auto* l = listener())
        l->setStatusText(fcarga);
}

void Tmgrupo_superv::dostart() {
    if (auto* l = listener())
        l->setLoadEnabled(fstart);
}

void Tmgrupo_superv::dodatos() {
    if (auto* l = listener())
        l->setVersionText(fversion);
}

void Tmgrupo_superv::doprogreso() {
    if (auto* l = listener())
        l->setProgress(fprogreso);
}

void Tmgrupo_superv::docrc() {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%04X%04X", static_cast<unsigned>(fcrc >> 16),
                  static_cast<unsigned>(fcrc & 0xFFFF));
    if (auto* l = listener())
        l->setStatusText(texto_mensaje(Mensaje::Crc) + hex);
}

void Tmgrupo_superv::doversion_acargar(const std::string& texto) {
    if (auto* l = listener())
        l->setVersionToLoad(texto);
}
