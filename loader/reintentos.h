#pragma once
// The one retry rule of every exchange: an attempt fails when it did not get its
// answer, and a closed port ends the attempts at once (there is nothing to send on).
// With no attempts the result is `sin_intentos`.

#include "loader/procedimiento.h"

#include <cstdint>

inline bool fin_de_intentos(int codigo) {
    return codigo == TRAMA_RECIBIDA || codigo == ERROR_INTERFACE_NOOPEN;
}
inline bool fin_de_intentos(Resultado r) {
    return r == Resultado::Ok || r == Resultado::FalloPuerto;
}

template <class R, class Intento>
R reintentar(int32_t max_intentos, R sin_intentos, Intento&& intento) {
    R r = sin_intentos;
    for (int32_t n = 0; n < max_intentos; ++n) {
        r = intento();
        if (fin_de_intentos(r))
            break;
    }
    return r;
}
