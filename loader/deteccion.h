#pragma once
// The unit's resets and programming-mode entry by DTR, the line exchange with echo
// of the XA loader, and the detection of the unit's controller: the ARM bootloader
// is probed first, then the XA loader.

#include "loader/procedimiento.h"

#include <cstdint>
#include <string>

class Deteccion {
public:
    explicit Deteccion(const Contexto& contexto) : ctx_(contexto) {}

    void genera_reset();
    void genera_reset_final();
    void genera_modo_programacion();
    void genera_reset_inicial();
    // Sends the line and waits for `ack`, up to max_intentos times: a link result code.
    int enviar_linea_eco_datos(const std::string& linea, const std::string& ack,
                               int32_t max_intentos);
    // Tells the reporter what answers (unidad_detectada); for a joint file, the
    // version-to-load label.
    void detectar_VTR_hw();

private:
    Contexto ctx_;
};
