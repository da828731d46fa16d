#include "sim/pty_bridge.h"

#ifndef _WIN32

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

PtyBridge::PtyBridge(SimDevice& device) : device_(device) {}

PtyBridge::~PtyBridge() {
    for (int fd : {master_, slave_, wake_[0], wake_[1]})
        if (fd >= 0)
            ::close(fd);
}

bool PtyBridge::open(std::string& error) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        error = std::string("pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char* name = ::ptsname(master_);
    if (!name) {
        error = std::string("ptsname: ") + std::strerror(errno);
        return false;
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0) {
        error = slavePath_ + ": " + std::strerror(errno);
        return false;
    }
    // Raw from the start: no echo, no line editing, no CR/LF translation, so that
    // the framed protocol's bytes pass as they are even before a program sets
    // the terminal up.
    termios tio{};
    if (::tcgetattr(slave_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(slave_, TCSANOW, &tio);
    }
    if (::pipe(wake_) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    for (int fd : {master_, wake_[0], wake_[1]})
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    logEpoch_ = reloj().now();
    device_.attach(this);
    device_.onOpen(now());
    return true;
}

void PtyBridge::stop() {
    stop_.store(true);
    if (wake_[1] >= 0) {
        const char c = 0;
        [[maybe_unused]] const ssize_t n = ::write(wake_[1], &c, 1);
    }
}

Tiempo PtyBridge::now() const {
    // Inside the device's own work the clock reads the instant the work was due,
    // so that what it schedules from there keeps its intended spacing.
    return inEvent_ ? eventTime_ : reloj().now();
}

void PtyBridge::schedule(Tiempo at, std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(m_);
    events_.emplace(std::make_pair(at.count(), seq_++), std::move(fn));
}

void PtyBridge::sendToHost(const std::vector<uint8_t>& bytes, const LineFormat& fmt) {
    {
        std::lock_guard<std::mutex> lock(m_);
        if (pacing_ || latency_.count() > 0) {
            // Each reply byte follows the one before it on the wire (unpaced: all
            // are there at once, but the adapter may still hold them).
            for (uint8_t b : bytes) {
                const Tiempo end = pacing_ ? unitWire_.next(now(), fmt) : now();
                if (latency_.count() <= 0) {
                    onWire_.push_back({end, end, fmt, b});
                    continue;
                }
                if (held_ == 0 || end > heldUntil_) { // the adapter starts holding anew
                    heldUntil_ = end + latency_;
                    held_ = 0;
                }
                onWire_.push_back({heldUntil_, end, fmt, b});
                if (++held_ == ADAPTER_PACKET) { // a full packet goes at once
                    for (auto it = onWire_.end() - held_; it != onWire_.end(); ++it)
                        it->release = end;
                    held_ = 0;
                }
            }
            return; // run() writes them as they arrive
        }
        out_.insert(out_.end(), bytes.begin(), bytes.end());
        for (uint8_t b : bytes)
            logWire(false, b, now(), now(), fmt);
    }
    flushOut();
}

Tiempo PtyBridge::Ritmo::next(Tiempo t, const LineFormat& f) {
    if (t >= busyUntil || f != fmt) { // the line was idle: a new run starts
        runStart = std::max(t, busyUntil);
        n = 0;
        fmt = f;
    }
    busyUntil = runStart + f.timeOf(++n);
    return busyUntil;
}

void PtyBridge::releaseDue(Tiempo t) {
    std::lock_guard<std::mutex> lock(m_);
    while (!onWire_.empty() && onWire_.front().release <= t) {
        const OnWire& w = onWire_.front();
        out_.push_back(w.b);
        logWire(false, w.b, t, w.end, w.fmt);
        onWire_.pop_front();
    }
}

void PtyBridge::receive(uint8_t b, Tiempo t) {
    if (!pacing_) {
        // Work due before this byte arrived runs first, as it would on a wire.
        runDue(t);
        ++fromHost_;
        logWire(true, b, t, t, device_.format());
        inEvent_ = true;
        eventTime_ = t;
        device_.onByte(b, false, t);
        inEvent_ = false;
        return;
    }
    // The byte left the program's port behind the ones before it and arrives
    // one character time later, at the format the unit listens at.
    const LineFormat fmt = device_.format();
    const Tiempo arrival = hostWire_.next(t, fmt);
    logWire(true, b, t, arrival, fmt);
    schedule(arrival, [this, b, arrival] {
        ++fromHost_;
        device_.onByte(b, false, arrival);
    });
}

Tiempo PtyBridge::nextWake() {
    std::lock_guard<std::mutex> lock(m_);
    Tiempo next = Tiempo::max();
    if (!events_.empty())
        next = Tiempo(events_.begin()->first.first);
    if (!onWire_.empty())
        next = std::min(next, onWire_.front().release);
    return next;
}

bool PtyBridge::flushOut() {
    std::lock_guard<std::mutex> lock(m_);
    while (!out_.empty()) {
        const ssize_t n = ::write(master_, out_.data(), out_.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // EAGAIN: the terminal's buffer is full; the rest goes when it drains.
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        toHost_ += static_cast<unsigned long long>(n);
        out_.erase(out_.begin(), out_.begin() + n);
    }
    return true;
}

void PtyBridge::runDue(Tiempo t) {
    for (;;) {
        std::function<void()> fn;
        Tiempo when{0};
        {
            std::lock_guard<std::mutex> lock(m_);
            if (events_.empty() || events_.begin()->first.first > t.count())
                return;
            auto it = events_.begin();
            when = Tiempo(it->first.first);
            fn = std::move(it->second);
            events_.erase(it);
        }
        inEvent_ = true;
        eventTime_ = when;
        fn();
        inEvent_ = false;
    }
}

bool PtyBridge::run() {
    uint8_t buf[4096];
    while (!stop_.load()) {
        runDue(reloj().now());
        releaseDue(reloj().now());
        flushOut();
        bool pendingOut = false;
        {
            std::lock_guard<std::mutex> lock(m_);
            pendingOut = !out_.empty();
        }
        // Wakes to the microsecond: a paced byte lasts less than a millisecond.
        const Tiempo next = nextWake();
        timespec ts{};
        timespec* timeout = nullptr;
        if (next != Tiempo::max()) {
            const long long wait = std::max<long long>(0, (next - reloj().now()).count());
            ts.tv_sec = static_cast<time_t>(wait / 1000000);
            ts.tv_nsec = static_cast<long>(wait % 1000000) * 1000;
            timeout = &ts;
        }
        pollfd fds[2] = {{master_, static_cast<short>(POLLIN | (pendingOut ? POLLOUT : 0)), 0},
                         {wake_[0], POLLIN, 0}};
        const int r = ::ppoll(fds, 2, timeout, nullptr);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (fds[1].revents & POLLIN) {
            while (::read(wake_[0], buf, sizeof buf) > 0) {
            }
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return false;
            for (ssize_t i = 0; i < n; ++i)
                receive(buf[i], reloj().now());
        } else if (fds[0].revents & (POLLERR | POLLNVAL | POLLHUP)) {
            // The slave side is held open here, so a hang-up means the terminal is gone.
            return false;
        }
        if (fds[0].revents & POLLOUT)
            flushOut();
    }
    closeWireRun(true);
    closeWireRun(false);
    return true;
}

// A line of the wire log:
//   H|U  bytes  bits  baud  first_handled  first_end  last_handled  last_end  head
// H: bytes from the program, U: from the unit; times in microseconds since the
// terminal opened; handled: read from the program (H) or written to it (U); end:
// the byte's last bit is over on the wire; bits: of one character (start, data,
// parity, stop); head: the run's first bytes in hex. A run is bytes of one
// direction back to back; lines come as runs close, not quite in time order.
void PtyBridge::logWire(bool fromHost, uint8_t b, Tiempo handled, Tiempo end, const LineFormat& f) {
    if (!wireLog_)
        return;
    WireRun& run = runs_[fromHost ? 1 : 0];
    if (run.n > 0 && (run.fmt != f || end - run.lastEnd > f.charTime()))
        closeWireRun(fromHost);
    if (run.n == 0) {
        run.fromHost = fromHost;
        run.fmt = f;
        run.firstHandled = handled;
        run.firstEnd = end;
        run.head.clear();
    }
    ++run.n;
    run.lastHandled = handled;
    run.lastEnd = end;
    if (run.head.size() < 24) {
        static const char hex[] = "0123456789ABCDEF";
        run.head += hex[b >> 4];
        run.head += hex[b & 0xF];
    }
}

void PtyBridge::closeWireRun(bool fromHost) {
    WireRun& run = runs_[fromHost ? 1 : 0];
    if (!wireLog_ || run.n == 0)
        return;
    auto us = [this](Tiempo t) { return static_cast<long long>((t - logEpoch_).count()); };
    std::fprintf(wireLog_, "%c %llu %d %d %lld %lld %lld %lld %s\n", fromHost ? 'H' : 'U', run.n,
                 run.fmt.bits(), static_cast<int>(run.fmt.baud), us(run.firstHandled),
                 us(run.firstEnd), us(run.lastHandled), us(run.lastEnd), run.head.c_str());
    run.n = 0;
}

#endif
