#pragma once
// Intel HEX record lines for the images the tests write: upper-case, each with the
// checksum that makes its bytes sum to zero.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// One record: count, address, type, the data, checksum.
inline std::string hexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> b = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                              static_cast<uint8_t>(address & 0xFF), type};
    b.insert(b.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t v : b)
        sum = static_cast<uint8_t>(sum + v);
    b.push_back(static_cast<uint8_t>(0x100 - sum));
    std::string s = ":";
    char h[3];
    for (uint8_t v : b) {
        std::snprintf(h, sizeof h, "%02X", v);
        s += h;
    }
    return s;
}

// Extended linear address record: the upper 16 bits of the addresses that follow.
inline std::string hexExtendedLinear(uint16_t upper) {
    return hexRecord(0x04, 0,
                     {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper & 0xFF)});
}

// End-of-file record (":00000001FF").
inline std::string hexEndRecord() {
    return hexRecord(0x01, 0, {});
}
