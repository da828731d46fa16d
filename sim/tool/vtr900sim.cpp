// Companion program: serves the simulated VTR-900 unit on a pseudo-terminal, so that
// the loader (or any serial program) can be run against it over a real tty.
//
//   vtr900sim [--pace] [--latency MS] [--wire-log FILE] [arm|xa]
//
// Prints the terminal's path on the first line of its output, then serves until it
// is interrupted (SIGINT, SIGTERM). The unit runs on the real clock; with --pace
// every byte takes its line time at the unit's current format, both ways.
#include "sim/pty_bridge.h"
#include "sim/unidad_simulada.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#ifdef _WIN32
int main() {
    std::fputs("vtr900sim: pseudo-terminals are not available on this system\n", stderr);
    return 2;
}
#else

namespace {
PtyBridge* g_bridge = nullptr;

extern "C" void on_signal(int) {
    if (g_bridge)
        g_bridge->stop();
}

void usage(FILE* f) {
    std::fputs("Usage: vtr900sim [--pace] [--latency MS] [--wire-log FILE] [arm|xa]\n"
               "Serves a simulated VTR-900 unit (ARM controller by default, or XA) on a\n"
               "pseudo-terminal and prints the terminal's path. Point the loader at it:\n"
               "  vtr900prog --port <path> --file <firmware.hex>\n"
               "A pseudo-terminal has no DTR: the unit's loaders are entered by their\n"
               "traffic. Stop with Ctrl+C.\n"
               "  --pace  deliver every byte at its line time at the unit's current\n"
               "          format (start, data, parity and stop bits), both ways, as a\n"
               "          real line would; without it bytes pass as fast as the\n"
               "          terminal carries them\n"
               "  --latency MS  model a USB adapter's latency timer: the unit's bytes\n"
               "          are held until MS milliseconds after the first one held, or\n"
               "          until 62 are held (16 is the common default; 0, the default\n"
               "          here: a UART or low-latency mode)\n"
               "  --wire-log FILE  write the wire's traffic to FILE, one line per run\n"
               "          of bytes in one direction: H (from the program) or U (from\n"
               "          the unit), bytes, bits a character, baud, first byte handled\n"
               "          and over on the wire, last byte handled and over\n"
               "          (microseconds since the start), the first bytes in hex\n",
               f);
}

// The terminal is served by timed waits of a character time or less (87 us at
// 115200 8-E-1): the system's default slack on a timed wait (50 us) would deliver
// every reply that much after its line time. The slack is asked down to 1 us.
void ajustar_holgura_temporizador() {
#ifdef __linux__
    ::prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
#endif
}

// The --wire-log file, opened before the terminal is served; nullptr with a
// message when it cannot be.
std::FILE* abrir_registro_linea(const char* path) {
    std::FILE* f = std::fopen(path, "w");
    if (!f)
        std::fprintf(stderr, "vtr900sim: %s: %s\n", path, std::strerror(errno));
    return f;
}
} // namespace

int main(int argc, char** argv) {
    std::string kind = "arm";
    bool pace = false;
    long latency = 0;
    bool kindGiven = false;
    const char* wireLog = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!std::strcmp(a, "-h") || !std::strcmp(a, "--help")) {
            usage(stdout);
            return 0;
        }
        if (!std::strcmp(a, "--pace")) {
            pace = true;
        } else if (!std::strcmp(a, "--latency") && i + 1 < argc) {
            char* end = nullptr;
            latency = std::strtol(argv[++i], &end, 10);
            if (*end || latency < 0 || latency > 1000) {
                usage(stderr);
                return 2;
            }
        } else if (!std::strcmp(a, "--wire-log") && i + 1 < argc) {
            wireLog = argv[++i];
        } else if (a[0] != '-' && !kindGiven) {
            kind = a;
            kindGiven = true;
        } else {
            usage(stderr);
            return 2;
        }
    }
    auto unit = crear_unidad_simulada(kind);
    if (!unit) {
        std::fprintf(stderr, "vtr900sim: unknown controller '%s' (arm or xa)\n", kind.c_str());
        return 2;
    }
    // It serves load after load: what the unit received is not kept beyond the
    // newest entry of each record, or its memory would grow with every load.
    unit->setKeepHistory(false);
    PtyBridge bridge(*unit);
    bridge.setPacing(pace);
    bridge.setLatencyTimer(ms(latency));
    std::FILE* log = wireLog ? abrir_registro_linea(wireLog) : nullptr;
    if (wireLog && !log)
        return 1;
    bridge.setWireLog(log);
    std::string error;
    if (!bridge.open(error)) {
        std::fprintf(stderr, "vtr900sim: %s\n", error.c_str());
        return 1;
    }
    g_bridge = &bridge;
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    ajustar_holgura_temporizador();
    std::printf("%s\n", bridge.slavePath().c_str());
    std::fflush(stdout);
    const bool ok = bridge.run();
    g_bridge = nullptr;
    if (log)
        std::fclose(log);
    std::fprintf(stderr, "vtr900sim: %llu bytes received, %llu sent\n", bridge.bytesFromHost(),
                 bridge.bytesToHost());
    return ok ? 0 : 1;
}

#endif
