#pragma once
// Intel HEX images, read whole and checked before anything reaches a unit: every
// record's syntax, digits, length and checksum, the record types, one end record
// closing the image, and where every data byte lands. The writers and the file
// selection share this one reader, so that what the selection accepted is exactly
// what the writers send.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace intel_hex {

enum TipoRegistro : uint8_t {
    DATOS = 0x00,
    FIN = 0x01,
    SEGMENTO_EXTENDIDO = 0x02, // upper address = value × 16
    INICIO_SEGMENTO = 0x03,    // CS:IP start address: no data, accepted and ignored
    LINEAL_EXTENDIDA = 0x04,   // upper address = value << 16
    INICIO_LINEAL = 0x05,      // EIP start address: no data, accepted and ignored
};

// One record line as the file gives it.
struct Registro {
    int linea = 0; // 1-based line number in the image (0 when read on its own)
    uint8_t tipo = 0;
    uint16_t offset = 0;
    std::vector<uint8_t> datos;
};

// What is wrong with an image: where, and why.
enum class Motivo {
    NoEsRegistro,     // the line does not start with ':'
    DigitoNoHex,      // a character that is not a hexadecimal digit
    Corto,            // fewer characters than the shortest record
    CuentaNoCoincide, // the byte count does not match the line's length
    Checksum,         // the record's checksum is wrong
    TipoDesconocido,  // a record type other than 00..05
    LongitudTipo,     // an address or end record with the wrong byte count
    TrasFin,          // a record after the end record
    SinFin,           // no end record
    Solapa,           // two records place different bytes at one address
    FueraDeMemoria,   // a data byte outside the memory the image is meant for
    SinDatos,         // no data at all
};

struct Fallo {
    int linea = 0; // 1-based; 0 when the fault is not on one line (no end record, no data)
    Motivo motivo = Motivo::NoEsRegistro;
    uint32_t valor = 0;  // the address, byte or type the reason names
    uint32_t valor2 = 0; // a second value: the expected checksum, the other line
};

// The reason in plain words, with its line number ("line 12: checksum is 3F, should
// be 40"), in a language of the message table (0 French, 1 Spanish, 2 English,
// 3 Italian; any other gives English).
std::string describir(const Fallo& fallo, int idioma);

// A run of consecutive bytes of the image.
struct Tramo {
    uint32_t direccion = 0;
    std::vector<uint8_t> datos;
    uint64_t fin() const { return uint64_t{direccion} + datos.size(); }
};

// Where one data record's bytes landed, for messages that must name a line.
struct Pieza {
    uint32_t direccion = 0;
    uint32_t longitud = 0;
    int linea = 0;
};

struct Imagen {
    std::vector<Tramo> tramos; // sorted by address, adjacent bytes joined into one run
    std::vector<Pieza> piezas; // every data record's place, sorted by address
    int registros_datos = 0;   // data records with at least one byte
    size_t bytes() const;      // data bytes (each address counted once)
    // The byte at an address, or nothing where the image leaves it empty.
    std::optional<uint8_t> byte_en(uint32_t direccion) const;
};

// Reads one record; nothing (and the reason, when asked) when the line is not a
// valid record. A trailing CR and trailing blanks are allowed.
std::optional<Registro> leer_registro(std::string_view linea, Fallo* fallo = nullptr);

// Reads a whole image: lines ended by LF, CR LF or CR; blank lines are passed over.
// Data records land at the upper address of the last extended linear (04) or
// extended segment (02) record before them (0 before any), within their 64 KiB
// segment. Exactly one end record, after every other record. Two records that put
// different bytes at one address make the image invalid; the same bytes twice do
// not. False, with the first fault, when the image is not valid.
bool leer_imagen(std::string_view texto, Imagen& imagen, Fallo& fallo);

// Checks that every data byte lies in [desde, hasta] and that there is data at all;
// false with the first byte outside (its line and address) or SinDatos.
bool dentro_de(const Imagen& imagen, uint32_t desde, uint32_t hasta, Fallo& fallo);

} // namespace intel_hex
