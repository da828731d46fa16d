#pragma once
// The ARM controller's writer: its UART bootloader (AN3155) entered by DTR, at
// 115200 8-E-1, then Write Unprotect, global erase and Write Memory blocks built
// from the bank-1 Intel HEX image, and the final DTR reset.

#include "loader/procedimiento.h"

#include <cstdint>
#include <string>

class GrabadorArm {
public:
    explicit GrabadorArm(const Contexto& contexto) : ctx_(contexto) {}

    // The whole procedure on `imagen` (the Intel HEX text); `total` is the size the
    // progress is measured against. The controller is reset at the end whatever
    // the outcome.
    Resultado grabar_micro_STM(const std::string& imagen, int32_t total);

    void boot_sqn_STM(); // DTR entry into the bootloader
    void HW_reset_STM(); // DTR reset out of it, into the application
    // 115200 8-E-1 on the worker's line, then the synchronisation byte until ACK.
    Resultado Init_COM_STM();
    Resultado WPUN_STM(); // Write Unprotect: the controller restarts afterwards
    Resultado ER_STM();   // global erase
    Resultado WM_STM(const std::string& imagen, int32_t total);
    // Sends the byte and waits for ACK, up to max_intentos times.
    Resultado enviar_char_STM(uint8_t byte, int32_t max_intentos);

    // Characters of the image lines gone through by WM_STM (line ends not counted).
    int32_t caracteres_leidos() const { return caracteres_leidos_; }

private:
    void enviar_byte(uint8_t b);
    Resultado esperar_ack();
    void estado(const std::string& texto) { ctx_.informador.estado(texto); }

    Contexto ctx_;
    int32_t caracteres_leidos_ = 0;
};
