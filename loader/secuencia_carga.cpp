// The two requests a monitoring worker serves: the status refresh and the firmware
// load, from the controller's loader to the final reset and version read-back.
#include "common/global.h"
#include "comms/tint_enlace.h"
#include "loader/tmgrupo_superv.h"

#include <fstream>
#include <string>

namespace {

constexpr int INTENTOS_ESTADO = 3; // attempts of the status and programming-mode requests
constexpr int32_t ESPERA_ANTES_ESTADO = 5000; // ms: the unit restarts after the initial reset
constexpr int32_t TIEMPO_AVISO = 3000;        // ms the found / not found text stays
constexpr int32_t TIEMPO_RESULTADO = 2000;    // ms the result stays before Load comes back

// Message-table entries.
constexpr int MSG_ENCONTRADO = 7;
constexpr int MSG_NO_ENCONTRADO = 8;
constexpr int MSG_ESPERA = 9;
constexpr int MSG_ERROR_CARGA = 10;
constexpr int MSG_CARGA_OK = 11;
constexpr int MSG_SIN_ESPACIO = 20;

// Runs a step of a programming procedure; anything that escapes it counts as the
// step having failed, so that the load ends like any failed load.
template <class F> bool fallo_de(F&& paso) {
    try {
        return paso();
    } catch (...) {
        return true;
    }
}

// Runs a step whose outcome is not used; anything that escapes it is dropped.
template <class F> void sin_fallo(F&& paso) {
    try {
        paso();
    } catch (...) {
    }
}

// True when the Intel HEX image holds at least one data record with data: only
// then may a controller be erased to write it.
bool imagen_con_datos(const std::string& fichero) {
    std::ifstream in(fichero);
    if (!in)
        return false;
    std::string linea;
    while (std::getline(in, linea)) {
        const size_t inicio = linea.find(':');
        if (inicio == std::string::npos || linea.size() < inicio + 11)
            continue;
        const std::string cuenta = linea.substr(inicio + 1, 2);
        const std::string tipo = linea.substr(inicio + 7, 2);
        if (tipo == "00" && cuenta != "00")
            return true;
    }
    return false;
}

void reconfigurar(Tmgrupo_superv& g, int32_t baud) {
    if (auto* l = g.enlace_seleccionado())
        l->cambia_conf(baud, 8, 1, 'N', 0);
}

// The status request: command 4, no data. The reply's data area is cleared first,
// so that a short reply cannot show the bytes of an earlier frame.
int pedir_estado_unidad(Tmgrupo_superv& g) {
    Tmensaje& tx = *g.mensaje_tx;
    tx.fdireccion = 0;
    tx.fdireccion_ext = 0;
    prepararPeticionEstado(tx);
    g.mensaje_rx->trama_nenlace.fill(0);
    try {
        return g.enviar_mensaje(tx, *g.mensaje_rx, INTENTOS_ESTADO, 0);
    } catch (...) {
        return 0;
    }
}

// The programming-mode request: the running software makes room for the transfer.
int pedir_modo_programacion(Tmgrupo_superv& g) {
    Tmensaje& tx = *g.mensaje_tx;
    tx.fdireccion = 0;
    tx.fdireccion_ext = 0;
    prepararPeticionModoProgramacion(tx);
    try {
        return g.enviar_mensaje(tx, *g.mensaje_rx, INTENTOS_ESTADO, 0);
    } catch (...) {
        return 0;
    }
}

int version_mayor(const Tmgrupo_superv& g) {
    return g.mensaje_rx->trama_nenlace[3];
}
int version_menor(const Tmgrupo_superv& g) {
    return g.mensaje_rx->trama_nenlace[4];
}

// Shows the version of the status reply just received.
void mostrar_version(Tmgrupo_superv& g) {
    g.fversion = Tmgrupo_superv::texto_version(version_mayor(g), version_menor(g));
    g.dodatos();
}

// Status of a load step: the version is shown when the unit answered.
bool estado_con_version(Tmgrupo_superv& g) {
    if (pedir_estado_unidad(g) != TRAMA_RECIBIDA)
        return false;
    mostrar_version(g);
    return true;
}

void detectar(Tmgrupo_superv& g) {
    try {
        g.detectar_VTR_hw();
    } catch (...) {
        tipo_vtr = TIPO_VTR_NONE;
    }
    // Detection leaves the line in a loader's format; the running software, and
    // the next refresh, talk at 19200 8-N-1.
    sin_fallo([&] { reconfigurar(g, 19200); });
}

bool unidad_conocida() {
    return tipo_vtr == TIPO_VTR_ARM || tipo_vtr == TIPO_VTR_XA;
}

} // namespace

std::string Tmgrupo_superv::texto_version(int major, int minor) {
    std::string v;
    if (major / 10 != 0)
        v += std::to_string(major / 10);
    v += std::to_string(major % 10);
    v += ".";
    v += minor / 10 != 0 ? std::to_string(minor / 10) : std::string("0");
    v += std::to_string(minor % 10);
    return v;
}

void Tmgrupo_superv::refrescar_estado() {
    tipo_vtr = TIPO_VTR_NONE;
    retardo_msec(ESPERA_ANTES_ESTADO);
    if (pedir_estado_unidad(*this) == TRAMA_RECIBIDA) {
        const int mayor = version_mayor(*this);
        const int menor = version_menor(*this);
        if (mayor >= 4)
            doversion_acargar(tipo_sw == TIPO_FIRM_VTR_JOINT ? vtr_ARM_version.get()
                                                             : std::string());
        tipo_vtr = mayor >= 4 ? TIPO_VTR_ARM : TIPO_VTR_XA;
        fversion = texto_version(mayor, menor);
        if (mayor >= 100)
            detectar(*this);
        dodatos();
        fcarga = texto_mensaje(MSG_ENCONTRADO);
        domensaje();
    } else {
        detectar(*this);
        fcarga = texto_mensaje(unidad_conocida() ? MSG_ENCONTRADO : MSG_NO_ENCONTRADO);
        domensaje();
        fversion.clear();
        dodatos();
    }
    retardo_msec(TIEMPO_AVISO);
    fcarga.clear();
    domensaje();
    // The request is done before Load is offered: a front end that posts a new
    // request as soon as it sees Load enabled must not have it cleared here.
    pedir_estado.store(false);
    fstart = true;
    dostart();
}

void Tmgrupo_superv::cargar_firmware() {
    bool fallo = false;
    error_max_ficheros = false;
    cont_bytes_parcial.store(0);
    const std::string fichero = tipo_fichero.get();
    const std::string id = id_str.get();
    try {
        if (fichero == TIPO_FICHERO_VTR_XA) {
            // A controller is erased before it is written: without data to write
            // the unit would be left with nothing.
            if (!imagen_con_datos(fichero_banco1.get())) {
                fallo = true;
            } else {
                reconfigurar(*this, 9600);
                if (fallo_de([&] { return grabar_micro(); })) {
                    fallo = true;
                } else {
                    reconfigurar(*this, 19200);
                    genera_reset();
                    if (!estado_con_version(*this) ||
                        pedir_modo_programacion(*this) != TRAMA_RECIBIDA)
                        fallo = true;
                    else
                        fallo = fallo_de([&] { return grabar_flash_intelhex(id); });
                }
            }
        } else if (fichero == TIPO_FICHERO_VTR_ARM) {
            if (!imagen_con_datos(fichero_banco1.get())) {
                fallo = true;
            } else if (fallo_de([&] { return grabar_micro_STM(); })) {
                fallo = true;
            } else {
                reconfigurar(*this, 19200);
                genera_reset_final();
                if (!estado_con_version(*this) ||
                    pedir_modo_programacion(*this) != TRAMA_RECIBIDA) {
                    fallo = true;
                } else {
                    fallo = fallo_de([&] { return grabar_flash_intelhex(id); });
                    // The ARM controller restarts from its new image in any case.
                    sin_fallo([&] { HW_reset_STM(); });
                }
            }
        } else {
            reconfigurar(*this, 19200);
            // Module firmware goes to the running software whether or not it answers
            // the status request.
            (void)pedir_estado_unidad(*this);
            if (modo_fichero_str == "BIN")
                fallo = fallo_de([&] { return grabar_flash_bin(id); });
            else
                fallo = fallo_de([&] { return grabar_flash_intelhex(id); });
        }
        if (!fallo) {
            genera_reset_final();
            fcarga = texto_mensaje(MSG_ESPERA);
            domensaje();
            ferror_com = !estado_con_version(*this);
        }
    } catch (...) {
        fallo = true;
    }
    // The image of a joint file was chosen for this load only: the next Load of the
    // same file asks again which module image to load, whatever became of this one.
    if (fichero == TIPO_FICHERO_VTR_XA && tipo_vtr == TIPO_VTR_XA &&
        (tipo_sw == TIPO_FIRM_VTR_XAI2C || tipo_sw == TIPO_FIRM_VTR_XACLASSA))
        tipo_sw = TIPO_FIRM_VTR_JOINT;
    if (fallo)
        ferror_com = true;
    grabar_firmware.store(false);
    doresultado();
}

void Tmgrupo_superv::doresultado() {
    const int entrada =
        error_max_ficheros ? MSG_SIN_ESPACIO : (ferror_com ? MSG_ERROR_CARGA : MSG_CARGA_OK);
    if (auto* l = listener())
        l->showResult(entrada, texto_mensaje(entrada));
    if (error_max_ficheros)
        sin_fallo([&] { genera_reset_final(); });
    retardo_msec(TIEMPO_RESULTADO);
    if (auto* l = listener())
        l->finishLoad();
}
