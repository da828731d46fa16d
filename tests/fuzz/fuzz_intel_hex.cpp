// libFuzzer target: the Intel HEX reader over arbitrary bytes. Whatever it accepts
// must be exactly what its own records say: every data record read again on its own
// finds its bytes at the addresses the image reports, and the runs are sorted,
// apart and non-empty.
#include "common/intel_hex.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    intel_hex::Imagen img;
    intel_hex::Fallo fallo;
    if (!intel_hex::leer_imagen(text, img, fallo)) {
        for (int idioma = 0; idioma < 4; ++idioma)
            (void)intel_hex::describir(fallo, idioma);
        return 0;
    }
    size_t total = 0;
    for (size_t i = 0; i < img.tramos.size(); ++i) {
        const auto& t = img.tramos[i];
        if (t.datos.empty())
            std::abort();
        if (i > 0 && img.tramos[i - 1].fin() >= t.direccion)
            std::abort(); // touching runs must have been joined
        total += t.datos.size();
    }
    if (total != img.bytes())
        std::abort();
    // Each record's bytes, re-read, sit where the image says.
    uint32_t base = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t corte = text.find_first_of("\r\n", pos);
        if (corte == std::string_view::npos)
            corte = text.size();
        const auto linea = text.substr(pos, corte - pos);
        pos = corte;
        if (pos < text.size() && text[pos] == '\r')
            ++pos;
        if (pos < text.size() && text[pos] == '\n')
            ++pos;
        const auto r = intel_hex::leer_registro(linea);
        if (!r)
            continue; // blank lines: the image was accepted, so nothing else fails
        if (r->tipo == intel_hex::LINEAL_EXTENDIDA)
            base = (uint32_t{r->datos[0]} << 8 | r->datos[1]) << 16;
        else if (r->tipo == intel_hex::SEGMENTO_EXTENDIDO)
            base = (uint32_t{r->datos[0]} << 8 | r->datos[1]) << 4;
        else if (r->tipo == intel_hex::DATOS)
            for (size_t i = 0; i < r->datos.size(); ++i) {
                const uint32_t a = base + ((r->offset + i) & 0xFFFF);
                if (img.byte_en(a) != r->datos[i])
                    std::abort();
            }
    }
    return 0;
}
