// Companion program: serves the simulated VTR-900 unit on a pseudo-terminal, so that
// the loader (or any serial program) can be run against it over a real tty.
//
//   vtr900sim [--pace] [--latency MS] [arm|xa]
//
// Prints the terminal's path on the first line of its output, then serves until it
// is interrupted (SIGINT, SIGTERM). The unit runs on the real clock; with --pace
// every byte takes its line time at the unit's current format, both ways.
#include "sim/pty_bridge.h"
#include "sim/unidad_simulada.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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
    std::fputs("Usage: vtr900sim [--pace] [--latency MS] [arm|xa]\n"
               "Serves a simulated VTR-900 unit (ARM controller by default, or XA) on a\n"
               "pseudo-terminal and prints the terminal's path. Point the loader at it:\n"
               "  vtr900prog --port <path> --file <firmware.hex>\n"
               "A pseudo-terminal has no DTR: the unit's loaders are entered by their\n"
               "traffic. Stop with Ctrl+C.\n"
               "  --pace  deliver every byte at its line time at the unit's current\n"
               "          format (start, data, parity and stop bits), both ways, as a\n"
               "          real line would; without it bytes pass as fast as the\n"
               "          terminal carries them\n"
               "  --latency MS  with --pace, model a USB adapter's latency timer: the\n"
               "          unit's bytes are held until MS milliseconds after the first\n"
               "          one held, or until 62 are held (16 is the common default;\n"
               "          0, the default here: a UART or low-latency mode)\n",
               f);
}
} // namespace

int main(int argc, char** argv) {
    std::string kind = "arm";
    bool pace = false;
    long latency = 0;
    bool kindGiven = false;
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

    std::printf("%s\n", bridge.slavePath().c_str());
    std::fflush(stdout);
    const bool ok = bridge.run();
    g_bridge = nullptr;
    std::fprintf(stderr, "vtr900sim: %llu bytes received, %llu sent\n", bridge.bytesFromHost(),
                 bridge.bytesToHost());
    return ok ? 0 : 1;
}

#endif
