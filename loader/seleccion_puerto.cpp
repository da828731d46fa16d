#include "loader/seleccion_puerto.h"

#include "common/global.h"
#include "common/texto_traza.h"
#include "comms/nombres_puerto.h"
#include "comms/tint_enlace.h"
#include "loader/tmgrupo_superv.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <chrono>
#include <string>

namespace {

constexpr int32_t BAUDIOS_UNIDAD = 19200;
constexpr int32_t BUFFER_PUERTO = 15000; // bytes, input and output buffers
// A close runs between requests and lasts a few hundred ms; waiting for one is done
// in short slices, with the caller's events processed in between.
constexpr std::chrono::milliseconds TRAMO_ESPERA{10};

void llamar(const std::function<void()>& f) {
    if (f)
        f();
}

void mostrar(const AccionesPuerto& a, const std::string& texto) {
    if (a.mostrarEstado)
        a.mostrarEstado(texto);
}

bool indice_valido(int p) {
    return p >= 0 && p < RANURAS_PUERTO;
}

// Events of the caller's thread, so that a worker blocked in a synchronised
// callback towards it can go on.
void procesar_eventos_propios() {
    if (auto* app = QCoreApplication::instance(); app && QThread::currentThread() == app->thread())
        QCoreApplication::processEvents();
}

bool monitorizando(int p) {
    Tmgrupo_superv* g = grupos_supev[static_cast<size_t>(p)].load();
    return g && puertos[static_cast<size_t>(p)].load() && g->fmon.load();
}

// The old port's worker stops monitoring; it releases the port at the end of its
// current loop pass.
void parar_monitorizacion(int p, const AccionesPuerto& a) {
    Tmgrupo_superv* g = grupos_supev[static_cast<size_t>(p)].load();
    hab_traza.store(false);
    g->fmon.store(false);
    g->fcerrar_int.store(true);
    llamar(a.detenerMonitor);
}

// The worker owns the port: it refreshes the status and then serves requests.
// `nota`: what the open arranged (low-latency mode), traced before the worker
// starts, since from then on it is the trace's only writer.
void empezar_monitorizacion(Tmgrupo_superv& g, const AccionesPuerto& a, int puerto = 0,
                            const std::string& nota = {}) {
    g.pedir_refresco();
    hab_traza.store(true);
    if (!nota.empty())
        anotar_traza(puerto, linea_traza_nota(nota));
    g.fmon.store(true);
    g.Start();
    llamar(a.iniciarMonitor);
}

int32_t abrir(Tinterface_enlace& l, int idx) {
    return l.abrir_interface(static_cast<uint8_t>(idx), MODO_RS232, BAUDIOS_UNIDAD, 8, 1, 'N', 0,
                             THRESHOLD08, BUFFER_PUERTO, BUFFER_PUERTO, AJUSTE_RS485_DEF);
}

// On the worker's thread: the port is opened there and stays with it, so it is never
// handed between threads; the status refresh follows at the worker's next pass.
void abrir_en_trabajador(Tmgrupo_superv& g, Tinterface_enlace& l, int idx) {
    if (abrir(l, idx) == 1) {
        l.set_error_open(true);
        grabar_firmware.store(false);
        if (SupervisorListener* li = g.listener()) {
            li->setStatusText(texto_fallo_apertura(idx));
            li->portOpenDone(false);
        }
        return;
    }
    g.genera_reset_inicial();
    pedir_estado.store(true);
    hab_traza.store(true);
    g.fmon.store(true);
    if (SupervisorListener* li = g.listener())
        li->portOpenDone(true);
}

// The worker of port index idx, created when there is none yet, set up to serve
// that port for the listener (with requests of its own, or the window's).
Tmgrupo_superv* trabajador_para(int idx, SupervisorListener* listener, bool propias) {
    auto& slot = grupos_supev[static_cast<size_t>(idx)];
    Tmgrupo_superv* g = slot.load();
    if (!g) {
        g = new Tmgrupo_superv();
        slot.store(g);
    }
    g->peticiones_propias(propias);
    g->fpcom.store(static_cast<uint8_t>(idx));
    g->setListener(listener);
    return g;
}

// The link object of port index idx, created when there is none yet.
Tinterface_enlace* enlace_para(int idx) {
    auto& slot = puertos[static_cast<size_t>(idx)];
    Tinterface_enlace* l = slot.load();
    if (!l) {
        l = new Tinterface_enlace();
        slot.store(l);
    }
    return l;
}

// A port of its own beside the others: nothing else is stopped or chosen.
ResultadoSeleccion abrir_independiente(int nuevo, SupervisorListener* listener,
                                       const AccionesPuerto& acciones) {
    Tmgrupo_superv* g = trabajador_para(nuevo, listener, true);
    Tinterface_enlace* l = enlace_para(nuevo);
    if (l->error_open())
        return ResultadoSeleccion::FalloApertura;
    if (l->abierto())
        return ResultadoSeleccion::SinCambio;
    if (abrir(*l, nuevo) == 1) {
        mostrar(acciones, texto_mensaje(Mensaje::ErrorPuerto) + std::to_string(nuevo + 1));
        l->set_error_open(true);
        llamar(acciones.falloApertura);
        return ResultadoSeleccion::FalloApertura;
    }
    mostrar(acciones, texto_mensaje(Mensaje::Detectando));
    g->genera_reset_inicial();
    l->ceder_a_hilo(g->hilo());
    empezar_monitorizacion(*g, acciones, nuevo, l->nota_apertura());
    return ResultadoSeleccion::Abierto;
}

} // namespace

std::string motivo_fallo_apertura(int idx) {
    const Tinterface_enlace* l =
        indice_valido(idx) ? puertos[static_cast<size_t>(idx)].load() : nullptr;
    if (!l || !l->motivo_apertura().fallo())
        return {};
    const int idioma = idioma_actual_texto.load();
    std::string t = texto_motivo_apertura(l->motivo_apertura(), idioma);
    if (const std::string consejo = consejo_motivo_apertura(l->motivo_apertura(), idioma);
        !consejo.empty())
        t += "; " + consejo;
    return t;
}

std::string texto_fallo_apertura(int idx) {
    std::string t = texto_mensaje(Mensaje::ErrorPuerto) + std::to_string(idx + 1);
    const std::string dispositivo = nombre_puerto(idx);
    if (!dispositivo.empty())
        t += " (" + dispositivo + ")";
    if (const std::string motivo = motivo_fallo_apertura(idx); !motivo.empty())
        t += "\n" + motivo;
    return t;
}

ResultadoSeleccion seleccionar_puerto(int nuevo, SupervisorListener* listener,
                                      const AccionesPuerto& acciones) {
    if (!indice_valido(nuevo))
        return ResultadoSeleccion::SinCambio;
    if (acciones.independiente)
        return abrir_independiente(nuevo, listener, acciones);
    const int viejo = puerto_seleccionado.load();
    // Choosing the monitored port again changes nothing: stopping its worker here
    // would leave the port closed with nobody watching it.
    if (viejo == nuevo && monitorizando(nuevo))
        return ResultadoSeleccion::SinCambio;

    // A port still being opened by its worker is monitored once that ends, and is
    // then given up like any other.
    if (indice_valido(viejo))
        if (Tmgrupo_superv* gv = grupos_supev[static_cast<size_t>(viejo)].load())
            while (!gv->esperar_tarea(TRAMO_ESPERA))
                llamar(acciones.procesarEventos);
    if (viejo == nuevo && monitorizando(nuevo))
        return ResultadoSeleccion::SinCambio;
    tipo_vtr = TIPO_VTR_NONE;
    if (indice_valido(viejo) && monitorizando(viejo))
        parar_monitorizacion(viejo, acciones);
    llamar(acciones.procesarEventos);
    puerto_seleccionado.store(nuevo);

    Tmgrupo_superv* g = trabajador_para(nuevo, listener, false);

    // This port was given up a moment ago and its worker has not closed it yet: it
    // keeps it and monitors again. The port already belongs to the worker's thread.
    if (g->anular_cierre()) {
        mostrar(acciones, texto_mensaje(Mensaje::Detectando));
        llamar(acciones.procesarEventos);
        empezar_monitorizacion(*g, acciones);
        llamar(acciones.procesarEventos);
        return ResultadoSeleccion::Abierto;
    }
    // A close already running ends before the port is opened again.
    while (!g->esperar_cierre(TRAMO_ESPERA) || !g->esperar_tarea(TRAMO_ESPERA))
        llamar(acciones.procesarEventos);

    Tinterface_enlace* l = enlace_para(nuevo);
    ResultadoSeleccion r;
    if (!l->abierto() && !l->error_open()) {
        if (acciones.abrirEnTrabajador) {
            mostrar(acciones, texto_mensaje(Mensaje::Detectando));
            llamar(acciones.iniciarMonitor);
            llamar(acciones.procesarEventos);
            g->encargar([g, l, nuevo] { abrir_en_trabajador(*g, *l, nuevo); });
            return ResultadoSeleccion::Abriendo;
        }
        const int32_t abierto = abrir(*l, nuevo);
        if (abierto == 1) {
            mostrar(acciones, texto_mensaje(Mensaje::ErrorPuerto) + std::to_string(nuevo + 1));
            l->set_error_open(true);
            llamar(acciones.falloApertura);
            grabar_firmware.store(false);
            r = ResultadoSeleccion::FalloApertura;
        } else {
            mostrar(acciones, texto_mensaje(Mensaje::Detectando));
            llamar(acciones.procesarEventos);
            g->genera_reset_inicial();
            // From here on only the worker's thread touches the port.
            l->ceder_a_hilo(g->hilo());
            empezar_monitorizacion(*g, acciones, nuevo, l->nota_apertura());
            r = ResultadoSeleccion::Abierto;
        }
    } else if (l->error_open()) {
        r = ResultadoSeleccion::FalloApertura;
    } else if (!g->fmon.load()) {
        // Open and already handed to the worker, which no longer watches it.
        mostrar(acciones, texto_mensaje(Mensaje::Detectando));
        empezar_monitorizacion(*g, acciones);
        r = ResultadoSeleccion::Abierto;
    } else {
        r = ResultadoSeleccion::SinCambio;
    }
    llamar(acciones.procesarEventos);
    return r;
}

void detener_monitorizacion(const AccionesPuerto& acciones) {
    const int p = puerto_seleccionado.load();
    if (indice_valido(p) && monitorizando(p))
        parar_monitorizacion(p, acciones);
}

void liberar_trabajadores() {
    for (int i = 0; i < RANURAS_PUERTO; ++i)
        liberar_trabajador(i);
    // Link objects that never reached a worker (a port that failed to open), or
    // whose worker had already ended.
    for (auto& slot : puertos)
        delete slot.exchange(nullptr);
}

void liberar_trabajador(int idx) {
    if (!indice_valido(idx))
        return;
    const auto i = static_cast<size_t>(idx);
    if (Tmgrupo_superv* g = grupos_supev[i].load()) {
        // Nobody is left to show anything.
        g->setListener(nullptr);
        // A port still being opened or reset by the worker is its own first.
        while (g->en_ejecucion() && !g->esperar_tarea(TRAMO_ESPERA))
            procesar_eventos_propios();
        // An open port belongs to the worker's thread, which closes it itself.
        Tinterface_enlace* l = puertos[i].load();
        if (l && l->abierto() && g->en_ejecucion()) {
            g->fmon.store(false);
            g->fcerrar_int.store(true);
            g->Start();
            while (!g->esperar_cierre(TRAMO_ESPERA) && g->en_ejecucion())
                procesar_eventos_propios();
        }
        g->Stop();
        while (!g->hilo()->wait(QDeadlineTimer(TRAMO_ESPERA.count())))
            procesar_eventos_propios();
        grupos_supev[i].store(nullptr);
        delete g;
    }
    // The link object, whether it reached the worker or failed to open.
    delete puertos[i].exchange(nullptr);
}
