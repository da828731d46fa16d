#pragma once
// Choosing the serial port the unit hangs on, shared by the window and the headless
// front end: the old port's worker stops monitoring and gives its port up, the new
// port's worker and link object are created when needed, the port is opened at
// 19200 8-N-1, the unit gets its initial reset, and the worker starts monitoring
// with a status refresh pending. Everything here runs on the caller's thread (the
// window's thread); the hooks let the front end update its widgets.

#include "loader/supervisor_listener.h"

#include <functional>
#include <string>

struct AccionesPuerto {                    // front-end hooks, all run on the caller's thread
    std::function<void()> detenerMonitor;  // stop the trace timer, disable Load
    std::function<void()> procesarEventos; // let the front end process pending events
    std::function<void(const std::string&)> mostrarEstado; // status line text
    std::function<void()> falloApertura;                   // hide progress, disable Load
    std::function<void()> iniciarMonitor;                  // start the trace timer
    // Open the port and run the initial reset on the port's worker, not on the
    // caller's thread: the call returns at once (Abriendo) and the worker's listener
    // hears the outcome (portOpenDone, the status line for a failure). A window
    // must not be held for the seconds this takes; a headless caller may.
    bool abrirEnTrabajador = false;
    // The port is opened beside the others, several units at once: no other port's
    // worker is stopped, the selected port and tipo_vtr stay as they were, and the
    // worker serves requests of its own (Tmgrupo_superv::peticiones_propias).
    // Several threads may select their own ports this way at the same time.
    bool independiente = false;
};

enum class ResultadoSeleccion {
    Abierto,       // the port is open and its worker monitors it, a status refresh pending
    FalloApertura, // the port cannot be opened (now, or it failed before): its worker stays idle
    SinCambio,     // the port was already the monitored one: nothing was touched
    Abriendo       // the worker is opening the port (abrirEnTrabajador)
};

// The status text of a port that cannot be opened: the table's entry 6 with the COM
// number and the device it stands for ("Error: Port --> COM3 (/dev/ttyS2)"), and on
// a second line why, when the serial layer says.
std::string texto_fallo_apertura(int idx);
// Why the port of index idx could not be opened, as the serial layer tells it; empty
// while it does not. The one place the reason reaches the front ends from.
std::string motivo_fallo_apertura(int idx);

// Selects the port index `nuevo` (0..3): stops the old port's monitoring worker,
// creates the worker and link object of the new port if needed, opens the port at
// 19200 8-N-1, runs the initial reset on the caller's thread, hands the serial
// object to the worker's thread before the worker first uses it, sets pedir_estado,
// hab_traza and the worker's fmon and starts it. The listener is set on the worker.
// A port that failed to open keeps its failure mark: selecting it again opens
// nothing and shows nothing new.
ResultadoSeleccion seleccionar_puerto(int nuevo, SupervisorListener* listener,
                                      const AccionesPuerto& acciones);

// Closing the front end: the monitored port's worker stops monitoring and releases
// its port at the end of its current loop pass; the trace timer stops.
void detener_monitorizacion(const AccionesPuerto& acciones);

// End of the program: every worker gives its port up and ends (each waits for its
// thread), then every link object left is released and both tables are emptied.
void liberar_trabajadores();
// The same for the port of index idx alone (the end of one unit's load among
// several); the other ports' workers go on.
void liberar_trabajador(int idx);
