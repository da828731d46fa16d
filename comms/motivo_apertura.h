#pragma once
// Why a serial port could not be opened, kept by the adapter that tried and handed up
// through the physical level so that both front ends can tell the operator what to do.

#include <cstdint>
#include <string>

struct MotivoApertura {
    enum class Tipo : uint8_t {
        Ninguno,    // opened, or not tried yet
        NoExiste,   // no such device (unplugged, wrong name)
        SinPermiso, // the user may not open it (not in the dialout group)
        Ocupado,    // another program holds it
        Otro,       // anything else; detalle has the system's words
    };
    Tipo tipo = Tipo::Ninguno;
    std::string dispositivo;        // the system's name of the port ("/dev/ttyS2")
    int64_t pid_propietario = 0;    // busy: the process that holds the lock file, 0 if none
    std::string nombre_propietario; // busy: that process's program name, if known
    std::string detalle;            // the system's own text, for Otro

    bool fallo() const { return tipo != Tipo::Ninguno; }
};

// The reason in the message language `idioma` (a column of the message table), one
// line without the device's name: "no such device", "permission denied (...)", ...
std::string texto_motivo_apertura(const MotivoApertura& motivo, int idioma);

// What to do about it, in the same language; "" when there is nothing to advise.
std::string consejo_motivo_apertura(const MotivoApertura& motivo, int idioma);

// Where the serial library keeps the lock file of a device ("/var/lock/LCK..ttyUSB0"),
// whether or not it exists; "" on systems without lock files.
std::string ruta_bloqueo_puerto(const std::string& dispositivo);

// What the serial library said when the open failed.
enum class ErrorApertura : uint8_t {
    NoEncontrado, // the device is not there
    Permiso,      // a permission error, which the library also gives for a busy device
    Otro,
};

// Looks at the device after a failed open: missing, not allowed, or held by another
// program (the lock file's owner named when there is one). detalle is the library's
// own text, kept for a reason that fits none of these.
MotivoApertura diagnosticar_apertura(const std::string& dispositivo, ErrorApertura error,
                                     const std::string& detalle);
