#include "sim/bootloader_arm.h"

#include "sim/unidad_simulada.h"

// Placeholder until this program is modelled: it ignores what it receives.
SimArmBootloader::SimArmBootloader(SimUnit& unit) : SimPersonality(unit) {}
void SimArmBootloader::onByte(uint8_t, bool, Tiempo) {}
void SimArmBootloader::restart(Tiempo) {}
