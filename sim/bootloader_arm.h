#pragma once
// The ARM controller's UART bootloader at 115200 8-E-1.

#include "sim/personalidad.h"

class SimArmBootloader final : public SimPersonality {
public:
    explicit SimArmBootloader(SimUnit& unit);
    LineFormat format() const override { return FORMAT_115200_8E1; }
    void onByte(uint8_t b, bool garbled, Tiempo t) override;
    void restart(Tiempo t) override;
};
