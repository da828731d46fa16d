#include "loader/grabador_arm.h"

#include "common/global.h"
#include "common/texto_traza.h"
#include "comms/tint_enlace.h"
#include "loader/lineas.h"
#include "loader/reintentos.h"
#include "loader/secuencias_dtr.h"
#include "loader/stm32.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
constexpr int32_t INTENTOS_SYNC_STM = 3;     // synchronisation bytes per Init_COM_STM
constexpr int32_t INTENTOS_INIT_STM = 5;     // Init_COM_STM calls before giving up
constexpr uint64_t MAX_BLOQUE_STM = 256;     // the count byte holds N - 1
constexpr uint64_t PALABRA_STM = 4;          // Write Memory start and length are multiples of it
constexpr int32_t PAUSA_TRAS_SYNC = 500;     // ms after a synchronisation that got no ACK
constexpr int32_t PAUSA_TRAS_BORRADO = 5000; // ms: the flash settles after a global erase
constexpr int32_t PAUSA_ENTRE_BYTES = 1;     // ms between a command byte and the next
const std::string NO_DETECTADO_ARM = "No detectado VTR-900 (ARM)";

std::vector<uint8_t> direccion_be(uint32_t d) {
    return {static_cast<uint8_t>(d >> 24), static_cast<uint8_t>(d >> 16),
            static_cast<uint8_t>(d >> 8), static_cast<uint8_t>(d)};
}

uint64_t palabra_abajo(uint64_t a) {
    return a & ~(PALABRA_STM - 1);
}
uint64_t palabra_arriba(uint64_t a) {
    return palabra_abajo(a + PALABRA_STM - 1);
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

std::vector<BloqueStm> bloques_stm(const intel_hex::Imagen& imagen) {
    std::vector<BloqueStm> bloques;
    // Copies the image bytes [desde, hasta) of tramo t into block b.
    auto copiar = [](BloqueStm& b, const intel_hex::Tramo& t, uint64_t desde, uint64_t hasta) {
        for (uint64_t a = desde; a < hasta; ++a)
            b.datos[a - b.direccion] = t.datos[a - t.direccion];
        b.bytes_imagen += hasta - desde;
    };
    for (const intel_hex::Tramo& t : imagen.tramos) {
        uint64_t pos = t.direccion;
        const uint64_t fin = t.fin();
        while (pos < fin) {
            if (!bloques.empty()) {
                BloqueStm& b = bloques.back();
                const uint64_t b_fin = uint64_t{b.direccion} + b.datos.size();
                if (pos < b_fin) { // the rest of a word the last block already covers
                    const uint64_t hasta = std::min(fin, b_fin);
                    copiar(b, t, pos, hasta);
                    pos = hasta;
                    continue;
                }
                const uint64_t nuevo_fin =
                    std::min(palabra_arriba(fin), uint64_t{b.direccion} + MAX_BLOQUE_STM);
                if (palabra_abajo(pos) < nuevo_fin) {
                    const uint64_t hasta = std::min(fin, nuevo_fin);
                    const uint64_t longitud = nuevo_fin - b.direccion;
                    const uint64_t relleno = longitud - (b.bytes_imagen + (hasta - pos));
                    if (relleno * 2 <= longitud) {
                        b.datos.resize(longitud, 0xFF);
                        copiar(b, t, pos, hasta);
                        pos = hasta;
                        continue;
                    }
                }
            }
            BloqueStm nb;
            const uint64_t inicio = palabra_abajo(pos);
            nb.direccion = static_cast<uint32_t>(inicio);
            nb.datos.assign(std::min(palabra_arriba(fin), inicio + MAX_BLOQUE_STM) - inicio, 0xFF);
            const uint64_t hasta = std::min(fin, inicio + nb.datos.size());
            copiar(nb, t, pos, hasta);
            pos = hasta;
            bloques.push_back(std::move(nb));
        }
    }
    return bloques;
}

void GrabadorArm::enviar_byte(uint8_t b) {
    enviar({b});
}

void GrabadorArm::enviar(const std::vector<uint8_t>& bytes) {
    // The bytes of one command go out as one send: handed over byte by byte, the
    // line idles whenever the worker is preempted between two of them. The
    // outcome is not looked at (the answer tells). The trace shows the bytes of
    // a command or block together, once its answer is awaited.
    if (!ctx_.enlace || bytes.empty())
        return;
    const std::string s(bytes.begin(), bytes.end());
    ctx_.enlace->enviar_datos_sin_traza(s);
    if (hab_traza.load(std::memory_order_relaxed))
        enviados_ += s;
}

void GrabadorArm::trazar_enviados() {
    if (!enviados_.empty())
        anotar_traza(ctx_.puerto, linea_traza_bytes(SentidoTraza::TX, enviados_));
    enviados_.clear();
}

void GrabadorArm::enviar_con_xor(std::vector<uint8_t> bytes) {
    bytes.push_back(xor_de(bytes));
    enviar(bytes);
}

Resultado GrabadorArm::esperar_ack() {
    if (!ctx_.enlace)
        return Resultado::FalloPuerto;
    trazar_enviados();
    uint8_t b = 0;
    const int r =
        ctx_.enlace->recibir_byte_nfisico(tabla_retardo_rx[0], stm32::ACK, stm32::NACK, b);
    if (r != TRAMA_RECIBIDA)
        return resultado_de(r);
    // A NACK ends the wait at once, and the trace says it was one, not a silence.
    if (b == stm32::NACK) {
        anotar_traza(ctx_.puerto, linea_traza_bytes(SentidoTraza::RX,
                                                    std::string(1, static_cast<char>(b)), "NACK"));
        return Resultado::Nack;
    }
    if (hab_traza.load(std::memory_order_relaxed))
        anotar_traza(ctx_.puerto, linea_traza_bytes(SentidoTraza::RX,
                                                    std::string(1, static_cast<char>(b)), "ACK"));
    return Resultado::Ok;
}

void GrabadorArm::boot_sqn_STM() {
    ejecutar_secuencia_dtr(ctx_.enlace, ctx_.puerto, ctx_.reloj, secuencias_dtr::boot_stm);
}

void GrabadorArm::HW_reset_STM() {
    trazar_enviados(); // bytes no answer was awaited for
    ctx_.informador.espera(Espera::Reinicio, duracion_msec(secuencias_dtr::reset_stm));
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
    const Resultado r = primero_fallido({ack1, ack2});
    flash_borrada_ = r == Resultado::Ok;
    return r;
}

Resultado GrabadorArm::escribir_bloque(const BloqueStm& b) {
    enviar({stm32::WRITE_MEMORY, stm32::complemento(stm32::WRITE_MEMORY)});
    const Resultado ack_cmd = esperar_ack();
    enviar_con_xor(direccion_be(b.direccion));
    const Resultado ack_dir = esperar_ack();
    const auto n_menos_1 = static_cast<uint8_t>(b.datos.size() - 1);
    std::vector<uint8_t> datos;
    datos.reserve(b.datos.size() + 2);
    datos.push_back(n_menos_1);
    datos.insert(datos.end(), b.datos.begin(), b.datos.end());
    datos.push_back(static_cast<uint8_t>(n_menos_1 ^ xor_de(b.datos)));
    enviar(datos);
    const Resultado ack_datos = esperar_ack();
    return primero_fallido({ack_cmd, ack_dir, ack_datos});
}

Resultado GrabadorArm::verificar_bloque(const BloqueStm& b) {
    enviar({stm32::READ_MEMORY, stm32::complemento(stm32::READ_MEMORY)});
    if (Resultado r = esperar_ack(); r != Resultado::Ok)
        return r;
    enviar_con_xor(direccion_be(b.direccion));
    if (Resultado r = esperar_ack(); r != Resultado::Ok)
        return r;
    const auto n_menos_1 = static_cast<uint8_t>(b.datos.size() - 1);
    enviar({n_menos_1, stm32::complemento(n_menos_1)});
    if (Resultado r = esperar_ack(); r != Resultado::Ok)
        return r;
    std::vector<uint8_t> leidos;
    const int r = ctx_.enlace->recibir_bytes_nfisico(tabla_retardo_rx[0], b.datos.size(), leidos);
    if (r != TRAMA_RECIBIDA)
        return resultado_de(r);
    if (hab_traza.load(std::memory_order_relaxed))
        anotar_traza(ctx_.puerto, linea_traza_bytes(SentidoTraza::RX,
                                                    std::string(leidos.begin(), leidos.end())));
    for (size_t i = 0; i < leidos.size(); ++i) {
        if (leidos[i] != b.datos[i]) {
            char linea[96];
            std::snprintf(linea, sizeof linea, "Read-back differs at %08X: written %02X, read %02X",
                          static_cast<unsigned>(b.direccion + i), b.datos[i], leidos[i]);
            anotar_traza(ctx_.puerto, std::string("ER->") + linea);
            return Resultado::NoVerificado;
        }
    }
    return Resultado::Ok;
}

Resultado GrabadorArm::WM_STM(const intel_hex::Imagen& imagen, int32_t caracteres, int32_t total) {
    const std::vector<BloqueStm> bloques = bloques_stm(imagen);
    const auto bytes_imagen = static_cast<int64_t>(imagen.bytes());
    int64_t grabados = 0;
    auto fallo = [&](Resultado r) {
        estado(texto_mensaje(Mensaje::ErrorMemoria));
        return r;
    };
    // After a global erase every flash byte reads 0xFF: a block of only that
    // would change nothing. Images padded with 0xFF between their sections load
    // in a fraction of the time.
    std::vector<bool> saltar(bloques.size(), false);
    size_t saltados = 0;
    if (flash_borrada_) {
        for (size_t i = 0; i < bloques.size(); ++i) {
            const auto& d = bloques[i].datos;
            saltar[i] = std::all_of(d.begin(), d.end(), [](uint8_t x) { return x == 0xFF; });
            saltados += saltar[i];
        }
        if (saltados > 0) {
            char linea[128];
            std::snprintf(linea, sizeof linea,
                          "Write Memory: %zu of %zu blocks all 0xFF after the erase: not sent, "
                          "not read back",
                          saltados, bloques.size());
            anotar_traza(ctx_.puerto, linea_traza_nota(linea));
        }
    }
    flash_borrada_ = false;
    for (size_t i = 0; i < bloques.size(); ++i) {
        if (ctx_.detenido())
            return Resultado::Interrumpido;
        const BloqueStm& b = bloques[i];
        if (Resultado r = saltar[i] ? Resultado::Ok : escribir_bloque(b); r != Resultado::Ok)
            return fallo(r);
        grabados += static_cast<int64_t>(b.bytes_imagen);
        estado(texto_mensaje(Mensaje::Grabados) + std::to_string(grabados) + " Bytes");
        ctx_.informador.avance(grabados, bytes_imagen);
        // The bank-1 share of the load's progress goes by image bytes written; an
        // unknown size shows no progress, one too small never more than 100 %.
        const int64_t hecho = bytes_imagen > 0 ? grabados * caracteres / bytes_imagen : 0;
        ctx_.informador.progreso(
            total > 0 ? static_cast<int32_t>(std::min<int64_t>(100, hecho * 100 / total)) : 0);
    }
    // Nothing is taken as written until it has been read back.
    for (size_t i = 0; i < bloques.size(); ++i) {
        if (ctx_.detenido())
            return Resultado::Interrumpido;
        if (Resultado r = saltar[i] ? Resultado::Ok : verificar_bloque(bloques[i]);
            r != Resultado::Ok)
            return fallo(r);
    }
    estado(texto_mensaje(Mensaje::MemoriaCompleta));
    return Resultado::Ok;
}

Resultado GrabadorArm::grabar_micro_STM(const std::string& texto, int32_t total) {
    caracteres_leidos_ = 0;
    flash_borrada_ = false;
    // The whole image is read and checked before the controller is touched: it is
    // never erased for an image that could not be written as it stands.
    intel_hex::Imagen imagen;
    fallo_ = {};
    if (!intel_hex::leer_imagen(texto, imagen, fallo_) ||
        !intel_hex::dentro_de(imagen, INICIO_FLASH_ARM, 0xFFFFFFFF, fallo_))
        return Resultado::ErrorFichero;
    int32_t caracteres = 0;
    for (const std::string& l : partir_lineas(texto))
        caracteres += static_cast<int32_t>(l.size());
    auto sincronizar = [this] {
        return reintentar(INTENTOS_INIT_STM, Resultado::SinRespuesta,
                          [this] { return Init_COM_STM(); });
    };
    ctx_.informador.espera(Espera::Entrada, 0);
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
            if (ctx_.detenido()) {
                r = Resultado::Interrumpido;
            } else {
                ctx_.informador.espera(Espera::Borrado, 0);
                r = ER_STM();
            }
            if (r == Resultado::Ok) {
                ctx_.esperar(PAUSA_TRAS_BORRADO);
                r = WM_STM(imagen, caracteres, total);
                caracteres_leidos_ = caracteres;
            }
        }
    }
    HW_reset_STM();
    return r;
}
