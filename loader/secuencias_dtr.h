#pragma once
// The DTR sequences that reset the unit's controller and bring it into its loaders,
// written as tables of steps: an optional call on the DTR line, then a wait. One
// routine runs them, so each procedure reads like its table, and the tests compare
// the levels and times recorded on the line with the same tables.
//
// DTROn clears the DTR line and DTROff asserts it (the names are the reverse of the
// serial library's). A cleared line holds the ARM controller in reset; the XA
// controller reads a train of pulses followed by a long clear as a request for its
// in-system programming loader.

#include "common/reloj.h"

#include <cstdint>
#include <span>

class Tinterface_enlace;

struct PasoDtr {
    enum class Llamada : uint8_t { Ninguna, DTROn, DTROff };
    Llamada llamada;
    int32_t espera_msec; // wait after the call, on the time source
};

using SecuenciaDtr = std::span<const PasoDtr>;

namespace secuencias_dtr {
// Plain reset: DTR asserted, then the time a reset lasts.
extern const SecuenciaDtr reset;
// Final reset: cleared for TIEMPO_RESET, then asserted, returning at once.
extern const SecuenciaDtr reset_final;
// XA programming mode: six pulses of TIEMPO_DTR cleared / asserted, then cleared 1 s.
extern const SecuenciaDtr modo_programacion;
// Start-up reset: asserted 1 s, cleared 1 s, asserted 3 s.
extern const SecuenciaDtr reset_inicial;
// ARM bootloader entry: cleared, asserted, cleared, asserted, 50 ms each.
extern const SecuenciaDtr boot_stm;
// ARM final reset: cleared for 1 s, then asserted.
extern const SecuenciaDtr reset_stm;
} // namespace secuencias_dtr

// Runs the steps on the line of port `puerto`, waiting on `reloj`. Without a link
// object the waits still run, so that the sequence keeps its length.
void ejecutar_secuencia_dtr(Tinterface_enlace* linea, uint8_t puerto, TimeSource& reloj,
                            SecuenciaDtr pasos);

// Total length of a sequence, in milliseconds.
int32_t duracion_msec(SecuenciaDtr pasos);
