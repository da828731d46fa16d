#pragma once
// The status refresh shows, for a joint file, the version of the ARM image it would
// load; the worker reads that from the shared joint-file variables, which the front
// ends set here after every file choice. A load itself reads only its own job.

#include "files/preparar_carga.h"
#include "files/seleccion_fichero.h"

// After a file choice: the joint-file kind and its ARM version, which a status
// refresh shows as the version to load on an ARM unit.
void reflejar_seleccion(const SeleccionFichero& seleccion);
