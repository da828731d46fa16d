#pragma once
// The one Intel HEX builder of the tests: record lines (upper-case, each with the
// checksum that makes its bytes sum to zero) and images built record by record with
// the memory their data records describe.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
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

// Extended segment address record: the segment (address / 16) added to the offsets.
inline std::string hexExtendedSegment(uint16_t segment) {
    return hexRecord(0x02, 0,
                     {static_cast<uint8_t>(segment >> 8), static_cast<uint8_t>(segment & 0xFF)});
}

// End-of-file record (":00000001FF").
inline std::string hexEndRecord() {
    return hexRecord(0x01, 0, {});
}

// n bytes, different for every seed.
inline std::vector<uint8_t> patron(size_t n, uint8_t semilla) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(semilla + i * 13);
    return v;
}

// Data records of n bytes (16 per record) from addr, with byte i = seed + i.
inline std::vector<std::string> registros_datos(uint16_t addr, int n, uint8_t seed) {
    std::vector<std::string> out;
    for (int off = 0; off < n; off += 16) {
        std::vector<uint8_t> d;
        for (int i = off; i < std::min(n, off + 16); ++i)
            d.push_back(static_cast<uint8_t>(seed + i));
        out.push_back(hexRecord(0x00, static_cast<uint16_t>(addr + off), d));
    }
    return out;
}

// The lines with the end record after them.
inline std::vector<std::string> con_fin(std::vector<std::string> v) {
    v.push_back(hexEndRecord());
    return v;
}

// The memory registros_datos(addr, n, seed) describes, placed from base.
inline std::map<uint32_t, uint8_t> bytes_de(uint32_t base, int n, uint8_t seed) {
    std::map<uint32_t, uint8_t> m;
    for (int i = 0; i < n; ++i)
        m[base + static_cast<uint32_t>(i)] = static_cast<uint8_t>(seed + i);
    return m;
}

// Joined lines with CR LF line ends, as the bank images are written.
inline std::string texto_de(const std::vector<std::string>& lineas) {
    std::string t;
    for (const auto& l : lineas)
        t += l + "\r\n";
    return t;
}

inline int total_caracteres(const std::vector<std::string>& lines) {
    int n = 0;
    for (const auto& l : lines)
        n += static_cast<int>(l.size());
    return n;
}

// An image built record by record, with the memory its data records describe.
struct ImagenHex {
    std::vector<std::string> lineas;
    std::map<uint32_t, uint8_t> memoria; // what the data records say, at their addresses
    uint32_t base = 0;                   // added to the offsets of the data records

    ImagenHex& datos(uint16_t dir, const std::vector<uint8_t>& d) {
        lineas.push_back(hexRecord(0x00, dir, d));
        for (size_t i = 0; i < d.size(); ++i)
            memoria[base + dir + static_cast<uint32_t>(i)] = d[i];
        return *this;
    }
    // n records of tam bytes each, one behind the other from dir.
    ImagenHex& seguidos(uint16_t dir, int n, size_t tam, uint8_t semilla) {
        for (int i = 0; i < n; ++i)
            datos(static_cast<uint16_t>(dir + i * tam),
                  patron(tam, static_cast<uint8_t>(semilla + i)));
        return *this;
    }
    ImagenHex& extendida(uint16_t alta) {
        base = static_cast<uint32_t>(alta) << 16;
        lineas.push_back(hexExtendedLinear(alta));
        return *this;
    }
    ImagenHex& segmento(uint16_t seg) {
        base = static_cast<uint32_t>(seg) << 4;
        lineas.push_back(hexExtendedSegment(seg));
        return *this;
    }
    ImagenHex& linea(const std::string& l) {
        lineas.push_back(l);
        return *this;
    }
    ImagenHex& fin() { return linea(hexEndRecord()); }
    int32_t caracteres() const { return total_caracteres(lineas); }
    std::string texto() const { return texto_de(lineas); }
};
