// libFuzzer target: the ARM writer and the XA writer on the simulated line, in
// simulated time, against the simulated bootloader and ISP loader, loading an image
// made from the input. The first byte chooses the controller (bit 0: ARM or XA) and a
// fault of the unit (bits 1..3), the second the fault's number; the rest is the image:
// an Intel HEX text the file check accepts is loaded as it stands, anything else is
// shaped into one (records of fuzzed length placed at fuzzed addresses inside the
// controller's flash).
//
// Oracle: a writer that says OK has left the controller's memory equal to the image
// at every byte of the image, and erased (0xFF) everywhere else; one that fails ends
// with a result code within a bound of simulated time; an image the file check
// refuses is refused by the ARM writer before a byte is sent.
#include "common/global.h"
#include "common/intel_hex.h"
#include "comms/tint_enlace.h"
#include "loader/grabador_arm.h"
#include "loader/grabador_xa.h"
#include "sim/fallos.h"
#include "sim/reloj_simulado.h"
#include "sim/unidad_simulada.h"
#include "support/hex_records.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr uint32_t FIN_MEMORIA_XA = 0xFFFF;
constexpr uint8_t BORRADO = 0xFF;

// The simulated clock, with a bound: a writer still waiting beyond it hangs.
class RelojAcotado final : public TimeSource {
public:
    explicit RelojAcotado(Tiempo limite) : limite_(limite) {}
    Tiempo now() const override { return clock_.now(); }
    void sleepUntil(Tiempo deadline) override {
        if (deadline > limite_)
            std::abort(); // the writer outlived every wait it may make
        clock_.sleepUntil(deadline);
    }
    bool isSimulated() const override { return true; }
    void fijar_limite(Tiempo limite) { limite_ = limite; }

private:
    SimClock clock_;
    Tiempo limite_;
};

class Mudo final : public Informador {
public:
    void estado(const std::string&) override {}
    void progreso(int32_t p) override {
        if (p < 0 || p > 100)
            std::abort();
    }
    void crc(uint32_t) override {}
    void version_acargar(const std::string&) override {}
    void aviso(const std::string&) override {}
};

// The faults a writer may meet, chosen by bits 1..3 of the first byte; n from the
// second byte, scaled to what the fault counts.
SimFault fallo_de(uint8_t eleccion, uint8_t numero) {
    using K = SimFault::Kind;
    const int pocos = numero % 8 + 1;  // blocks, records
    const int bytes = numero * 16 + 1; // bytes through the adapter
    switch ((eleccion >> 1) & 7) {
    case 1:
        return {K::NackWrite, pocos};
    case 2:
        return {K::CorruptWrite, pocos};
    case 3:
        return {K::NackRead, 0};
    case 4:
        return {K::WrongEcho, pocos};
    case 5:
        return {K::SilentAfterErase, 0};
    case 6:
        return {K::Unplug, bytes};
    default:
        return {};
    }
}

// Raw bytes shaped into an image inside the controller's flash (the ARM one's 128 KiB
// are two segments of 64 KiB): each piece is a header (bits 0..4: data length - 1;
// bit 5: the ARM flash's upper segment; bit 6: LF alone as the line end), an offset
// of two bytes, then the data.
std::string imagen_formada(std::string_view in, bool arm) {
    std::string texto;
    int segmento = -1;
    size_t i = 0;
    while (i + 3 <= in.size()) {
        const auto cab = static_cast<uint8_t>(in[i]);
        const auto offset = static_cast<uint16_t>(static_cast<uint8_t>(in[i + 1]) << 8 |
                                                  static_cast<uint8_t>(in[i + 2]));
        i += 3;
        const size_t n = std::min<size_t>((cab & 0x1F) + 1u, in.size() - i);
        if (n == 0)
            break;
        std::vector<uint8_t> datos(in.begin() + static_cast<std::ptrdiff_t>(i),
                                   in.begin() + static_cast<std::ptrdiff_t>(i + n));
        i += n;
        // A record does not run past its 64 KiB segment.
        if (offset + n > 0x10000u)
            datos.resize(0x10000u - offset);
        const std::string fin_linea = cab & 0x40 ? "\n" : "\r\n";
        if (arm) {
            const int s = (cab & 0x20) ? 1 : 0;
            if (s != segmento) {
                texto += hexExtendedLinear(static_cast<uint16_t>(0x0800 + s)) + fin_linea;
                segmento = s;
            }
        }
        texto += hexRecord(0x00, offset, datos) + fin_linea;
    }
    return texto + hexEndRecord() + "\r\n";
}

std::map<uint32_t, uint8_t> memoria_de(SimUnit& u) {
    return u.controller() == SimUnit::Controller::ARM ? u.armBootloader().memory()
                                                      : u.xaLoader().memory();
}

// Every byte the image or the memory names: the image's value where it has one, the
// erased value elsewhere.
void comprobar_memoria(const intel_hex::Imagen& imagen, const std::map<uint32_t, uint8_t>& mem) {
    for (const auto& tramo : imagen.tramos)
        for (size_t k = 0; k < tramo.datos.size(); ++k) {
            const auto a = static_cast<uint32_t>(tramo.direccion + k);
            const auto it = mem.find(a);
            if ((it == mem.end() ? BORRADO : it->second) != tramo.datos[k])
                std::abort(); // the image's byte is not in the controller
        }
    for (const auto& [a, v] : mem)
        if (v != imagen.byte_en(a).value_or(BORRADO))
            std::abort(); // a byte written outside the image
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const bool arm = (data[0] & 1) == 0;
    const SimFault fallo = fallo_de(data[0], data[1]);
    const std::string_view resto(reinterpret_cast<const char*>(data + 2), size - 2);
    const uint32_t desde = arm ? INICIO_FLASH_ARM : 0;
    // The writers' own check: the ARM one takes anything from the flash's start (the
    // bootloader refuses what lies beyond it), the XA image must fit its 64 KiB.
    const uint32_t hasta = arm ? 0xFFFFFFFF : FIN_MEMORIA_XA;

    intel_hex::Imagen imagen;
    intel_hex::Fallo motivo;
    std::string texto(resto);
    bool aceptada = intel_hex::leer_imagen(texto, imagen, motivo) &&
                    intel_hex::dentro_de(imagen, desde, hasta, motivo);
    if (!aceptada) {
        texto = imagen_formada(resto, arm);
        imagen = {};
        // Pieces that put different bytes at one address are refused like any such file.
        aceptada = intel_hex::leer_imagen(texto, imagen, motivo) &&
                   intel_hex::dentro_de(imagen, desde, hasta, motivo);
    }
    if (!aceptada && !arm)
        return 0; // the XA image is checked before its writer is called, never by it

    // Every wait a writer makes is bounded, and a load of the whole image at the
    // slower line rate takes far less: beyond this the writer hangs.
    RelojAcotado reloj_fuzz(ms(0));
    ScopedTimeSource usar(reloj_fuzz);
    reloj_fuzz.fijar_limite(reloj_fuzz.now() + ms(600000) +
                            ms(5) * static_cast<long long>(texto.size()));
    Mudo mudo;
    auto unidad =
        std::make_shared<SimUnit>(arm ? SimUnit::Controller::ARM : SimUnit::Controller::XA);
    fijar_unidad_simulada(0, unidad);
    Resultado r = Resultado::Ok;
    {
        Tinterface_enlace enlace;
        if (enlace.abrir_interface(0, MODO_RS232, 19200, 8, 1, 'N', 0, THRESHOLD08, 15000, 15000,
                                   AJUSTE_RS485_DEF) != 0)
            std::abort();
        aplicar_fallo(*unidad, fallo);
        const Contexto ctx{&enlace, 0, reloj_fuzz, mudo, nullptr};
        const auto total = static_cast<int32_t>(texto.size());
        if (arm) {
            r = GrabadorArm(ctx).grabar_micro_STM(texto, total);
        } else {
            enlace.cambia_conf(9600, 8, 1, 'N', 0);
            r = GrabadorXa(ctx).grabar_micro(texto, total);
        }
        unidad->line().pump();
    }
    if (!aceptada) {
        // Refused before the controller was touched.
        if (r != Resultado::ErrorFichero || !unidad->line().bytesFromHost().empty())
            std::abort();
    } else if (r == Resultado::Ok) {
        comprobar_memoria(imagen, memoria_de(*unidad));
        if (!arm && !unidad->xaLoader().unerasedWrites().empty())
            std::abort(); // written over a block that was never erased
    } else if (r == Resultado::ErrorFichero && arm) {
        std::abort(); // the file check accepted this image
    }
    fijar_unidad_simulada(0, nullptr);
    return 0;
}
