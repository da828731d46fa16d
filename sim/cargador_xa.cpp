#include "sim/cargador_xa.h"

#include "sim/unidad_simulada.h"

// Placeholder until this program is modelled: it ignores what it receives.
SimXaLoader::SimXaLoader(SimUnit& unit) : SimPersonality(unit) {}
void SimXaLoader::onByte(uint8_t, bool, Tiempo) {}
void SimXaLoader::restart(Tiempo) {}
