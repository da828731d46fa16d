#pragma once
// Serves a simulated device on a pseudo-terminal, so that a real program can open
// the terminal's slave side as a serial port and talk to the device over a tty.
//
// The bridge is the device's UnitLink: bytes the program writes reach the device
// as they are read from the master side, the device's replies are written to the
// master side, and the device's scheduled work runs on the real clock. A
// pseudo-terminal carries no modem lines and no line rate, so hasModemLines() is
// false: the device cannot see DTR and nothing is garbled by a format mismatch.
//
// With pacing on, the pseudo-terminal behaves like a wire at the unit's current
// format: a byte the program writes reaches the unit one character time (start,
// data, parity and stop bits) after the one before it, and the unit's replies
// reach the program at the same rate, so that a load over it takes the time it
// would over a real line.
//
// One thread (the one that calls run()) drives everything: reads, scheduled work
// and the device's callbacks; stop() may be called from any thread, and from a
// signal handler.

#include "sim/linea_simulada.h"

#include <atomic>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class PtyBridge final : public UnitLink {
public:
    explicit PtyBridge(SimDevice& device);
    ~PtyBridge() override;
    PtyBridge(const PtyBridge&) = delete;
    PtyBridge& operator=(const PtyBridge&) = delete;

    // Creates the pseudo-terminal (raw mode) and attaches the device. False with
    // a reason in error when the system refuses.
    bool open(std::string& error);
    // The path a program opens as its serial port ("/dev/pts/N").
    std::string slavePath() const { return slavePath_; }

    // Bytes take their line time in both directions (off: as fast as the terminal
    // carries them). Set before run().
    void setPacing(bool on) { pacing_ = on; }
    // A USB adapter's latency timer (with or without pacing). The adapter holds the unit's
    // bytes until the timer runs out after the first one it holds, or until it
    // holds a full USB packet (62 bytes); 0 (the default): passed on at once, as a
    // UART or an adapter in low-latency mode does. Set before run().
    void setLatencyTimer(Tiempo t) { latency_ = t; }
    static constexpr int ADAPTER_PACKET = SimLine::ADAPTER_PACKET;
    // Writes the wire's traffic to f as it goes, one line per run of bytes in one
    // direction (see logWire), for a benchmark to count and time what the line
    // carried. nullptr (the default): no log. Set before run(); f stays the caller's.
    void setWireLog(std::FILE* f) { wireLog_ = f; }

    // Serves until stop() is called. Returns false when the terminal failed.
    bool run();
    // Async-signal-safe.
    void stop();

    // Bytes read from the master side so far (diagnostics).
    unsigned long long bytesFromHost() const { return fromHost_.load(); }
    unsigned long long bytesToHost() const { return toHost_.load(); }

    // ---- UnitLink
    Tiempo now() const override;
    void sendToHost(const std::vector<uint8_t>& bytes, const LineFormat& fmt) override;
    void schedule(Tiempo at, std::function<void()> fn) override;
    bool hasModemLines() const override { return false; }

private:
    // Runs the work due by t, each at its own time; returns when none is left.
    void runDue(Tiempo t);
    bool flushOut();
    // Paced replies whose last bit has gone by t join the bytes to write.
    void releaseDue(Tiempo t);
    // A byte read from the program, delivered to the unit at its arrival.
    void receive(uint8_t b, Tiempo t);
    // When run() must next wake (max() for nothing pending).
    Tiempo nextWake();
    // One byte on the wire for the log: `handled` is when the bridge read it from
    // the program (host) or wrote it to the program (unit), `end` when its last
    // bit is over at the format `f`. Each direction has its run: a byte that does
    // not follow the run's last one back to back, or comes at another format,
    // closes it (the two directions overlap where the unit echoes).
    void logWire(bool fromHost, uint8_t b, Tiempo handled, Tiempo end, const LineFormat& f);
    void closeWireRun(bool fromHost);

    SimDevice& device_;
    int master_ = -1;
    int slave_ = -1; // kept open so that a program closing its side is no hang-up
    int wake_[2] = {-1, -1};
    std::string slavePath_;

    mutable std::mutex m_;
    std::multimap<std::pair<long long, unsigned long long>, std::function<void()>> events_;
    unsigned long long seq_ = 0;
    std::vector<uint8_t> out_; // replies not yet taken by the terminal
    // Paced replies still on the wire: when the program may have each (its last
    // bit over, or the adapter's latency timer out), when its last bit is over,
    // its character time.
    struct OnWire {
        Tiempo release;
        Tiempo end;
        LineFormat fmt;
        uint8_t b;
    };
    std::deque<OnWire> onWire_;
    // One direction of the wire: when its last character is over. Characters
    // sent back to back end at the exact line time of their run, so that a long
    // run does not gain the rounding of every character time.
    struct Ritmo {
        Tiempo busyUntil{0};
        Tiempo runStart{0};
        long long n = 0;
        LineFormat fmt;
        // The end of a character at f that starts at t or when the last one is over.
        Tiempo next(Tiempo t, const LineFormat& f);
    };
    Ritmo unitWire_; // the unit's replies
    Ritmo hostWire_; // the program's bytes
    bool pacing_ = false;
    Tiempo latency_{0};
    Tiempo heldUntil_{-1}; // when the adapter passes on what it holds
    int held_ = 0;         // bytes it holds (the last ones on onWire_)
    bool inEvent_ = false; // only touched by the driving thread
    Tiempo eventTime_{0};

    // The wire log's run in progress (touched by the driving thread only).
    struct WireRun {
        bool fromHost = false;
        unsigned long long n = 0;
        LineFormat fmt;
        Tiempo firstHandled{0}, firstEnd{0}, lastHandled{0}, lastEnd{0};
        std::string head; // its first bytes, in hex
    };
    std::FILE* wireLog_ = nullptr;
    WireRun runs_[2]; // from the unit, from the program
    Tiempo logEpoch_{0};

    std::atomic<bool> stop_{false};
    std::atomic<unsigned long long> fromHost_{0};
    std::atomic<unsigned long long> toHost_{0};
};
