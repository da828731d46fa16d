#pragma once
// A bare simulated line with a recording device behind it, wired to a port index,
// in simulated time: the physical level's tests see every byte on the wire and
// inject the unit's bytes with their arrival times.

#include "comms/Tint_com.h"
#include "sim/linea_simulada.h"
#include "sim/puerto_simulado.h"
#include "sim/reloj_simulado.h"

#include <memory>
#include <vector>

using Bytes = std::vector<uint8_t>;

class RecordingDevice final : public SimDevice {
public:
    struct Received {
        uint8_t value;
        bool garbled;
        Tiempo t;
    };
    LineFormat fmt = FORMAT_19200_8N1;
    std::vector<Received> got;

    void attach(UnitLink*) override {}
    LineFormat format() const override { return fmt; }
    void onByte(uint8_t b, bool garbled, Tiempo t) override { got.push_back({b, garbled, t}); }
    void onDtr(bool, Tiempo) override {}

    Bytes values() const {
        Bytes v;
        for (const auto& r : got)
            v.push_back(r.value);
        return v;
    }
    size_t garbledCount() const {
        size_t n = 0;
        for (const auto& r : got)
            n += r.garbled ? 1 : 0;
        return n;
    }
};

struct LineFixture {
    static constexpr uint8_t kIndex = 0;
    SimClock clock;
    ScopedTimeSource useClock{clock};
    RecordingDevice device;
    std::shared_ptr<SimLine> line = std::make_shared<SimLine>(&device);
    std::unique_ptr<Tinterface_com> port = std::make_unique<Tinterface_com>();

    LineFixture() { fijar_linea_simulada(kIndex, line); }
    ~LineFixture() {
        port.reset();
        fijar_linea_simulada(kIndex, nullptr);
    }

    int open(const LineFormat& f = FORMAT_19200_8N1, int32_t txSize = 15000,
             uint8_t mode = MODO_RS232) {
        device.fmt = f;
        return port->abrir_interface(kIndex, mode, f.baud, f.dataBits, f.stopBits, f.parity, 0,
                                     THRESHOLD08, 15000, txSize, AJUSTE_RS485_DEF);
    }
    // Bytes from the unit at its format, starting now.
    void fromUnit(const Bytes& b) { line->sendToHost(b, device.fmt); }
    void fromUnitAt(Tiempo at, const Bytes& b) {
        line->schedule(at, [this, b] { line->sendToHost(b, device.fmt); });
    }
    // Lets whatever is still on the wire arrive.
    void settle() {
        clock.advanceTo(clock.now() + ms(2000));
        line->pump();
    }
    // Arrival times of the unit's bytes at the host.
    std::vector<Tiempo> unitArrivals() const {
        std::vector<Tiempo> t;
        for (const auto& r : line->bytes())
            if (!r.fromHost)
                t.push_back(r.arrived);
        return t;
    }
    int send(const Bytes& b, int32_t timeout = 30) {
        Tbuff buf{};
        std::copy(b.begin(), b.end(), buf.begin());
        return port->enviar_trama_nfisico(static_cast<int32_t>(b.size()), Sondeos{timeout}, buf);
    }
    int receive(Tbuff& rx, int32_t timeout = 40, int32_t protocolo = 0) {
        return port->recibir_trama_nfisico(STX_TORVEX, ETX_TORVEX, NBYTESCHECKSUM_TORVEX,
                                           Sondeos{timeout}, rx, protocolo);
    }
};

// The stored bytes of a received frame: cells 1..count.
inline Bytes stored(const Tbuff& rx) {
    return Bytes(rx.begin() + 1, rx.begin() + 1 + rx[0]);
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}
