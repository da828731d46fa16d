// Detection of the unit's controller: the ARM bootloader first, then the XA loader.

#include "support/rig_procedimientos.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using C = SimUnit::Controller;

struct Preparacion {
    Preparacion(C c, bool arm_mudo = false, std::vector<SimXaLoader::LineFault> fallos = {},
                bool xa_mudo = false)
        : controlador(c), armMudo(arm_mudo), fallosXa(std::move(fallos)), xaMudo(xa_mudo) {}
    C controlador;
    bool armMudo;
    std::vector<SimXaLoader::LineFault> fallosXa;
    bool xaMudo;
};

std::unique_ptr<RigProcedimientos> preparar(const Preparacion& p) {
    auto g = std::make_unique<RigProcedimientos>(p.controlador);
    SimArmBootloader::Faults fa;
    fa.silent = p.armMudo;
    g->unidad().armBootloader().setFaults(fa);
    SimXaLoader::Faults fx;
    fx.silent = p.xaMudo;
    fx.lineFaults = p.fallosXa;
    g->unidad().xaLoader().setFaults(fx);
    return g;
}

long long cuenta(const std::vector<uint8_t>& v, uint8_t b) {
    return std::count(v.begin(), v.end(), b);
}

// An ARM answer ends detection: only the boot sequence is seen on DTR, and the
// port stays at the bootloader's format.
TEST(Deteccion, ArmAnswerEndsDetectionWithoutXaPulses) {
    auto g = preparar({C::ARM});
    const Tiempo t0 = g->ahora();
    g->deteccion().detectar_VTR_hw();
    EXPECT_EQ(tipo_vtr.get(), TIPO_VTR_ARM);
    EXPECT_EQ(cambios_desde(g->linea().dtrHistory(), t0),
              cambios_de_tabla(secuencias_dtr::boot_stm));
    EXPECT_EQ(g->linea().hostFormat(), FORMAT_115200_8E1);
    EXPECT_EQ(g->linea().bytesFromHost(), std::vector<uint8_t>{0x7F});
    EXPECT_EQ(g->modo(), SimUnit::Mode::ArmBootloader);
}

struct CasoXa {
    const char* nombre;
    Preparacion prep;
    std::string esperado;
    long long sincronizaciones; // "f" lines sent
    bool dtr_final;
};

// The XA probe: reset, 9600 8-N-1, reset, programming mode, up to five "f".
TEST(Deteccion, XaProbeAfterASilentArmProbe) {
    using LF = SimXaLoader::LineFault;
    const std::vector<CasoXa> casos = {
        {"XA answers at once", {C::XA}, TIPO_VTR_XA, 1, ACTIVA},
        {"XA answers at the fifth attempt",
         {C::XA, false, {LF{"f", LF::Kind::Silent, {}, 4}}},
         TIPO_VTR_XA,
         5,
         ACTIVA},
        {"characters that are not f keep the attempt alive",
         {C::XA, false, {LF{"f", LF::Kind::Chatter, ms(6000), 1}}},
         TIPO_VTR_XA,
         1,
         ACTIVA},
        {"nothing answers", {C::XA, false, {}, true}, TIPO_VTR_NONE, 5, BAJA},
        {"ARM unit with a silent bootloader", {C::ARM, true}, TIPO_VTR_NONE, 5, BAJA},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        auto g = preparar(c.prep);
        const Tiempo t0 = g->ahora();
        g->deteccion().detectar_VTR_hw();
        EXPECT_EQ(tipo_vtr.get(), c.esperado);
        EXPECT_EQ(g->linea().hostFormat(), FORMAT_9600_8N1);
        EXPECT_EQ(g->linea().dtrAsserted(), c.dtr_final);
        const auto tx = g->linea().bytesFromHost();
        EXPECT_EQ(cuenta(tx, 0x7F), 3);
        EXPECT_EQ(cuenta(tx, 'f'), c.sincronizaciones);

        // The DTR changes: the boot sequence, reset, reset, programming mode, and
        // the final reset when the loader answered.
        std::vector<CambioDtr> esperado = cambios_de_tabla(secuencias_dtr::boot_stm);
        const auto h = cambios_desde(g->linea().dtrHistory(), t0);
        ASSERT_GE(h.size(), esperado.size() + 2 + 13);
        std::vector<bool> niveles;
        for (size_t i = esperado.size(); i < h.size(); ++i)
            niveles.push_back(h[i].second);
        std::vector<bool> nivelesEsperados{ACTIVA, ACTIVA};
        for (const auto& p : cambios_de_tabla(secuencias_dtr::modo_programacion))
            nivelesEsperados.push_back(p.second);
        if (c.esperado == TIPO_VTR_XA)
            nivelesEsperados.push_back(ACTIVA);
        EXPECT_EQ(niveles, nivelesEsperados);
        if (c.esperado == TIPO_VTR_NONE) {
            // About 2 s of silence after each of the five attempts.
            const long long tras_pulsos = g->ms_desde(t0) - h.back().first - 1000;
            EXPECT_GE(tras_pulsos, 5 * 2000);
            EXPECT_LE(tras_pulsos, 5 * 2200);
        }
    }
}

struct CasoEtiqueta {
    const char* nombre;
    std::string tipo_sw;
    Preparacion prep;
    std::vector<std::string> etiquetas; // version-to-load texts shown
};

// The version-to-load label changes only for a joint file: the ARM image's version
// for an ARM unit, empty for an XA unit (the operator picks the image later).
TEST(Deteccion, VersionLabelOfJointFiles) {
    const std::vector<CasoEtiqueta> casos = {
        {"joint, ARM", TIPO_FIRM_VTR_JOINT, {C::ARM}, {"V4.12"}},
        {"joint, XA", TIPO_FIRM_VTR_JOINT, {C::XA}, {""}},
        {"joint, none", TIPO_FIRM_VTR_JOINT, {C::XA, false, {}, true}, {}},
        {"single file, ARM", TIPO_FIRM_VTR_XACLASSA, {C::ARM}, {}},
        {"single file, XA", TIPO_FIRM_VTR_NONE, {C::XA}, {}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        auto g = preparar(c.prep);
        tipo_sw = c.tipo_sw;
        vtr_ARM_version = "V4.12";
        g->deteccion().detectar_VTR_hw();
        EXPECT_EQ(g->rec.con("acargar:"), c.etiquetas);
    }
}

} // namespace

namespace {

// Detection changes the line format of its own port only, whichever port the front
// end has selected meanwhile.
TEST(Deteccion, ChangesTheFormatOfItsOwnPortOnly) {
    RigProcedimientos g(C::XA, 1);
    auto otra = std::make_shared<SimUnit>(C::ARM);
    fijar_unidad_simulada(0, otra);
    Tinterface_enlace enlace0;
    enlace0.abrir_interface(0, MODO_RS232, 19200, 8, 1, 'N', 0, THRESHOLD08, 15000, 15000,
                            AJUSTE_RS485_DEF);
    puertos[0] = &enlace0;
    puerto_seleccionado = 0;

    g.deteccion().detectar_VTR_hw();

    EXPECT_EQ(tipo_vtr.get(), TIPO_VTR_XA);
    EXPECT_EQ(g.linea().hostFormat(), FORMAT_9600_8N1);
    EXPECT_EQ(otra->line().hostFormat(), FORMAT_19200_8N1);
    EXPECT_TRUE(otra->line().bytesFromHost().empty());
    puertos[0] = nullptr;
    fijar_unidad_simulada(0, nullptr);
}

} // namespace
