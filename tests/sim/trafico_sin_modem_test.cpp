// Over a pseudo-terminal there is no DTR: the ARM unit takes a synchronisation
// byte reaching its software for the boot sequence. Only between frames: inside
// one, 0x7F is data (a binary packet holds any byte), and taking it for the boot
// sequence would end the transfer in the bootloader.
#include "common/global.h"
#include "comms/tint_enlace.h"
#include "sim/unidad_simulada.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <vector>

namespace {

// A line without modem lines, run by hand: events in time order, the unit's
// replies collected.
class LineaSinModem final : public UnitLink {
public:
    Tiempo now() const override { return t; }
    void sendToHost(const std::vector<uint8_t>& bytes, const LineFormat&) override {
        respuesta.insert(respuesta.end(), bytes.begin(), bytes.end());
    }
    void schedule(Tiempo at, std::function<void()> fn) override {
        eventos.emplace(at, std::move(fn));
    }
    bool hasModemLines() const override { return false; }

    // Each byte one character time after the last at 19200 8-N-1, then the
    // events due up to a second later.
    void enviar(SimUnit& unidad, const std::vector<uint8_t>& bytes) {
        for (uint8_t b : bytes) {
            t += FORMAT_19200_8N1.charTime();
            correr(t);
            unidad.onByte(b, false, t);
        }
        correr(t + ms(1000));
    }
    void correr(Tiempo hasta) {
        while (!eventos.empty() && eventos.begin()->first <= hasta) {
            auto it = eventos.begin();
            t = it->first;
            auto fn = std::move(it->second);
            eventos.erase(it);
            fn();
        }
        t = std::max(t, hasta);
    }

    Tiempo t{0};
    std::multimap<Tiempo, std::function<void()>> eventos;
    std::vector<uint8_t> respuesta;
};

// A transfer packet whose data is `datos`, stuffed as the link level sends it.
std::vector<uint8_t> paquete(const std::vector<uint8_t>& datos) {
    Tmensaje m;
    m.fproto = PROTOCOLO_TORVEX;
    m.fcomando = COMANDO_COMANDO;
    m.fnsecuencia = 1;
    m.fdireccion = 0;
    m.trama_nenlace[0] = SUBCOMANDO_PAQUETE_TRANSFERENCIA;
    m.trama_nenlace[1] = TRANSFERENCIA_FIRMWARE;
    for (size_t i = 0; i < datos.size(); ++i)
        m.trama_nenlace[2 + i] = datos[i];
    m.fnbytes = static_cast<int32_t>(datos.size() + 2);
    Tinterface_enlace enlace;
    const int n = enlace.prepara_trama(m);
    return std::vector<uint8_t>(m.trama_nfisico.begin(), m.trama_nfisico.begin() + n);
}

TEST(TraficoSinModem, SynchronisationByteEntersTheBootloaderOnlyBetweenFrames) {
    struct Caso {
        const char* nombre;
        std::vector<uint8_t> bytes;
        SimUnit::Mode modo;
        bool respuesta_trama; // the unit answered with a frame
    };
    const std::vector<Caso> casos = {
        {"0x7F inside a binary packet", paquete({0x12, 0x7F, 0x7F, 0x34}),
         SimUnit::Mode::Application, true},
        {"0x7F between frames", {0x7F}, SimUnit::Mode::ArmBootloader, false},
    };
    for (const Caso& c : casos) {
        SimUnit unidad(SimUnit::Controller::ARM);
        LineaSinModem linea;
        unidad.attach(&linea);
        unidad.onOpen(linea.t);
        linea.correr(ms(5000)); // the software has started
        linea.enviar(unidad, c.bytes);
        EXPECT_EQ(unidad.mode(), c.modo) << c.nombre;
        EXPECT_EQ(!linea.respuesta.empty() && linea.respuesta.front() == STX_TORVEX,
                  c.respuesta_trama)
            << c.nombre;
    }
}

} // namespace
