#include "sim/unidad_simulada.h"

// Placeholder until the DTR entry sequences are modelled: the unit keeps running
// its software whatever DTR does.
void SimUnit::decodeDtr(bool asserted, Tiempo t) {
    dtr_.asserted = asserted;
    dtr_.since = t;
}
