#pragma once
// What both front ends do around the worker of a port: choosing a file, preparing a
// load from it and handing the load to the worker, and emptying the workers' trace
// queues. The window and the headless loader differ only in how they show things.

#include "common/mensajes.h"
#include "files/preparar_carga.h"
#include "files/seleccion_fichero.h"

#include "common/reloj.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class Tmgrupo_superv;

// The worker of port index puerto (0..RANURAS_PUERTO-1), nullptr when none was created.
Tmgrupo_superv* trabajador_del_puerto(int puerto);
// The port is open and its worker is monitoring it.
bool puerto_monitorizado(int puerto);

// The file choice, for the kind of unit last found on a port.
void elegir_fichero(const std::string& nombre, SeleccionFichero& seleccion,
                    FileSelectionView& view);

// Prepares the load of seleccion (eleccion: the image of a joint file for an XA unit)
// for the kind of unit last found on the port. Returns the message-table entry that
// refuses it instead.
std::optional<Mensaje> preparar_carga(const SeleccionFichero& seleccion, EleccionXa eleccion,
                                      TrabajoCarga& trabajo);
// Hands a prepared load to the worker of port puerto, which keeps it as its own copy.
// False when the port has no worker (nothing was requested).
bool pedir_carga(int puerto, TrabajoCarga trabajo);

// Empties the trace queue of every worker: linea gets each traced line, perdidas the
// count of lines a worker could not queue while its queue was full.
void vaciar_trazas(const std::function<void(const QString& linea)>& linea,
                   const std::function<void(int puerto, uint64_t perdidas)>& perdidas);
// The same, with the moment each line was written (on the time source).
void vaciar_trazas(const std::function<void(const QString& linea, Tiempo momento)>& linea,
                   const std::function<void(int puerto, uint64_t perdidas)>& perdidas);
// The same for the worker of port index puerto alone (one unit among several, each
// with its own reader).
void vaciar_trazas_puerto(int puerto,
                          const std::function<void(const QString& linea, Tiempo momento)>& linea,
                          const std::function<void(int puerto, uint64_t perdidas)>& perdidas);
