// ARM controller programming through its UART bootloader: DTR entry, 115200 8-E-1,
// synchronisation, Write Unprotect, global erase and Write Memory blocks built from
// the Intel HEX image.

#include "common/global.h"
#include "common/hex.h"
#include "comms/tint_enlace.h"
#include "loader/secuencias_dtr.h"
#include "loader/tmgrupo_superv.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <vector>

namespace {
const std::string ACK_STM = "y"; // 0x79; anything else, NACK included, is not waited for
constexpr char SYNC_STM = 0x7F;
constexpr int32_t INTENTOS_SYNC_STM = 3; // synchronisation bytes per Init_COM_STM
constexpr int32_t INTENTOS_INIT_STM = 5; // Init_COM_STM calls before giving up
constexpr int32_t REGISTROS_BLOQUE = 8;  // a block: one record and up to seven after it
constexpr size_t MAX_BLOQUE_STM = 256;   // the count byte holds N - 1
constexpr int32_t PAUSA_TRAS_BORRADO = 5000;
const std::string NO_DETECTADO_ARM = "No detectado VTR-900 (ARM)";

Tinterface_enlace* enlace_de(int32_t puerto) {
    return puerto >= 0 && puerto <= MAX_PUERTOS ? puertos[static_cast<size_t>(puerto)].load()
                                                : nullptr;
}

// Every byte goes out as a send of its own; its outcome is not looked at.
void enviar_byte(int32_t puerto, uint8_t b) {
    if (Tinterface_enlace* e = enlace_de(puerto))
        e->enviar_datos_nenlace(static_cast<uint8_t>(puerto), std::string(1, static_cast<char>(b)));
}

bool esperar_ack(int32_t puerto) {
    Tinterface_enlace* e = enlace_de(puerto);
    return e && e->recibir_datos_nenlace(static_cast<uint8_t>(puerto), tabla_retardo_rx[0],
                                         ACK_STM) == TRAMA_RECIBIDA;
}

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
} // namespace

void Tmgrupo_superv::boot_sqn_STM() {
    ejecutar_secuencia_dtr(*this, secuencias_dtr::boot_stm);
}

void Tmgrupo_superv::HW_reset_STM() {
    ejecutar_secuencia_dtr(*this, secuencias_dtr::reset_stm);
}

int Tmgrupo_superv::enviar_char_STM(int32_t puerto, const std::string& linea,
                                    const std::string& ack, int32_t max_intentos) {
    int32_t intentos = 0;
    int res = 0;
    while (intentos < max_intentos && res != TRAMA_RECIBIDA) {
        Tinterface_enlace* e = puerto >= 0 && puerto <= MAX_PUERTOS
                                   ? puertos[static_cast<size_t>(puerto)].load()
                                   : nullptr;
        if (!e)
            return ERROR_INTERFACE_NOOPEN;
        const auto n = static_cast<uint8_t>(puerto);
        e->enviar_datos_nenlace(n, linea);
        res = e->recibir_datos_nenlace(n, tabla_retardo_rx[0], ack);
        if (res != TRAMA_RECIBIDA)
            ++intentos;
    }
    return res;
}

bool Tmgrupo_superv::Init_COM_STM() {
    if (Tinterface_enlace* e = enlace_seleccionado())
        e->cambia_conf(115200, 8, 1, 'E', 0);
    if (enviar_char_STM(fpcom.load(), std::string(1, SYNC_STM), ACK_STM, INTENTOS_SYNC_STM) ==
        TRAMA_RECIBIDA)
        return false;
    retardo_msec(500);
    return true;
}

bool Tmgrupo_superv::WPUN_STM(int32_t puerto) {
    enviar_byte(puerto, 0x73);
    retardo_msec(1);
    enviar_byte(puerto, 0x8C);
    const bool ack1 = esperar_ack(puerto);
    const bool ack2 = esperar_ack(puerto); // the protection is off
    return !(ack1 && ack2);
}

bool Tmgrupo_superv::ER_STM(int32_t puerto) {
    enviar_byte(puerto, 0x43);
    retardo_msec(1);
    enviar_byte(puerto, 0xBC);
    const bool ack1 = esperar_ack(puerto);
    retardo_msec(1);
    enviar_byte(puerto, 0xFF); // global erase
    retardo_msec(1);
    enviar_byte(puerto, 0x00);             // its checksum
    const bool ack2 = esperar_ack(puerto); // the erase is over
    return !(ack1 && ack2);
}

bool Tmgrupo_superv::WM_STM(int32_t puerto) {
    // The image is read once, line by line; the lines a block looks at but does not
    // take are handled again by the main loop without being counted twice.
    std::vector<std::string> lineas;
    {
        std::ifstream f(fichero_banco1.get());
        if (!f.is_open()) {
            fcarga = texto_mensaje(27);
            domensaje();
            return true;
        }
        std::string l;
        while (std::getline(f, l)) {
            if (!l.empty() && l.back() == '\r')
                l.pop_back();
            lineas.push_back(std::move(l));
        }
    }

    int32_t grabados = 0;
    uint32_t wr_base_addr = 0;
    int64_t vcont_bytes_STM = 0;
    size_t contadas = 0; // lines counted into vcont_bytes_STM so far
    bool error = false;
    auto contar_hasta = [&](size_t i) {
        for (; contadas <= i && contadas < lineas.size(); ++contadas)
            vcont_bytes_STM += static_cast<int64_t>(lineas[contadas].size());
    };
    auto fallo = [&] {
        fcarga = texto_mensaje(27);
        domensaje();
        error = true;
    };

    size_t i = 0;
    while (i < lineas.size() && !error) {
        const std::string& linea = lineas[i];
        contar_hasta(i);
        ++i;
        const auto reg = leer_registro(linea);
        if (!reg) {
            fallo();
            break;
        }
        if (linea.find(REG_FIN) != std::string::npos) {
            fcarga = texto_mensaje(25);
            domensaje();
        }
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
                fallo(); // the image ends inside a block: no end record
                break;
            }
            contar_hasta(i);
            const auto sig = leer_registro(lineas[i]);
            if (!sig) {
                fallo();
                break;
            }
            if (sig->tipo != 0 || datos.size() + sig->datos.size() > MAX_BLOQUE_STM)
                break; // read again by the main loop
            datos.insert(datos.end(), sig->datos.begin(), sig->datos.end());
            ++i;
        }
        if (error)
            break;
        if (datos.empty())
            continue; // a record of no data: nothing to write

        enviar_byte(puerto, 0x31);
        enviar_byte(puerto, 0xCE);
        const bool ack_cmd = esperar_ack(puerto);

        const std::vector<uint8_t> dir{
            static_cast<uint8_t>(direccion >> 24), static_cast<uint8_t>(direccion >> 16),
            static_cast<uint8_t>(direccion >> 8), static_cast<uint8_t>(direccion)};
        for (uint8_t b : dir)
            enviar_byte(puerto, b);
        enviar_byte(puerto, xor_de(dir));
        const bool ack_dir = esperar_ack(puerto);

        const auto n_menos_1 = static_cast<uint8_t>(datos.size() - 1);
        enviar_byte(puerto, n_menos_1);
        for (uint8_t b : datos)
            enviar_byte(puerto, b);
        enviar_byte(puerto, static_cast<uint8_t>(n_menos_1 ^ xor_de(datos)));
        const bool ack_datos = esperar_ack(puerto);

        if (ack_cmd && ack_dir && ack_datos) {
            grabados += static_cast<int32_t>(datos.size());
            fcarga = texto_mensaje(26) + std::to_string(grabados) + " Bytes";
            domensaje();
            cont_bytes_parcial = static_cast<int>(vcont_bytes_STM);
            const int64_t total = size_tele.load();
            // Each line is counted once, so only an image larger than announced could
            // pass 100 %; an unknown size shows no progress.
            fprogreso =
                total > 0
                    ? static_cast<int32_t>(std::min<int64_t>(100, vcont_bytes_STM * 100 / total))
                    : 0;
            doprogreso();
        } else {
            fallo();
        }
    }
    cont_bytes_parcial = static_cast<int>(vcont_bytes_STM);
    return error;
}

bool Tmgrupo_superv::grabar_micro_STM() {
    auto sincronizar = [this] {
        bool err = true;
        for (int32_t n = 0; n < INTENTOS_INIT_STM && err; ++n)
            err = Init_COM_STM();
        return err;
    };
    boot_sqn_STM();
    bool error = sincronizar();
    if (error) {
        fcarga = NO_DETECTADO_ARM;
        domensaje();
    } else {
        error = WPUN_STM(fpcom.load());
        boot_sqn_STM(); // the controller restarted to apply the unprotection
        if (!error)
            error = sincronizar();
        if (error) {
            fcarga = NO_DETECTADO_ARM;
            domensaje();
        } else {
            error = ER_STM(fpcom.load());
            if (!error) {
                retardo_msec(PAUSA_TRAS_BORRADO);
                error = WM_STM(fpcom.load());
            }
        }
    }
    HW_reset_STM();
    return error;
}
