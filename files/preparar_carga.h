#pragma once
// Preparing a load from the file the operator chose: which image goes to the unit and
// everything the worker needs of it, taken as one TrabajoCarga. Both front ends prepare
// their loads here, so that the rule for a joint file is written once.

#include "common/mensajes.h"
#include "common/trabajo_carga.h"
#include "files/seleccion_fichero.h"

#include <optional>
#include <string>

// The operator's choice of image for a joint file on an XA unit.
enum class EleccionXa { Ninguna, ClassA, I2C };

// Fills trabajo with the load of seleccion on a unit of kind unidad (TIPO_VTR_*).
// A joint file gives its ARM image to an ARM unit and the image the operator chose to
// an XA unit. Returns the message-table entry that refuses the load instead:
// ErrorFichero when nothing loadable is selected or the joint file lacks the image,
// SeleccioneVersion when an XA unit still needs the operator's choice, NoEncontrado
// when no unit was found for a joint file.
std::optional<Mensaje> preparar_carga(const SeleccionFichero& seleccion, const std::string& unidad,
                                      EleccionXa eleccion, TrabajoCarga& trabajo);
