#include "common/global.h"

#include <QLocale>

const std::array<int, MAX_PROTOCOLOS> tabla_retardo_tx = {tiempos::tabla_retardo_tx[0].count()};
const std::array<int, MAX_PROTOCOLOS> tabla_retardo_rx = {tiempos::tabla_retardo_rx[0].count()};

std::array<std::atomic<Tinterface_enlace*>, RANURAS_PUERTO> puertos{};
std::array<std::atomic<Tmgrupo_superv*>, RANURAS_PUERTO> grupos_supev{};
std::atomic<int> puerto_seleccionado{0};

TextoCompartido tipo_vtr;
TextoCompartido tipo_sw;
TextoCompartido vtr_ARM_version;

std::atomic<bool> pedir_estado{false};
std::atomic<bool> grabar_firmware{false};
std::atomic<int> idioma_actual_texto{0};

// One row per entry, its texts in the order of the language columns: French,
// Spanish, English, Italian. A row out of place or a missing text stops the build.
// clang-format off
constexpr std::array<FilaMensajes, NUM_MENSAJES> tabla_errores_idioma = {{
    {Mensaje::ErrorFichero,
     {"Erreur Fichier",
      "Error Fichero",
      "File error",
      "Errore File"}},
    {Mensaje::SinFichero,
     {"Pas Fichier",
      "Fichero no seleccionado",
      "Not File",
      "File non è trovato"}},
    {Mensaje::FicheroNoEncontrado,
     {"Pas Fichier trouvée",
      "Fichero no encontrado",
      "No file found",
      "File non è trovato"}},
    {Mensaje::Actualizando,
     {"Actualisation du Firmware ...",
      "Actualización del Firmware ...",
      "Updating Firmware ...",
      "Aggiornamento Firmware in corso ..."}},
    {Mensaje::ProgramandoBloque1,
     {"Program Block 1 ...",
      "Programando Bloque 1 ...",
      "Programming Block 1 ...",
      "Programmare Block 1 ..."}},
    {Mensaje::Detectando,
     {"Detéction VTR-900 ...",
      "Detectando VTR-900 ...",
      "Detecting VTR-900 ...",
      "Ricerca VTR-900 ..."}},
    {Mensaje::ErrorPuerto,
     {"Erreur: Port --> COM",
      "Error: Puerto --> COM",
      "Error: Port --> COM",
      "Errore: Porta --> COM"}},
    {Mensaje::Encontrado,
     {" VTR-900 trouvée",
      " VTR-900 detectado",
      " VTR-900 found",
      " VTR-900 è trovato"}},
    {Mensaje::NoEncontrado,
     {" VTR-900 non trouvée",
      " VTR-900 no encontrado",
      " VTR-900 not found",
      " VTR-900 non trovato"}},
    {Mensaje::Espere,
     {" Attendez  ...",
      " Espere  ...",
      " Wait  ...",
      " Attendere  ..."}},
    {Mensaje::ErrorCarga,
     {"Error: Actualisation non valide",
      "Error: Actualización no válida",
      "Error: Invalid Update",
      "Errore: aggiornamento no finito"}},
    {Mensaje::CargaOk,
     {"OK: actualisé avec sucèss",
      "OK: Actualización completada",
      "OK: Update completed",
      "Conclusione dell`aggiornamento"}},
    {Mensaje::Crc,
     {"CRC --> ",
      "CRC --> ",
      "CRC --> ",
      "CRC --> "}},
    {Mensaje::ErrorChecksum,
     {"ERREUR CHECKSUM",
      "ERROR CHECKSUM",
      "ERROR CHECKSUM",
      "ERRORE CHECKSUM"}},
    {Mensaje::ErrorTimeout,
     {"ERREUR TIMEOUT",
      "ERROR TIMEOUT",
      "ERROR TIMEOUT",
      "ERRORE TIMEOUT"}},
    {Mensaje::ProgramandoBloque1Xa,
     {"Program Block 1 ...",
      "Programando Bloque 1 ...",
      "Programming Block 1 ...",
      "Programmare Block 1 ..."}},
    {Mensaje::Bloque1Ok,
     {"Block 1 actualisé avec sucèss ...",
      "Bloque 1 actualizado ...",
      "Block 1 update OK ...",
      "Block 1 conclusione dell`aggiornamento ..."}},
    {Mensaje::ProgramandoBloque2,
     {"Program Block 2 ...",
      "Programando Bloque 2 ...",
      "Programming Block 2 ...",
      "Programmare Block 2 ..."}},
    {Mensaje::Programando,
     {"Program ...",
      "Programando ...",
      "Programming ...",
      "Programmare ..."}},
    {Mensaje::BorrandoBloque1,
     {"Efacer Block 1 ...",
      "Borrando Bloque 1 ...",
      "Deleting Block 1 ...",
      "Elimina Block 1 ..."}},
    {Mensaje::SinEspacio,
     {"Error: manque espace pour sauver le fichier",
      "Error: no hay espacio para grabar el fichero",
      "Error: not enough free space for file download",
      "Error: mancanza intervalla per salvare l archivio"}},
    {Mensaje::SeleccioneVersion,
     {"Sélectionnez la version",
      "Seleccione Versión",
      "Select Version",
      "Seleziona la versione"}},
    {Mensaje::Bytes,
     {" Octets",
      " Bytes",
      " Bytes",
      " Bytes"}},
    {Mensaje::De,
     {" de",
      " de",
      " of",
      " di"}},
    {Mensaje::TamanoAProgramar,
     {"Taille à programmer dans le mémoire interne: ",
      "Tamaño a grabar en memoria interna: ",
      "Size to program in internal memory: ",
      "Dimensione da registrare nella memoria interna: "}},
    {Mensaje::MemoriaCompleta,
     {"Programmation de la mémoire interne complète",
      "Fin grabación memoria interna",
      "Programming of internal memory complete",
      "Registrazione memoria interna eseguita"}},
    {Mensaje::Grabados,
     {"Enregistré ",
      "Grabados ",
      "Written ",
      "Registrati "}},
    {Mensaje::ErrorMemoria,
     {"Erreur de programmation en mémoire",
      "Error grabación memoria",
      "Memory programming error",
      "Errore di registrazione"}},
}};
// clang-format on

namespace {
constexpr bool tabla_completa() {
    for (int n = 0; n < NUM_MENSAJES; ++n) {
        const FilaMensajes& fila = tabla_errores_idioma[static_cast<size_t>(n)];
        if (static_cast<int>(fila.mensaje) != n)
            return false;
        for (const char* texto : fila.textos)
            if (texto == nullptr || texto[0] == '\0')
                return false;
    }
    return true;
}
static_assert(tabla_completa(), "every entry in its row, with a text in every language");
} // namespace

std::string texto_mensaje(int idioma, int n) {
    if (idioma < 0 || idioma >= NUM_IDIOMAS || n < 0 || n >= NUM_MENSAJES)
        return {};
    return tabla_errores_idioma[static_cast<size_t>(n)].textos[static_cast<size_t>(idioma)];
}

std::string texto_mensaje(int n) {
    return texto_mensaje(idioma_actual_texto.load(), n);
}

int elegir_idioma_del_sistema() {
    // The primary language of the user-default locale; Qt reads LANG/LC_* on Unix
    // and the user-default locale on Windows.
    return elegir_idioma_del_sistema(QLocale::system());
}

int elegir_idioma_del_sistema(const QLocale& locale) {
    const int idioma = idioma_para_locale(locale);
    if (idioma >= 0)
        idioma_actual_texto = idioma;
    return idioma;
}

void reiniciar_estado_global() {
    for (auto& p : puertos)
        p = nullptr;
    for (auto& g : grupos_supev)
        g = nullptr;
    puerto_seleccionado = 0;
    for (TextoCompartido* t : {&tipo_vtr, &tipo_sw, &vtr_ARM_version})
        t->set({});
    pedir_estado = false;
    grabar_firmware = false;
    idioma_actual_texto = 0;
    hab_traza = false;
}
