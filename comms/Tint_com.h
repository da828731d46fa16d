#pragma once
// The physical level of one serial port: open with a line format, send a block of
// bytes while the transmitter is ready, receive one frame of the framed protocol
// (start byte, header, length, data, checksum, doubled start bytes removed), wait
// for an expected text, switch DTR and change the line format of an open port.
//
// Time-outs count idle polls: a poll that finds nothing waits up to 50 ms for the
// next byte, so a time-out T is T periods of 50 ms of silence; any byte restarts
// the count and is taken at once.

#include "common/global_com.h"
#include "common/tiempos.h"
#include "comms/supercom.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QThread;

class Tinterface_com {
public:
    Tinterface_com();          // crear_interface
    virtual ~Tinterface_com(); // cerrar_interface
    Tinterface_com(const Tinterface_com&) = delete;
    Tinterface_com& operator=(const Tinterface_com&) = delete;

    int32_t abrir_interface(uint8_t ComPort, uint8_t tipo_int, int32_t abaud, uint8_t adatos,
                            uint8_t astop, char aparidad, uint8_t aflow, uint8_t afifo,
                            int32_t size_in, int32_t size_out, int32_t ajuste_rs);
    void reset_interface();
    // The port failed under use (its adapter pulled out), or could not be opened
    // again since. A real port stays failed once its device went, even when the
    // device comes back: only a new open reaches it.
    bool perdido() const;
    // Closes a lost port and opens it again with the settings it was opened with;
    // false while the device is still not there.
    bool reabrir();
    // Each time-out is a limit in idle polls (Sondeos); the forms with a plain
    // number take it as a count of polls all the same.
    int enviar_trama_nfisico(int32_t enbytes, Sondeos timeout, const Tbuff& txtrama);
    int recibir_trama_nfisico(uint8_t bstart, uint8_t bstop, int32_t nbchecksum, Sondeos timeout,
                              Tbuff& txtrama, int32_t protocolo);
    int recibir_datos_nfisico(Sondeos timeout, const std::string& buffer_datos);
    int enviar_trama_nfisico(int32_t enbytes, int32_t timeout, const Tbuff& txtrama) {
        return enviar_trama_nfisico(enbytes, Sondeos{timeout}, txtrama);
    }
    int recibir_trama_nfisico(uint8_t bstart, uint8_t bstop, int32_t nbchecksum, int32_t timeout,
                              Tbuff& txtrama, int32_t protocolo) {
        return recibir_trama_nfisico(bstart, bstop, nbchecksum, Sondeos{timeout}, txtrama,
                                     protocolo);
    }
    int recibir_datos_nfisico(int32_t timeout, const std::string& buffer_datos) {
        return recibir_datos_nfisico(Sondeos{timeout}, buffer_datos);
    }
    // Waits for a byte equal to si or to no, passing over any other; TRAMA_RECIBIDA
    // with the byte in recibido, or ERROR_TIMEOUT after timeout idle polls. For
    // replies that are one of two bytes, so that a refusal ends the wait at once.
    int recibir_byte_nfisico(int32_t timeout, uint8_t si, uint8_t no, uint8_t& recibido);
    // Receives the next n bytes whatever their values (a memory read-back);
    // TRAMA_RECIBIDA with all of them, or ERROR_TIMEOUT after timeout idle polls
    // with what came so far in datos.
    int recibir_bytes_nfisico(int32_t timeout, size_t n, std::vector<uint8_t>& datos);
    void DTROff(); // asserts DTR (the library's ComDTROn)
    void DTROn();  // clears DTR (the library's ComDTROff)
    // Returns false when the transmitter did not drain within tiempos::MAX_ESPERA_VACIADO
    // (the format is changed all the same).
    bool cambia_conf(int32_t abaud, uint8_t adatos, uint8_t astop, char aparidad, uint8_t aflow);

    // Hands the port to the thread that uses it from now on (see TMyCOM::ComHandOver).
    void ceder_a_hilo(QThread* thread);
    std::string nombre() const;
    // What the open arranged beyond the port (low-latency mode), for the trace.
    std::string nota_apertura() const;

    // properties
    uint8_t com() const { return fcom; }
    uint8_t tipo() const { return ftipo; }
    uint8_t protocolo() const { return fprotocolo; }
    bool abierto() const { return fabierto; }
    int32_t baud() const { return fbaud; }
    uint8_t bdatos() const { return fbdatos; }
    uint8_t bstop() const { return fbstop; }
    char paridad() const { return fparidad; }
    uint8_t flow() const { return fflow; }
    int32_t size_in() const { return fsize_in; }
    int32_t size_out() const { return fsize_out; }
    bool error_open() const { return ferror_open; }
    // Why the last abrir_interface failed (Ninguno after one that opened the port).
    const MotivoApertura& motivo_apertura() const { return fmotivo_apertura; }
    void set_error_open(bool v) { ferror_open = v; }

protected:
    // The next byte from the line: TRAMA_RECIBIDA with it in c, ERROR_TIMEOUT after
    // more than `timeout` empty polls in a row, ERROR_INTERFACE_NOOPEN when the port
    // failed.
    int siguiente_byte(Sondeos timeout, uint8_t& c);
    int transmitir_trama(int32_t anbytes, Sondeos timeout);
    int recibir_trama(uint8_t bstart, uint8_t bstop, int32_t nbchecksum, Sondeos timeout,
                      int32_t protocolo);

    uint8_t fcom = 0;
    uint8_t ftipo = MODO_RS232;
    uint8_t fprotocolo = PROTOCOLO_TORVEX;
    std::atomic<bool> fabierto{false}; // read by the front end while the worker reopens
    int32_t fbaud = 9600;
    uint8_t fbdatos = 8;
    uint8_t fbstop = 1;
    char fparidad = 'N';
    uint8_t fflow = 0;
    uint8_t ffifo = 0;
    int32_t fajuste_rs = 0;
    bool fperdido = false;
    int32_t fsize_in = 15000;
    int32_t fsize_out = 15000;
    bool ferror_open = false;
    MotivoApertura fmotivo_apertura;
    std::array<int32_t, MAX_BUF_TRAMA + 1> trama{};
    std::unique_ptr<TMyCOM> puerto;
};
