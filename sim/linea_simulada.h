#pragma once
// The simulated serial line between the host's port and the simulated unit.
//
// It models the wire as a real one behaves: a byte accepted for sending is in
// flight for its line time at the current format before the far end receives it;
// emptying the transmit buffer discards what is still in flight; a format change
// while bytes are in flight garbles them; a byte sent while the two ends' formats
// differ arrives garbled. It records every byte with its arrival time, every DTR
// change and every format change, so tests assert on the wire.
//
// Time comes from the process time source (reloj()). Events (byte arrivals, the
// unit's scheduled work) run lazily, in time order, whenever the host touches the
// line or waits on it; with the simulated clock a wait jumps straight to the next
// event. All methods are thread-safe (the window's thread runs the initial reset,
// the worker the rest, a test thread reads the records).

#include "common/reloj.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct LineFormat {
    int32_t baud = 9600;
    uint8_t dataBits = 8;
    uint8_t stopBits = 1;
    char parity = 'N';

    bool operator==(const LineFormat& o) const {
        return baud == o.baud && dataBits == o.dataBits && stopBits == o.stopBits &&
               parity == o.parity;
    }
    bool operator!=(const LineFormat& o) const { return !(*this == o); }
    // Time one character occupies the wire: start bit, data, parity, stop bits.
    Tiempo charTime() const;
    int bits() const { return 1 + dataBits + (parity == 'N' ? 0 : 1) + stopBits; }
    // Time n characters in a row occupy the wire, rounded up to the microsecond
    // once (n times charTime() would add n roundings).
    Tiempo timeOf(long long n) const;
    std::string toString() const; // "19200 8N1"
};

inline const LineFormat FORMAT_19200_8N1{19200, 8, 1, 'N'};
inline const LineFormat FORMAT_9600_8N1{9600, 8, 1, 'N'};
inline const LineFormat FORMAT_115200_8E1{115200, 8, 1, 'E'};

// What a receiver makes of a character sent at another format.
uint8_t garble(uint8_t b);

struct ByteRecord {
    Tiempo sent;    // accepted for sending (host) or sent (unit)
    Tiempo arrived; // received by the far end
    bool fromHost;
    uint8_t value;    // as sent
    uint8_t received; // as the far end got it
    bool garbled;
    bool discarded; // emptied from the transmit buffer before it arrived
};
struct DtrRecord {
    Tiempo t;
    bool asserted;
};
struct FormatRecord {
    Tiempo t;
    LineFormat format;
};

class UnitLink;

// The unit side of a line: what the simulated unit uses to talk back and to
// schedule its own work. SimLine implements it, and so does the pseudo-terminal
// bridge of the companion program.
class UnitLink {
public:
    virtual ~UnitLink() = default;
    virtual Tiempo now() const = 0;
    // Sends bytes to the host at the unit's format, after anything still in flight.
    virtual void sendToHost(const std::vector<uint8_t>& bytes, const LineFormat& fmt) = 0;
    // Runs fn at time at (on whichever thread is then driving the line).
    virtual void schedule(Tiempo at, std::function<void()> fn) = 0;
    // False over a pseudo-terminal: there is no DTR and no line rate to check.
    virtual bool hasModemLines() const { return true; }
};

// The far end of the line.
class SimDevice {
public:
    virtual ~SimDevice() = default;
    virtual void attach(UnitLink* link) = 0;
    // The format the device's receiver and transmitter use now.
    virtual LineFormat format() const = 0;
    // A character arrived (garbled: it was sent at another format or was cut by a
    // format change on the way).
    virtual void onByte(uint8_t b, bool garbled, Tiempo t) = 0;
    virtual void onDtr(bool asserted, Tiempo t) = 0;
    // The host opened or closed its port.
    virtual void onOpen(Tiempo /*t*/) {}
    virtual void onClose(Tiempo /*t*/) {}
};

class SimLine final : public UnitLink {
public:
    explicit SimLine(SimDevice* device);
    ~SimLine() override;

    // ---- faults of the host side, as data
    struct Faults {
        bool refuseOpen = false;  // the port does not exist / cannot be opened
        bool inUse = false;       // another program holds it
        bool neverDrains = false; // the transmitter is stuck: written bytes never leave
        Tiempo unplugAt{-1};      // the adapter disappears at this time (< 0: never)
    };
    void setFaults(const Faults& f);

    // ---- the host's adapter
    // A USB serial adapter's latency timer: it holds the unit's bytes until the
    // timer runs out after the first one it holds, or until it holds a full USB
    // packet, and only then passes them on to the host. 0 (the default): passed
    // on as they arrive, as a UART or an adapter in low-latency mode does.
    static constexpr int ADAPTER_PACKET = 62;
    void setLatencyTimer(Tiempo t);

    // ---- host side (used by the serial adapter)
    bool hostOpen();
    void hostClose();
    bool hostIsOpen() const;
    bool hostFailed() const; // unplugged
    void hostSetFormat(const LineFormat& f);
    LineFormat hostFormat() const;
    void hostSetBufferSizes(int32_t rx, int32_t tx);
    bool hostWrite(uint8_t b);
    bool hostRead(uint8_t& b);
    bool hostTxReady() const;
    void hostClearRx();
    void hostClearTx();
    void hostSetDtr(bool asserted);
    void hostSetRts(bool on);
    bool hostWaitRx(Tiempo max);
    bool hostWaitTxReady(Tiempo max);
    bool hostDrain(Tiempo max);

    // ---- UnitLink
    Tiempo now() const override;
    void sendToHost(const std::vector<uint8_t>& bytes, const LineFormat& fmt) override;
    void schedule(Tiempo at, std::function<void()> fn) override;

    // ---- records (copies)
    std::vector<ByteRecord> bytes() const;
    std::vector<uint8_t> bytesFromHost(bool includeGarbled = true) const;
    std::vector<DtrRecord> dtrHistory() const;
    std::vector<FormatRecord> formatHistory() const;
    bool dtrAsserted() const;
    bool rtsOn() const;
    void clearRecords();
    // Runs every event due by now (tests call it before reading the unit's state).
    void pump();

private:
    void pumpLocked(Tiempo now);
    // A byte of the unit's has arrived at the host's adapter (record idx of
    // records generation rgen): to the receive buffer now, or held.
    void adapterTakeLocked(uint8_t v, size_t idx, unsigned long long rgen, Tiempo t);
    // What the adapter holds goes to the receive buffer.
    void adapterPassOnLocked();
    void adapterDropLocked();
    void checkUnplugLocked(Tiempo now);
    Tiempo nextEventLocked() const;
    bool hasModemLinesForFormat() const { return true; }
    // Waits on the time source until pred holds or max passes; lock released while
    // sleeping.
    bool waitUntil(std::unique_lock<std::recursive_mutex>& lock, Tiempo max,
                   const std::function<bool()>& pred);

    SimDevice* device_;
    mutable std::recursive_mutex m_;
    std::multimap<std::pair<long long, unsigned long long>, std::function<void()>> events_;
    unsigned long long seq_ = 0;

    Faults faults_;
    bool open_ = false;
    bool failed_ = false;
    LineFormat hostFmt_;
    unsigned long long fmtEpoch_ = 0; // bumped by every host format change
    int32_t rxSize_ = 15000;
    int32_t txSize_ = 15000;
    std::deque<uint8_t> rx_;
    Tiempo txBusyUntil_{0};
    unsigned long long txGen_ = 0; // bumped when the transmit buffer is emptied
    int txInFlight_ = 0;
    Tiempo unitBusyUntil_{0};
    struct Held {
        uint8_t v;
        size_t idx;
        unsigned long long rgen;
    };
    Tiempo latency_{0};
    std::vector<Held> held_;         // bytes the adapter holds
    unsigned long long heldGen_ = 0; // bumped when they are passed on or dropped
    bool dtr_ = true;
    bool rts_ = true;

    std::vector<ByteRecord> records_;
    unsigned long long recordsGen_ = 0; // bumped by clearRecords
    std::vector<DtrRecord> dtrRecords_;
    std::vector<FormatRecord> fmtRecords_;
};
