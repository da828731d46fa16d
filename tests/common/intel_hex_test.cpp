// The one Intel HEX reader: what it refuses, and where it puts the bytes it accepts.
#include "common/intel_hex.h"
#include "support/hex_records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace intel_hex;

namespace {

std::string lines(const std::vector<std::string>& ls, const std::string& eol = "\r\n") {
    std::string s;
    for (const auto& l : ls)
        s += l + eol;
    return s;
}

// Every byte of the image as (address, value), in address order.
std::vector<std::pair<uint32_t, uint8_t>> bytesOf(const Imagen& img) {
    std::vector<std::pair<uint32_t, uint8_t>> out;
    for (const Tramo& t : img.tramos)
        for (size_t i = 0; i < t.datos.size(); ++i)
            out.emplace_back(t.direccion + static_cast<uint32_t>(i), t.datos[i]);
    return out;
}

TEST(IntelHexRecord, RefusesEveryKindOfDamagedLine) {
    const std::string good = hexRecord(0x00, 0x1234, {0x01, 0x02, 0x03});
    ASSERT_TRUE(leer_registro(good));
    std::string badSum = good;
    badSum.back() = badSum.back() == '0' ? '1' : '0';
    std::string nonHex = good;
    nonHex[11] = 'G';
    const struct {
        const char* what;
        std::string line;
        Motivo motivo;
    } cases[] = {
        {"no colon", good.substr(1), Motivo::NoEsRegistro},
        {"empty", "", Motivo::NoEsRegistro},
        {"non-hex digit", nonHex, Motivo::DigitoNoHex},
        {"NUL byte", good.substr(0, 9) + std::string(1, '\0') + good.substr(10),
         Motivo::DigitoNoHex},
        {"shorter than any record", ":0000", Motivo::Corto},
        {"count longer than the line", ":05123400010203" + good.substr(good.size() - 2),
         Motivo::CuentaNoCoincide},
        {"count shorter than the line", good + "00", Motivo::CuentaNoCoincide},
        {"wrong checksum", badSum, Motivo::Checksum},
        {"unknown type", hexRecord(0x06, 0, {}), Motivo::TipoDesconocido},
        {"end record with data", hexRecord(0x01, 0, {0x00}), Motivo::LongitudTipo},
        {"linear address of three bytes", hexRecord(0x04, 0, {0, 1, 2}), Motivo::LongitudTipo},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fallo f;
        EXPECT_FALSE(leer_registro(c.line, &f));
        EXPECT_EQ(f.motivo, c.motivo);
    }
}

TEST(IntelHexRecord, ReadsFieldsAndAllowsLineEndAndLowerCase) {
    const std::string rec = hexRecord(0x00, 0xABCD, {0xDE, 0xAD});
    std::string lower = rec;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& line : {rec + "\r", rec + " ", lower}) {
        const auto r = leer_registro(line);
        ASSERT_TRUE(r) << line;
        EXPECT_EQ(r->tipo, DATOS);
        EXPECT_EQ(r->offset, 0xABCD);
        EXPECT_EQ(r->datos, (std::vector<uint8_t>{0xDE, 0xAD}));
    }
}

TEST(IntelHexImage, PlacesDataByTheAddressesTheFileGives) {
    // Two pieces under one upper address with a gap, out of address order, then a
    // segment address (0x1000 × 16 = 0x10000) and an odd count next to its neighbour.
    const std::string text = lines({
        hexExtendedLinear(0x0800),
        hexRecord(0x00, 0x0100, {0x11, 0x12}),
        hexRecord(0x00, 0x0000, {0x01, 0x02, 0x03}),
        hexRecord(0x00, 0x0003, {0x04}),
        hexRecord(0x02, 0, {0x10, 0x00}),
        hexRecord(0x00, 0x0010, {0xAA}),
        hexRecord(0x05, 0, {0x08, 0x00, 0x01, 0x00}), // start address: no data
        hexEndRecord(),
    });
    Imagen img;
    Fallo f;
    ASSERT_TRUE(leer_imagen(text, img, f)) << describir(f, 2);
    const std::vector<std::pair<uint32_t, uint8_t>> want = {
        {0x00010010, 0xAA}, {0x08000000, 0x01}, {0x08000001, 0x02}, {0x08000002, 0x03},
        {0x08000003, 0x04}, {0x08000100, 0x11}, {0x08000101, 0x12},
    };
    EXPECT_EQ(bytesOf(img), want);
    ASSERT_EQ(img.tramos.size(), 3u); // adjacent records joined, gaps kept
    EXPECT_EQ(img.bytes(), 7u);
    EXPECT_EQ(img.registros_datos, 4);
    EXPECT_EQ(img.byte_en(0x08000003), 0x04);
    EXPECT_FALSE(img.byte_en(0x08000004));
    EXPECT_FALSE(img.byte_en(0x00000000));
}

TEST(IntelHexImage, DataBeforeAnyAddressRecordLandsInTheFirstSegment) {
    Imagen img;
    Fallo f;
    ASSERT_TRUE(leer_imagen(lines({hexRecord(0, 0x0020, {0x55}), hexEndRecord()}), img, f));
    EXPECT_EQ(bytesOf(img), (std::vector<std::pair<uint32_t, uint8_t>>{{0x20, 0x55}}));
    // ...which an image meant for flash at 0x08000000 does not accept.
    EXPECT_FALSE(dentro_de(img, 0x08000000, 0xFFFFFFFF, f));
    EXPECT_EQ(f.motivo, Motivo::FueraDeMemoria);
    EXPECT_EQ(f.linea, 1);
    EXPECT_TRUE(dentro_de(img, 0, 0xFFFF, f));
}

TEST(IntelHexImage, ARecordRunningPastItsSegmentWrapsToTheSegmentStart) {
    Imagen img;
    Fallo f;
    ASSERT_TRUE(leer_imagen(
        lines({hexExtendedLinear(0x0001), hexRecord(0, 0xFFFF, {0x01, 0x02}), hexEndRecord()}), img,
        f));
    EXPECT_EQ(bytesOf(img),
              (std::vector<std::pair<uint32_t, uint8_t>>{{0x00010000, 0x02}, {0x0001FFFF, 0x01}}));
}

TEST(IntelHexImage, LineEndsOfEveryKindAndBlankLines) {
    for (const std::string eol : {"\n", "\r\n", "\r"}) {
        Imagen img;
        Fallo f;
        const std::string text =
            lines({hexRecord(0, 0, {1}), "", hexRecord(0, 1, {2}), hexEndRecord(), ""}, eol);
        ASSERT_TRUE(leer_imagen(text, img, f)) << describir(f, 2);
        EXPECT_EQ(img.bytes(), 2u);
    }
    // The last line needs no line end.
    Imagen img;
    Fallo f;
    EXPECT_TRUE(leer_imagen(hexRecord(0, 0, {1}) + "\n" + hexEndRecord(), img, f));
}

TEST(IntelHexImage, RefusesImagesThatCannotBeWrittenAsTheyStand) {
    const std::string d0 = hexRecord(0, 0x0000, {1, 2, 3, 4});
    const struct {
        const char* what;
        std::string text;
        Motivo motivo;
        int linea;
    } cases[] = {
        {"no end record", lines({d0}), Motivo::SinFin, 0},
        {"empty text", "", Motivo::SinFin, 0},
        {"data after the end record", lines({d0, hexEndRecord(), d0}), Motivo::TrasFin, 3},
        {"two end records", lines({d0, hexEndRecord(), hexEndRecord()}), Motivo::TrasFin, 3},
        {"a damaged line names its number", lines({d0, "", ":zz", hexEndRecord()}),
         Motivo::DigitoNoHex, 3},
        {"different bytes at one address",
         lines({d0, hexRecord(0, 0x0002, {3, 9}), hexEndRecord()}), Motivo::Solapa, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Imagen img;
        Fallo f;
        EXPECT_FALSE(leer_imagen(c.text, img, f));
        EXPECT_EQ(f.motivo, c.motivo);
        EXPECT_EQ(f.linea, c.linea);
    }
}

TEST(IntelHexImage, TheSameBytesTwiceAreAccepted) {
    Imagen img;
    Fallo f;
    ASSERT_TRUE(leer_imagen(
        lines({hexRecord(0, 0, {1, 2, 3, 4}), hexRecord(0, 2, {3, 4, 5}), hexEndRecord()}), img,
        f));
    EXPECT_EQ(bytesOf(img),
              (std::vector<std::pair<uint32_t, uint8_t>>{{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}}));
}

TEST(IntelHexImage, AnImageWithoutDataIsNotAnImageToWrite) {
    Imagen img;
    Fallo f;
    ASSERT_TRUE(leer_imagen(lines({hexExtendedLinear(0x0800), hexEndRecord()}), img, f));
    EXPECT_FALSE(dentro_de(img, 0, 0xFFFFFFFF, f));
    EXPECT_EQ(f.motivo, Motivo::SinDatos);
}

TEST(IntelHexImage, ReasonsNameTheLineInEveryLanguage) {
    Fallo f;
    f.linea = 12;
    f.motivo = Motivo::Checksum;
    f.valor = 0x3F;
    f.valor2 = 0x40;
    EXPECT_EQ(describir(f, 2), "line 12: checksum is 3F, should be 40");
    for (int idioma = 0; idioma < 4; ++idioma) {
        const std::string t = describir(f, idioma);
        EXPECT_NE(t.find("12"), std::string::npos) << t;
        EXPECT_NE(t.find("3F"), std::string::npos) << t;
    }
    f.linea = 0;
    f.motivo = Motivo::SinFin;
    EXPECT_EQ(describir(f, 2), "no end record (the file is incomplete)");
}

} // namespace
