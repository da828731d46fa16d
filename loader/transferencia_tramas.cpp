// Framed request/reply exchanges and the firmware transfers to the unit's running
// software: identification, start, data packets with a rolling 3-bit sequence
// number, and the end message carrying the CRC-32 of all data sent.
#include "common/global.h"
#include "comms/tint_enlace.h"
#include "loader/tmgrupo_superv.h"

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr uint8_t COMANDO_ESTADO = 4;
// Characters of Intel HEX text per packet: with the two leading bytes the payload
// stays within the frame's one-byte length.
constexpr size_t MAX_TEXTO_PAQUETE_HEX = 252;
constexpr int INTENTOS_NORMAL = 3;
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

// The lines of a text file without their line ends (LF or CR LF). False when the
// file cannot be opened or read.
bool leer_lineas(const std::string& ruta, std::vector<std::string>& lineas) {
    std::ifstream f(ruta, std::ios::binary);
    if (!f.is_open())
        return false;
    std::string linea;
    while (std::getline(f, linea)) {
        if (!linea.empty() && linea.back() == '\r')
            linea.pop_back();
        lineas.push_back(std::move(linea));
    }
    return !f.bad();
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

int Tmgrupo_superv::enviar_mensaje(Tmensaje& mensajeTx, Tmensaje& mensajeRx, int32_t max_intentos,
                                   int32_t tiempo_espera) {
    const uint8_t puerto = fpcom.load();
    const size_t ptx = mensajeTx.fproto < MAX_PROTOCOLOS ? mensajeTx.fproto : 0;
    const size_t prx = mensajeRx.fproto < MAX_PROTOCOLOS ? mensajeRx.fproto : 0;
    int intentos = 0;
    int resultado = 0;
    while (intentos < max_intentos && resultado != TRAMA_RECIBIDA) {
        Tinterface_enlace* l = enlace();
        if (!l)
            return ERROR_INTERFACE_NOOPEN; // the port was closed: nothing to send on
        (void)l->enviar_trama_nenlace(puerto, tabla_retardo_tx[ptx], mensajeTx);
        if (tiempo_espera != 0)
            retardo_msec(tiempo_espera);
        resultado = l->recibir_trama_nenlace(puerto, tabla_retardo_rx[prx], mensajeRx);
        if (resultado != TRAMA_RECIBIDA)
            ++intentos;
    }
    return resultado;
}

bool Tmgrupo_superv::abrirTransferencia(const std::string& id, int32_t mensaje) {
    error_max_ficheros = false;
    fcarga = texto_mensaje(mensaje);
    domensaje();
    // The identification travels with its two zero bytes in a one-byte length.
    if (id.size() + 2 > 255)
        return false;
    preparar_identificacion(*mensaje_tx, id);
    return enviar_mensaje(*mensaje_tx, *mensaje_rx, INTENTOS_NORMAL, ESPERA_NORMAL) ==
           TRAMA_RECIBIDA;
}

bool Tmgrupo_superv::grabar_flash_intelhex(const std::string& id) {
    if (!abrirTransferencia(id, 17))
        return true;
    Tmensaje& tx = *mensaje_tx;
    Tmensaje& rx = *mensaje_rx;
    uint32_t crc = 0;
    int contador = 0;

    long long vcont_bytes = cont_bytes_parcial.load();
    preparar(tx, SUBCOMANDO_INICIO_TRANSFERENCIA, 0);
    tx.trama_nenlace[1] = TRANSFERENCIA_FIRMWARE;
    tx.fnbytes = 2;
    // The unit may take the start without a word: the transfer goes on regardless.
    (void)enviar_mensaje(tx, rx, INTENTOS_INICIO_HEX, ESPERA_NORMAL);

    // The whole file is read first, so that a file that cannot be read fails the
    // transfer before any packet leaves.
    std::vector<std::string> lineas;
    if (!leer_lineas(fichero_banco2.get(), lineas))
        return true;
    const long long total = size_tele.load();

    // Lines are concatenated into packets of at most 252 characters; a line that
    // does not fit opens the next packet. A line longer than a packet goes in
    // pieces of 252 characters, its last piece opening the next packet, so the unit
    // receives the same character stream as with short lines.
    size_t i = 0;
    std::string pendiente;
    bool hay_pendiente = false;
    while (i < lineas.size() || hay_pendiente) {
        std::string texto;
        if (hay_pendiente) {
            texto = std::move(pendiente);
            hay_pendiente = false;
        } else {
            texto = lineas[i++];
        }
        if (texto.size() > MAX_TEXTO_PAQUETE_HEX) {
            pendiente = texto.substr(MAX_TEXTO_PAQUETE_HEX);
            hay_pendiente = true;
            texto.resize(MAX_TEXTO_PAQUETE_HEX);
        } else {
            while (i < lineas.size()) {
                if (texto.size() + lineas[i].size() <= MAX_TEXTO_PAQUETE_HEX) {
                    texto += lineas[i++];
                } else {
                    pendiente = lineas[i++];
                    hay_pendiente = true;
                    break;
                }
            }
        }
        const auto* datos = reinterpret_cast<const uint8_t*>(texto.data());
        // An empty chunk leaves the running CRC as it is (the update form gives 0
        // for no data, which would drop what came before).
        if (!texto.empty())
            crc = Tinterface_enlace::calcular_crc_32(crc, datos, texto.size());
        ++contador;
        preparar_paquete(tx, datos, texto.size(), contador);
        // An unanswered packet does not stop the transfer: the end message decides.
        (void)enviar_mensaje(tx, rx, INTENTOS_NORMAL, ESPERA_GRABAR);
        vcont_bytes += static_cast<long long>(texto.size());
        fprogreso = porcentaje(vcont_bytes, total);
        doprogreso();
    }

    fcrc = crc;
    docrc();
    ++contador;
    preparar_fin(tx, crc, contador);
    return enviar_mensaje(tx, rx, INTENTOS_NORMAL, ESPERA_NORMAL) != TRAMA_RECIBIDA;
}

bool Tmgrupo_superv::grabar_flash_bin(const std::string& id) {
    if (!abrirTransferencia(id, 18))
        return true;
    Tmensaje& tx = *mensaje_tx;
    Tmensaje& rx = *mensaje_rx;

    std::ifstream f(fichero_banco3.get(), std::ios::binary);
    if (!f.is_open())
        return true;
    auto leer_byte = [&f](uint8_t& b) {
        char c = 0;
        if (!f.get(c))
            return false;
        b = static_cast<uint8_t>(c);
        return true;
    };

    // The image follows a header of four text lines ended by CR LF. Only bytes that
    // were actually read are counted, so the size can never go below zero.
    long long bytes_saltados = 0;
    bool ultimo_cr = false;
    for (int linea = 0; linea < 4; ++linea) {
        uint8_t b = 0;
        if (!ultimo_cr) {
            while (leer_byte(b)) {
                ++bytes_saltados;
                ultimo_cr = b == CR;
                if (ultimo_cr)
                    break;
            }
        }
        if (ultimo_cr && leer_byte(b)) { // the line feed
            ++bytes_saltados;
            ultimo_cr = b == CR;
        }
    }
    if (f.bad())
        return true;
    f.clear();
    f.seekg(0, std::ios::end);
    const long long tamano = static_cast<long long>(f.tellg());
    f.seekg(bytes_saltados, std::ios::beg);
    if (tamano < 0 || !f)
        return true; // not a file whose size can be read
    const long long size_fichero = std::max(0LL, tamano - bytes_saltados);
    if (size_fichero > 0xFFFFFFFFLL)
        return true; // the start message carries the size in four bytes
    long long vcont_bytes = cont_bytes_parcial.load();

    preparar(tx, SUBCOMANDO_INICIO_TRANSFERENCIA, 0);
    tx.trama_nenlace[1] = TRANSFERENCIA_FIRMWARE;
    poner_be32(tx.trama_nenlace, 2, static_cast<uint32_t>(size_fichero));
    tx.fnbytes = 6;
    if (enviar_mensaje(tx, rx, INTENTOS_NORMAL, ESPERA_INICIO_BIN) != TRAMA_RECIBIDA)
        return true;
    // Byte 2 of the answer accepts (0) or refuses the image. An answer too short to
    // carry it says nothing, and is not taken for an acceptance.
    if (rx.fnbytes < 3)
        return true;
    if (rx.trama_nenlace[2] != 0) {
        error_max_ficheros = true;
        return true;
    }

    uint32_t crc = 0;
    int contador = 0;
    std::vector<uint8_t> bloque(MAX_SIZE_PAQUETE_BIN);
    for (;;) {
        f.read(reinterpret_cast<char*>(bloque.data()), MAX_SIZE_PAQUETE_BIN);
        const auto n = static_cast<size_t>(f.gcount());
        if (f.bad())
            return true; // a read error: the unit must not get a short image as complete
        if (n == 0)
            break;
        crc = Tinterface_enlace::calcular_crc_32(crc, bloque.data(), n);
        ++contador;
        preparar_paquete(tx, bloque.data(), n, contador);
        if (enviar_mensaje(tx, rx, INTENTOS_NORMAL, ESPERA_GRABAR) != TRAMA_RECIBIDA)
            return true;
        vcont_bytes += static_cast<long long>(n);
        fprogreso = porcentaje(vcont_bytes, size_fichero);
        doprogreso();
        if (n < static_cast<size_t>(MAX_SIZE_PAQUETE_BIN))
            break;
    }

    fcrc = crc;
    docrc();
    ++contador;
    preparar_fin(tx, crc, contador);
    return enviar_mensaje(tx, rx, INTENTOS_NORMAL, ESPERA_NORMAL) != TRAMA_RECIBIDA;
}
