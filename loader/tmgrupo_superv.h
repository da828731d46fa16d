#pragma once
// The worker of one serial port: a thread that, while monitoring, serves the status
// refresh and the firmware load that the front end requests through the shared
// flags. The procedures that drive the unit are classes of their own, each built
// with the worker's link, the time source and the worker as their reporter:
//   tmgrupo_superv.cpp        thread body, events, callbacks to the front end
//   secuencia_carga.cpp       status refresh and load sequence; results -> messages
//   deteccion.h               DTR resets, programming-mode entry, detection
//   grabador_xa.h             XA in-system programming loader
//   grabador_arm.h            ARM UART bootloader
//   transferencia_tramas.h    framed requests and firmware transfers
//   traza.cpp                 trace lines

#include "common/global.h"
#include "common/mensajes.h"
#include "common/trabajo_carga.h"
#include "comms/Tcola.h"
#include "comms/Tmensaje_int.h"
#include "loader/procedimiento.h"
#include "loader/supervisor_listener.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class QThread;
class Tinterface_enlace;

// What the events of one worker signal through: one lock and one condition, so that
// a thread can wait on both of its events at once.
struct Tsenal {
    std::mutex m;
    std::condition_variable cv;
};

// An unnamed event with pulse semantics: a pulse wakes the threads waiting on it
// and leaves it unsignalled. A waiter takes a ticket before it checks the state it
// sleeps on, so a pulse given between that check and the wait is not lost.
class Tevento {
public:
    explicit Tevento(Tsenal& s) : s_(s) {}
    uint64_t ticket() const;
    void pulse();
    // Waits for a pulse after ticket t; false on time-out.
    bool wait(uint64_t t, std::chrono::milliseconds timeout);
    // Waits with no time-out for a pulse of a (after ta) or b (after tb); returns 0
    // when a was pulsed, 1 when only b was.
    static int wait_any(Tevento& a, uint64_t ta, Tevento& b, uint64_t tb);

private:
    Tsenal& s_;
    uint64_t generation_ = 0; // guarded by s_.m
};

class Tmgrupo_superv final : public Informador {
public:
    Tmgrupo_superv();           // Create: the thread starts idle
    ~Tmgrupo_superv() override; // Destroy: stops the thread and waits for it to leave Execute
    Tmgrupo_superv(const Tmgrupo_superv&) = delete;
    Tmgrupo_superv& operator=(const Tmgrupo_superv&) = delete;

    void Start(); // wakes an idle thread (after fmon was set)
    void Stop();  // ends the thread after the request in progress
    // The thread the port's serial object must be handed to.
    QThread* hilo() const;
    bool en_ejecucion() const; // the thread has not left Execute yet
    // The thread sleeps on its two events (idle): only Start or Stop wakes it.
    bool en_reposo() const { return fen_reposo.load(); }

    // Takes back a close request (fcerrar_int) the thread has not started on: true
    // when one was pending, and the port then stays with this worker.
    bool anular_cierre();
    // Waits up to max for a requested or running close of the port to end; true when
    // none is left. A close runs between requests, so it never waits for a load.
    bool esperar_cierre(std::chrono::milliseconds max);

    // Runs `tarea` on the worker's thread between requests (the port's open and its
    // initial reset, which take seconds the front end's thread must not wait).
    void encargar(std::function<void()> tarea);
    // Waits up to max for the task handed over to end; true when none is left.
    // What the task did is visible to the caller once this returned true.
    bool esperar_tarea(std::chrono::milliseconds max);

    // Requests a load of `trabajo`: the worker keeps its own copy, taken before the
    // request flag is raised, and the load reads nothing else of the front end's.
    void pedir_carga(TrabajoCarga trabajo);
    // The copy of the load requested last (the worker's thread, during the load).
    TrabajoCarga trabajo_pedido() const;

    void setListener(SupervisorListener* l) { fventana.store(l, std::memory_order_release); }

    // A worker loading beside others (several units at once) serves requests of its
    // own instead of the process-wide pedir_estado / grabar_firmware, which belong to
    // the one port a window monitors, and keeps the unit it found to itself instead
    // of tipo_vtr. Set before the worker first monitors.
    void peticiones_propias(bool v) { fpropias.store(v, std::memory_order_release); }
    bool con_peticiones_propias() const { return fpropias.load(std::memory_order_acquire); }
    // Requests a status refresh of this worker (its own flag, or pedir_estado).
    void pedir_refresco();
    // The unit the last status refresh or detection of this worker found:
    // TIPO_VTR_ARM, TIPO_VTR_XA or TIPO_VTR_NONE (also before any).
    std::string tipo_unidad() const;

    // Stops the request in progress at its next safe point (never inside a block or
    // frame): a load then runs the final reset and reports a failed update. Taken
    // back by the next request.
    void cancelar() { fcancelar.store(true, std::memory_order_release); }
    bool cancelado() const { return fcancelar.load(std::memory_order_acquire); }
    // Leaves out the waits whose only purpose is a text staying on the window's
    // screen (the found / not found notice, the result before Load comes back).
    void sin_esperas_de_pantalla(bool v) { fsin_esperas_pantalla.store(v); }

    // ---- fields shared with the front end
    std::atomic<bool> fmon{false};
    std::atomic<bool> fcerrar_int{false};
    std::atomic<uint8_t> fpcom{0};
    Tcola_mensaje traza_log;

    // ---- worker-thread state
    bool fabierta = true;
    std::atomic<bool> ffin_tarea{false};
    bool ferror_com = false;
    int32_t fprogreso = 0;
    std::string fcarga;
    uint32_t fcrc = 0;
    std::string fversion;
    bool fstart = false;
    bool error_max_ficheros = false;
    Resultado fresultado = Resultado::Ok; // outcome of the last load
    std::unique_ptr<Tmensaje> mensaje_tx;
    std::unique_ptr<Tmensaje> mensaje_rx;
    SupervisorListener* listener() const { return fventana.load(std::memory_order_acquire); }

    // ---- thread body and requests
    void Execute();
    void refrescar_estado(); // status refresh S1..S7
    void cargar_firmware();  // load L1..L6
    static std::string texto_version(int major, int minor);
    void retardo_msec(int32_t t_msec);

    // ---- callbacks to the front end (synchronised)
    void domensaje();
    void dostart();
    void dodatos();
    void doprogreso();
    void docrc();
    void doresultado();
    void doversion_acargar(const std::string& texto);

    // ---- the procedures' reporter: each call goes to the front end
    void estado(const std::string& texto) override;
    void progreso(int32_t porcentaje) override;
    void avance(int64_t hechos, int64_t total) override;
    void crc(uint32_t crc) override;
    void version_acargar(const std::string& version) override;
    void aviso(const std::string& texto) override;
    void espera(Espera que, int32_t msec) override;
    void unidad_detectada(const std::string& tipo) override;

    // The start-up reset, run by the front end on its own thread when it selects
    // the port (before this worker monitors it).
    void genera_reset_inicial();

    // ---- trace
    std::string anota_mensaje(int32_t puerto, const Tmensaje& mensaje_wr, int32_t nbytes,
                              int32_t modo, int32_t error);

    // The link object of this worker's port (nullptr when the port is closed).
    Tinterface_enlace* enlace() const;
    // What the procedures of this worker are built with: its own link and port.
    Contexto contexto();
    // Before a request: a port lost under use (its adapter pulled out) is opened
    // again, so that once the adapter is back the unit is served without choosing
    // the port anew. A port still missing fails the request as a closed one does.
    void recuperar_puerto();

private:
    class Hilo;
    std::atomic<SupervisorListener*> fventana{nullptr};
    Tsenal fsenal;
    Tevento fstopsuperv_event{fsenal};
    Tevento farranquesuperv_event{fsenal};
    std::unique_ptr<Hilo> fhilo;
    std::atomic<bool> fen_ejecucion{false};
    std::atomic<bool> fen_reposo{false};
    std::atomic<bool> fcancelar{false};
    std::atomic<bool> fsin_esperas_pantalla{false};
    std::atomic<bool> fpropias{false};
    std::atomic<bool> fpedir_estado{false};    // with fpropias: this worker's pedir_estado
    std::atomic<bool> fgrabar_firmware{false}; // with fpropias: this worker's grabar_firmware
    std::atomic<bool>& flag_estado() {
        return con_peticiones_propias() ? fpedir_estado : pedir_estado;
    }
    std::atomic<bool>& flag_carga() {
        return con_peticiones_propias() ? fgrabar_firmware : grabar_firmware;
    }
    mutable std::mutex ftipo_m;
    std::string ftipo_unidad; // guarded by ftipo_m
    // The close of the port, from taking fcerrar_int to emptying the slot of puertos.
    mutable std::mutex ftrabajo_m;
    TrabajoCarga ftrabajo; // guarded by ftrabajo_m
    std::mutex fcierre_m;
    std::condition_variable fcierre_cv;
    bool fcerrando = false; // guarded by fcierre_m
    void cerrar_puerto();
    // The task handed over by encargar, run by the thread between requests.
    std::mutex ftarea_m;
    std::condition_variable ftarea_cv;
    std::function<void()> ftarea;              // guarded by ftarea_m
    bool ftarea_en_curso = false;              // guarded by ftarea_m: handed over, not yet ended
    std::atomic<bool> ftarea_pendiente{false}; // handed over, not yet started
    void ejecutar_tarea();
};

// The version an identification line names for unit firmware: the three digits
// after "FIRMVTR-900_0", "4.12" for "FIRMVTR-900_0412"; empty when it names none.
std::string version_de_identificacion(const std::string& id);

// "Unit reports 4.10, file is 4.12" in the current language.
std::string texto_versiones_distintas(const std::string& unidad, const std::string& fichero);

// What the operator is told at the end of a load that ended with `r`: entry 11 (OK),
// 20 (no room for the image) or 10 (any other failure).
Mensaje mensaje_de_resultado(Resultado r);
