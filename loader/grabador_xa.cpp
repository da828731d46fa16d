#include "loader/grabador_xa.h"

#include "common/global.h"
#include "comms/tint_enlace.h"
#include "loader/deteccion.h"
#include "loader/lineas.h"
#include "loader/reintentos.h"
#include "loader/tablas_xa.h"

const std::string tabla_velocidad = ":010000820B72";
const std::string tabla_borrar_bloque0 = ":0200008301007A";
const std::string tabla_borrar_bloque1 = ":0200008301205A";
const std::string tabla_borrar_bloque2 = ":0200008301403A";
const std::string tabla_borrar_bloque3 = ":020000830180FA";
const std::string tabla_borrar_bloque4 = ":0200008301C0BA";
const std::string tabla_borrar_boot_status = ":010000830478";
const std::string tabla_status = ":0300008306000074";
const std::string tabla_boot = ":030000830601F87B";
const std::string tabla_verif_status = ":02000085070171";
const std::string tabla_verif_boot = ":02000085070270";
const std::string tabla_ack_normal = ".\r\n";
const std::string tabla_ack_verif_status = ":0200008507017100.\r\n";
const std::string tabla_ack_verif_boot = ":02000085070270F8.\r\n";
const std::string REG_DIRECCION_EXT_CERO = ":020000040000FA";

#include <array>
#include <vector>

namespace {
// Attempts of the lines that are sent again at every attempt: synchronisation,
// speed and the five closing lines.
constexpr int32_t INTENTOS_LINEA = 5;
// A block erase may take seconds: its acknowledgement is awaited twice, without
// sending the line again (a second erase command would start the erase over).
constexpr int32_t ESPERAS_BORRADO = 2;
// A record is sent once; its echo and acknowledgement are awaited up to three times.
constexpr int32_t ESPERAS_LINEA = 3;

// Progress in percent of the characters read so far. The total comes from the
// file selection; it may be short of the file's real size or be 0, and the bar
// must stay within 0..100 either way.
int32_t porcentaje(int32_t leidos, int32_t total) {
    if (total <= 0)
        return 0;
    const double p = static_cast<double>(leidos) * 100.0 / static_cast<double>(total);
    if (p >= 100.0)
        return 100;
    return p <= 0.0 ? 0 : static_cast<int32_t>(p);
}
} // namespace

int GrabadorXa::recibir_linea_datos(const std::string& datos_rx, int32_t retardo_rx,
                                    int32_t max_intentos) {
    return reintentar(max_intentos, 0, [&] {
        return ctx_.enlace ? ctx_.enlace->recibir_datos_nenlace(ctx_.puerto, retardo_rx, datos_rx)
                           : ERROR_INTERFACE_NOOPEN;
    });
}

Resultado GrabadorXa::grabar_micro(const std::string& imagen, int32_t total) {
    caracteres_leidos_ = 0;
    Tinterface_enlace* enl = ctx_.enlace;
    if (enl == nullptr)
        return Resultado::FalloPuerto;
    const uint8_t puerto = ctx_.puerto;
    Deteccion unidad(ctx_);
    int32_t vcont_bytes = 0;

    auto mostrar = [this](Mensaje m) { ctx_.informador.estado(texto_mensaje(m)); };

    unidad.genera_modo_programacion();

    int res = unidad.enviar_linea_eco_datos(tabla_sincro, tabla_sincro, INTENTOS_LINEA);
    // Whatever the loader makes of the speed line, the erase goes ahead.
    if (res == TRAMA_RECIBIDA)
        (void)unidad.enviar_linea_eco_datos(tabla_velocidad, tabla_ack_normal, INTENTOS_LINEA);

    mostrar(Mensaje::BorrandoBloque1);
    ctx_.informador.espera(Espera::Borrado, 0);

    static const std::array<const std::string*, 5> bloques = {
        &tabla_borrar_bloque0, &tabla_borrar_bloque1, &tabla_borrar_bloque2, &tabla_borrar_bloque3,
        &tabla_borrar_bloque4};
    for (const std::string* bloque : bloques) {
        if (res != TRAMA_RECIBIDA)
            break;
        if (ctx_.detenido())
            return Resultado::Interrumpido;
        enl->enviar_datos_nenlace(puerto, *bloque);
        res = recibir_linea_datos(tabla_ack_normal, TIMEOUT_BORRADO, ESPERAS_BORRADO);
    }

    if (res == TRAMA_RECIBIDA) {
        if (!imagen.empty()) {
            mostrar(Mensaje::ProgramandoBloque1Xa);
            const std::vector<std::string> lineas = partir_lineas(imagen);
            int64_t caracteres = 0;
            for (const std::string& linea : lineas)
                caracteres += static_cast<int64_t>(linea.size());
            const int32_t desde = vcont_bytes;
            for (const std::string& linea : lineas) {
                if (ctx_.detenido()) {
                    caracteres_leidos_ = vcont_bytes;
                    return Resultado::Interrumpido;
                }
                vcont_bytes += static_cast<int32_t>(linea.size());
                if (linea != REG_DIRECCION_EXT_CERO) {
                    // Sent as it stands: a malformed line is refused by the loader
                    // and ends here by time-out, like any record it does not take.
                    enl->enviar_datos_nenlace(puerto, linea);
                    res = recibir_linea_datos(linea + tabla_ack_normal, TIMEOUT_WR_LINEA,
                                              ESPERAS_LINEA);
                }
                ctx_.informador.avance(vcont_bytes - desde, caracteres);
                ctx_.informador.progreso(porcentaje(vcont_bytes, total));
                if (res != TRAMA_RECIBIDA)
                    break;
            }
        }

        struct LineaFinal {
            const std::string& linea;
            const std::string& ack;
        };
        const std::array<LineaFinal, 5> finales = {{
            {tabla_borrar_boot_status, tabla_ack_normal},
            {tabla_status, tabla_ack_normal},
            {tabla_boot, tabla_ack_normal},
            {tabla_verif_status, tabla_ack_verif_status},
            {tabla_verif_boot, tabla_ack_verif_boot},
        }};
        for (const LineaFinal& f : finales) {
            if (res != TRAMA_RECIBIDA)
                break;
            res = unidad.enviar_linea_eco_datos(f.linea, f.ack, INTENTOS_LINEA);
        }
        if (res == TRAMA_RECIBIDA)
            mostrar(Mensaje::Bloque1Ok);
    }

    caracteres_leidos_ = vcont_bytes;
    return resultado_de(res);
}
