#include "comms/tint_enlace.h"

#include "common/global.h"
#include "comms/Tcola.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace {
std::atomic<ProveedorColaTraza> g_proveedor{nullptr};
} // namespace

void registrar_proveedor_cola_traza(ProveedorColaTraza proveedor) {
    g_proveedor = proveedor;
}

void anotar_traza(int ncom, const std::string& linea) {
    if (!hab_traza.load(std::memory_order_acquire))
        return;
    ProveedorColaTraza p = g_proveedor.load();
    Tcola_mensaje* cola = p ? p(ncom) : nullptr;
    if (!cola)
        return;
    auto* m = new Tmensaje();
    m->ftraza = linea;
    m->fmomento = reloj().now();
    cola->add(m);
}

std::string linea_traza(const Tmensaje& mensaje_wr, int32_t nbytes, int32_t modo) {
    auto hex = [](const Tbuff& b, int from, int to) {
        std::string s;
        char d[4];
        for (int i = from; i <= to && i < TBUFF_SIZE; ++i) {
            if (i > from)
                s += ',';
            std::snprintf(d, sizeof d, "%02X", b[static_cast<size_t>(i)]);
            s += d;
        }
        return s;
    };
    switch (modo) {
    case MODO_ANOT_TX:
        return "TX->" + hex(mensaje_wr.trama_nfisico, 0, nbytes - 1);
    case MODO_ANOT_RX:
        return "RX->" + hex(mensaje_wr.trama_nfisico, 1, nbytes);
    case MODO_ANOT_ERROR_CHECKSUM:
        return "ER->" + texto_mensaje(Mensaje::ErrorChecksum);
    case MODO_ANOT_ERROR_TIMEOUT:
        return "ER->" + texto_mensaje(Mensaje::ErrorTimeout);
    default:
        return {};
    }
}

int Tinterface_enlace::prepara_trama(Tmensaje& mensaje) {
    mensaje.fsubprotocolo = 0;
    if (mensaje.fproto != PROTOCOLO_TORVEX)
        return 0;
    const int n = mensaje.fnbytes & 0xFF;
    std::array<uint8_t, 7 + 255> w{};
    w[0] = STX_TORVEX;
    w[1] = static_cast<uint8_t>((mensaje.fcomando & 0x0F) | ((mensaje.fnsecuencia << 4) & 0x70));
    w[2] = 0;
    w[3] = static_cast<uint8_t>((mensaje.fdireccion >> 8) & 0xFF);
    w[4] = static_cast<uint8_t>(mensaje.fdireccion & 0xFF);
    w[5] = static_cast<uint8_t>(n);
    for (int i = 0; i < n; ++i)
        w[static_cast<size_t>(6 + i)] = mensaje.trama_nenlace[static_cast<size_t>(i)];
    unsigned sum = 0;
    for (int i = 1; i <= 5 + n; ++i)
        sum += w[static_cast<size_t>(i)];
    w[static_cast<size_t>(6 + n)] = static_cast<uint8_t>(((sum ^ 0xFF) + 1) & 0xFF);

    Tbuff& out = mensaje.trama_nfisico;
    out[0] = w[0];
    out[1] = w[1];
    int k = 2;
    for (int i = 2; i <= 6 + n; ++i) {
        out[static_cast<size_t>(k++)] = w[static_cast<size_t>(i)];
        if (w[static_cast<size_t>(i)] == STX_TORVEX)
            out[static_cast<size_t>(k++)] = STX_TORVEX; // doubled for transparency
    }
    return k; // 7 + N + doubled bytes; at most 7 + 2 * 256 - 1 < 601
}

int Tinterface_enlace::enviar_trama_nenlace(uint8_t ncom, Sondeos timeout, Tmensaje& mensaje) {
    const int n = prepara_trama(mensaje);
    if (hab_traza)
        anotar_traza(ncom, linea_traza(mensaje, n, MODO_ANOT_TX));
    // A frame full of 0xA5 bytes is longer after stuffing than the physical level
    // takes in one send (up to 518 bytes for 255 data bytes).
    return enviar_bytes(mensaje.trama_nfisico.data(), static_cast<size_t>(n), timeout);
}

int Tinterface_enlace::enviar_bytes(const uint8_t* datos, size_t n, Sondeos timeout) {
    constexpr size_t pieza = MAX_BUF_TRAMA + 1;
    const size_t primera = std::min(pieza, n);
    Tbuff b{};
    std::copy(datos, datos + primera, b.begin());
    int r = enviar_trama_nfisico(static_cast<int32_t>(primera), timeout, b);
    // The following pieces go straight to the transmitter: emptying the input again
    // would lose what the far end has already said (an echo of the first piece).
    for (size_t off = primera; off < n && r == TRAMA_TRANSMITIDA; off += pieza) {
        if (!fabierto || !puerto)
            return ERROR_INTERFACE_NOOPEN;
        const size_t k = std::min(pieza, n - off);
        for (size_t i = 0; i < k; ++i)
            trama[i] = datos[off + i];
        r = transmitir_trama(static_cast<int32_t>(k), timeout);
    }
    return r;
}

int Tinterface_enlace::recibir_trama_nenlace(uint8_t ncom, Sondeos timeout, Tmensaje& mensaje) {
    const int r = recibir_trama_nfisico(STX_TORVEX, ETX_TORVEX, NBYTESCHECKSUM_TORVEX, timeout,
                                        mensaje.trama_nfisico, PROTOCOLO_TORVEX);
    if (r == ERROR_CHECKSUM) {
        // An overlong frame, rejected by the physical level.
        mensaje.fnbytes = 0;
        mensaje.fnbytes_cab = 0;
        if (hab_traza)
            anotar_traza(ncom, linea_traza(mensaje, 0, MODO_ANOT_ERROR_CHECKSUM));
        return ERROR_CHECKSUM;
    }
    if (r != TRAMA_RECIBIDA)
        return r;
    const int32_t count = mensaje.trama_nfisico[0];
    if (extraer_cabecera(mensaje, NBYTESCHECKSUM_TORVEX)) {
        if (hab_traza)
            anotar_traza(ncom, linea_traza(mensaje, count, MODO_ANOT_RX));
        return TRAMA_RECIBIDA;
    }
    if (hab_traza)
        anotar_traza(ncom, linea_traza(mensaje, count, MODO_ANOT_ERROR_CHECKSUM));
    return ERROR_CHECKSUM;
}

bool Tinterface_enlace::extraer_cabecera(Tmensaje& mensaje, int32_t /*nby_check*/) {
    if (mensaje.fproto != PROTOCOLO_TORVEX)
        return true;
    const Tbuff& b = mensaje.trama_nfisico;
    if (b[0] == 0) {
        mensaje.fnbytes = 0;
        mensaje.fnbytes_cab = 0;
        return false;
    }
    mensaje.fnbytes = b[6];
    mensaje.fdireccion_ext = b[3];
    mensaje.fdireccion = b[4] * 256 + b[5];
    mensaje.fcomando = b[2] & 0x0F;
    mensaje.fnsecuencia = (b[2] >> 4) & 0x07;
    for (int i = 0; i < mensaje.fnbytes; ++i)
        mensaje.trama_nenlace[static_cast<size_t>(i)] = b[static_cast<size_t>(7 + i)];
    return true;
}

void Tinterface_enlace::enviar_datos_nenlace(uint8_t ncom, const std::string& buffer_datos) {
    // Text lines and raw bytes (the XA loader's lines, the ARM bootloader's bytes)
    // name their direction like frames do, so that a trace reads the same throughout.
    if (hab_traza)
        anotar_traza(ncom, "TX->" + buffer_datos);
    (void)enviar_bytes(reinterpret_cast<const uint8_t*>(buffer_datos.data()), buffer_datos.size(),
                       tiempos::TIMEOUT_ENV_DATOS);
}

void Tinterface_enlace::enviar_datos_sin_traza(const std::string& buffer_datos) {
    (void)enviar_bytes(reinterpret_cast<const uint8_t*>(buffer_datos.data()), buffer_datos.size(),
                       tiempos::TIMEOUT_ENV_DATOS);
}

int Tinterface_enlace::recibir_datos_nenlace(uint8_t ncom, Sondeos timeout,
                                             const std::string& buffer_datos) {
    const int r = recibir_datos_nfisico(timeout, buffer_datos);
    if (r == TRAMA_RECIBIDA && hab_traza)
        anotar_traza(ncom, "RX->" + buffer_datos);
    return r;
}

void Tinterface_enlace::activar_dtr(uint8_t /*ncom*/, int32_t modo) {
    if (modo == 0)
        DTROff();
    else
        DTROn();
}

uint32_t Tinterface_enlace::calcular_crc_32(uint32_t crc, const uint8_t* p, size_t len) {
    if (len == 0)
        return 0;
    uint32_t c = crc ^ 0xFFFFFFFFu;
    auto step = [&c](uint8_t x) { c = tabla_crc32[(c ^ x) & 0xFF] ^ (c >> 8); };
    size_t i = 0;
    for (; i + 8 <= len; i += 8) { // eight bytes per pass
        step(p[i]);
        step(p[i + 1]);
        step(p[i + 2]);
        step(p[i + 3]);
        step(p[i + 4]);
        step(p[i + 5]);
        step(p[i + 6]);
        step(p[i + 7]);
    }
    for (; i < len; ++i)
        step(p[i]);
    return c ^ 0xFFFFFFFFu;
}

uint32_t Tinterface_enlace::calcular_crc_32_torvex(uint32_t crc, const Tbuff& buf, int32_t len) {
    if (len <= 0)
        return 0;
    const size_t n = std::min<size_t>(static_cast<size_t>(len), buf.size());
    return calcular_crc_32(crc, buf.data(), n);
}
