#pragma once
// Every wait of the protocol in one place, each with its unit and its reason.
//
// Two kinds of figure: durations (std::chrono), and limits counted in idle polls of
// the serial loops (Sondeos). A poll that finds nothing waits PERIODO_SONDEO for the
// next byte and any byte restarts the count, so a limit of N polls is N periods of
// silence, not a deadline. The two types do not mix: the compiler refuses a count
// where a duration is expected and the other way round.

#include <array>
#include <chrono>
#include <cstdint>

// One idle poll of the serial receive and send loops: 50 ms.
constexpr std::chrono::milliseconds PERIODO_SONDEO{50};

// A limit counted in idle polls of PERIODO_SONDEO each.
class Sondeos {
public:
    constexpr explicit Sondeos(int32_t n) : n_(n) {}
    constexpr int32_t count() const { return n_; }
    // The silence the limit stands for.
    constexpr std::chrono::milliseconds duracion() const { return PERIODO_SONDEO * n_; }
    friend constexpr bool operator==(Sondeos a, Sondeos b) { return a.n_ == b.n_; }
    friend constexpr bool operator<(Sondeos a, Sondeos b) { return a.n_ < b.n_; }

private:
    int32_t n_;
};

namespace tiempos {

// ---- limits in idle polls
// Send of a frame: 30 polls (1.5 s) with the transmitter busy before giving up.
constexpr Sondeos TIMEOUT_ENV_TRAMA_TORVEX{30};
// Reply to a frame: 40 polls, about 2 s of silence, the unit's slowest answer.
constexpr Sondeos TIMEOUT_RECV_TRAMA_TORVEX{40};
// Send of a raw text line (XA loader, bootloader bytes): the same 2 s as a reply.
constexpr Sondeos TIMEOUT_ENV_DATOS{40};
// XA block erase: 160 polls, about 8 s, the loader's erase of one block.
constexpr Sondeos TIMEOUT_BORRADO{160};
// XA record write with its echo: about 8 s, as the erase.
constexpr Sondeos TIMEOUT_WR_LINEA{160};

// Time-out tables indexed by the message's protocol (0 = the framed protocol).
constexpr int MAX_PROTOCOLOS = 1;
constexpr std::array<Sondeos, MAX_PROTOCOLOS> tabla_retardo_tx{TIMEOUT_ENV_TRAMA_TORVEX};
constexpr std::array<Sondeos, MAX_PROTOCOLOS> tabla_retardo_rx{TIMEOUT_RECV_TRAMA_TORVEX};

// ---- durations
// A reset holds DTR cleared this long: the controller needs it to restart cleanly.
constexpr std::chrono::milliseconds TIEMPO_RESET{1500};
// Half period of a programming-mode pulse on DTR.
constexpr std::chrono::milliseconds TIEMPO_DTR{100};
// Between a framed send and its receive: none for identification, start and end.
constexpr std::chrono::milliseconds ESPERA_NORMAL{0};
// Between a packet and its reply: the unit writes the packet to flash first.
constexpr std::chrono::milliseconds ESPERA_GRABAR{10};
// After opening a port, before its format is set: the driver settles.
constexpr std::chrono::milliseconds PAUSA_APERTURA{300};
// After the transmitter drained, before a format change: the last stop bit is out.
constexpr std::chrono::milliseconds PAUSA_CAMBIO_FORMATO{100};
// Longest wait for the transmitter to drain before a format change: a port that
// never drains must not hang the worker.
constexpr std::chrono::milliseconds MAX_ESPERA_VACIADO{3000};

// A real port's wait that ended early is retried after this pause, so that it
// cannot spin the worker.
constexpr std::chrono::milliseconds PAUSA_REINTENTO{1};

} // namespace tiempos
