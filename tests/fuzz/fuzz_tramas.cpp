// libFuzzer target: the frame receiver of the physical level fed arbitrary bytes
// from a simulated unit, in simulated time. It must end every receive with one of its
// result codes, within its silence limit, and a frame it accepts must start with the
// start byte and fit its buffer.
#include "comms/linea_prueba.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LineFixture f;
    if (f.open() != 0)
        std::abort();
    f.fromUnit(Bytes(data, data + size));
    // Every byte is received or passed over within one receive per byte, plus one
    // that ends in silence.
    for (size_t i = 0; i <= size + 1; ++i) {
        Tbuff rx{};
        const int r = f.receive(rx, 2);
        if (r == ERROR_TIMEOUT)
            return 0;
        if (r == TRAMA_RECIBIDA) {
            if (rx[0] == 0 || rx[1] != STX_TORVEX)
                std::abort();
        } else if (r != ERROR_CHECKSUM) {
            std::abort();
        }
    }
    std::abort(); // more frames than bytes: the receiver is not consuming its input
}
