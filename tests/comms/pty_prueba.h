#pragma once
// A pseudo-terminal pair standing in for a serial port: the program opens the
// slave by name, the test plays the unit on the master, in raw mode.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class PtyPair {
public:
    PtyPair() {
        int slave = -1;
        char name[256] = {};
        termios raw{};
        ::cfmakeraw(&raw);
        if (::openpty(&master_, &slave, name, &raw, nullptr) != 0)
            return;
        termios t{};
        ::tcgetattr(master_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(master_, TCSANOW, &t);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        ::close(slave); // the program under test opens it by name
        slaveName_ = name;
    }
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && !slaveName_.empty(); }
    const std::string& slaveName() const { return slaveName_; }

    bool write(const std::vector<uint8_t>& b) {
        size_t done = 0;
        while (done < b.size()) {
            const ssize_t n = ::write(master_, b.data() + done, b.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else if (!waitFor(POLLOUT, 1000))
                return false;
        }
        return true;
    }
    // Reads until n bytes came or the line stayed silent for quietMs.
    std::vector<uint8_t> read(size_t n, int quietMs = 2000) {
        std::vector<uint8_t> out;
        uint8_t buf[512];
        while (out.size() < n) {
            const ssize_t got = ::read(master_, buf, sizeof buf);
            if (got > 0)
                out.insert(out.end(), buf, buf + got);
            else if (!waitFor(POLLIN, quietMs))
                break;
        }
        return out;
    }
    // Whatever arrives within ms.
    std::vector<uint8_t> readFor(int ms) {
        std::vector<uint8_t> out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        uint8_t buf[512];
        while (std::chrono::steady_clock::now() < end) {
            const ssize_t got = ::read(master_, buf, sizeof buf);
            if (got > 0)
                out.insert(out.end(), buf, buf + got);
            else
                waitFor(POLLIN, 5);
        }
        return out;
    }
    // The far end goes away, as an unplugged adapter does.
    void closeMaster() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

private:
    bool waitFor(short events, int ms) {
        pollfd p{master_, events, 0};
        return ::poll(&p, 1, ms) > 0 && (p.revents & events);
    }
    int master_ = -1;
    std::string slaveName_;
};
