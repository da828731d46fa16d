#pragma once
// The XA controller's writer: its in-system programming loader, entered by DTR, at
// 9600 8-N-1; one Intel HEX record line at a time, each echoed and acknowledged,
// after the block erases and before the closing lines that set the boot vector.

#include "loader/procedimiento.h"

#include <cstdint>
#include <string>

class GrabadorXa {
public:
    explicit GrabadorXa(const Contexto& contexto) : ctx_(contexto) {}

    // The whole procedure on `imagen` (the Intel HEX text); `total` is the size the
    // progress is measured against.
    Resultado grabar_micro(const std::string& imagen, int32_t total);
    // Waits for `datos_rx` without sending, up to max_intentos waits: a link result code.
    int recibir_linea_datos(const std::string& datos_rx, int32_t retardo_rx, int32_t max_intentos);

    // Characters of the image lines gone through (line ends not counted).
    int32_t caracteres_leidos() const { return caracteres_leidos_; }

private:
    Contexto ctx_;
    int32_t caracteres_leidos_ = 0;
};
