// Writes the sample firmware files into a folder:
//
//   vtr900_gen_samples <folder>
//
// The samples are the files the tests and the demonstration load. They are made by
// this program and never edited by hand, so that anyone can check that the committed
// files are exactly what it produces. Contents come from a fixed-seed generator:
// the same program always writes the same bytes.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

const char* const FIN_LINEA = "\r\n";

// xorshift32: small, deterministic, good enough for filler data.
class Generador {
public:
    explicit Generador(uint32_t semilla) : x_(semilla) {}
    uint8_t byte() {
        x_ ^= x_ << 13;
        x_ ^= x_ >> 17;
        x_ ^= x_ << 5;
        return static_cast<uint8_t>(x_ >> 24);
    }

private:
    uint32_t x_;
};

uint32_t crc32(const std::vector<uint8_t>& datos) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t b : datos) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc >> 1) ^ ((crc & 1u) ? 0xEDB88320u : 0u);
    }
    return ~crc;
}

std::string hex8(uint32_t v) {
    char t[9];
    std::snprintf(t, sizeof t, "%08X", static_cast<unsigned>(v));
    return t;
}

// One Intel HEX record line, checksum included.
std::string registro(uint8_t tipo, uint16_t direccion, const std::vector<uint8_t>& datos) {
    char t[16];
    std::snprintf(t, sizeof t, ":%02X%04X%02X", static_cast<unsigned>(datos.size()),
                  static_cast<unsigned>(direccion), static_cast<unsigned>(tipo));
    std::string linea = t;
    unsigned suma =
        static_cast<unsigned>(datos.size()) + (direccion >> 8) + (direccion & 0xFF) + tipo;
    for (uint8_t b : datos) {
        std::snprintf(t, sizeof t, "%02X", static_cast<unsigned>(b));
        linea += t;
        suma += b;
    }
    std::snprintf(t, sizeof t, "%02X", (0x100u - (suma & 0xFFu)) & 0xFFu);
    return linea + t;
}

std::string direccion_extendida(uint16_t alta) {
    return registro(0x04, 0, {static_cast<uint8_t>(alta >> 8), static_cast<uint8_t>(alta)});
}

struct Banco {
    uint16_t direccion_alta; // extended linear address that opens it
    int bytes;               // data it holds
    int por_registro;        // data bytes per record line
};

struct Imagen {
    std::vector<std::string> lineas; // record lines, end record included
    uint32_t crc1 = 0, crc2 = 0;     // of each bank's data, for header lines 2 and 3
};

// An image of two banks; an ARM image closes with its entry point (a start linear
// address record) before the end record.
Imagen imagen(uint32_t semilla, Banco b1, Banco b2, bool arm) {
    Generador g(semilla);
    Imagen im;
    for (int n = 0; n < 2; ++n) {
        const Banco& b = n == 0 ? b1 : b2;
        im.lineas.push_back(direccion_extendida(b.direccion_alta));
        std::vector<uint8_t> todo;
        for (int dir = 0; dir < b.bytes; dir += b.por_registro) {
            std::vector<uint8_t> datos;
            for (int i = 0; i < b.por_registro && dir + i < b.bytes; ++i)
                datos.push_back(g.byte());
            todo.insert(todo.end(), datos.begin(), datos.end());
            im.lineas.push_back(registro(0x00, static_cast<uint16_t>(dir), datos));
        }
        (n == 0 ? im.crc1 : im.crc2) = crc32(todo);
    }
    if (arm)
        im.lineas.push_back(registro(0x05, 0, {0x08, 0x00, 0x01, 0x31}));
    im.lineas.push_back(registro(0x01, 0, {}));
    return im;
}

Imagen imagen_arm() {
    return imagen(0x0412u, {0x0800, 4096, 32}, {0x6401, 1024, 16}, true);
}
Imagen imagen_xa() {
    return imagen(0x0310u, {0x0000, 2048, 16}, {0x0001, 512, 32}, false);
}
Imagen imagen_i2c() {
    return imagen(0x0205u, {0x0000, 1536, 16}, {0x0001, 256, 32}, false);
}
Imagen imagen_classa() {
    return imagen(0x0306u, {0x0000, 2048, 32}, {0x0001, 384, 16}, false);
}

void lineas(std::string& salida, const std::vector<std::string>& l) {
    for (const std::string& x : l)
        salida += x + FIN_LINEA;
}

// A single firmware file, or a section of a joint file: identification line, two
// CRC lines, file mode, records.
std::string fichero(const std::string& id, const Imagen& im) {
    std::string s;
    lineas(s, {id, hex8(im.crc1), hex8(im.crc2), "HEX"});
    lineas(s, im.lineas);
    return s;
}

std::string modulo_hex() {
    Generador g(0x0102u);
    std::vector<std::string> r;
    std::vector<uint8_t> todo;
    r.push_back(direccion_extendida(0x0000));
    for (int dir = 0; dir < 768; dir += 16) {
        std::vector<uint8_t> datos;
        for (int i = 0; i < 16; ++i)
            datos.push_back(g.byte());
        todo.insert(todo.end(), datos.begin(), datos.end());
        r.push_back(registro(0x00, static_cast<uint16_t>(dir), datos));
    }
    r.push_back(registro(0x01, 0, {}));
    std::string s;
    lineas(s, {"FIRMXYZ-100 0102", hex8(crc32(todo)), hex8(0), "HEX"});
    lineas(s, r);
    return s;
}

// Binary module firmware: the bytes after the header include the frame start byte
// 0xA5 and CR / LF bytes, which a reader must not take for anything but data.
std::string modulo_bin() {
    Generador g(0x0B1Bu);
    std::vector<uint8_t> datos;
    for (int i = 0; i < 1500; ++i) {
        uint8_t b = g.byte();
        if (i % 97 == 0)
            b = 0xA5;
        else if (i % 250 == 13)
            b = '\r';
        else if (i % 250 == 14)
            b = '\n';
        datos.push_back(b);
    }
    std::string s;
    lineas(s, {"FIRMXYZ-100 0102", hex8(crc32(datos)), hex8(0), "BIN"});
    s.append(datos.begin(), datos.end());
    return s;
}

std::string joint() {
    std::string s;
    lineas(s, {"VTR-JOINT 0205 0306 0412", hex8(0), hex8(0), "HEX"});
    s += fichero("FIRMVTR-900_0205", imagen_i2c());
    s += fichero("FIRMVTR-900_0306", imagen_classa());
    s += fichero("FIRMVTR-900_0412", imagen_arm());
    return s;
}

bool escribir(const std::string& carpeta, const std::string& nombre, const std::string& datos) {
    const std::string ruta = carpeta + "/" + nombre;
    std::ofstream f(ruta, std::ios::binary | std::ios::trunc);
    f.write(datos.data(), static_cast<std::streamsize>(datos.size()));
    f.close();
    if (!f) {
        std::fprintf(stderr, "cannot write %s\n", ruta.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::string carpeta = argv[1];
    bool ok = escribir(carpeta, "vtr900_arm_0412.hex", fichero("FIRMVTR-900_0412", imagen_arm()));
    ok = escribir(carpeta, "vtr900_xa_0310.hex", fichero("FIRMVTR-900_0310", imagen_xa())) && ok;
    ok = escribir(carpeta, "vtr900_joint.hex", joint()) && ok;
    ok = escribir(carpeta, "module_xyz100_0102.hex", modulo_hex()) && ok;
    ok = escribir(carpeta, "module_xyz100_0102.bin", modulo_bin()) && ok;
    return ok ? 0 : 1;
}
