#pragma once
// Process-wide state shared by the window, the headless front end and the workers,
// the time-out tables, the string and numeric constants and the message table.
//
// Threads: the window (or headless front end) writes the file variables and then
// sets a request flag (pedir_estado, grabar_firmware) with release order; the worker
// reads the flag with acquire order and only then the variables, and clears the flag
// when done. Flags and counters are atomics; texts written by both sides are
// TextoCompartido. File variables hold the path of the file they name.

#include "common/global_com.h"
#include "common/idiomas.h"
#include "common/mensajes.h"
#include "common/texto_compartido.h"
#include "common/tiempos.h"

#include <array>
#include <atomic>
#include <string>

class Tinterface_enlace;
class Tmgrupo_superv;
class QLocale;

// ---- time-out tables and limits, in plain numbers: the typed figures live in
// common/tiempos.h; these forms serve the code that still counts in ints.
constexpr int MAX_PROTOCOLOS = tiempos::MAX_PROTOCOLOS;
constexpr int TIMEOUT_ENV_TRAMA_TORVEX = tiempos::TIMEOUT_ENV_TRAMA_TORVEX.count();
constexpr int TIMEOUT_RECV_TRAMA_TORVEX = tiempos::TIMEOUT_RECV_TRAMA_TORVEX.count();
extern const std::array<int, MAX_PROTOCOLOS> tabla_retardo_tx;
extern const std::array<int, MAX_PROTOCOLOS> tabla_retardo_rx;

// ---- ports and workers, one slot per port index: 0 = COM1 .. 3 = COM4, the ports
// the window chooses among; the headless front end loading several units at once
// puts the further devices of its command line from index MAX_PUERTOS on.
constexpr int MAX_PUERTOS = 4;
constexpr int RANURAS_PUERTO = 33; // port indices 0..32
extern std::array<std::atomic<Tinterface_enlace*>, RANURAS_PUERTO> puertos;
extern std::array<std::atomic<Tmgrupo_superv*>, RANURAS_PUERTO> grupos_supev;
extern std::atomic<int> puerto_seleccionado;

// ---- the unit found and the joint file chosen, for the status refresh
extern TextoCompartido tipo_vtr;
extern TextoCompartido tipo_sw;
extern TextoCompartido vtr_ARM_version;

// ---- requests
extern std::atomic<bool> pedir_estado;    // status refresh, set by the window
extern std::atomic<bool> grabar_firmware; // load request, set by the Load command

// ---- language of the message table: 0 French, 1 Spanish, 2 English, 3 Italian
extern std::atomic<int> idioma_actual_texto;

// ---- string constants
inline const std::string TIPO_VTR_NONE = "NONE";
inline const std::string TIPO_VTR_XA = "VTR_XA";
inline const std::string TIPO_VTR_ARM = "VTR_ARM";
inline const std::string TIPO_FIRM_VTR_NONE = "NONE";
inline const std::string TIPO_FIRM_VTR_JOINT = "JOINT";
inline const std::string TIPO_FIRM_VTR_XAI2C = "FIRM_XA_I2C";
inline const std::string TIPO_FIRM_VTR_XACLASSA = "FIRM_XA_CLASSA";
inline const std::string TIPO_FICHERO_VTR_XA = "VTR_XA_FIRMWARE";
inline const std::string TIPO_FICHERO_VTR_ARM = "VTR_ARM_FIRM";
inline const std::string TIPO_FICHERO_MOD = "MOD_FIRMWARE";
inline const std::string ID_FICHERO_BANCO1 = "FIRMB1.HEX";
inline const std::string ID_FICHERO_BANCO2 = "FIRMB2.HEX";
inline const std::string ID_FICHERO_ARM1 = "FIRMARM1.HEX";
inline const std::string ID_FICHERO_ARM2 = "FIRMARM2.HEX";
inline const std::string ID_FICHERO_I2C1 = "FIRMI2C1.HEX";
inline const std::string ID_FICHERO_I2C2 = "FIRMI2C2.HEX";
inline const std::string ID_FICHERO_CLASSA1 = "FIRMCLASSA1.HEX";
inline const std::string ID_FICHERO_CLASSA2 = "FIRMCLASSA2.HEX";
inline const std::string REG_FIN = ":00000001FF"; // Intel HEX end-of-file record
inline const std::string tabla_sincro = "f";      // XA loader synchronisation, echoed back

// ---- numeric constants
constexpr int MODO_ANOT_TX = 0;
constexpr int MODO_ANOT_RX = 1;
constexpr int MODO_ANOT_ERROR_CHECKSUM = 2;
constexpr int MODO_ANOT_ERROR_TIMEOUT = 3;
constexpr int TIMEOUT_BORRADO = tiempos::TIMEOUT_BORRADO.count();             // idle polls
constexpr int TIMEOUT_WR_LINEA = tiempos::TIMEOUT_WR_LINEA.count();           // idle polls
constexpr int TIEMPO_RESET = static_cast<int>(tiempos::TIEMPO_RESET.count()); // ms
constexpr int TIEMPO_DTR = static_cast<int>(tiempos::TIEMPO_DTR.count());     // ms
constexpr uint8_t TRANSFERENCIA_FIRMWARE = 8;
constexpr uint8_t SUBCOMANDO_ID_GRABACION = 0x00;
constexpr uint8_t SUBCOMANDO_MODO_GRABACION = 0x01;
constexpr uint8_t SUBCOMANDO_INICIO_TRANSFERENCIA = 0x80;
constexpr uint8_t SUBCOMANDO_PAQUETE_TRANSFERENCIA = 0x81;
constexpr uint8_t SUBCOMANDO_FIN_TRANSFERENCIA = 0x82;
constexpr uint8_t SUBCOMANDO_PET_TRANSFERENCIA = 0x83;
constexpr int ESPERA_NORMAL = static_cast<int>(tiempos::ESPERA_NORMAL.count()); // ms
constexpr int ESPERA_GRABAR = static_cast<int>(tiempos::ESPERA_GRABAR.count()); // ms

// ---- message table: one row per entry, a text per language column (UTF-8)
struct FilaMensajes {
    Mensaje mensaje;
    std::array<const char*, NUM_IDIOMAS> textos;
};
extern const std::array<FilaMensajes, NUM_MENSAJES> tabla_errores_idioma;

// Entry n (0..27) in the current language; an entry outside the table gives "".
std::string texto_mensaje(int n);
// Entry n in a given language (0..3).
std::string texto_mensaje(int idioma, int n);
inline std::string texto_mensaje(Mensaje m) {
    return texto_mensaje(static_cast<int>(m));
}
inline std::string texto_mensaje(int idioma, Mensaje m) {
    return texto_mensaje(idioma, static_cast<int>(m));
}

// Chooses idioma_actual_texto from the user-default locale. Returns the language
// index chosen, or -1 when the locale's language is none of the four (French kept).
int elegir_idioma_del_sistema();
// Same from a given locale (the window passes its default locale, which follows the
// system's unless a test or a service setting changed it).
int elegir_idioma_del_sistema(const QLocale& locale);

// Puts every shared variable back to its start value (window creation, tests).
void reiniciar_estado_global();
