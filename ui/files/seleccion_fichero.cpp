// Implementation follows; this first version only publishes the interface.
#include "ui/files/seleccion_fichero.h"
