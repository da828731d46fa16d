// Shared state: the four-language message table and its lookup, the language
// choice, the CRC-32 table, the reset of the shared variables and the types of the
// timing figures.
#include "common/global.h"
#include "common/reloj.h"

#include <QLocale>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <type_traits>

namespace {

struct ResetState {
    ResetState() { reiniciar_estado_global(); }
    ~ResetState() { reiniciar_estado_global(); }
};

TEST(MessageTable, EntriesInEveryLanguageKeepTheirExactTexts) {
    ResetState reset;
    struct Case {
        int idioma, n;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, "Erreur Fichier"},                      // first of the flat table
        {0, 27, "Erreur de programmation en mémoire"}, // last French
        {1, 0, "Error Fichero"},                       // first Spanish: entry 28
        {3, 27, "Errore di registrazione"},            // last of the flat table: 111
        {2, 9, " Wait  ..."},                          // two blanks kept
        {0, 12, "CRC --> "},
        {1, 7, " VTR-900 detectado"},
        {2, 8, " VTR-900 not found"},
        {3, 22, " Bytes"},
        {2, 23, " of"},
        {2, 24, "Size to program in internal memory: "},
        {1, 26, "Grabados "},
        {3, 11, "Conclusione dell`aggiornamento"}, // grave accent
        {3, 16, "Block 1 conclusione dell`aggiornamento ..."},
        {3, 1, "File non è trovato"},
        {2, 11, "OK: Update completed"},
        {2, 10, "Error: Invalid Update"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.idioma) + "/" + std::to_string(c.n));
        EXPECT_STREQ(
            tabla_errores_idioma[static_cast<size_t>(c.n)].textos[static_cast<size_t>(c.idioma)],
            c.text);
        idioma_actual_texto = c.idioma;
        EXPECT_EQ(texto_mensaje(c.n), c.text);
        EXPECT_EQ(texto_mensaje(c.idioma, c.n), c.text);
    }
}

TEST(MessageTable, EveryEntryExistsAndLookupsOutsideTheTableGiveNothing) {
    ResetState reset;
    // Every row has a text in each of the four languages (the build checks it too).
    EXPECT_EQ(tabla_errores_idioma.size(), 28u);
    for (int idioma = 0; idioma < NUM_IDIOMAS; ++idioma)
        for (int n = 0; n < NUM_MENSAJES; ++n)
            EXPECT_FALSE(texto_mensaje(idioma, n).empty()) << idioma << "/" << n;
    for (int n : {-1, 28, 1000})
        EXPECT_EQ(texto_mensaje(n), "") << n;
    EXPECT_EQ(texto_mensaje(4, 0), "");
    EXPECT_EQ(texto_mensaje(-1, 0), "");
}

TEST(MessageTable, TextsWithRunTimeParts) {
    ResetState reset;
    idioma_actual_texto = 2;
    EXPECT_EQ(texto_mensaje(6) + std::to_string(2 + 1), "Error: Port --> COM3");
    idioma_actual_texto = 0;
    EXPECT_EQ(texto_mensaje(26) + std::to_string(1024) + " Bytes", "Enregistré 1024 Bytes");
}

TEST(Language, TheFourLanguagesAreChosenAndAnyOtherKeepsTheCurrentOne) {
    ResetState reset;
    struct Case {
        QLocale::Language language;
        int primaryId;
        const char* code;
        int start, chosen, after;
        int captions;        // the window's caption number
        const char* section; // of the caption dictionary
    };
    const Case cases[] = {
        {QLocale::French, 0x0C, "fr", 2, 0, 0, 2, "fr"},
        {QLocale::Spanish, 0x0A, "es", 0, 1, 1, 3, "es"},
        {QLocale::English, 0x09, "en", 0, 2, 2, 1, "en"},
        {QLocale::Italian, 0x10, "it", 0, 3, 3, 4, "it"},
        {QLocale::German, 0x07, "de", 0, -1, 0, 0, ""}, // French messages
        {QLocale::German, 0x07, "de", 2, -1, 2, 0, ""}, // left as it was
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QLocale::languageToString(c.language).toStdString());
        idioma_actual_texto = c.start;
        EXPECT_EQ(elegir_idioma_del_sistema(QLocale(c.language)), c.chosen);
        EXPECT_EQ(idioma_actual_texto.load(), c.after);
        EXPECT_EQ(idioma_para_lenguaje(c.primaryId), c.chosen);
        EXPECT_EQ(idioma_para_codigo(c.code), c.chosen);
        EXPECT_EQ(captions_para_idioma(c.chosen), c.captions);
        EXPECT_EQ(seccion_captions(c.captions), c.section);
    }
}

TEST(Crc32Table, IsTheReflectedStandardTable) {
    EXPECT_EQ(tabla_crc32[0], 0u);
    EXPECT_EQ(tabla_crc32[1], 0x77073096u);
    EXPECT_EQ(tabla_crc32[128], 0xEDB88320u);
    EXPECT_EQ(tabla_crc32[255], 0x2D02EF8Du);
    // The standard check value of the ISO 3309 / IEEE 802.3 CRC-32.
    uint32_t crc = 0xFFFFFFFFu;
    for (char ch : std::string("123456789"))
        crc = (crc >> 8) ^ tabla_crc32[(crc ^ static_cast<uint8_t>(ch)) & 0xFF];
    EXPECT_EQ(crc ^ 0xFFFFFFFFu, 0xCBF43926u);
}

TEST(SharedState, ResetPutsEveryVariableBackToItsStartValue) {
    ResetState reset;
    // Another run's leftovers in every kind of shared variable, slot 4 included.
    Tinterface_enlace* const somePort = reinterpret_cast<Tinterface_enlace*>(0x10);
    Tmgrupo_superv* const someWorker = reinterpret_cast<Tmgrupo_superv*>(0x20);
    for (size_t i = 0; i < puertos.size(); ++i) {
        puertos[i] = somePort;
        grupos_supev[i] = someWorker;
    }
    puerto_seleccionado = 3;
    pedir_estado = true;
    grabar_firmware = true;
    hab_traza = true;
    idioma_actual_texto = 2;
    for (TextoCompartido* t : {&tipo_vtr, &tipo_sw, &vtr_ARM_version})
        t->set("left over");

    reiniciar_estado_global();

    for (size_t i = 0; i < puertos.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(puertos[i].load(), nullptr);
        EXPECT_EQ(grupos_supev[i].load(), nullptr);
    }
    EXPECT_EQ(puerto_seleccionado.load(), 0);
    EXPECT_FALSE(pedir_estado.load());
    EXPECT_FALSE(grabar_firmware.load());
    EXPECT_FALSE(hab_traza.load());
    EXPECT_EQ(idioma_actual_texto.load(), 0); // French until the locale is read
    for (TextoCompartido* t : {&tipo_vtr, &tipo_sw, &vtr_ARM_version})
        EXPECT_TRUE(t->empty());
}

// Counts of idle polls and durations do not mix: neither a plain number nor a
// duration becomes a count by accident, and a count is no duration.
static_assert(!std::is_convertible_v<int, Sondeos>);
static_assert(!std::is_constructible_v<Sondeos, std::chrono::milliseconds>);
static_assert(!std::is_convertible_v<Sondeos, Tiempo>);
static_assert(!std::is_constructible_v<Tiempo, Sondeos>);

} // namespace
