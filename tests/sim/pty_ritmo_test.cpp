// The companion's pacing: over a pseudo-terminal bytes pass as fast as the
// kernel copies them, so a paced bridge holds each byte for its line time at the
// unit's format, both ways. The checks are lower bounds (a loaded machine only
// makes things slower) and the arrival instants the bridge hands the unit.
#include "sim/pty_bridge.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#ifndef _WIN32

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// A far end at 9600 8-N-1 (1042 µs a character) that notes what arrives, and
// answers 'R' with a burst of 100 bytes.
class Eco final : public SimDevice {
public:
    void attach(UnitLink* l) override { link = l; }
    LineFormat format() const override { return FORMAT_9600_8N1; }
    void onByte(uint8_t b, bool, Tiempo t) override {
        llegadas.push_back(t);
        if (b == 'R') {
            enviado = link->now();
            link->sendToHost(std::vector<uint8_t>(RAFAGA, 0x55), format());
        }
    }
    void onDtr(bool, Tiempo) override {}

    static constexpr int RAFAGA = 100;
    UnitLink* link = nullptr;
    std::vector<Tiempo> llegadas;
    Tiempo enviado{0};
};

struct Servido {
    Eco eco;
    PtyBridge puente{eco};
    std::thread hilo;
    int fd = -1;

    explicit Servido(bool ritmo, Tiempo latencia = Tiempo{0}) {
        std::string error;
        EXPECT_TRUE(puente.open(error)) << error;
        puente.setPacing(ritmo);
        puente.setLatencyTimer(latencia);
        fd = ::open(puente.slavePath().c_str(), O_RDWR | O_NOCTTY);
        EXPECT_GE(fd, 0);
        hilo = std::thread([this] { puente.run(); });
    }
    ~Servido() {
        parar();
        if (fd >= 0)
            ::close(fd);
    }
    // After it, the unit's records may be read from this thread.
    void parar() {
        puente.stop();
        if (hilo.joinable())
            hilo.join();
    }
    // Writes n bytes, the last one 'R', and reads the burst of the answer; the
    // time from the write to the last byte read.
    Tiempo rafaga(int n) {
        std::vector<uint8_t> v(static_cast<size_t>(n), 'x');
        v.back() = 'R';
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(::write(fd, v.data(), v.size()), static_cast<ssize_t>(v.size()));
        int leidos = 0;
        while (leidos < Eco::RAFAGA) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0)
                break;
            uint8_t buf[256];
            const ssize_t r = ::read(fd, buf, sizeof buf);
            if (r <= 0)
                break;
            leidos += static_cast<int>(r);
        }
        EXPECT_EQ(leidos, Eco::RAFAGA);
        return std::chrono::duration_cast<Tiempo>(std::chrono::steady_clock::now() - t0);
    }
};

} // namespace

TEST(RitmoPty, PacedBytesArriveOneCharacterTimeApartAndRepliesTakeTheirTime) {
    const Tiempo c = FORMAT_9600_8N1.charTime();
    const int N = 50;
    Tiempo total{0};
    std::vector<Tiempo> llegadas;
    {
        Servido s(true);
        total = s.rafaga(N);
        s.parar();
        llegadas = s.eco.llegadas;
    }
    ASSERT_EQ(llegadas.size(), static_cast<size_t>(N));
    // Written at once, they reach the unit back to back at the line rate: each
    // no earlier than the line time of those before it, to the microsecond the
    // clock rounds to, and a run of them gains no rounding per character.
    const Tiempo redondeo{1};
    for (size_t i = 1; i < llegadas.size(); ++i) {
        const auto k = static_cast<long long>(i);
        EXPECT_GE(llegadas[i] - llegadas[i - 1], c - redondeo) << i;
        EXPECT_GE(llegadas[i] - llegadas[0], FORMAT_9600_8N1.timeOf(k) - redondeo) << i;
    }
    EXPECT_LE(llegadas.back() - llegadas.front(), FORMAT_9600_8N1.timeOf(N - 1) + redondeo);
    // Nothing is faster than the wire: N characters out, the burst back.
    EXPECT_GE(total, c * (N + Eco::RAFAGA));
}

// An adapter's latency timer holds the burst's first bytes until a full USB
// packet is there, and a short tail until the timer runs out.
TEST(RitmoPty, AnAdaptersLatencyTimerHoldsWhatIsNotAFullPacket) {
    const Tiempo c = FORMAT_9600_8N1.charTime();
    const Tiempo latencia = ms(40);
    Tiempo total{0};
    {
        Servido s(true, latencia);
        total = s.rafaga(1);
    }
    // 100 = 62 + 38: the tail of 38 waits for the timer after its first byte.
    EXPECT_GE(total, c * (1 + PtyBridge::ADAPTER_PACKET + 1) + latencia);
}

// Without pacing the adapter still holds what is not a full packet: the burst's
// tail of 38 bytes comes only when the timer has run out.
TEST(RitmoPty, WithoutPacingTheLatencyTimerStillHoldsTheTail) {
    const Tiempo latencia = ms(40);
    Tiempo total{0};
    {
        Servido s(false, latencia);
        total = s.rafaga(1);
    }
    EXPECT_GE(total, latencia);
}

TEST(RitmoPty, WithoutPacingTheUnitSeesBytesAsTheyAreRead) {
    std::vector<Tiempo> llegadas;
    {
        Servido s(false);
        s.rafaga(50);
        s.parar();
        llegadas = s.eco.llegadas;
    }
    ASSERT_EQ(llegadas.size(), 50u);
    // Bytes read in one go carry one instant: no line time was added.
    int mismos = 0;
    for (size_t i = 1; i < llegadas.size(); ++i)
        mismos += (llegadas[i] - llegadas[i - 1]) < FORMAT_9600_8N1.charTime();
    EXPECT_GT(mismos, 0);
}

#endif
