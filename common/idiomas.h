#pragma once
// The four languages of the program, in one table: every language switch (the
// locale's language, a two-letter code, the message column, the window's caption
// number and its dictionary section) is read from it. A fifth language is one more
// row here, a fifth column of the message table and a section of the dictionary.

#include <QLocale>

#include <array>
#include <string>

struct Idioma {
    const char* codigo;    // two-letter code, also the caption dictionary's section
    QLocale::Language qt;  // the locale's language
    int lenguaje_primario; // primary language identifier of a Windows locale
    int columna;           // column of the message table (idioma_actual_texto)
    int numero_captions;   // the window's caption language number (1..4)
};

inline constexpr std::array<Idioma, 4> tabla_idiomas = {{
    {"fr", QLocale::French, 0x0C, 0, 2},
    {"es", QLocale::Spanish, 0x0A, 1, 3},
    {"en", QLocale::English, 0x09, 2, 1},
    {"it", QLocale::Italian, 0x10, 3, 4},
}};
constexpr int NUM_IDIOMAS = static_cast<int>(tabla_idiomas.size());

namespace detalle_idiomas {
constexpr bool columnas_en_orden() {
    for (int i = 0; i < NUM_IDIOMAS; ++i)
        if (tabla_idiomas[static_cast<size_t>(i)].columna != i)
            return false;
    return true;
}
} // namespace detalle_idiomas
static_assert(detalle_idiomas::columnas_en_orden(), "row i of tabla_idiomas is message column i");

// The row of a message column, of a caption number; nullptr for any other.
const Idioma* idioma_de_columna(int columna);
const Idioma* idioma_de_captions(int numero_captions);

// Message column for a primary language identifier (0x0C French, 0x0A Spanish,
// 0x09 English, 0x10 Italian); -1 for any other, which leaves the language unchanged.
int idioma_para_lenguaje(int primary_language_id);
// Message column for a two-letter code ("fr", "es", "en", "it"); -1 for any other.
int idioma_para_codigo(const std::string& code);
// Message column for a locale's language; -1 for any other.
int idioma_para_locale(const QLocale& locale);
// The window's caption number for a message column; 0 for any other.
int captions_para_idioma(int columna);
// The dictionary section of a caption number; "" for any other.
std::string seccion_captions(int numero_captions);
