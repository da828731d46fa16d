#pragma once
// The ARM controller's writer: its UART bootloader (AN3155) entered by DTR, at
// 115200 8-E-1, then Write Unprotect, global erase, Write Memory blocks laid out by
// the image's own addresses, a read-back of every block, and the final DTR reset.

#include "common/intel_hex.h"
#include "loader/procedimiento.h"

#include <cstdint>
#include <string>
#include <vector>

// Where the ARM controller's flash starts: every byte of its image lies at or above.
constexpr uint32_t INICIO_FLASH_ARM = 0x08000000;

// One Write Memory block: its start and length are multiples of 4 (AN3155), at most
// 256 bytes; the bytes the image leaves empty inside it are 0xFF, the erased value.
struct BloqueStm {
    uint32_t direccion = 0;
    std::vector<uint8_t> datos;
    size_t bytes_imagen = 0; // bytes of the image in it (the rest is padding)
};

// The blocks that write `imagen`, in address order, no address in two of them. A
// gap that would leave a block more than half padding starts a new block instead.
std::vector<BloqueStm> bloques_stm(const intel_hex::Imagen& imagen);

class GrabadorArm {
public:
    explicit GrabadorArm(const Contexto& contexto) : ctx_(contexto) {}

    // The whole procedure on `imagen` (the Intel HEX text); `total` is the size the
    // progress is measured against. An image that is not valid, holds no data or
    // places data outside the flash fails with ErrorFichero before the line is
    // touched; otherwise the controller is reset at the end whatever the outcome.
    Resultado grabar_micro_STM(const std::string& imagen, int32_t total);

    void boot_sqn_STM(); // DTR entry into the bootloader
    void HW_reset_STM(); // DTR reset out of it, into the application
    // 115200 8-E-1 on the worker's line, then the synchronisation byte until ACK.
    Resultado Init_COM_STM();
    Resultado WPUN_STM(); // Write Unprotect: the controller restarts afterwards
    Resultado ER_STM();   // global erase
    // Writes the image's blocks, then reads every one back and compares: a
    // difference fails with NoVerificado and the trace names its first address.
    // Right after a global erase (ER_STM), a block of nothing but 0xFF is neither
    // written nor read back: the erase already left those bytes so; the trace
    // says how many were skipped. `caracteres` (of the image text) and `total`
    // set the progress.
    Resultado WM_STM(const intel_hex::Imagen& imagen, int32_t caracteres, int32_t total);
    // Sends the byte and waits for ACK, up to max_intentos times.
    Resultado enviar_char_STM(uint8_t byte, int32_t max_intentos);

    // Characters of the image lines gone through by WM_STM (line ends not counted).
    int32_t caracteres_leidos() const { return caracteres_leidos_; }
    // Why grabar_micro_STM refused the image (ErrorFichero before the line was touched).
    const intel_hex::Fallo& fallo_imagen() const { return fallo_; }

private:
    void enviar_byte(uint8_t b);
    void enviar(const std::vector<uint8_t>& bytes); // one command's bytes, in one send
    // The bytes sent since the last answer was awaited: one TX line when it is.
    void trazar_enviados();
    std::string enviados_;
    void enviar_con_xor(std::vector<uint8_t> bytes); // the bytes, then their XOR
    Resultado esperar_ack();
    Resultado escribir_bloque(const BloqueStm& b);
    Resultado verificar_bloque(const BloqueStm& b);
    void estado(const std::string& texto) { ctx_.informador.estado(texto); }

    Contexto ctx_;
    int32_t caracteres_leidos_ = 0;
    intel_hex::Fallo fallo_;
    // A global erase was acknowledged and nothing has been written since.
    bool flash_borrada_ = false;
};
