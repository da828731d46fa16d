#include "loader/secuencias_dtr.h"

#include "common/global.h"
#include "comms/tint_enlace.h"

#include <array>

namespace {
using L = PasoDtr::Llamada;

constexpr std::array<PasoDtr, 1> k_reset{{
    {L::DTROff, TIEMPO_RESET}, // asserted: the controller runs from a clean start
}};

constexpr std::array<PasoDtr, 2> k_reset_final{{
    {L::DTROn, TIEMPO_RESET}, // cleared: controller held in reset
    {L::DTROff, 0},           // asserted: the application starts; nothing to wait for here
}};

constexpr std::array<PasoDtr, 13> k_modo_programacion{{
    {L::DTROn, TIEMPO_DTR},
    {L::DTROff, TIEMPO_DTR},
    {L::DTROn, TIEMPO_DTR},
    {L::DTROff, TIEMPO_DTR},
    {L::DTROn, TIEMPO_DTR},
    {L::DTROff, TIEMPO_DTR},
    {L::DTROn, TIEMPO_DTR},
    {L::DTROff, TIEMPO_DTR},
    {L::DTROn, TIEMPO_DTR},
    {L::DTROff, TIEMPO_DTR},
    {L::DTROn, TIEMPO_DTR},
    {L::DTROff, TIEMPO_DTR},
    {L::DTROn, 1000}, // held cleared: the XA loader starts and keeps running
}};

constexpr std::array<PasoDtr, 3> k_reset_inicial{{
    {L::DTROff, 1000},
    {L::DTROn, 1000},  // cleared: reset
    {L::DTROff, 3000}, // asserted: time for the unit's software to come up
}};

constexpr std::array<PasoDtr, 6> k_boot_stm{{
    {L::Ninguna, 100},
    {L::DTROn, 50},
    {L::DTROff, 50},
    {L::DTROn, 50},
    {L::DTROff, 50}, // this assertion starts the bootloader
    {L::Ninguna, 100},
}};

constexpr std::array<PasoDtr, 4> k_reset_stm{{
    {L::Ninguna, 1000},
    {L::DTROn, 1000}, // cleared: the controller leaves the bootloader
    {L::DTROff, 50},  // asserted: the new application starts
    {L::Ninguna, 1000},
}};
} // namespace

namespace secuencias_dtr {
const SecuenciaDtr reset{k_reset};
const SecuenciaDtr reset_final{k_reset_final};
const SecuenciaDtr modo_programacion{k_modo_programacion};
const SecuenciaDtr reset_inicial{k_reset_inicial};
const SecuenciaDtr boot_stm{k_boot_stm};
const SecuenciaDtr reset_stm{k_reset_stm};
} // namespace secuencias_dtr

void ejecutar_secuencia_dtr(Tinterface_enlace* linea, uint8_t puerto, TimeSource& reloj,
                            SecuenciaDtr pasos) {
    for (const PasoDtr& p : pasos) {
        if (p.llamada != PasoDtr::Llamada::Ninguna && linea)
            linea->activar_dtr(puerto, p.llamada == PasoDtr::Llamada::DTROn ? 1 : 0);
        if (p.espera_msec > 0)
            reloj.sleepFor(ms(p.espera_msec));
    }
}

int32_t duracion_msec(SecuenciaDtr pasos) {
    int32_t total = 0;
    for (const PasoDtr& p : pasos)
        total += p.espera_msec;
    return total;
}
