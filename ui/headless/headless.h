#pragma once
// The loader without its window, for scripts, production lines and machines with no
// display: the same port selection, worker, procedures and file logic as the window,
// driven by command-line arguments.
//
//   vtr900prog --port PORT --file FILE [--image classa|i2c] [--lang fr|es|en|it] [--trace FILE]
//   vtr900prog --port PORT --status [--lang fr|es|en|it] [--trace FILE]
//   vtr900prog --help | --version
//
// Status-line texts, the unit's version, the CRC and the result go to out, one per
// line, the result last; progress updates one line in place when out is a terminal,
// else prints a line at each 10 %. File-selection errors go to err.

#include <QString>
#include <QStringList>

class QTextStream;

enum HeadlessExit {
    ExitOk = 0,         // "OK: Update completed", or --status found the unit
    ExitFailed = 1,     // the load failed or the unit is full; --status found no unit
    ExitUsage = 2,      // bad arguments, file errors, missing image choice
    ExitPortFailed = 3, // the port cannot be opened
};

// args as QCoreApplication::arguments() gives them (program name first). Needs a
// QCoreApplication. Leaves no worker running and no port open when it returns.
int runHeadless(const QStringList& args, QTextStream& out, QTextStream& err,
                bool outIsTerminal = false);
