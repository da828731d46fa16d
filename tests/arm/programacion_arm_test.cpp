// ARM programming end to end through the simulated bootloader, in simulated time.

#include "support/rig_procedimientos.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const std::string NO_DETECTADO = "No detectado VTR-900 (ARM)";

class ProgramacionArm : public ::testing::Test {
protected:
    RigProcedimientos g{SimUnit::Controller::ARM};
    std::string imagen;
    int32_t total = 0;

    SimArmBootloader& bl() { return g.unidad().armBootloader(); }
    void preparar(const ImagenHex& img) {
        imagen = img.texto();
        total = img.caracteres();
    }
    Resultado grabar() { return g.arm().grabar_micro_STM(imagen, total); }
    std::vector<std::string> estados() const { return g.rec.estados(); }
    std::vector<size_t> bloques() {
        std::vector<size_t> v;
        for (const auto& b : bl().blocks())
            v.push_back(b.data.size());
        return v;
    }
    int comandos(uint8_t code) {
        const auto& c = bl().commands();
        return static_cast<int>(
            std::count_if(c.begin(), c.end(), [code](const auto& x) { return x.code == code; }));
    }
    // HW_reset_STM was the last thing on the line: cleared 1 s, asserted, 1050 ms more.
    void esperar_reset_final() {
        const Tiempo fin = g.ahora();
        EXPECT_EQ(cambios_desde(g.linea().dtrHistory(), fin - ms(3050)),
                  (std::vector<CambioDtr>{{1000, BAJA}, {2000, ACTIVA}}));
        EXPECT_EQ(g.modo(), SimUnit::Mode::Application);
    }
};

std::string escrito(int n) {
    return "Written " + std::to_string(n) + " Bytes";
}

struct CasoImagen {
    const char* nombre;
    size_t tam;                  // data bytes per record
    int registros;               // in the first segment (the second has 3)
    std::vector<size_t> bloques; // sizes of the Write Memory blocks, in order
};

// Memory equals the image; blocks take a record and up to seven after it, never
// more than 256 bytes; the messages count the bytes written and end with the end
// record's; progress climbs to 100 and never past it.
TEST_F(ProgramacionArm, MemoryEqualsTheImage) {
    const std::vector<CasoImagen> casos = {
        {"16-byte records", 16, 20, {128, 128, 64, 48}},
        {"32-byte records", 32, 9, {256, 32, 96}},
        {"48-byte records split at 256", 48, 8, {240, 144, 144}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        RigProcedimientos gc{SimUnit::Controller::ARM};
        ImagenHex img;
        img.extendida(0x0800)
            .seguidos(0x0000, c.registros, c.tam, 1)
            .extendida(0x0801)
            .seguidos(0x2000, 3, c.tam, 90)
            .fin();
        GrabadorArm arm = gc.arm();

        EXPECT_EQ(arm.grabar_micro_STM(img.texto(), img.caracteres()), Resultado::Ok);
        SimArmBootloader& b = gc.unidad().armBootloader();
        EXPECT_EQ(b.memory(), img.memoria);
        EXPECT_EQ(b.eraseCount(), 1);
        std::vector<size_t> tam;
        for (const auto& blk : b.blocks())
            tam.push_back(blk.data.size());
        EXPECT_EQ(tam, c.bloques);

        std::vector<std::string> esperado;
        int total = 0;
        for (size_t t : c.bloques)
            esperado.push_back(escrito(total += static_cast<int>(t)));
        esperado.push_back(texto_mensaje(25));
        EXPECT_EQ(gc.rec.estados(), esperado);

        const auto p = gc.rec.progresos();
        ASSERT_EQ(p.size(), c.bloques.size());
        EXPECT_TRUE(std::is_sorted(p.begin(), p.end()));
        EXPECT_EQ(p.back(), 100);
        EXPECT_EQ(arm.caracteres_leidos(), img.caracteres());
    }
}

// Odd counts are padded with one 0xFF and the next merged record follows behind
// the padding; merged records are written behind the previous data whatever their
// address says; a non-data line starts a new block at its own address.
TEST_F(ProgramacionArm, MergedRecordsFollowThePaddedData) {
    const auto a = patron(15, 1), b = patron(15, 50), c = patron(3, 99), d = patron(16, 7);
    const auto e = patron(16, 120);
    ImagenHex img;
    img.extendida(0x0800).datos(0x0000, a).datos(0x000F, b).datos(0x001E, c);
    img.extendida(0x0800).datos(0x4000, d).datos(0x7000, e).fin();
    preparar(img);

    EXPECT_EQ(grabar(), Resultado::Ok);
    std::map<uint32_t, uint8_t> esperado;
    uint32_t dir = 0x08000000;
    auto poner = [&](const std::vector<uint8_t>& v) {
        for (uint8_t x : v)
            esperado[dir++] = x;
    };
    poner(a), poner({0xFF}), poner(b), poner({0xFF}), poner(c), poner({0xFF});
    dir = 0x08004000;
    poner(d), poner(e); // the record at 0x7000 lands at 0x4010
    EXPECT_EQ(bl().memory(), esperado);
    EXPECT_EQ(bloques(), (std::vector<size_t>{36, 32}));
    EXPECT_EQ(estados(), (std::vector<std::string>{escrito(36), escrito(68), texto_mensaje(25)}));
}

// Data records before any extended address, or under upper address 0, are passed
// over: nothing is written and the step succeeds.
TEST_F(ProgramacionArm, RecordsWithoutUpperAddressWriteNothing) {
    ImagenHex img;
    img.datos(0x0000, patron(16, 1)).datos(0x0010, patron(16, 2));
    img.extendida(0x0000).datos(0x0020, patron(16, 3)).fin();
    preparar(img);

    EXPECT_EQ(grabar(), Resultado::Ok);
    EXPECT_TRUE(bl().memory().empty());
    EXPECT_EQ(comandos(0x31), 0);
    EXPECT_EQ(estados(), (std::vector<std::string>{texto_mensaje(25)}));
    esperar_reset_final();
}

struct CasoFallo {
    const char* nombre;
    SimArmBootloader::Faults fallos;
    Resultado resultado;
    std::vector<std::string> (*mensajes)();
    int sincronizaciones; // synchronisation bytes received by the bootloader
    int borrados;         // erase commands received
    size_t bloques;       // blocks written
};

// Every failure ends with the final reset and true; each stops where it must.
TEST_F(ProgramacionArm, FailuresStopTheSequenceAndResetTheController) {
    using F = SimArmBootloader::Faults;
    F mudo;
    mudo.silent = true;
    F protegido;
    protegido.writeProtected = true;
    F lento;
    lento.eraseTime = ms(2500);
    F nack;
    nack.nackWriteBlock = 2;
    const std::vector<CasoFallo> casos = {
        {"no synchronisation", mudo, Resultado::SinRespuesta,
         [] { return std::vector<std::string>{NO_DETECTADO}; }, 15, 0, 0},
        {"Write Unprotect refused", protegido, Resultado::Nack,
         [] { return std::vector<std::string>{NO_DETECTADO}; }, 1, 0, 0},
        {"erase slower than the ACK time-out", lento, Resultado::SinRespuesta,
         [] { return std::vector<std::string>{}; }, 2, 1, 0},
        {"second block NACKed", nack, Resultado::Nack,
         [] {
             return std::vector<std::string>{escrito(128), texto_mensaje(27)};
         },
         2, 1, 1},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        RigProcedimientos gc{SimUnit::Controller::ARM, 0, true};
        hab_traza = true;
        gc.unidad().armBootloader().setFaults(c.fallos);
        ImagenHex img;
        img.extendida(0x0800).seguidos(0, 24, 16, 3).fin();

        EXPECT_EQ(gc.arm().grabar_micro_STM(img.texto(), img.caracteres()), c.resultado);
        EXPECT_EQ(gc.rec.estados(), c.mensajes());
        // A NACK is traced as one; a silence leaves no line.
        const auto traza = gc.takeTrace();
        EXPECT_EQ(std::count(traza.begin(), traza.end(), "NACK"),
                  c.resultado == Resultado::Nack ? 1 : 0);
        SimArmBootloader& b = gc.unidad().armBootloader();
        const auto& cmds = b.commands();
        EXPECT_EQ(std::count_if(cmds.begin(), cmds.end(), [](auto& x) { return x.code == 0x7F; }),
                  c.sincronizaciones);
        EXPECT_EQ(std::count_if(cmds.begin(), cmds.end(), [](auto& x) { return x.code == 0x43; }),
                  c.borrados);
        EXPECT_EQ(b.blocks().size(), c.bloques);
        // No block is tried after the refused one.
        EXPECT_LE(std::count_if(cmds.begin(), cmds.end(), [](auto& x) { return x.code == 0x31; }),
                  2);
        const Tiempo fin = gc.ahora();
        EXPECT_EQ(cambios_desde(gc.linea().dtrHistory(), fin - ms(3050)),
                  (std::vector<CambioDtr>{{1000, BAJA}, {2000, ACTIVA}}));
    }
}

struct CasoMalformado {
    const char* nombre;
    std::string linea; // put after the first 10 records ("" with cortar: file ends there)
    bool cortar;
};

// A line that is not a record stops the step as a failure with message 27 and the
// final reset; the blocks before it are written, nothing after it.
TEST_F(ProgramacionArm, MalformedImageFailsCleanly) {
    const std::vector<CasoMalformado> casos = {
        {"empty line", "", false},
        {"short line", ":1000", false},
        {"not hexadecimal", ":10001000ZZ112233445566778899AABBCCDDEEFF00", false},
        {"data shorter than its count", ":10001000AABB", false},
        {"no colon", "10001000000102030405060708090A0B0C0D0E0F00", false},
        {"file ends inside a block", "", true},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        RigProcedimientos gc{SimUnit::Controller::ARM};
        ImagenHex img;
        img.extendida(0x0800).seguidos(0, 10, 16, 3);
        if (!c.cortar)
            img.linea(c.linea).seguidos(0x0100, 4, 16, 40).fin();

        EXPECT_EQ(gc.arm().grabar_micro_STM(img.texto(), img.caracteres()),
                  Resultado::ErrorFichero);
        const auto e = gc.rec.estados();
        ASSERT_FALSE(e.empty());
        EXPECT_EQ(e.back(), texto_mensaje(27));
        std::vector<size_t> tam;
        for (const auto& blk : gc.unidad().armBootloader().blocks())
            tam.push_back(blk.data.size());
        EXPECT_EQ(tam, (std::vector<size_t>{128})); // the two records before the fault: dropped
        const Tiempo fin = gc.ahora();
        EXPECT_EQ(cambios_desde(gc.linea().dtrHistory(), fin - ms(3050)),
                  (std::vector<CambioDtr>{{1000, BAJA}, {2000, ACTIVA}}));
    }
}

// An image with no lines at all: the controller is erased (the load sequence never
// gets here with such an image), nothing is written, and the controller is reset.
TEST_F(ProgramacionArm, EmptyImageWritesNothingAndResetsTheController) {
    preparar(ImagenHex{});
    EXPECT_EQ(grabar(), Resultado::Ok);
    EXPECT_TRUE(estados().empty());
    EXPECT_EQ(comandos(0x43), 1);
    EXPECT_TRUE(bl().blocks().empty());
    esperar_reset_final();
}

// An unknown image size shows no progress instead of dividing by zero; one smaller
// than the image never shows more than 100 %.
TEST_F(ProgramacionArm, ProgressStaysWithinBoundsWhateverTheAnnouncedSize) {
    ImagenHex img;
    img.extendida(0x0800).seguidos(0, 24, 16, 3).fin();
    for (int32_t anunciado : {0, 100}) {
        SCOPED_TRACE(anunciado);
        RigProcedimientos gc{SimUnit::Controller::ARM};
        EXPECT_EQ(gc.arm().grabar_micro_STM(img.texto(), anunciado), Resultado::Ok);
        const auto p = gc.rec.progresos();
        ASSERT_EQ(p.size(), 3u);
        for (int v : p)
            EXPECT_EQ(v, anunciado == 0 ? 0 : 100);
        EXPECT_EQ(gc.unidad().armBootloader().memory(), img.memoria);
    }
}

// Each byte of a Write Memory block is a send of its own: none may be lost from the
// transmit side while the previous one is still on the wire, and none may be cut
// by the switch to 115200 8-E-1.
TEST_F(ProgramacionArm, WriteMemoryBlockByteByByte) {
    ImagenHex img;
    img.extendida(0x0800).seguidos(0, 16, 16, 5).fin();
    preparar(img);
    EXPECT_EQ(grabar(), Resultado::Ok);
    EXPECT_EQ(bl().memory(), img.memoria);
    int aRitmo = 0;
    for (const auto& r : g.linea().bytes()) {
        if (!r.fromHost)
            continue;
        EXPECT_FALSE(r.discarded);
        EXPECT_FALSE(r.garbled);
        ++aRitmo;
    }
    // 0x7F twice, 0x73 0x8C, the erase's 4 bytes and two blocks of 2 + 5 + 1 + 128 + 1.
    EXPECT_EQ(aRitmo, 2 + 2 + 4 + 2 * 137);
    // Blocks: the data went out one byte after the other, at the line's pace.
    const auto tx = g.linea().bytesFromHost(false);
    ASSERT_GE(tx.size(), 8u + 137u);
    EXPECT_EQ(std::vector<uint8_t>(tx.begin() + 8, tx.begin() + 15),
              (std::vector<uint8_t>{0x31, 0xCE, 0x08, 0x00, 0x00, 0x00, 0x08}));
    EXPECT_EQ(tx[15], 127);
}

} // namespace
