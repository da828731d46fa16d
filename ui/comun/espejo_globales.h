#pragma once
// The worker still reads a load from the process-wide file variables (paths of bank
// image files, the kind of file, the joint-file choice). Until it reads only the
// TrabajoCarga handed to it, the front ends mirror the selection and each job there.
// The bank images of a job go into a folder of this process alone, created on first
// use and removed when the program ends; no other process ever sees them.

#include "common/trabajo_carga.h"
#include "files/preparar_carga.h"
#include "files/seleccion_fichero.h"

// After a file choice: the joint-file kind and its ARM version, which a status
// refresh shows as the version to load on an ARM unit.
void reflejar_seleccion(const SeleccionFichero& seleccion);
// Before a load is requested: the job's kind, identification, size and bank images.
void reflejar_trabajo(const TrabajoCarga& trabajo, EleccionXa eleccion);
