#pragma once
// The exchanges with the unit's running software over the framed protocol: the
// status and programming-mode requests, and the two firmware transfers
// (identification, start, data packets with a rolling 3-bit sequence number, and
// the end message carrying the CRC-32 of all data sent).

#include "common/mensajes.h"
#include "comms/Tmensaje_int.h"
#include "loader/procedimiento.h"

#include <cstdint>
#include <string>

class TransferenciaTramas {
public:
    // tx and rx: the worker's request and reply records.
    TransferenciaTramas(const Contexto& contexto, Tmensaje& tx, Tmensaje& rx)
        : ctx_(contexto), tx_(tx), rx_(rx) {}

    // One request and its reply, up to max_intentos times, waiting tiempo_espera ms
    // between the send and the receive: a link result code.
    int enviar_mensaje(Tmensaje& mensajeTx, Tmensaje& mensajeRx, int32_t max_intentos,
                       int32_t tiempo_espera);
    // The status request (command 4, no data); the reply's data area is cleared
    // first, so that a short reply cannot show the bytes of an earlier frame.
    int pedir_estado();
    // The programming-mode request: the running software makes room for a transfer.
    int pedir_modo_programacion();
    // The controller's version in the last status reply.
    int version_mayor() const { return rx_.trama_nenlace[3]; }
    int version_menor() const { return rx_.trama_nenlace[4]; }

    // Sends `texto` (Intel HEX lines) in packets of at most 252 characters. The
    // progress counts `hechos` characters already done, of `total`.
    Resultado grabar_flash_intelhex(const std::string& id, const std::string& texto,
                                    long long hechos, long long total);
    // Sends the binary image that follows the four header lines of `fichero`.
    // Rechazado when the unit has no room for it.
    Resultado grabar_flash_bin(const std::string& id, const std::string& fichero, long long hechos);

private:
    // Shows `mensaje` and sends the identification; Ok when the unit answered it.
    Resultado abrirTransferencia(const std::string& id, Mensaje mensaje);

    Contexto ctx_;
    Tmensaje& tx_;
    Tmensaje& rx_;
};

// The two requests of the load sequence, filled into a request record: the status
// request (command 4, no data) and the programming-mode request (command 3, the one
// data byte 1).
void prepararPeticionEstado(Tmensaje& mensaje);
void prepararPeticionModoProgramacion(Tmensaje& mensaje);
