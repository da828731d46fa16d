#include "sim/software_unidad.h"

#include "sim/unidad_simulada.h"

// Placeholder until this program is modelled: it ignores what it receives.
SimRunningSoftware::SimRunningSoftware(SimUnit& unit) : SimPersonality(unit) {}
void SimRunningSoftware::onByte(uint8_t, bool, Tiempo) {}
void SimRunningSoftware::restart(Tiempo) {}
