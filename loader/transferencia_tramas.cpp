#include "loader/transferencia_tramas.h"

#include "common/global.h"
#include "comms/tint_enlace.h"
#include "loader/lineas.h"
#include "loader/reintentos.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr uint8_t COMANDO_ESTADO = 4;
// Characters of Intel HEX text per packet: with the two leading bytes the payload
// stays within the frame's one-byte length.
constexpr size_t MAX_TEXTO_PAQUETE_HEX = 252;
constexpr int INTENTOS_NORMAL = 3;
constexpr int INTENTOS_ESTADO = 3; // attempts of the status and programming-mode requests
constexpr int INTENTOS_INICIO_HEX = 6;
// The unit makes room for a binary image before it answers the start.
constexpr int ESPERA_INICIO_BIN = 20000;
constexpr uint8_t CR = 0x0D;

void poner_be32(Tbuff& b, size_t pos, uint32_t v) {
    b[pos] = static_cast<uint8_t>(v >> 24);
    b[pos + 1] = static_cast<uint8_t>(v >> 16);
    b[pos + 2] = static_cast<uint8_t>(v >> 8);
    b[pos + 3] = static_cast<uint8_t>(v);
}

void preparar(Tmensaje& m, uint8_t sub, uint8_t secuencia) {
    m.fcomando = COMANDO_COMANDO;
    m.fnsecuencia = secuencia;
    m.trama_nenlace[0] = sub;
    m.fnbytes = 1;
}

void preparar_identificacion(Tmensaje& m, const std::string& id) {
    preparar(m, SUBCOMANDO_ID_GRABACION, 0);
    size_t k = 1;
    for (char c : id)
        m.trama_nenlace[k++] = static_cast<uint8_t>(c);
    m.trama_nenlace[k++] = 0;
    m.fnbytes = static_cast<int32_t>(k);
}

// Payload 0x81, 0x08, the data.
void preparar_paquete(Tmensaje& m, const uint8_t* datos, size_t n, int contador) {
    preparar(m, SUBCOMANDO_PAQUETE_TRANSFERENCIA, static_cast<uint8_t>(contador % 8));
    m.trama_nenlace[1] = TRANSFERENCIA_FIRMWARE;
    std::copy(datos, datos + n, m.trama_nenlace.begin() + 2);
    m.fnbytes = static_cast<int32_t>(n + 2);
}

void preparar_fin(Tmensaje& m, uint32_t crc, int contador) {
    preparar(m, SUBCOMANDO_FIN_TRANSFERENCIA, static_cast<uint8_t>(contador % 8));
    m.trama_nenlace[1] = TRANSFERENCIA_FIRMWARE;
    poner_be32(m.trama_nenlace, 2, crc);
    m.fnbytes = 6;
}

// Progress in percent of total, kept within 0..100: a total of 0 (or one smaller
// than what was sent) must neither divide by zero nor overflow the bar.
int32_t porcentaje(long long hecho, long long total) {
    if (total <= 0)
        return 0;
    const double p = static_cast<double>(hecho) * 100.0 / static_cast<double>(total);
    return static_cast<int32_t>(std::clamp(p, 0.0, 100.0));
}

} // namespace

void prepararPeticionEstado(Tmensaje& mensaje) {
    mensaje.fcomando = COMANDO_ESTADO;
    mensaje.fnsecuencia = 0;
    mensaje.fnbytes = 0;
}

void prepararPeticionModoProgramacion(Tmensaje& mensaje) {
    mensaje.fcomando = COMANDO_COMANDO;
    mensaje.fnsecuencia = 0;
    mensaje.trama_nenlace[0] = SUBCOMANDO_MODO_GRABACION;
    mensaje.fnbytes = 1;
}

int TransferenciaTramas::enviar_mensaje(Tmensaje& mensajeTx, Tmensaje& mensajeRx,
                                        int32_t max_intentos, int32_t tiempo_espera) {
    const size_t ptx = mensajeTx.fproto < MAX_PROTOCOLOS ? mensajeTx.fproto : 0;
    const size_t prx = mensajeRx.fproto < MAX_PROTOCOLOS ? mensajeRx.fproto : 0;
    return reintentar(max_intentos, 0, [&] {
        Tinterface_enlace* l = ctx_.enlace;
        if (!l)
            return ERROR_INTERFACE_NOOPEN; // the port was closed: nothing to send on
        (void)l->enviar_trama_nenlace(ctx_.puerto, tabla_retardo_tx[ptx], mensajeTx);
        ctx_.esperar(tiempo_espera);
        return l->recibir_trama_nenlace(ctx_.puerto, tabla_retardo_rx[prx], mensajeRx);
    });
}

int TransferenciaTramas::pedir_estado() {
    tx_.fdireccion = 0;
    tx_.fdireccion_ext = 0;
    prepararPeticionEstado(tx_);
    rx_.trama_nenlace.fill(0);
    return enviar_mensaje(tx_, rx_, INTENTOS_ESTADO, 0);
}

int TransferenciaTramas::pedir_modo_programacion() {
    tx_.fdireccion = 0;
    tx_.fdireccion_ext = 0;
    prepararPeticionModoProgramacion(tx_);
    return enviar_mensaje(tx_, rx_, INTENTOS_ESTADO, 0);
}

Resultado TransferenciaTramas::abrirTransferencia(const std::string& id, Mensaje mensaje) {
    ctx_.informador.estado(texto_mensaje(mensaje));
    // The identification travels with its two zero bytes in a one-byte length.
    if (id.size() + 2 > 255)
        return Resultado::ErrorFichero;
    preparar_identificacion(tx_, id);
    return resultado_de(enviar_mensaje(tx_, rx_, INTENTOS_NORMAL, ESPERA_NORMAL));
}

Resultado TransferenciaTramas::grabar_flash_intelhex(const std::string& id,
                                                     const std::string& texto, long long hechos,
                                                     long long total) {
    if (Resultado r = abrirTransferencia(id, Mensaje::ProgramandoBloque2); r != Resultado::Ok)
        return r;
    uint32_t crc = 0;
    int contador = 0;

    long long vcont_bytes = hechos;
    preparar(tx_, SUBCOMANDO_INICIO_TRANSFERENCIA, 0);
    tx_.trama_nenlace[1] = TRANSFERENCIA_FIRMWARE;
    tx_.fnbytes = 2;
    // The unit may take the start without a word: the transfer goes on regardless.
    (void)enviar_mensaje(tx_, rx_, INTENTOS_INICIO_HEX, ESPERA_NORMAL);

    const std::vector<std::string> lineas = partir_lineas(texto);

    // Lines are concatenated into packets of at most 252 characters; a line that
    // does not fit opens the next packet. A line longer than a packet goes in
    // pieces of 252 characters, its last piece opening the next packet, so the unit
    // receives the same character stream as with short lines.
    size_t i = 0;
    std::string pendiente;
    bool hay_pendiente = false;
    while (i < lineas.size() || hay_pendiente) {
        std::string paquete;
        if (hay_pendiente) {
            paquete = std::move(pendiente);
            hay_pendiente = false;
        } else {
            paquete = lineas[i++];
        }
        if (paquete.size() > MAX_TEXTO_PAQUETE_HEX) {
            pendiente = paquete.substr(MAX_TEXTO_PAQUETE_HEX);
            hay_pendiente = true;
            paquete.resize(MAX_TEXTO_PAQUETE_HEX);
        } else {
            while (i < lineas.size()) {
                if (paquete.size() + lineas[i].size() <= MAX_TEXTO_PAQUETE_HEX) {
                    paquete += lineas[i++];
                } else {
                    pendiente = lineas[i++];
                    hay_pendiente = true;
                    break;
                }
            }
        }
        const auto* datos = reinterpret_cast<const uint8_t*>(paquete.data());
        // An empty chunk leaves the running CRC as it is (the update form gives 0
        // for no data, which would drop what came before).
        if (!paquete.empty())
            crc = Tinterface_enlace::calcular_crc_32(crc, datos, paquete.size());
        ++contador;
        preparar_paquete(tx_, datos, paquete.size(), contador);
        // An unanswered packet does not stop the transfer: the end message decides.
        (void)enviar_mensaje(tx_, rx_, INTENTOS_NORMAL, ESPERA_GRABAR);
        vcont_bytes += static_cast<long long>(paquete.size());
        ctx_.informador.progreso(porcentaje(vcont_bytes, total));
    }

    ctx_.informador.crc(crc);
    ++contador;
    preparar_fin(tx_, crc, contador);
    return resultado_de(enviar_mensaje(tx_, rx_, INTENTOS_NORMAL, ESPERA_NORMAL));
}

Resultado TransferenciaTramas::grabar_flash_bin(const std::string& id, const std::string& fichero,
                                                long long hechos) {
    if (Resultado r = abrirTransferencia(id, Mensaje::Programando); r != Resultado::Ok)
        return r;

    // The image follows a header of four text lines ended by CR LF. Only bytes that
    // are there are counted, so the size can never go below zero.
    size_t pos = 0;
    auto leer_byte = [&](uint8_t& b) {
        if (pos >= fichero.size())
            return false;
        b = static_cast<uint8_t>(fichero[pos++]);
        return true;
    };
    bool ultimo_cr = false;
    for (int linea = 0; linea < 4; ++linea) {
        uint8_t b = 0;
        if (!ultimo_cr) {
            while (leer_byte(b)) {
                ultimo_cr = b == CR;
                if (ultimo_cr)
                    break;
            }
        }
        if (ultimo_cr && leer_byte(b)) // the line feed
            ultimo_cr = b == CR;
    }
    const size_t inicio = pos;
    const long long size_fichero = static_cast<long long>(fichero.size() - inicio);
    if (size_fichero > 0xFFFFFFFFLL)
        return Resultado::ErrorFichero; // the start message carries the size in four bytes
    long long vcont_bytes = hechos;

    preparar(tx_, SUBCOMANDO_INICIO_TRANSFERENCIA, 0);
    tx_.trama_nenlace[1] = TRANSFERENCIA_FIRMWARE;
    poner_be32(tx_.trama_nenlace, 2, static_cast<uint32_t>(size_fichero));
    tx_.fnbytes = 6;
    if (Resultado r = resultado_de(enviar_mensaje(tx_, rx_, INTENTOS_NORMAL, ESPERA_INICIO_BIN));
        r != Resultado::Ok)
        return r;
    // Byte 2 of the answer accepts (0) or refuses the image. An answer too short to
    // carry it says nothing, and is not taken for an acceptance.
    if (rx_.fnbytes < 3)
        return Resultado::SinRespuesta;
    if (rx_.trama_nenlace[2] != 0)
        return Resultado::Rechazado;

    uint32_t crc = 0;
    int contador = 0;
    const auto* imagen = reinterpret_cast<const uint8_t*>(fichero.data()) + inicio;
    const size_t tamano = fichero.size() - inicio;
    const auto paquete = static_cast<size_t>(MAX_SIZE_PAQUETE_BIN);
    for (size_t hecho = 0;;) {
        const size_t n = std::min(paquete, tamano - hecho);
        if (n == 0)
            break;
        const uint8_t* bloque = imagen + hecho;
        crc = Tinterface_enlace::calcular_crc_32(crc, bloque, n);
        ++contador;
        preparar_paquete(tx_, bloque, n, contador);
        if (Resultado r = resultado_de(enviar_mensaje(tx_, rx_, INTENTOS_NORMAL, ESPERA_GRABAR));
            r != Resultado::Ok)
            return r;
        hecho += n;
        vcont_bytes += static_cast<long long>(n);
        ctx_.informador.progreso(porcentaje(vcont_bytes, size_fichero));
        if (n < paquete)
            break;
    }

    ctx_.informador.crc(crc);
    ++contador;
    preparar_fin(tx_, crc, contador);
    return resultado_de(enviar_mensaje(tx_, rx_, INTENTOS_NORMAL, ESPERA_NORMAL));
}
