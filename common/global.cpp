#include "common/global.h"

#include <QLocale>

const std::array<int, MAX_PROTOCOLOS> tabla_retardo_tx = {TIMEOUT_ENV_TRAMA_TORVEX};
const std::array<int, MAX_PROTOCOLOS> tabla_retardo_rx = {TIMEOUT_RECV_TRAMA_TORVEX};

std::array<std::atomic<Tinterface_enlace*>, MAX_PUERTOS + 1> puertos{};
std::array<std::atomic<Tmgrupo_superv*>, MAX_PUERTOS + 1> grupos_supev{};
std::atomic<int> puerto_seleccionado{0};

TextoCompartido fichero_origen;
TextoCompartido fichero_banco1;
TextoCompartido fichero_banco2;
TextoCompartido fichero_banco3;
TextoCompartido fichero_ARM1, fichero_ARM2, fichero_I2C1, fichero_I2C2, fichero_CLASSA1,
    fichero_CLASSA2;

TextoCompartido tipo_fichero;
TextoCompartido id_str;
TextoCompartido crc1_str;
TextoCompartido crc2_str;
TextoCompartido modo_fichero_str;
std::atomic<int> cont_bytes_parcial{0};
std::atomic<int> size_tele{0};
TextoCompartido id_str_ARM, id_str_I2C, id_str_CLASSA;
TextoCompartido tipo_vtr;
TextoCompartido tipo_sw;
TextoCompartido vtr_I2C_version, vtr_CLASSA_version, vtr_ARM_version;
std::atomic<int> size_tele_I2C{0}, size_tele_CLASSA{0}, size_tele_ARM{0};

std::atomic<bool> pedir_estado{false};
std::atomic<bool> grabar_firmware{false};
std::atomic<int> idioma_actual_texto{0};

// clang-format off
const std::array<const char*, NUM_IDIOMAS * NUM_MENSAJES> tabla_errores_idioma = {
    // French (0)
    "Erreur Fichier",
    "Pas Fichier",
    "Pas Fichier trouvée",
    "Actualisation du Firmware ...",
    "Program Block 1 ...",
    "Detéction VTR-900 ...",
    "Erreur: Port --> COM",
    " VTR-900 trouvée",
    " VTR-900 non trouvée",
    " Attendez  ...",
    "Error: Actualisation non valide",
    "OK: actualisé avec sucèss",
    "CRC --> ",
    "ERREUR CHECKSUM",
    "ERREUR TIMEOUT",
    "Program Block 1 ...",
    "Block 1 actualisé avec sucèss ...",
    "Program Block 2 ...",
    "Program ...",
    "Efacer Block 1 ...",
    "Error: manque espace pour sauver le fichier",
    "Sélectionnez la version",
    " Octets",
    " de",
    "Taille à programmer dans le mémoire interne: ",
    "Programmation de la mémoire interne complète",
    "Enregistré ",
    "Erreur de programmation en mémoire",
    // Spanish (1)
    "Error Fichero",
    "Fichero no seleccionado",
    "Fichero no encontrado",
    "Actualización del Firmware ...",
    "Programando Bloque 1 ...",
    "Detectando VTR-900 ...",
    "Error: Puerto --> COM",
    " VTR-900 detectado",
    " VTR-900 no encontrado",
    " Espere  ...",
    "Error: Actualización no válida",
    "OK: Actualización completada",
    "CRC --> ",
    "ERROR CHECKSUM",
    "ERROR TIMEOUT",
    "Programando Bloque 1 ...",
    "Bloque 1 actualizado ...",
    "Programando Bloque 2 ...",
    "Programando ...",
    "Borrando Bloque 1 ...",
    "Error: no hay espacio para grabar el fichero",
    "Seleccione Versión",
    " Bytes",
    " de",
    "Tamaño a grabar en memoria interna: ",
    "Fin grabación memoria interna",
    "Grabados ",
    "Error grabación memoria",
    // English (2)
    "File error",
    "Not File",
    "No file found",
    "Updating Firmware ...",
    "Programming Block 1 ...",
    "Detecting VTR-900 ...",
    "Error: Port --> COM",
    " VTR-900 found",
    " VTR-900 not found",
    " Wait  ...",
    "Error: Invalid Update",
    "OK: Update completed",
    "CRC --> ",
    "ERROR CHECKSUM",
    "ERROR TIMEOUT",
    "Programming Block 1 ...",
    "Block 1 update OK ...",
    "Programming Block 2 ...",
    "Programming ...",
    "Deleting Block 1 ...",
    "Error: not enough free space for file download",
    "Select Version",
    " Bytes",
    " of",
    "Size to program in internal memory: ",
    "Programming of internal memory complete",
    "Written ",
    "Memory programming error",
    // Italian (3)
    "Errore File",
    "File non è trovato",
    "File non è trovato",
    "Aggiornamento Firmware in corso ...",
    "Programmare Block 1 ...",
    "Ricerca VTR-900 ...",
    "Errore: Porta --> COM",
    " VTR-900 è trovato",
    " VTR-900 non trovato",
    " Attendere  ...",
    "Errore: aggiornamento no finito",
    "Conclusione dell`aggiornamento",
    "CRC --> ",
    "ERRORE CHECKSUM",
    "ERRORE TIMEOUT",
    "Programmare Block 1 ...",
    "Block 1 conclusione dell`aggiornamento ...",
    "Programmare Block 2 ...",
    "Programmare ...",
    "Elimina Block 1 ...",
    "Error: mancanza intervalla per salvare l archivio",
    "Seleziona la versione",
    " Bytes",
    " di",
    "Dimensione da registrare nella memoria interna: ",
    "Registrazione memoria interna eseguita",
    "Registrati ",
    "Errore di registrazione",
};
// clang-format on

std::string texto_mensaje(int idioma, int n) {
    if (idioma < 0 || idioma >= NUM_IDIOMAS || n < 0 || n >= NUM_MENSAJES)
        return {};
    return tabla_errores_idioma[static_cast<size_t>(idioma * NUM_MENSAJES + n)];
}

std::string texto_mensaje(int n) {
    return texto_mensaje(idioma_actual_texto.load(), n);
}

int idioma_para_lenguaje(int primary_language_id) {
    switch (primary_language_id) {
    case 0x0C:
        return 0;
    case 0x09:
        return 2;
    case 0x0A:
        return 1;
    case 0x10:
        return 3;
    default:
        return -1;
    }
}

int idioma_para_codigo(const std::string& code) {
    if (code == "fr")
        return 0;
    if (code == "es")
        return 1;
    if (code == "en")
        return 2;
    if (code == "it")
        return 3;
    return -1;
}

int elegir_idioma_del_sistema() {
    // The primary language of the user-default locale; Qt reads LANG/LC_* on Unix
    // and the user-default locale on Windows.
    return elegir_idioma_del_sistema(QLocale::system());
}

int elegir_idioma_del_sistema(const QLocale& locale) {
    int idioma = -1;
    switch (locale.language()) {
    case QLocale::French:
        idioma = 0;
        break;
    case QLocale::Spanish:
        idioma = 1;
        break;
    case QLocale::English:
        idioma = 2;
        break;
    case QLocale::Italian:
        idioma = 3;
        break;
    default:
        break;
    }
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
    for (TextoCompartido* t :
         {&fichero_origen,  &fichero_banco1,     &fichero_banco2,   &fichero_banco3,
          &fichero_ARM1,    &fichero_ARM2,       &fichero_I2C1,     &fichero_I2C2,
          &fichero_CLASSA1, &fichero_CLASSA2,    &tipo_fichero,     &id_str,
          &crc1_str,        &crc2_str,           &modo_fichero_str, &id_str_ARM,
          &id_str_I2C,      &id_str_CLASSA,      &tipo_vtr,         &tipo_sw,
          &vtr_I2C_version, &vtr_CLASSA_version, &vtr_ARM_version})
        t->set({});
    cont_bytes_parcial = 0;
    size_tele = 0;
    size_tele_I2C = 0;
    size_tele_CLASSA = 0;
    size_tele_ARM = 0;
    pedir_estado = false;
    grabar_firmware = false;
    idioma_actual_texto = 0;
    hab_traza = false;
}
