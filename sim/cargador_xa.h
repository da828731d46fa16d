#pragma once
// The XA controller's in-system programming loader at 9600 8-N-1.

#include "sim/personalidad.h"

class SimXaLoader final : public SimPersonality {
public:
    explicit SimXaLoader(SimUnit& unit);
    LineFormat format() const override { return FORMAT_9600_8N1; }
    void onByte(uint8_t b, bool garbled, Tiempo t) override;
    void restart(Tiempo t) override;
};
