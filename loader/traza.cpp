#include "comms/tint_enlace.h"
#include "loader/tmgrupo_superv.h"

// The line itself is built by the link level, which queues it; the port and the
// error flag do not change it.
std::string Tmgrupo_superv::anota_mensaje(int32_t /*puerto*/, const Tmensaje& mensaje_wr,
                                          int32_t nbytes, int32_t modo, int32_t /*error*/) {
    return linea_traza(mensaje_wr, nbytes, modo);
}
