#pragma once
// The unit's running software as the framed protocol at 19200 8-N-1 sees it.

#include "sim/personalidad.h"

#include <cstdint>
#include <vector>

class SimRunningSoftware final : public SimPersonality {
public:
    explicit SimRunningSoftware(SimUnit& unit);
    LineFormat format() const override { return FORMAT_19200_8N1; }
    void onByte(uint8_t b, bool garbled, Tiempo t) override;
    void restart(Tiempo t) override;
};
