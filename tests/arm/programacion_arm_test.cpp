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

// Memory equals the image; contiguous data goes in blocks of 256 bytes and the
// rest; the messages count the bytes written and end with the completion once
// every block was read back; progress climbs to 100 and never past it.
TEST_F(ProgramacionArm, MemoryEqualsTheImage) {
    const std::vector<CasoImagen> casos = {
        {"16-byte records", 16, 20, {256, 64, 48}},
        {"32-byte records", 32, 9, {256, 32, 96}},
        {"48-byte records", 48, 8, {256, 128, 144}},
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
        esperado.push_back(texto_mensaje(Mensaje::MemoriaCompleta));
        EXPECT_EQ(gc.rec.estados(), esperado);

        const auto p = gc.rec.progresos();
        ASSERT_EQ(p.size(), c.bloques.size());
        EXPECT_TRUE(std::is_sorted(p.begin(), p.end()));
        EXPECT_EQ(p.back(), 100);
        EXPECT_EQ(arm.caracteres_leidos(), img.caracteres());
        // Every block was read back, at its own address and length.
        ASSERT_EQ(b.reads().size(), b.blocks().size());
        for (size_t i = 0; i < b.reads().size(); ++i) {
            EXPECT_EQ(b.reads()[i].address, b.blocks()[i].address);
            EXPECT_EQ(b.reads()[i].count, static_cast<int>(b.blocks()[i].data.size()));
        }
    }
}

struct CasoColocacion {
    const char* nombre;
    ImagenHex imagen;
};

// Flash is written from the image's own addresses: it holds exactly the image, with
// 0xFF (the erased value) in the few bytes a block pads; every block starts and ends
// on a word (4 bytes), holds at most 256 bytes, and no address is written twice;
// the messages count image bytes, not padding.
TEST_F(ProgramacionArm, FlashEqualsTheImageWhereverItsPiecesLie) {
    std::vector<CasoColocacion> casos;
    auto caso = [&](const char* nombre) -> ImagenHex& {
        casos.push_back({nombre, {}});
        return casos.back().imagen;
    };
    caso("two pieces under one extended address with a gap")
        .extendida(0x0800)
        .seguidos(0x0000, 4, 16, 1)
        .seguidos(0x0400, 3, 16, 40)
        .fin();
    caso("an odd byte count followed by its neighbour")
        .extendida(0x0800)
        .datos(0x0000, patron(15, 1))
        .datos(0x000F, patron(15, 50))
        .datos(0x001E, patron(3, 99))
        .fin();
    caso("records out of address order")
        .extendida(0x0800)
        .datos(0x0020, patron(16, 3))
        .datos(0x0000, patron(16, 1))
        .extendida(0x0801)
        .datos(0x0000, patron(16, 9))
        .extendida(0x0800)
        .datos(0x0010, patron(16, 2))
        .fin();
    caso("32-byte records").extendida(0x0800).seguidos(0x1000, 10, 32, 7).fin();
    // A segment address reaches 1 MiB at most, never the flash: the last address
    // record before the data decides, and here that is an extended linear one.
    caso("an extended segment address record")
        .segmento(0x8000)
        .extendida(0x0800)
        .datos(0x0100, patron(16, 4))
        .segmento(0xF000)
        .extendida(0x0801)
        .datos(0x0000, patron(8, 5))
        .fin();
    caso("a piece that ends mid-word, then one a few bytes on")
        .extendida(0x0800)
        .datos(0x0000, patron(6, 1))
        .datos(0x0009, patron(5, 2))
        .datos(0x0203, patron(3, 3))
        .fin();
    for (auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        RigProcedimientos gc{SimUnit::Controller::ARM};
        const ImagenHex& img = c.imagen;

        ASSERT_EQ(gc.arm().grabar_micro_STM(img.texto(), img.caracteres()), Resultado::Ok);

        const SimArmBootloader& b = gc.unidad().armBootloader();
        ASSERT_FALSE(b.memory().empty());
        for (const auto& [dir, valor] : b.memory()) {
            const auto it = img.memoria.find(dir);
            EXPECT_EQ(valor, it == img.memoria.end() ? 0xFF : it->second) << std::hex << dir;
        }
        for (const auto& [dir, valor] : img.memoria)
            EXPECT_EQ(b.memory().count(dir), 1u) << std::hex << dir;
        std::map<uint32_t, int> escrituras;
        size_t escritos = 0;
        for (const auto& blk : b.blocks()) {
            EXPECT_EQ(blk.address % 4, 0u) << std::hex << blk.address;
            EXPECT_EQ(blk.data.size() % 4, 0u);
            EXPECT_LE(blk.data.size(), 256u);
            for (uint32_t i = 0; i < blk.data.size(); ++i)
                ++escrituras[blk.address + i];
            escritos += blk.data.size();
        }
        for (const auto& [dir, n] : escrituras)
            EXPECT_EQ(n, 1) << "written " << n << " times: " << std::hex << dir;
        // A gap never fills a block mostly with 0xFF.
        EXPECT_LE((escritos - img.memoria.size()) * 2, escritos);
        const auto e = gc.rec.estados();
        ASSERT_GE(e.size(), 2u);
        EXPECT_EQ(e[e.size() - 2], escrito(static_cast<int>(img.memoria.size())));
        EXPECT_EQ(e.back(), texto_mensaje(Mensaje::MemoriaCompleta));
    }
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
             return std::vector<std::string>{escrito(256), texto_mensaje(Mensaje::ErrorMemoria)};
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
        EXPECT_EQ(std::count(traza.begin(), traza.end(), "RX->1F NACK"),
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
    std::vector<std::string> antes;   // lines before the 10 good records under 0x0800
    std::vector<std::string> despues; // lines after them
    bool fin;                         // the end record closes the image
    intel_hex::Motivo motivo;
};

// An image that cannot be written as it stands fails before the line is touched:
// no DTR change and no byte, so the controller is never erased for it.
TEST_F(ProgramacionArm, ImageThatCannotBeWrittenLeavesTheLineUntouched) {
    using M = intel_hex::Motivo;
    const std::vector<CasoMalformado> casos = {
        {"short line", {}, {":1000"}, true, M::Corto},
        {"not hexadecimal",
         {},
         {":10001000ZZ112233445566778899AABBCCDDEEFF00"},
         true,
         M::DigitoNoHex},
        {"data shorter than its count", {}, {":10001000AABB"}, true, M::CuentaNoCoincide},
        {"no colon", {}, {"10001000000102030405060708090A0B0C0D0E0F00"}, true, M::NoEsRegistro},
        {"wrong checksum", {}, {":0400100001020304E0"}, true, M::Checksum},
        {"file ends without its end record", {}, {}, false, M::SinFin},
        {"a record after the end record",
         {},
         {hexEndRecord(), hexRecord(0, 0x200, {1})},
         false,
         M::TrasFin},
        {"data before any upper address", {hexRecord(0, 0, {1, 2})}, {}, true, M::FueraDeMemoria},
        {"under upper address 0",
         {},
         {hexExtendedLinear(0), hexRecord(0, 0x20, {1, 2})},
         true,
         M::FueraDeMemoria},
        {"placed by a segment address",
         {},
         {hexExtendedSegment(0x1000), hexRecord(0, 0, {1})},
         true,
         M::FueraDeMemoria},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        RigProcedimientos gc{SimUnit::Controller::ARM};
        ImagenHex img;
        for (const auto& l : c.antes)
            img.linea(l);
        img.extendida(0x0800).seguidos(0, 10, 16, 3);
        for (const auto& l : c.despues)
            img.linea(l);
        if (c.fin)
            img.fin();
        gc.linea().clearRecords();

        GrabadorArm arm = gc.arm();
        EXPECT_EQ(arm.grabar_micro_STM(img.texto(), img.caracteres()), Resultado::ErrorFichero);
        EXPECT_EQ(arm.fallo_imagen().motivo, c.motivo);
        EXPECT_TRUE(gc.linea().bytes().empty());
        EXPECT_TRUE(gc.linea().dtrHistory().empty());
        EXPECT_TRUE(gc.rec.log().empty());
    }
    // Nor an image without a byte of data.
    RigProcedimientos gc{SimUnit::Controller::ARM};
    gc.linea().clearRecords();
    ImagenHex vacia;
    vacia.extendida(0x0800).fin();
    GrabadorArm arm = gc.arm();
    EXPECT_EQ(arm.grabar_micro_STM(vacia.texto(), 0), Resultado::ErrorFichero);
    EXPECT_EQ(arm.fallo_imagen().motivo, intel_hex::Motivo::SinDatos);
    EXPECT_TRUE(gc.linea().bytes().empty());
}

// Blank lines are passed over: they do not stop an image.
TEST_F(ProgramacionArm, BlankLinesArePassedOver) {
    ImagenHex img;
    img.extendida(0x0800).seguidos(0, 10, 16, 3).linea("").seguidos(0x0100, 4, 16, 40).fin();
    preparar(img);
    EXPECT_EQ(grabar(), Resultado::Ok);
    EXPECT_EQ(bl().memory(), img.memoria);
}

struct CasoLectura {
    const char* nombre;
    SimArmBootloader::Faults fallos;
    Resultado resultado;
    const char* traza; // the start of the trace line that names the fault
};

// Every block is read back before the writer may say it is written: a block stored
// wrong (the bootloader still said ACK) or a refused read fails with entry 27,
// before the final reset, and never as written.
TEST_F(ProgramacionArm, ReadBackCatchesWhatTheFlashDoesNotHold) {
    SimArmBootloader::Faults corrupto;
    corrupto.corruptWriteBlock = 2;
    SimArmBootloader::Faults sin_lectura;
    sin_lectura.refuseRead = true;
    const std::vector<CasoLectura> casos = {
        // Block 2 starts at 0x08000100 (128 bytes); the byte in its middle was changed.
        {"second block stored wrong", corrupto, Resultado::NoVerificado,
         "ER->Read-back differs at 08000140: written "},
        {"read refused", sin_lectura, Resultado::Nack, "RX->1F NACK"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        RigProcedimientos gc{SimUnit::Controller::ARM, 0, true};
        hab_traza = true;
        gc.unidad().armBootloader().setFaults(c.fallos);
        ImagenHex img;
        img.extendida(0x0800).seguidos(0, 24, 16, 3).fin();

        EXPECT_EQ(gc.arm().grabar_micro_STM(img.texto(), img.caracteres()), c.resultado);

        EXPECT_EQ(gc.rec.estados(),
                  (std::vector<std::string>{escrito(256), escrito(384),
                                            texto_mensaje(Mensaje::ErrorMemoria)}));
        const auto traza = gc.takeTrace();
        EXPECT_EQ(std::count_if(traza.begin(), traza.end(),
                                [&](const std::string& l) { return l.rfind(c.traza, 0) == 0; }),
                  1);
        // The final reset came after the read-back.
        const Tiempo fin = gc.ahora();
        EXPECT_EQ(cambios_desde(gc.linea().dtrHistory(), fin - ms(3050)),
                  (std::vector<CambioDtr>{{1000, BAJA}, {2000, ACTIVA}}));
        EXPECT_EQ(gc.modo(), SimUnit::Mode::Application);
    }
}

// After the global erase a block of nothing but 0xFF is left to the erase: not
// written, not read back, and the trace counts it; a block with one other byte in
// it is written. The flash then reads as the image everywhere, and the messages
// still count every image byte.
TEST_F(ProgramacionArm, BlocksOfOnlyErasedBytesAreLeftToTheErase) {
    struct Caso {
        const char* nombre;
        std::vector<int> rellenos;      // the 256-byte blocks (of 4) that are all 0xFF
        std::vector<uint32_t> escritos; // start of each block written, and read back
    };
    const uint32_t B = 0x08000000;
    const std::vector<Caso> casos = {
        {"none", {}, {B, B + 0x100, B + 0x200, B + 0x300}},
        {"second and last", {1, 3}, {B, B + 0x200}},
        {"all", {0, 1, 2, 3}, {}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        RigProcedimientos gc{SimUnit::Controller::ARM, 0, true};
        hab_traza = true;
        // 0xFF bytes inside a written block too: the last byte of every block.
        std::vector<uint8_t> bytes(1024);
        for (size_t i = 0; i < bytes.size(); ++i) {
            const bool relleno = std::count(c.rellenos.begin(), c.rellenos.end(), i / 256) > 0;
            bytes[i] = relleno || i % 256 == 255 ? 0xFF : static_cast<uint8_t>(i * 7 + 1);
        }
        ImagenHex img;
        img.extendida(0x0800);
        for (size_t off = 0; off < bytes.size(); off += 16)
            img.datos(static_cast<uint16_t>(off),
                      std::vector<uint8_t>(bytes.begin() + off, bytes.begin() + off + 16));
        img.fin();

        ASSERT_EQ(gc.arm().grabar_micro_STM(img.texto(), img.caracteres()), Resultado::Ok);

        const SimArmBootloader& b = gc.unidad().armBootloader();
        std::vector<uint32_t> escritos, leidos;
        for (const auto& blk : b.blocks())
            escritos.push_back(blk.address);
        for (const auto& r : b.reads())
            leidos.push_back(r.address);
        EXPECT_EQ(escritos, c.escritos);
        EXPECT_EQ(leidos, c.escritos);
        for (uint32_t i = 0; i < bytes.size(); ++i) {
            const auto it = b.memory().find(B + i);
            ASSERT_EQ(it == b.memory().end() ? 0xFF : it->second, bytes[i]) << i;
        }
        const auto e = gc.rec.estados();
        ASSERT_EQ(e.size(), 5u);
        EXPECT_EQ(e[3], escrito(1024));
        EXPECT_EQ(e[4], texto_mensaje(Mensaje::MemoriaCompleta));
        const auto traza = gc.takeTrace();
        // The trace says how many blocks were left out, as a note, when any were.
        const std::string nota = "** Write Memory: " + std::to_string(c.rellenos.size()) +
                                 " of 4 blocks all 0xFF after the erase";
        EXPECT_EQ(std::count_if(traza.begin(), traza.end(),
                                [&](const std::string& l) { return l.rfind(nota, 0) == 0; }),
                  c.rellenos.empty() ? 0 : 1);
    }
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
        ASSERT_EQ(p.size(), 2u);
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
    // 0x7F twice, 0x73 0x8C, the erase's 4 bytes, one block of 2 + 5 + 1 + 256 + 1,
    // and its read-back: 2 + 5 + 2.
    EXPECT_EQ(aRitmo, 2 + 2 + 4 + 265 + 9);
    // Blocks: the data went out one byte after the other, at the line's pace.
    const auto tx = g.linea().bytesFromHost(false);
    ASSERT_EQ(tx.size(), 8u + 265u + 9u);
    EXPECT_EQ(std::vector<uint8_t>(tx.begin() + 8, tx.begin() + 15),
              (std::vector<uint8_t>{0x31, 0xCE, 0x08, 0x00, 0x00, 0x00, 0x08}));
    EXPECT_EQ(tx[15], 255);
    EXPECT_EQ(std::vector<uint8_t>(tx.end() - 9, tx.end()),
              (std::vector<uint8_t>{0x11, 0xEE, 0x08, 0x00, 0x00, 0x00, 0x08, 0xFF, 0x00}));
}

// A USB adapter's latency timer holds a lone reply byte until it runs out: every
// ACK the writer waits for costs the whole timer, and the unit's own time does not
// hide it. The global erase waits for two ACKs; the erase itself takes the same
// time whatever the adapter does.
TEST(LatenciaAdaptador, EveryAckWaitedForPaysTheTimer) {
    Tiempo sin_latencia{-1};
    for (const Tiempo latencia : {Tiempo(0), ms(16), ms(40)}) {
        RigProcedimientos g{SimUnit::Controller::ARM};
        g.linea().setLatencyTimer(latencia);
        GrabadorArm arm = g.arm();
        arm.boot_sqn_STM();
        ASSERT_EQ(arm.Init_COM_STM(), Resultado::Ok);
        const Tiempo t0 = g.ahora();
        ASSERT_EQ(arm.ER_STM(), Resultado::Ok);
        const Tiempo borrado = g.ahora() - t0;
        if (latencia == Tiempo(0))
            sin_latencia = borrado;
        else
            EXPECT_EQ(borrado - sin_latencia, 2 * latencia) << latencia.count();
    }
}

} // namespace
