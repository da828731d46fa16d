#pragma once
// The message record: one frame's header fields and payload, its wire bytes, and
// (as a trace entry) one line of text.

#include "common/global_com.h"
#include "common/reloj.h"

#include <cstdint>
#include <string>

class Tmensaje {
public:
    Tmensaje() { trama_nenlace.fill(0), trama_nfisico.fill(0); }

    int32_t fdireccion = 0;     // unit address, sent high byte first
    int32_t fdireccion_ext = 0; // extended address byte of a received frame
    uint8_t fcomando = 0;       // low 4 bits travel in the frame
    uint8_t fnsecuencia = 0;    // low 3 bits travel in the frame
    int32_t fnbytes = 0;        // payload length
    uint8_t fproto = PROTOCOLO_TORVEX;
    std::string ftraza; // trace line
    Tiempo fmomento{};  // when the trace line was written, on the time source
    int32_t fcontrol_errores = CONTROL_CHECKSUM;
    int32_t fsubprotocolo = 0;
    int32_t fnbytes_cab = 0;
    Tbuff trama_nenlace; // payload
    Tbuff trama_nfisico; // wire bytes; after a receive: count in [0], frame from [1]
};
