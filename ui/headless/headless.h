#pragma once
// The loader without its window, for scripts, production lines and machines with no
// display: the same port selection, worker, procedures and file logic as the window,
// driven by command-line arguments.
//
//   vtr900prog --port PORT --file FILE [--image classa|i2c] [--json] [--lang fr|es|en|it]
//              [--trace FILE] [--trace-time]
//   vtr900prog --port PORT --status [...]
//   vtr900prog --port P1 --port P2 ... | --ports P1,P2,... | --port auto-all
//              (--file FILE | --status) [...]
//   vtr900prog --list-ports | --help | --version
//
// Arguments and the file are checked before the port is touched. Status-line texts,
// the unit's version, the CRC and the result go to out, one per line, the result
// last (to err with --json, which writes one JSON object to out at the end). On a
// terminal each transfer phase is one line updated in place, with a summary per
// phase at the end; piped, a progress line at each 10 %. Errors go to err.
//
// Several ports load several units at once: the file is checked once, then each
// unit runs on a thread and a worker of its own, on its own port index. On a
// terminal each unit has one line redrawn in place; piped, each unit's lines carry
// its port. A summary table ends the run; 0 only when every unit ended OK. With
// --json, an array of the per-unit objects.

#include "comms/lista_puertos.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

class QTextStream;

enum HeadlessExit {
    ExitOk = 0,            // "OK: Update completed", or --status found the unit
    ExitFailed = 1,        // the load failed or the unit is full; --status found no unit
    ExitUsage = 2,         // bad arguments, file errors, a file for the other controller
    ExitPortFailed = 3,    // the port cannot be opened, or --port auto found no single adapter
    ExitInterrupted = 130, // Ctrl+C: stopped at a safe point, unit reset, port released
};

struct OpcionesHeadless {
    bool terminal = false; // out is a terminal: progress lines are updated in place
    // The system's serial ports, for --list-ports and --port auto (the real ones when
    // empty).
    std::function<std::vector<PuertoSistema>()> puertos;
    // Called with every status text as it is reported, on the thread that reports it
    // (tests interrupt a load in a chosen phase from here); with several units, from
    // several threads at once.
    std::function<void(const std::string&)> alEstado;
};

// args as QCoreApplication::arguments() gives them (program name first). Needs a
// QCoreApplication. Leaves no worker running and no port open when it returns.
int runHeadless(const QStringList& args, QTextStream& out, QTextStream& err,
                const OpcionesHeadless& opciones);
int runHeadless(const QStringList& args, QTextStream& out, QTextStream& err,
                bool outIsTerminal = false);

// What Ctrl+C does, called from a thread: the run in progress stops at its next safe
// point, every unit's load of it (the signal handler only raises the flag; each
// unit's thread passes it on to its worker).
void interrumpir_headless();
// Installs the Ctrl+C handler: the first interrupts the run, a second ends the process
// at once (exit 130), removing the port's lock file if the run holds one.
void instalar_manejador_interrupcion();
