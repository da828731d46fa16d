#pragma once
// The framed exchanges and transfers run on the test's thread against the
// simulated unit's running software on port 1 (no worker), with the trace lines of
// the port in the rig's queue.

#include "support/rig_procedimientos.h"

#include <string>
#include <vector>

struct LinkRig : RigProcedimientos {
    static constexpr uint8_t kPort = 1;
    explicit LinkRig(SimUnit::Controller c = SimUnit::Controller::ARM)
        : RigProcedimientos(c, kPort, true) {}
    // The CRC the transfer reported, as the recorder logs it.
    std::string crcReported() const {
        const auto c = rec.con("crc:");
        return c.empty() ? std::string() : c.back();
    }
};

inline std::string crcText(uint32_t crc) {
    return Grabadora::hex8(crc);
}

// Frames of the transfer with a given sub-command.
inline std::vector<SimRunningSoftware::Frame> framesWithSub(const SimRunningSoftware::Records& r,
                                                            uint8_t sub) {
    std::vector<SimRunningSoftware::Frame> out;
    for (const auto& f : r.frames)
        if (f.command == COMANDO_COMANDO && !f.payload.empty() && f.payload[0] == sub)
            out.push_back(f);
    return out;
}

inline uint32_t be32(const std::vector<uint8_t>& p, size_t pos) {
    return static_cast<uint32_t>(p[pos]) << 24 | static_cast<uint32_t>(p[pos + 1]) << 16 |
           static_cast<uint32_t>(p[pos + 2]) << 8 | p[pos + 3];
}
