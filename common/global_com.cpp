#include "common/global_com.h"

std::atomic<bool> hab_traza{false};

namespace {
constexpr std::array<uint32_t, 256> construir_tabla_crc32() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : (c >> 1);
        t[i] = c;
    }
    return t;
}
} // namespace

const std::array<uint32_t, 256> tabla_crc32 = construir_tabla_crc32();
static_assert(construir_tabla_crc32()[1] == 0x77073096u);
static_assert(construir_tabla_crc32()[255] == 0x2D02EF8Du);
