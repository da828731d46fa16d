#include "comms/motivo_apertura.h"

#include <QFileInfo>
#include <QLockFile>
#include <QString>

#include <array>
#include <fstream>

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using Textos = std::array<const char*, 4>; // fr, es, en, it: the message table's columns

const char* en_idioma(const Textos& t, int idioma) {
    return t[static_cast<size_t>(idioma >= 0 && idioma < 4 ? idioma : 2)];
}

const Textos NO_EXISTE = {"périphérique inexistant", "el dispositivo no existe", "no such device",
                          "dispositivo inesistente"};
const Textos SIN_PERMISO = {"permission refusée", "permiso denegado", "permission denied",
                            "permesso negato"};
const Textos OCUPADO = {"occupé : un autre programme l'utilise", "ocupado: lo usa otro programa",
                        "busy: held by another program", "occupato: in uso da un altro programma"};
const Textos OTRO = {"ouverture impossible", "no se puede abrir", "cannot be opened",
                     "impossibile aprire"};
const Textos PROCESO = {"processus", "proceso", "process", "processo"};
const Textos CONSEJO_NO_EXISTE = {
    "branchez l'adaptateur ou vérifiez le nom du port (vtr900prog --list-ports)",
    "conecte el adaptador o compruebe el nombre del puerto (vtr900prog --list-ports)",
    "plug the adapter in or check the port's name (vtr900prog --list-ports)",
    "collegare l'adattatore o verificare il nome della porta (vtr900prog --list-ports)"};
const Textos CONSEJO_PERMISO = {"sous Debian/Ubuntu, ajoutez l'utilisateur au groupe dialout "
                                "(sudo usermod -aG dialout $USER), puis reconnectez-vous",
                                "en Debian/Ubuntu, añada el usuario al grupo dialout "
                                "(sudo usermod -aG dialout $USER) y vuelva a iniciar sesión",
                                "on Debian/Ubuntu, add the user to the dialout group "
                                "(sudo usermod -aG dialout $USER), then log in again",
                                "su Debian/Ubuntu, aggiungere l'utente al gruppo dialout "
                                "(sudo usermod -aG dialout $USER), poi accedere di nuovo"};
const Textos CONSEJO_OCUPADO = {"fermez ce programme ou choisissez un autre port",
                                "cierre ese programa o elija otro puerto",
                                "close that program or choose another port",
                                "chiudere quel programma o scegliere un'altra porta"};

#ifndef _WIN32
// The program name of a running process, "" when it cannot be read.
std::string nombre_proceso(int64_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string nombre;
    std::getline(in, nombre);
    return nombre;
}

bool proceso_vivo(int64_t pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}
#endif

} // namespace

std::string texto_motivo_apertura(const MotivoApertura& m, int idioma) {
    switch (m.tipo) {
    case MotivoApertura::Tipo::Ninguno:
        return {};
    case MotivoApertura::Tipo::NoExiste:
        return en_idioma(NO_EXISTE, idioma);
    case MotivoApertura::Tipo::SinPermiso:
        return en_idioma(SIN_PERMISO, idioma);
    case MotivoApertura::Tipo::Ocupado: {
        std::string t = en_idioma(OCUPADO, idioma);
        if (m.pid_propietario > 0) {
            t += std::string(" (") + en_idioma(PROCESO, idioma) + " " +
                 std::to_string(m.pid_propietario);
            if (!m.nombre_propietario.empty())
                t += ", " + m.nombre_propietario;
            t += ")";
        }
        return t;
    }
    case MotivoApertura::Tipo::Otro:
        return m.detalle.empty() ? en_idioma(OTRO, idioma) : m.detalle;
    }
    return {};
}

std::string consejo_motivo_apertura(const MotivoApertura& m, int idioma) {
    switch (m.tipo) {
    case MotivoApertura::Tipo::NoExiste:
        return en_idioma(CONSEJO_NO_EXISTE, idioma);
    case MotivoApertura::Tipo::SinPermiso:
        return en_idioma(CONSEJO_PERMISO, idioma);
    case MotivoApertura::Tipo::Ocupado:
        return en_idioma(CONSEJO_OCUPADO, idioma);
    default:
        return {};
    }
}

std::string ruta_bloqueo_puerto(const std::string& dispositivo) {
#ifdef _WIN32
    (void)dispositivo;
    return {};
#else
    // The serial library's own rule: "LCK.." and the name below /dev with '/' as '_',
    // in the first readable lock folder that holds the file or may receive it.
    static const std::array<const char*, 8> carpetas = {
        "/var/lock", "/etc/locks", "/var/spool/locks",  "/var/spool/uucp",
        "/tmp",      "/var/tmp",   "/var/lock/lockdev", "/run/lock"};
    std::string nombre = dispositivo;
    if (nombre.rfind("/dev/", 0) == 0)
        nombre.erase(0, 5);
    for (char& c : nombre)
        if (c == '/')
            c = '_';
    for (const char* carpeta : carpetas) {
        const std::string ruta = std::string(carpeta) + "/LCK.." + nombre;
        const QFileInfo info(QString::fromLatin1(carpeta));
        if (info.isReadable() &&
            (QFileInfo::exists(QString::fromStdString(ruta)) || info.isWritable()))
            return ruta;
    }
    return {};
#endif
}

MotivoApertura diagnosticar_apertura(const std::string& dispositivo, ErrorApertura error,
                                     const std::string& detalle) {
    MotivoApertura m;
    m.dispositivo = dispositivo;
    m.detalle = detalle;
#ifdef _WIN32
    // Windows refuses a port another program holds with "access denied".
    m.tipo = error == ErrorApertura::NoEncontrado ? MotivoApertura::Tipo::NoExiste
             : error == ErrorApertura::Permiso    ? MotivoApertura::Tipo::Ocupado
                                                  : MotivoApertura::Tipo::Otro;
    return m;
#else
    struct stat st {};
    if (::stat(dispositivo.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
        m.tipo = MotivoApertura::Tipo::NoExiste;
        return m;
    }
    // Held by a program that took the lock file: name it.
    if (const std::string lock = ruta_bloqueo_puerto(dispositivo); !lock.empty()) {
        QLockFile lf(QString::fromStdString(lock));
        qint64 pid = 0;
        QString host, app;
        if (QFileInfo::exists(QString::fromStdString(lock)) && lf.getLockInfo(&pid, &host, &app) &&
            proceso_vivo(pid)) {
            m.tipo = MotivoApertura::Tipo::Ocupado;
            m.pid_propietario = pid;
            m.nombre_propietario = nombre_proceso(pid);
            if (m.nombre_propietario.empty())
                m.nombre_propietario = app.toStdString();
            return m;
        }
    }
    if (::access(dispositivo.c_str(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM)) {
        m.tipo = MotivoApertura::Tipo::SinPermiso;
        return m;
    }
    if (error == ErrorApertura::NoEncontrado) {
        m.tipo = MotivoApertura::Tipo::NoExiste;
        return m;
    }
    // Allowed, yet refused with a permission error: another program holds the device
    // exclusively (EBUSY) without a lock file.
    m.tipo = error == ErrorApertura::Permiso ? MotivoApertura::Tipo::Ocupado
                                             : MotivoApertura::Tipo::Otro;
    return m;
#endif
}
