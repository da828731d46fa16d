// DTR resets, programming-mode entry, the line exchange with echo, and the
// detection of the unit's controller.

#include "common/global.h"
#include "comms/tint_enlace.h"
#include "loader/secuencias_dtr.h"
#include "loader/tmgrupo_superv.h"

void Tmgrupo_superv::genera_reset() {
    ejecutar_secuencia_dtr(*this, secuencias_dtr::reset);
}

void Tmgrupo_superv::genera_reset_final() {
    ejecutar_secuencia_dtr(*this, secuencias_dtr::reset_final);
}

void Tmgrupo_superv::genera_modo_programacion() {
    ejecutar_secuencia_dtr(*this, secuencias_dtr::modo_programacion);
}

void Tmgrupo_superv::genera_reset_inicial() {
    ejecutar_secuencia_dtr(*this, secuencias_dtr::reset_inicial);
}

int Tmgrupo_superv::enviar_linea_eco_datos(uint8_t puerto, const std::string& linea,
                                           const std::string& ack, int32_t max_intentos) {
    int32_t intentos = 0;
    int res = 0;
    while (intentos < max_intentos && res != TRAMA_RECIBIDA) {
        Tinterface_enlace* e = puerto <= MAX_PUERTOS ? puertos[puerto].load() : nullptr;
        if (!e)
            return ERROR_INTERFACE_NOOPEN; // nothing to send on: no point retrying
        e->enviar_datos_nenlace(puerto, linea);
        res = e->recibir_datos_nenlace(puerto, tabla_retardo_rx[0], ack);
        if (res != TRAMA_RECIBIDA)
            ++intentos;
    }
    return res;
}

void Tmgrupo_superv::detectar_VTR_hw() {
    // The ARM bootloader answers at once; the XA probe costs up to about 15 s.
    boot_sqn_STM();
    const bool sin_arm = Init_COM_STM();
    tipo_vtr = TIPO_VTR_ARM;
    if (sin_arm) {
        genera_reset();
        if (Tinterface_enlace* e = enlace_seleccionado())
            e->cambia_conf(9600, 8, 1, 'N', 0);
        genera_reset();
        genera_modo_programacion();
        if (enviar_linea_eco_datos(fpcom.load(), tabla_sincro, tabla_sincro, 5) == TRAMA_RECIBIDA) {
            genera_reset();
            tipo_vtr = TIPO_VTR_XA;
        } else {
            tipo_vtr = TIPO_VTR_NONE;
        }
    }
    // A joint file carries an image per controller: the label shows the version of
    // the one that will be loaded (the XA choice is made by the operator later).
    if (tipo_sw == TIPO_FIRM_VTR_JOINT) {
        if (tipo_vtr == TIPO_VTR_ARM)
            doversion_acargar(vtr_ARM_version.get());
        else if (tipo_vtr == TIPO_VTR_XA)
            doversion_acargar("");
    }
}
