#include "loader/grabador_arm.h"

#include "common/global.h"
#include "common/hex.h"
#include "comms/tint_enlace.h"
#include "loader/lineas.h"
#include "loader/reintentos.h"
#include "loader/secuencias_dtr.h"
#include "loader/stm32.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace {
constexpr int32_t INTENTOS_SYNC_STM = 3;     // synchronisation bytes per Init_COM_STM
constexpr int32_t INTENTOS_INIT_STM = 5;     // Init_COM_STM calls before giving up
constexpr int32_t REGISTROS_BLOQUE = 8;      // a block: one record and up to seven after it
constexpr size_t MAX_BLOQUE_STM = 256;       // the count byte holds N - 1
constexpr int32_t PAUSA_TRAS_SYNC = 500;     // ms after a synchronisation that got no ACK
constexpr int32_t PAUSA_TRAS_BORRADO = 5000; // ms: the flash settles after a global erase
constexpr int32_t PAUSA_ENTRE_BYTES = 1;     // ms between a command byte and the next
const std::string NO_DETECTADO_ARM = "No detectado VTR-900 (ARM)";

// The value of n hex digits from 0-based position pos, or nothing when the text is
// too short or not hexadecimal there.
std::optional<uint32_t> leer_hex(const std::string& s, size_t pos, size_t n) {
    if (pos + n > s.size())
        return std::nullopt;
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) {
        const int d = valor_hex(s[pos + i]);
        if (d < 0)
            return std::nullopt;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    return v;
}

// One image line as the writer uses it.
struct Registro {
    uint32_t tipo = 0;
    uint32_t offset = 0;
    std::vector<uint8_t> datos; // data records: padded to an even count with 0xFF
    uint32_t base = 0;          // extended linear address records: upper address << 16
};

// Reads a record; nothing when the line is not one (short, no colon, fields that
// are not hexadecimal, data shorter than its count).
std::optional<Registro> leer_registro(const std::string& linea) {
    if (linea.size() < 9 || linea[0] != ':')
        return std::nullopt;
    const auto n = leer_hex(linea, 1, 2);
    const auto off = leer_hex(linea, 3, 4);
    const auto tipo = leer_hex(linea, 7, 2);
    if (!n || !off || !tipo)
        return std::nullopt;
    Registro r;
    r.tipo = *tipo;
    r.offset = *off;
    if (r.tipo == 0) {
        for (uint32_t i = 0; i < *n; ++i) {
            const auto b = leer_hex(linea, 9 + 2 * i, 2);
            if (!b)
                return std::nullopt;
            r.datos.push_back(static_cast<uint8_t>(*b));
        }
        if (r.datos.size() % 2 != 0)
            r.datos.push_back(0xFF);
    }
    if (linea.find(":02000004") != std::string::npos) {
        const auto alta = leer_hex(linea, 9, 4);
        if (!alta)
            return std::nullopt;
        r.base = *alta << 16;
    }
    return r;
}

uint8_t xor_de(const std::vector<uint8_t>& v) {
    uint8_t x = 0;
    for (uint8_t b : v)
        x ^= b;
    return x;
}

// The first outcome that is not Ok, in the order the replies came.
Resultado primero_fallido(std::initializer_list<Resultado> rs) {
    for (Resultado r : rs)
        if (r != Resultado::Ok)
            return r;
    return Resultado::Ok;
}
} // namespace

void GrabadorArm::enviar_byte(uint8_t b) {
    // Every byte goes out as a send of its own; its outcome is not looked at.
    if (ctx_.enlace)
        ctx_.enlace->enviar_datos_nenlace(ctx_.puerto, std::string(1, static_cast<char>(b)));
}

Resultado GrabadorArm::esperar_ack() {
    if (!ctx_.enlace)
        return Resultado::FalloPuerto;
    uint8_t b = 0;
    const int r =
        ctx_.enlace->recibir_byte_nfisico(tabla_retardo_rx[0], stm32::ACK, stm32::NACK, b);
    if (r != TRAMA_RECIBIDA)
        return resultado_de(r);
    // A NACK ends the wait at once, and the trace says it was one, not a silence.
    if (b == stm32::NACK) {
        anotar_traza(ctx_.puerto, "NACK");
        return Resultado::Nack;
    }
    anotar_traza(ctx_.puerto, std::string(1, static_cast<char>(stm32::ACK)));
    return Resultado::Ok;
}

void GrabadorArm::boot_sqn_STM() {
    ejecutar_secuencia_dtr(ctx_.enlace, ctx_.puerto, ctx_.reloj, secuencias_dtr::boot_stm);
}

void GrabadorArm::HW_reset_STM() {
    ejecutar_secuencia_dtr(ctx_.enlace, ctx_.puerto, ctx_.reloj, secuencias_dtr::reset_stm);
}

Resultado GrabadorArm::enviar_char_STM(uint8_t byte, int32_t max_intentos) {
    return reintentar(max_intentos, Resultado::SinRespuesta, [&] {
        if (!ctx_.enlace)
            return Resultado::FalloPuerto;
        enviar_byte(byte);
        return esperar_ack();
    });
}

Resultado GrabadorArm::Init_COM_STM() {
    if (ctx_.enlace)
        ctx_.enlace->cambia_conf(115200, 8, 1, 'E', 0);
    const Resultado r = enviar_char_STM(stm32::SYNC, INTENTOS_SYNC_STM);
    if (r != Resultado::Ok)
        ctx_.esperar(PAUSA_TRAS_SYNC);
    return r;
}

Resultado GrabadorArm::WPUN_STM() {
    enviar_byte(stm32::WRITE_UNPROTECT);
    ctx_.esperar(PAUSA_ENTRE_BYTES);
    enviar_byte(stm32::complemento(stm32::WRITE_UNPROTECT));
    const Resultado ack1 = esperar_ack();
    const Resultado ack2 = esperar_ack(); // the protection is off
    return primero_fallido({ack1, ack2});
}

Resultado GrabadorArm::ER_STM() {
    enviar_byte(stm32::ERASE);
    ctx_.esperar(PAUSA_ENTRE_BYTES);
    enviar_byte(stm32::complemento(stm32::ERASE));
    const Resultado ack1 = esperar_ack();
    ctx_.esperar(PAUSA_ENTRE_BYTES);
    enviar_byte(stm32::GLOBAL_ERASE);
    ctx_.esperar(PAUSA_ENTRE_BYTES);
    enviar_byte(stm32::complemento(stm32::GLOBAL_ERASE)); // its checksum
    const Resultado ack2 = esperar_ack();                 // the erase is over
    return primero_fallido({ack1, ack2});
}

Resultado GrabadorArm::WM_STM(const std::string& imagen, int32_t total) {
    // The lines a block looks at but does not take are handled again by the main
    // loop without being counted twice.
    const std::vector<std::string> lineas = partir_lineas(imagen);

    int32_t grabados = 0;
    uint32_t wr_base_addr = 0;
    int64_t vcont_bytes_STM = 0;
    size_t contadas = 0; // lines counted into vcont_bytes_STM so far
    Resultado resultado = Resultado::Ok;
    auto contar_hasta = [&](size_t i) {
        for (; contadas <= i && contadas < lineas.size(); ++contadas)
            vcont_bytes_STM += static_cast<int64_t>(lineas[contadas].size());
    };
    auto fallo = [&](Resultado r) {
        estado(texto_mensaje(Mensaje::ErrorMemoria));
        resultado = r;
    };

    size_t i = 0;
    while (i < lineas.size() && resultado == Resultado::Ok) {
        const std::string& linea = lineas[i];
        contar_hasta(i);
        ++i;
        const auto reg = leer_registro(linea);
        if (!reg) {
            fallo(Resultado::ErrorFichero);
            break;
        }
        if (linea.find(REG_FIN) != std::string::npos)
            estado(texto_mensaje(Mensaje::MemoriaCompleta));
        if (linea.find(":02000004") != std::string::npos)
            wr_base_addr = reg->base;
        if (reg->tipo != 0 || wr_base_addr == 0)
            continue;

        // One block: this record, then the data records right after it, each
        // written behind the previous one's data, until a line that is not a data
        // record, the eighth record, or a record that would take the block past the
        // 256 bytes its count can hold.
        const uint32_t direccion = wr_base_addr + reg->offset;
        std::vector<uint8_t> datos = reg->datos;
        for (int32_t unidos = 1; unidos < REGISTROS_BLOQUE; ++unidos) {
            if (i >= lineas.size()) {
                fallo(Resultado::ErrorFichero); // the image ends inside a block: no end record
                break;
            }
            contar_hasta(i);
            const auto sig = leer_registro(lineas[i]);
            if (!sig) {
                fallo(Resultado::ErrorFichero);
                break;
            }
            if (sig->tipo != 0 || datos.size() + sig->datos.size() > MAX_BLOQUE_STM)
                break; // read again by the main loop
            datos.insert(datos.end(), sig->datos.begin(), sig->datos.end());
            ++i;
        }
        if (resultado != Resultado::Ok)
            break;
        if (datos.empty())
            continue; // a record of no data: nothing to write

        enviar_byte(stm32::WRITE_MEMORY);
        enviar_byte(stm32::complemento(stm32::WRITE_MEMORY));
        const Resultado ack_cmd = esperar_ack();

        const std::vector<uint8_t> dir{
            static_cast<uint8_t>(direccion >> 24), static_cast<uint8_t>(direccion >> 16),
            static_cast<uint8_t>(direccion >> 8), static_cast<uint8_t>(direccion)};
        for (uint8_t b : dir)
            enviar_byte(b);
        enviar_byte(xor_de(dir));
        const Resultado ack_dir = esperar_ack();

        const auto n_menos_1 = static_cast<uint8_t>(datos.size() - 1);
        enviar_byte(n_menos_1);
        for (uint8_t b : datos)
            enviar_byte(b);
        enviar_byte(static_cast<uint8_t>(n_menos_1 ^ xor_de(datos)));
        const Resultado ack_datos = esperar_ack();

        const Resultado r = primero_fallido({ack_cmd, ack_dir, ack_datos});
        if (r == Resultado::Ok) {
            grabados += static_cast<int32_t>(datos.size());
            estado(texto_mensaje(Mensaje::Grabados) + std::to_string(grabados) + " Bytes");
            // Each line is counted once, so only an image larger than announced could
            // pass 100 %; an unknown size shows no progress.
            ctx_.informador.progreso(total > 0 ? static_cast<int32_t>(std::min<int64_t>(
                                                     100, vcont_bytes_STM * 100 / total))
                                               : 0);
        } else {
            fallo(r);
        }
    }
    caracteres_leidos_ = static_cast<int32_t>(vcont_bytes_STM);
    return resultado;
}

Resultado GrabadorArm::grabar_micro_STM(const std::string& imagen, int32_t total) {
    caracteres_leidos_ = 0;
    auto sincronizar = [this] {
        return reintentar(INTENTOS_INIT_STM, Resultado::SinRespuesta,
                          [this] { return Init_COM_STM(); });
    };
    boot_sqn_STM();
    Resultado r = sincronizar();
    if (r != Resultado::Ok) {
        estado(NO_DETECTADO_ARM);
    } else {
        r = WPUN_STM();
        boot_sqn_STM(); // the controller restarted to apply the unprotection
        if (r == Resultado::Ok)
            r = sincronizar();
        if (r != Resultado::Ok) {
            estado(NO_DETECTADO_ARM);
        } else {
            r = ER_STM();
            if (r == Resultado::Ok) {
                ctx_.esperar(PAUSA_TRAS_BORRADO);
                r = WM_STM(imagen, total);
            }
        }
    }
    HW_reset_STM();
    return r;
}
