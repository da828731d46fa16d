#pragma once
// What every controller procedure is built with: the worker's own link and port,
// the time source, and a reporter for what the operator sees. A procedure reaches
// nothing else of the worker, so a test can run it on its own thread with no
// worker thread at all, and a worker can never act on another port's line.

#include "common/global_com.h"
#include "common/reloj.h"

#include <atomic>
#include <cstdint>
#include <string>

class Tinterface_enlace;

// The waits of a load between its transfers, when no byte count moves: the front
// end says what is going on and that it goes on.
enum class Espera {
    Entrada,      // bringing the controller into its loader
    Borrado,      // the controller erases its memory
    Pausa,        // a fixed pause of the protocol (its length given)
    Reinicio,     // a DTR reset of the unit (its length given)
    Comprobacion, // reading the version back after the load
};

// How a procedure reports while it runs. The worker forwards each call to its
// front end through its synchronised callbacks.
class Informador {
public:
    virtual ~Informador() = default;
    virtual void estado(const std::string& texto) = 0; // status line
    virtual void progreso(int32_t porcentaje) = 0;     // 0..100
    // The amount of the current step behind the percentage: done of total (bytes or
    // characters of the image), for front ends that show it.
    virtual void avance(int64_t /*hechos*/, int64_t /*total*/) {}
    virtual void crc(uint32_t crc) = 0;                           // CRC-32 of the data transferred
    virtual void version_acargar(const std::string& version) = 0; // version-to-load label
    // A text beside the message table: what the entry shown cannot say (the
    // versions that differ, why an image was refused).
    virtual void aviso(const std::string& texto) = 0;
    // A wait begins (msec: its length when it is a fixed one, else 0).
    virtual void espera(Espera /*que*/, int32_t /*msec*/) {}
    // What detection found on the line (TIPO_VTR_ARM, TIPO_VTR_XA or TIPO_VTR_NONE).
    // By default the process-wide tipo_vtr, the one unit a window shows; a worker
    // loading beside others keeps it as its own.
    virtual void unidad_detectada(const std::string& tipo);
};

// The outcome of a procedure. The load sequence alone turns it into what the
// operator is told.
enum class Resultado {
    Ok,
    SinRespuesta, // the unit or its loader did not answer in time
    Nack,         // the ARM bootloader answered NACK
    Rechazado,    // the running software refused the image (no room for it)
    NoVerificado, // what the controller holds is not what was written, or not the image's version
    ErrorFichero, // the image cannot be written as it stands
    FalloPuerto,  // the port is closed
    Interrumpido, // stopped at a safe point on the operator's request
};

struct Contexto {
    Tinterface_enlace* enlace; // the worker's own link object; nullptr when its port is closed
    uint8_t puerto;            // its port index, the first argument of every link operation
    TimeSource& reloj;
    Informador& informador;
    // Raised to stop at the next safe point (between blocks, lines and frames, never
    // inside one); nullptr when nobody can ask.
    const std::atomic<bool>* parada = nullptr;

    bool detenido() const { return parada && parada->load(std::memory_order_acquire); }

    // A prescribed pause of the protocol, on the time source.
    void esperar(int32_t msec) const {
        // Pauses an operator would notice are announced; the short ones between
        // bytes and frames are not.
        if (msec >= PAUSA_ANUNCIADA_MSEC)
            informador.espera(Espera::Pausa, msec);
        if (msec > 0)
            reloj.sleepFor(ms(msec));
    }
    static constexpr int32_t PAUSA_ANUNCIADA_MSEC = 1000;
};

// The outcome of an exchange's result code.
inline Resultado resultado_de(int codigo) {
    if (codigo == TRAMA_RECIBIDA)
        return Resultado::Ok;
    return codigo == ERROR_INTERFACE_NOOPEN ? Resultado::FalloPuerto : Resultado::SinRespuesta;
}
