#include "sim/linea_simulada.h"

#include <algorithm>
#include <cstdio>

Tiempo LineFormat::charTime() const {
    return timeOf(1);
}

Tiempo LineFormat::timeOf(long long n) const {
    const long long b = baud > 0 ? baud : 9600;
    return Tiempo((n * bits() * 1000000LL + b - 1) / b);
}

std::string LineFormat::toString() const {
    char s[32];
    std::snprintf(s, sizeof s, "%d %d%c%d", static_cast<int>(baud), dataBits, parity, stopBits);
    return s;
}

uint8_t garble(uint8_t b) {
    return static_cast<uint8_t>((b * 7 + 0x35) & 0xFF);
}

SimLine::SimLine(SimDevice* device) : device_(device) {
    if (device_)
        device_->attach(this);
}

SimLine::~SimLine() = default;

void SimLine::setFaults(const Faults& f) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    faults_ = f;
}

namespace {
thread_local const void* t_driving = nullptr; // the line whose event is running
thread_local Tiempo t_eventTime{0};
} // namespace

Tiempo SimLine::now() const {
    if (t_driving == this)
        return t_eventTime;
    return reloj().now();
}

void SimLine::schedule(Tiempo at, std::function<void()> fn) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    events_.emplace(std::make_pair(at.count(), seq_++), std::move(fn));
}

Tiempo SimLine::nextEventLocked() const {
    if (events_.empty())
        return Tiempo::max();
    return Tiempo(events_.begin()->first.first);
}

void SimLine::checkUnplugLocked(Tiempo t) {
    if (open_ && !failed_ && faults_.unplugAt.count() >= 0 && t >= faults_.unplugAt)
        failed_ = true;
}

void SimLine::pumpLocked(Tiempo t) {
    const void* prevDriving = t_driving;
    const Tiempo prevTime = t_eventTime;
    while (!events_.empty() && events_.begin()->first.first <= t.count()) {
        auto it = events_.begin();
        auto fn = std::move(it->second);
        const Tiempo when(it->first.first);
        events_.erase(it);
        t_driving = this;
        t_eventTime = when;
        fn();
    }
    t_driving = prevDriving;
    t_eventTime = prevTime;
    checkUnplugLocked(t);
}

void SimLine::pump() {
    std::lock_guard<std::recursive_mutex> lock(m_);
    pumpLocked(reloj().now());
}

bool SimLine::waitUntil(std::unique_lock<std::recursive_mutex>& lock, Tiempo max,
                        const std::function<bool()>& pred) {
    const Tiempo deadline = reloj().now() + std::max(max, Tiempo(0));
    for (;;) {
        pumpLocked(reloj().now());
        if (pred())
            return true;
        const Tiempo t = reloj().now();
        if (t >= deadline)
            return false;
        Tiempo next = std::min(nextEventLocked(), deadline);
        if (faults_.unplugAt.count() >= 0 && faults_.unplugAt > t)
            next = std::min(next, faults_.unplugAt);
        lock.unlock();
        reloj().sleepUntil(next);
        lock.lock();
    }
}

bool SimLine::hostOpen() {
    std::lock_guard<std::recursive_mutex> lock(m_);
    const Tiempo t = reloj().now();
    pumpLocked(t);
    if (faults_.refuseOpen || faults_.inUse || open_)
        return false;
    open_ = true;
    failed_ = false;
    rx_.clear();
    // Opening a port asserts DTR and RTS, as the serial drivers do.
    dtr_ = true;
    rts_ = true;
    dtrRecords_.push_back({t, true});
    if (device_) {
        device_->onOpen(t);
        device_->onDtr(true, t);
    }
    return true;
}

void SimLine::hostClose() {
    std::lock_guard<std::recursive_mutex> lock(m_);
    const Tiempo t = reloj().now();
    pumpLocked(t);
    if (!open_)
        return;
    open_ = false;
    rx_.clear();
    adapterDropLocked();
    ++txGen_;
    txInFlight_ = 0;
    txBusyUntil_ = t;
    if (device_)
        device_->onClose(t);
}

bool SimLine::hostIsOpen() const {
    std::lock_guard<std::recursive_mutex> lock(m_);
    return open_;
}

bool SimLine::hostFailed() const {
    std::lock_guard<std::recursive_mutex> lock(m_);
    const_cast<SimLine*>(this)->checkUnplugLocked(reloj().now());
    return failed_;
}

void SimLine::hostSetFormat(const LineFormat& f) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    const Tiempo t = reloj().now();
    pumpLocked(t);
    hostFmt_ = f;
    ++fmtEpoch_;
    fmtRecords_.push_back({t, f});
}

LineFormat SimLine::hostFormat() const {
    std::lock_guard<std::recursive_mutex> lock(m_);
    return hostFmt_;
}

void SimLine::hostSetBufferSizes(int32_t rx, int32_t tx) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    rxSize_ = std::max<int32_t>(rx, 1);
    txSize_ = std::max<int32_t>(tx, 1);
}

bool SimLine::hostWrite(uint8_t b) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    const Tiempo t = reloj().now();
    pumpLocked(t);
    if (!open_ || failed_ || txInFlight_ >= txSize_)
        return false;
    ++txInFlight_;
    if (faults_.neverDrains) {
        // A stuck transmitter (flow control held off): the byte waits in the
        // buffer for good, until the buffer is emptied.
        records_.push_back({t, Tiempo::max(), true, b, b, false, false});
        txBusyUntil_ = Tiempo::max();
        return true;
    }
    const Tiempo start = std::max(t, txBusyUntil_);
    const Tiempo end = start + hostFmt_.charTime();
    txBusyUntil_ = end;
    const size_t idx = records_.size();
    records_.push_back({t, end, true, b, b, false, false});
    const unsigned long long gen = txGen_;
    const unsigned long long epoch = fmtEpoch_;
    const LineFormat fmt = hostFmt_;
    const unsigned long long rgen = recordsGen_;
    events_.emplace(
        std::make_pair(end.count(), seq_++), [this, idx, gen, epoch, fmt, b, end, rgen] {
            ByteRecord dummy{};
            ByteRecord& rec = rgen == recordsGen_ ? records_[idx] : dummy;
            if (gen != txGen_) { // emptied from the transmit buffer on its way
                rec.discarded = true;
                return;
            }
            --txInFlight_;
            bool g = epoch != fmtEpoch_; // the format changed while it was being shifted out
            if (device_ && device_->format() != fmt && hasModemLinesForFormat())
                g = true;
            const uint8_t v = g ? garble(b) : b;
            rec.received = v;
            rec.garbled = g;
            if (device_)
                device_->onByte(v, g, end);
        });
    return true;
}

bool SimLine::hostRead(uint8_t& b) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    pumpLocked(reloj().now());
    if (!open_ || rx_.empty())
        return false;
    b = rx_.front();
    rx_.pop_front();
    return true;
}

bool SimLine::hostTxReady() const {
    std::lock_guard<std::recursive_mutex> lock(m_);
    const_cast<SimLine*>(this)->pumpLocked(reloj().now());
    return open_ && !failed_ && txInFlight_ < txSize_;
}

void SimLine::hostClearRx() {
    std::lock_guard<std::recursive_mutex> lock(m_);
    pumpLocked(reloj().now());
    rx_.clear();
    adapterDropLocked(); // the driver's flush empties the adapter's buffer too
}

void SimLine::hostClearTx() {
    std::lock_guard<std::recursive_mutex> lock(m_);
    const Tiempo t = reloj().now();
    pumpLocked(t);
    ++txGen_;
    txInFlight_ = 0;
    txBusyUntil_ = t;
}

void SimLine::hostSetDtr(bool asserted) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    const Tiempo t = reloj().now();
    pumpLocked(t);
    if (!open_)
        return;
    dtr_ = asserted;
    dtrRecords_.push_back({t, asserted});
    if (device_)
        device_->onDtr(asserted, t);
}

void SimLine::hostSetRts(bool on) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    rts_ = on;
}

bool SimLine::hostWaitRx(Tiempo max) {
    std::unique_lock<std::recursive_mutex> lock(m_);
    return waitUntil(lock, max, [this] { return !rx_.empty() || failed_ || !open_; }) &&
           !rx_.empty();
}

bool SimLine::hostWaitTxReady(Tiempo max) {
    std::unique_lock<std::recursive_mutex> lock(m_);
    // A port that fails or closes ends the wait at once, as a byte that can be taken does.
    return waitUntil(lock, max, [this] { return !open_ || failed_ || txInFlight_ < txSize_; }) &&
           open_ && !failed_;
}

bool SimLine::hostDrain(Tiempo max) {
    std::unique_lock<std::recursive_mutex> lock(m_);
    if (faults_.neverDrains) {
        waitUntil(lock, max, [] { return false; });
        return false;
    }
    return waitUntil(lock, max, [this] { return txBusyUntil_ <= reloj().now() || !open_; });
}

void SimLine::sendToHost(const std::vector<uint8_t>& bytes, const LineFormat& fmt) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    const Tiempo t = now();
    for (uint8_t b : bytes) {
        const Tiempo start = std::max(t, unitBusyUntil_);
        const Tiempo end = start + fmt.charTime();
        unitBusyUntil_ = end;
        const size_t idx = records_.size();
        records_.push_back({start, end, false, b, b, false, false});
        const unsigned long long rgen = recordsGen_;
        events_.emplace(std::make_pair(end.count(), seq_++), [this, idx, fmt, b, rgen] {
            ByteRecord dummy{};
            ByteRecord& rec = rgen == recordsGen_ ? records_[idx] : dummy;
            const bool g = hostFmt_ != fmt && hasModemLinesForFormat();
            const uint8_t v = g ? garble(b) : b;
            rec.received = v;
            rec.garbled = g;
            adapterTakeLocked(v, idx, rgen, now());
        });
    }
}

void SimLine::setLatencyTimer(Tiempo t) {
    std::lock_guard<std::recursive_mutex> lock(m_);
    latency_ = std::max(t, Tiempo(0));
}

void SimLine::adapterTakeLocked(uint8_t v, size_t idx, unsigned long long rgen, Tiempo t) {
    held_.push_back({v, idx, rgen});
    if (latency_.count() <= 0 || static_cast<int>(held_.size()) >= ADAPTER_PACKET) {
        adapterPassOnLocked();
        return;
    }
    if (held_.size() == 1) { // the timer starts with the first byte held
        const unsigned long long gen = heldGen_;
        events_.emplace(std::make_pair((t + latency_).count(), seq_++), [this, gen] {
            if (gen == heldGen_)
                adapterPassOnLocked();
        });
    }
}

void SimLine::adapterPassOnLocked() {
    for (const Held& h : held_) {
        if (open_ && static_cast<int32_t>(rx_.size()) < rxSize_) {
            rx_.push_back(h.v);
        } else if (h.rgen == recordsGen_) {
            records_[h.idx].discarded = true;
        }
    }
    held_.clear();
    ++heldGen_;
}

void SimLine::adapterDropLocked() {
    for (const Held& h : held_)
        if (h.rgen == recordsGen_)
            records_[h.idx].discarded = true;
    held_.clear();
    ++heldGen_;
}

std::vector<ByteRecord> SimLine::bytes() const {
    std::lock_guard<std::recursive_mutex> lock(m_);
    return records_;
}

std::vector<uint8_t> SimLine::bytesFromHost(bool includeGarbled) const {
    std::lock_guard<std::recursive_mutex> lock(m_);
    std::vector<uint8_t> out;
    for (const auto& r : records_)
        if (r.fromHost && !r.discarded && r.arrived <= reloj().now() &&
            (includeGarbled || !r.garbled))
            out.push_back(r.value);
    return out;
}

std::vector<DtrRecord> SimLine::dtrHistory() const {
    std::lock_guard<std::recursive_mutex> lock(m_);
    return dtrRecords_;
}

std::vector<FormatRecord> SimLine::formatHistory() const {
    std::lock_guard<std::recursive_mutex> lock(m_);
    return fmtRecords_;
}

bool SimLine::dtrAsserted() const {
    std::lock_guard<std::recursive_mutex> lock(m_);
    return dtr_;
}

bool SimLine::rtsOn() const {
    std::lock_guard<std::recursive_mutex> lock(m_);
    return rts_;
}

void SimLine::clearRecords() {
    std::lock_guard<std::recursive_mutex> lock(m_);
    records_.clear();
    ++recordsGen_;
    dtrRecords_.clear();
    fmtRecords_.clear();
}
