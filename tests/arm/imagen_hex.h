#pragma once
// Intel HEX images written by the tests, with the flash contents their data
// records describe.

#include "support/hex_records.h"

#include <QTemporaryDir>

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

inline std::vector<uint8_t> patron(size_t n, uint8_t semilla) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(semilla + i * 13);
    return v;
}

struct ImagenHex {
    std::vector<std::string> lineas;
    std::map<uint32_t, uint8_t> memoria; // what the data records say, at their addresses
    uint32_t alta = 0;

    ImagenHex& datos(uint16_t dir, const std::vector<uint8_t>& d) {
        lineas.push_back(hexRecord(0x00, dir, d));
        for (size_t i = 0; i < d.size(); ++i)
            memoria[(alta << 16) + dir + static_cast<uint32_t>(i)] = d[i];
        return *this;
    }
    // n records of tam bytes each, one behind the other from dir.
    ImagenHex& seguidos(uint16_t dir, int n, size_t tam, uint8_t semilla) {
        for (int i = 0; i < n; ++i)
            datos(static_cast<uint16_t>(dir + i * tam),
                  patron(tam, static_cast<uint8_t>(semilla + i)));
        return *this;
    }
    ImagenHex& extendida(uint16_t a) {
        alta = a;
        lineas.push_back(hexExtendedLinear(a));
        return *this;
    }
    ImagenHex& linea(const std::string& l) {
        lineas.push_back(l);
        return *this;
    }
    ImagenHex& fin() { return linea(hexEndRecord()); }
    int32_t caracteres() const {
        int32_t n = 0;
        for (const auto& l : lineas)
            n += static_cast<int32_t>(l.size());
        return n;
    }
    // Written with CR LF, as the images prepared from the firmware files are.
    std::string escribir(const QTemporaryDir& dir, const std::string& nombre = "FIRMB1.HEX") const {
        const std::string ruta = dir.filePath(QString::fromStdString(nombre)).toStdString();
        std::ofstream f(ruta, std::ios::binary);
        for (const auto& l : lineas)
            f << l << "\r\n";
        return ruta;
    }
};
