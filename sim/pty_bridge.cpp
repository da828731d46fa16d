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
        if (pacing_) {
            // Each reply byte follows the one before it on the wire.
            const Tiempo c = fmt.charTime();
            Tiempo end = std::max(now(), unitBusyUntil_);
            for (uint8_t b : bytes) {
                end += c;
                if (latency_.count() <= 0) {
                    onWire_.emplace_back(end, b);
                    continue;
                }
                if (held_ == 0 || end > heldUntil_) { // the adapter starts holding anew
                    heldUntil_ = end + latency_;
                    held_ = 0;
                }
                onWire_.emplace_back(heldUntil_, b);
                if (++held_ == ADAPTER_PACKET) { // a full packet goes at once
                    for (auto it = onWire_.end() - held_; it != onWire_.end(); ++it)
                        it->first = end;
                    held_ = 0;
                }
            }
            unitBusyUntil_ = end;
            return; // run() writes them as they arrive
        }
        out_.insert(out_.end(), bytes.begin(), bytes.end());
    }
    flushOut();
}

void PtyBridge::releaseDue(Tiempo t) {
    std::lock_guard<std::mutex> lock(m_);
    while (!onWire_.empty() && onWire_.front().first <= t) {
        out_.push_back(onWire_.front().second);
        onWire_.pop_front();
    }
}

void PtyBridge::receive(uint8_t b, Tiempo t) {
    if (!pacing_) {
        // Work due before this byte arrived runs first, as it would on a wire.
        runDue(t);
        ++fromHost_;
        inEvent_ = true;
        eventTime_ = t;
        device_.onByte(b, false, t);
        inEvent_ = false;
        return;
    }
    // The byte left the program's port behind the ones before it and arrives
    // one character time later, at the format the unit listens at.
    const Tiempo arrival = std::max(t, hostBusyUntil_) + device_.format().charTime();
    hostBusyUntil_ = arrival;
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
        next = std::min(next, onWire_.front().first);
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
    return true;
}

#endif
