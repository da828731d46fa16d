// ARM controller programming through its UART bootloader: DTR entry, 115200 8-E-1,
// synchronisation, Write Unprotect, global erase and Write Memory blocks built from
// the Intel HEX image.

#include "common/global.h"
#include "comms/tint_enlace.h"
#include "loader/secuencias_dtr.h"
#include "loader/tmgrupo_superv.h"

namespace {
const std::string ACK_STM = "y"; // 0x79
constexpr char SYNC_STM = 0x7F;
constexpr int32_t INTENTOS_SYNC_STM = 3;
} // namespace

void Tmgrupo_superv::boot_sqn_STM() {
    ejecutar_secuencia_dtr(*this, secuencias_dtr::boot_stm);
}

void Tmgrupo_superv::HW_reset_STM() {
    ejecutar_secuencia_dtr(*this, secuencias_dtr::reset_stm);
}

int Tmgrupo_superv::enviar_char_STM(int32_t puerto, const std::string& linea,
                                    const std::string& ack, int32_t max_intentos) {
    int32_t intentos = 0;
    int res = 0;
    while (intentos < max_intentos && res != TRAMA_RECIBIDA) {
        Tinterface_enlace* e = puerto >= 0 && puerto <= MAX_PUERTOS
                                   ? puertos[static_cast<size_t>(puerto)].load()
                                   : nullptr;
        if (!e)
            return ERROR_INTERFACE_NOOPEN;
        const auto n = static_cast<uint8_t>(puerto);
        e->enviar_datos_nenlace(n, linea);
        res = e->recibir_datos_nenlace(n, tabla_retardo_rx[0], ack);
        if (res != TRAMA_RECIBIDA)
            ++intentos;
    }
    return res;
}

bool Tmgrupo_superv::Init_COM_STM() {
    if (Tinterface_enlace* e = enlace_seleccionado())
        e->cambia_conf(115200, 8, 1, 'E', 0);
    if (enviar_char_STM(fpcom.load(), std::string(1, SYNC_STM), ACK_STM, INTENTOS_SYNC_STM) ==
        TRAMA_RECIBIDA)
        return false;
    retardo_msec(500);
    return true;
}
