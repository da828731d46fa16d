#include "loader/deteccion.h"

#include "common/global.h"
#include "comms/tint_enlace.h"
#include "loader/grabador_arm.h"
#include "loader/reintentos.h"
#include "loader/secuencias_dtr.h"

namespace {
constexpr int32_t INTENTOS_SINCRO_XA = 5; // synchronisation lines of the XA probe
} // namespace

void Informador::unidad_detectada(const std::string& tipo) {
    tipo_vtr = tipo;
}

void Deteccion::genera_reset() {
    ctx_.informador.espera(Espera::Reinicio, duracion_msec(secuencias_dtr::reset));
    ejecutar_secuencia_dtr(ctx_.enlace, ctx_.puerto, ctx_.reloj, secuencias_dtr::reset);
}

void Deteccion::genera_reset_final() {
    ctx_.informador.espera(Espera::Reinicio, duracion_msec(secuencias_dtr::reset_final));
    ejecutar_secuencia_dtr(ctx_.enlace, ctx_.puerto, ctx_.reloj, secuencias_dtr::reset_final);
}

void Deteccion::genera_modo_programacion() {
    ctx_.informador.espera(Espera::Entrada, duracion_msec(secuencias_dtr::modo_programacion));
    ejecutar_secuencia_dtr(ctx_.enlace, ctx_.puerto, ctx_.reloj, secuencias_dtr::modo_programacion);
}

void Deteccion::genera_reset_inicial() {
    ctx_.informador.espera(Espera::Reinicio, duracion_msec(secuencias_dtr::reset_inicial));
    ejecutar_secuencia_dtr(ctx_.enlace, ctx_.puerto, ctx_.reloj, secuencias_dtr::reset_inicial);
}

int Deteccion::enviar_linea_eco_datos(const std::string& linea, const std::string& ack,
                                      int32_t max_intentos) {
    return reintentar(max_intentos, 0, [&] {
        if (!ctx_.enlace)
            return ERROR_INTERFACE_NOOPEN; // nothing to send on: no point retrying
        ctx_.enlace->enviar_datos_nenlace(ctx_.puerto, linea);
        return ctx_.enlace->recibir_datos_nenlace(ctx_.puerto, tabla_retardo_rx[0], ack);
    });
}

void Deteccion::detectar_VTR_hw() {
    // The ARM bootloader answers at once; the XA probe costs up to about 15 s.
    GrabadorArm arm(ctx_);
    arm.boot_sqn_STM();
    const bool sin_arm = arm.Init_COM_STM() != Resultado::Ok;
    std::string tipo = TIPO_VTR_ARM;
    if (sin_arm) {
        genera_reset();
        if (ctx_.enlace)
            ctx_.enlace->cambia_conf(9600, 8, 1, 'N', 0);
        genera_reset();
        genera_modo_programacion();
        if (enviar_linea_eco_datos(tabla_sincro, tabla_sincro, INTENTOS_SINCRO_XA) ==
            TRAMA_RECIBIDA) {
            genera_reset();
            tipo = TIPO_VTR_XA;
        } else {
            tipo = TIPO_VTR_NONE;
        }
    }
    ctx_.informador.unidad_detectada(tipo);
    // A joint file carries an image per controller: the label shows the version of
    // the one that will be loaded (the XA choice is made by the operator later).
    if (tipo_sw == TIPO_FIRM_VTR_JOINT) {
        if (tipo == TIPO_VTR_ARM)
            ctx_.informador.version_acargar(vtr_ARM_version.get());
        else if (tipo == TIPO_VTR_XA)
            ctx_.informador.version_acargar("");
    }
}
