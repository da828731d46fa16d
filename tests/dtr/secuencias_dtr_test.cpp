// The DTR sequences on the wire, and how the simulated unit's two controllers read
// them.

#include "support/rig_procedimientos.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using Proc = void (*)(RigProcedimientos&);

struct CasoSecuencia {
    const char* nombre;
    Proc proc;
    SecuenciaDtr tabla;
    std::vector<CambioDtr> esperado; // offsets in ms and levels, as the line must show them
    long long duracion_ms;
    bool nivel_final;
};

std::vector<CambioDtr> pulsos_programacion() {
    std::vector<CambioDtr> v;
    for (int i = 0; i < 6; ++i) {
        v.emplace_back(200 * i, BAJA);
        v.emplace_back(200 * i + 100, ACTIVA);
    }
    v.emplace_back(1200, BAJA);
    return v;
}

const std::vector<CasoSecuencia>& casos() {
    static const std::vector<CasoSecuencia> c = {
        {"genera_reset",
         [](RigProcedimientos& g) { g.deteccion().genera_reset(); },
         secuencias_dtr::reset,
         {{0, ACTIVA}},
         1500,
         ACTIVA},
        {"genera_reset_final",
         [](RigProcedimientos& g) { g.deteccion().genera_reset_final(); },
         secuencias_dtr::reset_final,
         {{0, BAJA}, {1500, ACTIVA}},
         1500,
         ACTIVA},
        {"genera_modo_programacion",
         [](RigProcedimientos& g) { g.deteccion().genera_modo_programacion(); },
         secuencias_dtr::modo_programacion, pulsos_programacion(), 2200, BAJA},
        {"genera_reset_inicial",
         [](RigProcedimientos& g) { g.deteccion().genera_reset_inicial(); },
         secuencias_dtr::reset_inicial,
         {{0, ACTIVA}, {1000, BAJA}, {2000, ACTIVA}},
         5000,
         ACTIVA},
        {"boot_sqn_STM",
         [](RigProcedimientos& g) { g.arm().boot_sqn_STM(); },
         secuencias_dtr::boot_stm,
         {{100, BAJA}, {150, ACTIVA}, {200, BAJA}, {250, ACTIVA}},
         400,
         ACTIVA},
        {"HW_reset_STM",
         [](RigProcedimientos& g) { g.arm().HW_reset_STM(); },
         secuencias_dtr::reset_stm,
         {{1000, BAJA}, {2000, ACTIVA}},
         3050,
         ACTIVA},
    };
    return c;
}

// Every sequence makes exactly its calls at its times, lasts its length (so
// genera_reset_final returns right after its last change), leaves the line at its
// level and sends no character; and the table the procedure runs is that sequence.
TEST(SecuenciasDtr, EachSequenceShowsItsLevelsAndTimesOnTheLine) {
    for (const auto& caso : casos()) {
        SCOPED_TRACE(caso.nombre);
        RigProcedimientos g(SimUnit::Controller::XA);
        g.linea().clearRecords();
        const Tiempo t0 = g.ahora();
        caso.proc(g);
        EXPECT_EQ(cambios_desde(g.linea().dtrHistory(), t0), caso.esperado);
        EXPECT_EQ(g.ms_desde(t0), caso.duracion_ms);
        EXPECT_EQ(g.linea().dtrAsserted(), caso.nivel_final);
        EXPECT_TRUE(g.linea().bytes().empty());
        EXPECT_EQ(cambios_de_tabla(caso.tabla), caso.esperado);
        EXPECT_EQ(duracion_msec(caso.tabla), caso.duracion_ms);
    }
}

// ---- the simulated unit's decoding, driven by tables of steps

using L = PasoDtr::Llamada;
constexpr std::array<PasoDtr, 4> k_boot_lento{
    {{L::DTROn, 200}, {L::DTROff, 200}, {L::DTROn, 200}, {L::DTROff, 200}}};
constexpr std::array<PasoDtr, 4> k_boot_invertido{{// asserted first: ends cleared
                                                   {L::DTROff, 50},
                                                   {L::DTROn, 50},
                                                   {L::DTROff, 50},
                                                   {L::DTROn, 50}}};
constexpr std::array<PasoDtr, 11> k_cinco_pulsos{{{L::DTROn, 100},
                                                  {L::DTROff, 100},
                                                  {L::DTROn, 100},
                                                  {L::DTROff, 100},
                                                  {L::DTROn, 100},
                                                  {L::DTROff, 100},
                                                  {L::DTROn, 100},
                                                  {L::DTROff, 100},
                                                  {L::DTROn, 100},
                                                  {L::DTROff, 100},
                                                  {L::DTROn, 1000}}};
constexpr std::array<PasoDtr, 13> k_pulsos_largos{{{L::DTROn, 300},
                                                   {L::DTROff, 300},
                                                   {L::DTROn, 300},
                                                   {L::DTROff, 300},
                                                   {L::DTROn, 300},
                                                   {L::DTROff, 300},
                                                   {L::DTROn, 300},
                                                   {L::DTROff, 300},
                                                   {L::DTROn, 300},
                                                   {L::DTROff, 300},
                                                   {L::DTROn, 300},
                                                   {L::DTROff, 300},
                                                   {L::DTROn, 1000}}};
constexpr std::array<PasoDtr, 13> k_pulsos_cortos_final{{{L::DTROn, 100},
                                                         {L::DTROff, 100},
                                                         {L::DTROn, 100},
                                                         {L::DTROff, 100},
                                                         {L::DTROn, 100},
                                                         {L::DTROff, 100},
                                                         {L::DTROn, 100},
                                                         {L::DTROff, 100},
                                                         {L::DTROn, 100},
                                                         {L::DTROff, 100},
                                                         {L::DTROn, 100},
                                                         {L::DTROff, 100},
                                                         {L::DTROn, 300}}}; // not held
constexpr std::array<PasoDtr, 1> k_borrado_corto{{{L::DTROn, 400}}};

using M = SimUnit::Mode;
struct CasoDecodificacion {
    const char* nombre;
    SimUnit::Controller controlador;
    std::vector<SecuenciaDtr> pasos;
    M modo;
};

TEST(DecodificacionDtr, ControllersEnterTheirLoadersOnlyOnTheirSequence) {
    using C = SimUnit::Controller;
    namespace s = secuencias_dtr;
    const std::vector<CasoDecodificacion> tabla = {
        {"ARM: boot sequence", C::ARM, {s::boot_stm}, M::ArmBootloader},
        {"ARM: boot twice restarts the bootloader",
         C::ARM,
         {s::boot_stm, s::boot_stm},
         M::ArmBootloader},
        {"ARM: final reset leaves the bootloader",
         C::ARM,
         {s::boot_stm, s::reset_stm},
         M::Application},
        {"ARM: reset_final leaves the bootloader",
         C::ARM,
         {s::boot_stm, s::reset_final},
         M::Application},
        {"ARM: boot steps four times too long", C::ARM, {k_boot_lento}, M::Application},
        {"ARM: boot levels in the wrong order", C::ARM, {k_boot_invertido}, M::Reset},
        {"ARM: XA programming mode", C::ARM, {s::modo_programacion}, M::Reset},
        {"ARM: cleared holds it in reset", C::ARM, {k_borrado_corto}, M::Reset},
        {"XA: programming mode", C::XA, {s::reset, s::modo_programacion}, M::XaLoader},
        {"XA: reset after the loader", C::XA, {s::modo_programacion, s::reset}, M::Application},
        {"XA: five pulses", C::XA, {s::reset, k_cinco_pulsos}, M::Reset},
        {"XA: pulses three times too long", C::XA, {k_pulsos_largos}, M::Reset},
        {"XA: pulses without the long clear", C::XA, {k_pulsos_cortos_final}, M::Application},
        {"XA: ARM boot sequence changes nothing", C::XA, {s::boot_stm}, M::Application},
        {"XA: long clear is a reset", C::XA, {s::reset_final}, M::Application},
        {"XA: start-up reset", C::XA, {s::reset_inicial}, M::Application},
    };
    for (const auto& caso : tabla) {
        SCOPED_TRACE(caso.nombre);
        RigProcedimientos g(caso.controlador);
        ASSERT_EQ(g.modo(), M::Application); // opening the port leaves it running
        for (SecuenciaDtr p : caso.pasos)
            g.dtr(p);
        EXPECT_EQ(SimUnit::modeName(g.modo()), std::string(SimUnit::modeName(caso.modo)));
    }
}

// The XA loader starts while the line is still cleared, in time for the first
// synchronisation after genera_modo_programacion, and stays until DTR is asserted.
TEST(DecodificacionDtr, XaLoaderStartsDuringTheClearAndStaysWhileCleared) {
    for (int32_t sostenido : {850, 950}) {
        SCOPED_TRACE(sostenido);
        RigProcedimientos g(SimUnit::Controller::XA);
        std::vector<PasoDtr> pasos(secuencias_dtr::modo_programacion.begin(),
                                   secuencias_dtr::modo_programacion.end());
        pasos.back().espera_msec = sostenido;
        g.dtr(pasos);
        EXPECT_EQ(g.modo(), sostenido < 900 ? M::Application : M::XaLoader);
    }
    RigProcedimientos g(SimUnit::Controller::XA);
    g.deteccion().genera_modo_programacion();
    g.esperar(10000);
    EXPECT_EQ(g.modo(), M::XaLoader);
    g.deteccion().genera_reset();
    EXPECT_EQ(g.modo(), M::Application);
}

// The ARM long reset during a wait: the controller is held in reset while the line
// is cleared and runs its application as soon as it is asserted.
TEST(DecodificacionDtr, ArmIsHeldInResetWhileCleared) {
    RigProcedimientos g(SimUnit::Controller::ARM);
    g.arm().boot_sqn_STM();
    ASSERT_EQ(g.modo(), M::ArmBootloader);
    g.sim.link->activar_dtr(0, 1);
    EXPECT_EQ(g.modo(), M::Reset);
    g.esperar(700);
    EXPECT_EQ(g.modo(), M::Reset);
    g.sim.link->activar_dtr(0, 0);
    EXPECT_EQ(g.modo(), M::Application);
}

// The line exchange: no attempt for max_intentos 0, and one send per attempt,
// each followed by about 2 s of silence, when nothing answers.
TEST(LineaEco, SendsOncePerAttemptAndGivesUpAfterSilence) {
    RigProcedimientos g(SimUnit::Controller::ARM);
    g.sim.link->activar_dtr(0, 1); // the controller held in reset: nothing answers
    g.linea().clearRecords();
    Tiempo t0 = g.ahora();
    EXPECT_EQ(g.deteccion().enviar_linea_eco_datos("f", "f", 0), 0);
    EXPECT_EQ(g.ahora(), t0);
    EXPECT_TRUE(g.linea().bytes().empty());

    EXPECT_EQ(g.deteccion().enviar_linea_eco_datos("AB", "AB", 3), ERROR_TIMEOUT);
    EXPECT_EQ(g.linea().bytesFromHost(), (std::vector<uint8_t>{'A', 'B', 'A', 'B', 'A', 'B'}));
    const long long espera = g.ms_desde(t0);
    EXPECT_GE(espera, 3 * 2000);
    EXPECT_LE(espera, 3 * 2200);
}

TEST(LineaEco, ClosedPortFailsWithoutWaiting) {
    RigProcedimientos g(SimUnit::Controller::ARM);
    const Tiempo t0 = g.ahora();
    Contexto cerrado = g.contexto();
    cerrado.enlace = nullptr; // a port whose link object is gone
    EXPECT_EQ(Deteccion(cerrado).enviar_linea_eco_datos("f", "f", 5), ERROR_INTERFACE_NOOPEN);
    EXPECT_EQ(g.ahora(), t0);
}

} // namespace
