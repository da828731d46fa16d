#pragma once
// How a port's worker reports to its front end (the window, the headless loader or
// a test). Every call is synchronised: the front end carries out the change on its
// own thread and returns only when it is done, so the worker waits for it.

#include "loader/procedimiento.h"

#include <cstdint>
#include <string>

class SupervisorListener {
public:
    virtual ~SupervisorListener() = default;
    virtual void setStatusText(const std::string& text) = 0;     // domensaje, docrc
    virtual void setLoadEnabled(bool enabled) = 0;               // dostart
    virtual void setVersionText(const std::string& version) = 0; // dodatos
    virtual void setProgress(int percent) = 0;                   // doprogreso
    // The amount behind the percentage, when the worker knows it: bytes of the
    // phase sent so far and in all. Front ends that show only the bar ignore it.
    virtual void setProgressBytes(int64_t /*done*/, int64_t /*total*/) {}
    virtual void setVersionToLoad(const std::string& version) = 0; // version-to-load label
    // A text beside the message table, before the result it explains (for example
    // "Unit reports 4.10, file is 4.12"): stdout for the headless loader, the
    // status line for the window. Ignored unless a front end shows it.
    virtual void showNote(const std::string& /*text*/) {}
    // During a load, a wait between transfers begins: what it is, and its length in
    // ms when it is a fixed one (0 otherwise). The next progress ends it.
    virtual void showWait(Espera /*what*/, int /*msec*/) {}
    // End of a load, first on the status line: entry is 10, 11 or 20 of the
    // message table and text its text in the current language.
    virtual void showResult(int entry, const std::string& text) = 0;
    // End of a load, last: progress to 0 % and hidden, Load enabled.
    virtual void finishLoad() = 0;
    // End of a port's open and initial reset run on the worker's thread (the
    // window's port choice): opened, or not (the status line says why).
    virtual void portOpenDone(bool /*opened*/) {}
};
