// The two requests a monitoring worker serves: the status refresh and the firmware
// load, from the controller's loader to the final reset and version read-back. The
// outcome of every procedure comes back as a Resultado; mensaje_de_resultado is the
// one place where it becomes what the operator is told.
#include "common/global.h"
#include "common/intel_hex.h"
#include "comms/tint_enlace.h"
#include "loader/deteccion.h"
#include "loader/grabador_arm.h"
#include "loader/grabador_xa.h"
#include "loader/tmgrupo_superv.h"
#include "loader/transferencia_tramas.h"

#include <string>

namespace {

constexpr int32_t ESPERA_ANTES_ESTADO = 5000; // ms: the unit restarts after the initial reset
constexpr int32_t TIEMPO_AVISO = 3000;        // ms the found / not found text stays
constexpr int32_t TIEMPO_RESULTADO = 2000;    // ms the result stays before Load comes back

// Runs a step of a load; anything that escapes it counts as the step having failed,
// so that the load ends like any failed load.
template <class F> Resultado sin_excepciones(F&& paso) {
    try {
        return paso();
    } catch (...) {
        return Resultado::ErrorFichero;
    }
}

// Runs a step whose outcome is not used; anything that escapes it is dropped.
template <class F> void sin_fallo(F&& paso) {
    try {
        paso();
    } catch (...) {
    }
}

// Reads and checks the whole bank-1 image before the controller is touched: it is
// never erased for an image that could not be written as it stands. A refused
// image's reason (line and fault) is shown beside the result.
bool imagen_valida(Informador& inf, const std::string& texto, uint32_t desde, uint32_t hasta) {
    intel_hex::Imagen imagen;
    intel_hex::Fallo fallo;
    if (intel_hex::leer_imagen(texto, imagen, fallo) &&
        intel_hex::dentro_de(imagen, desde, hasta, fallo))
        return true;
    inf.aviso(intel_hex::describir(fallo, idioma_actual_texto.load()));
    return false;
}

constexpr uint32_t FIN_MEMORIA_XA = 0xFFFF; // the XA controller's 64 KiB of code memory

void reconfigurar(const Contexto& c, int32_t baud) {
    if (c.enlace)
        c.enlace->cambia_conf(baud, 8, 1, 'N', 0);
}

// Shows the version of the status reply just received.
void mostrar_version(Tmgrupo_superv& g, const TransferenciaTramas& t) {
    g.fversion = Tmgrupo_superv::texto_version(t.version_mayor(), t.version_menor());
    g.dodatos();
}

// Status of a load step: the version is shown when the unit answered.
Resultado estado_con_version(Tmgrupo_superv& g, TransferenciaTramas& t) {
    const int r = t.pedir_estado();
    if (r != TRAMA_RECIBIDA)
        return resultado_de(r);
    mostrar_version(g, t);
    return Resultado::Ok;
}

void detectar(const Contexto& c) {
    try {
        Deteccion(c).detectar_VTR_hw();
    } catch (...) {
        c.informador.unidad_detectada(TIPO_VTR_NONE);
    }
    // Detection leaves the line in a loader's format; the running software, and
    // the next refresh, talk at 19200 8-N-1.
    sin_fallo([&] { reconfigurar(c, 19200); });
}

bool unidad_conocida(const Tmgrupo_superv& g) {
    const std::string t = g.tipo_unidad();
    return t == TIPO_VTR_ARM || t == TIPO_VTR_XA;
}

} // namespace

Mensaje mensaje_de_resultado(Resultado r) {
    switch (r) {
    case Resultado::Ok:
        return Mensaje::CargaOk;
    case Resultado::Rechazado:
        return Mensaje::SinEspacio;
    case Resultado::SinRespuesta:
    case Resultado::Nack:
    case Resultado::NoVerificado:
    case Resultado::ErrorFichero:
    case Resultado::FalloPuerto:
    case Resultado::Interrumpido:
        break;
    }
    return Mensaje::ErrorCarga;
}

std::string version_de_identificacion(const std::string& id) {
    static const std::string PREFIJO = "FIRMVTR-900_0";
    const size_t p = id.find(PREFIJO);
    if (p == std::string::npos || p + PREFIJO.size() + 3 > id.size())
        return {};
    const std::string d = id.substr(p + PREFIJO.size(), 3);
    for (char ch : d)
        if (ch < '0' || ch > '9')
            return {};
    return Tmgrupo_superv::texto_version(d[0] - '0', (d[1] - '0') * 10 + (d[2] - '0'));
}

std::string texto_versiones_distintas(const std::string& unidad, const std::string& fichero) {
    switch (idioma_actual_texto.load()) {
    case 0:
        return "L'unité indique " + unidad + ", le fichier est " + fichero;
    case 1:
        return "La unidad indica " + unidad + ", el fichero es " + fichero;
    case 3:
        return "L'unità riporta " + unidad + ", il file è " + fichero;
    default:
        return "Unit reports " + unidad + ", file is " + fichero;
    }
}

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
    sin_fallo([&] { recuperar_puerto(); });
    const Contexto c = contexto();
    TransferenciaTramas tramas(c, *mensaje_tx, *mensaje_rx);
    unidad_detectada(TIPO_VTR_NONE);
    retardo_msec(ESPERA_ANTES_ESTADO);
    int r = 0;
    try {
        // Stopped before it began: nothing is asked, and the unit stays as the
        // initial reset left it.
        r = cancelado() ? ERROR_TIMEOUT : tramas.pedir_estado();
    } catch (...) {
        r = 0;
    }
    // The notice stays on the window's screen for a while. Without a window the wait
    // is left out when the unit's software answered the request: nothing was reset
    // since, so no restart is waited for by it either.
    bool esperar_aviso = !fsin_esperas_pantalla.load();
    if (cancelado()) {
        esperar_aviso = false;
    } else if (r == TRAMA_RECIBIDA) {
        const int mayor = tramas.version_mayor();
        const int menor = tramas.version_menor();
        if (mayor >= 4)
            doversion_acargar(tipo_sw == TIPO_FIRM_VTR_JOINT ? vtr_ARM_version.get()
                                                             : std::string());
        unidad_detectada(mayor >= 4 ? TIPO_VTR_ARM : TIPO_VTR_XA);
        fversion = texto_version(mayor, menor);
        if (mayor >= 100) {
            detectar(c);
            esperar_aviso = true;
        }
        dodatos();
        fcarga = texto_mensaje(Mensaje::Encontrado);
        domensaje();
    } else {
        detectar(c);
        esperar_aviso = true;
        fcarga =
            texto_mensaje(unidad_conocida(*this) ? Mensaje::Encontrado : Mensaje::NoEncontrado);
        domensaje();
        fversion.clear();
        dodatos();
    }
    if (esperar_aviso)
        retardo_msec(TIEMPO_AVISO);
    fcarga.clear();
    domensaje();
    // The request is done before Load is offered: a front end that posts a new
    // request as soon as it sees Load enabled must not have it cleared here.
    flag_estado().store(false);
    fstart = true;
    dostart();
}

void Tmgrupo_superv::cargar_firmware() {
    // The load works on the copy taken when it was requested, from start to end.
    const TrabajoCarga trabajo = trabajo_pedido();
    sin_fallo([&] { recuperar_puerto(); });
    const Contexto c = contexto();
    Deteccion unidad(c);
    TransferenciaTramas tramas(c, *mensaje_tx, *mensaje_rx);
    Resultado r = Resultado::Ok;
    error_max_ficheros = false;
    // Characters of bank 1 gone through: the bank-2 transfer's progress goes on from them.
    long long hechos = 0;
    // Bank 2 of unit firmware, once the controller was written and reset: the
    // running software's status (its version shown), programming mode, the transfer.
    auto banco2 = [&](bool* transferido = nullptr) {
        if (cancelado())
            return Resultado::Interrumpido;
        Resultado rb = sin_excepciones([&] { return estado_con_version(*this, tramas); });
        if (rb == Resultado::Ok)
            rb = sin_excepciones([&] { return resultado_de(tramas.pedir_modo_programacion()); });
        if (rb != Resultado::Ok)
            return rb;
        if (transferido)
            *transferido = true;
        return sin_excepciones([&] {
            return tramas.grabar_flash_intelhex(trabajo.id, trabajo.banco2, hechos,
                                                trabajo.size_tele);
        });
    };
    try {
        if (trabajo.tipo_fichero == TIPO_FICHERO_VTR_XA) {
            // A controller is erased before it is written: without data to write
            // the unit would be left with nothing.
            if (!imagen_valida(*this, trabajo.banco1, 0, FIN_MEMORIA_XA)) {
                r = Resultado::ErrorFichero;
            } else {
                reconfigurar(c, 9600);
                GrabadorXa xa(c);
                r = sin_excepciones(
                    [&] { return xa.grabar_micro(trabajo.banco1, trabajo.size_tele); });
                hechos = xa.caracteres_leidos();
                if (r == Resultado::Ok) {
                    reconfigurar(c, 19200);
                    unidad.genera_reset();
                    r = banco2();
                } else if (r != Resultado::Interrumpido) {
                    // The loader keeps running while DTR stays cleared: released, the
                    // unit goes back to its software, and the next load's entry
                    // sequence starts from an asserted line as it must.
                    sin_fallo([&] { reconfigurar(c, 19200); });
                    sin_fallo([&] { unidad.genera_reset_final(); });
                }
            }
        } else if (trabajo.tipo_fichero == TIPO_FICHERO_VTR_ARM) {
            GrabadorArm arm(c);
            if (!imagen_valida(*this, trabajo.banco1, INICIO_FLASH_ARM, 0xFFFFFFFF)) {
                r = Resultado::ErrorFichero;
            } else if (r = sin_excepciones(
                           [&] { return arm.grabar_micro_STM(trabajo.banco1, trabajo.size_tele); });
                       r == Resultado::Ok) {
                hechos = arm.caracteres_leidos();
                reconfigurar(c, 19200);
                unidad.genera_reset_final();
                bool transferido = false;
                r = banco2(&transferido);
                // Once bank 2 went out, the ARM controller restarts from its new image
                // whatever the transfer's outcome.
                if (transferido)
                    sin_fallo([&] { arm.HW_reset_STM(); });
            }
        } else {
            reconfigurar(c, 19200);
            // Module firmware goes to the running software whether or not it answers
            // the status request.
            sin_fallo([&] { (void)tramas.pedir_estado(); });
            r = sin_excepciones([&] {
                return trabajo.binario ? tramas.grabar_flash_bin(trabajo.id, trabajo.banco2, 0)
                                       : tramas.grabar_flash_intelhex(trabajo.id, trabajo.banco2, 0,
                                                                      trabajo.size_tele);
            });
        }
        if (r == Resultado::Ok) {
            unidad.genera_reset_final();
            estado(texto_mensaje(Mensaje::Espere));
            espera(Espera::Comprobacion, 0);
            r = estado_con_version(*this, tramas);
        } else if (r == Resultado::Interrumpido || cancelado()) {
            // Stopped between two blocks, lines or frames: the unit is reset to leave
            // whatever loader or mode it was in, and nothing more is asked of it.
            r = Resultado::Interrumpido;
            sin_fallo([&] { reconfigurar(c, 19200); });
            sin_fallo([&] { unidad.genera_reset_final(); });
        }
        // Unit firmware proves itself: the running software must now report the
        // version the identification line names (one that refused the image still
        // reports its old one). Module firmware has no such proof.
        if (r == Resultado::Ok && trabajo.tipo_fichero != TIPO_FICHERO_MOD) {
            const std::string esperada = version_de_identificacion(trabajo.id);
            if (!esperada.empty() && fversion != esperada) {
                aviso(texto_versiones_distintas(fversion, esperada));
                r = Resultado::NoVerificado;
            }
        }
    } catch (...) {
        r = Resultado::ErrorFichero;
    }
    fresultado = r;
    ferror_com = r != Resultado::Ok;
    error_max_ficheros = r == Resultado::Rechazado;
    flag_carga().store(false);
    doresultado();
}

void Tmgrupo_superv::doresultado() {
    const Mensaje entrada = mensaje_de_resultado(fresultado);
    if (auto* l = listener())
        l->showResult(static_cast<int>(entrada), texto_mensaje(entrada));
    // A unit that refused the image for lack of room is still in programming mode.
    if (fresultado == Resultado::Rechazado)
        sin_fallo([&] { Deteccion(contexto()).genera_reset_final(); });
    // The result stays on the window's screen before Load comes back; the unit has
    // been reset and read back already, so without a window nothing waits for it.
    if (!fsin_esperas_pantalla.load())
        retardo_msec(TIEMPO_RESULTADO);
    if (auto* l = listener())
        l->finishLoad();
}
