// Every load path against every unit fault that applies to it, through a port's
// worker on the simulated unit in simulated time: the load ends with its failure
// within the row's bound, the worker keeps serving, and once the fault is cleared a
// second load on the same worker and port ends OK.
#include "sim/fallos.h"
#include "support/worker_rig.h"

#include <gtest/gtest.h>

#include <string>

namespace {

enum class Ruta { Arm, Xa, XaConjunto, ModuloHex, ModuloBin };

const char* nombre_ruta(Ruta r) {
    switch (r) {
    case Ruta::Arm:
        return "ARM";
    case Ruta::Xa:
        return "XA";
    case Ruta::XaConjunto:
        return "XA joint";
    case Ruta::ModuloHex:
        return "module HEX";
    case Ruta::ModuloBin:
        return "module BIN";
    }
    return "?";
}

std::vector<std::string> con_fin(std::vector<std::string> v) {
    v.push_back(REG_FIN);
    return v;
}

TrabajoCarga trabajo_de(Ruta r) {
    const std::vector<std::string> cabecera{"VTR-900 MODULE", "FIRMQLN-300_0102", "ABCD1234",
                                            "HEX"};
    switch (r) {
    case Ruta::Arm: {
        auto b1 = registros_datos(0x0000, 16 * 40, 0x10);
        b1.insert(b1.begin(), hexExtendedLinear(0x0800));
        return trabajo_unidad(TIPO_FICHERO_VTR_ARM, "FIRMVTR-900_0412", con_fin(b1),
                              con_fin(registros_datos(0x4000, 200, 0x55)));
    }
    case Ruta::Xa:
    case Ruta::XaConjunto:
        return trabajo_unidad(TIPO_FICHERO_VTR_XA, "FIRMVTR-900_0307",
                              con_fin(registros_datos(0x0000, 64, 0x01)),
                              con_fin(registros_datos(0x8000, 200, 0x33)));
    case Ruta::ModuloHex: {
        auto lineas = cabecera;
        const auto regs = con_fin(registros_datos(0x1000, 200, 0x21));
        lineas.insert(lineas.end(), regs.begin(), regs.end());
        return trabajo_modulo_hex(lineas, "FIRMQLN-300_0102");
    }
    case Ruta::ModuloBin:
        return trabajo_modulo_bin({"VTR-900 MODULE", "FIRMQLN-300_0102", "ABCD1234", "BIN"},
                                  std::vector<uint8_t>(500, 0x5A), "FIRMQLN-300_0102");
    }
    return {};
}

// The version the unit reports after a good load of trabajo_de(r).
const char* version_nueva(Ruta r) {
    return r == Ruta::Arm ? "4.12" : r == Ruta::Xa || r == Ruta::XaConjunto ? "3.07" : "1.02";
}

struct Fila {
    Ruta ruta;
    const char* fallo; // as written after "fault=" in a port name
    int entrada;       // the message table entry of the result
    int cota_s;        // bound on the load's length, in simulated seconds
};

const std::string RESULTADO = "resultado:";

// The entry of the last result in the log, or -1.
int entrada_resultado(const std::vector<std::string>& log) {
    for (auto it = log.rbegin(); it != log.rend(); ++it)
        if (it->rfind(RESULTADO, 0) == 0)
            return std::stoi(it->substr(RESULTADO.size()));
    return -1;
}

constexpr int OK = 11;
constexpr int INVALIDA = 10;
constexpr int SIN_ESPACIO = 20;

// clang-format off
const Fila FILAS[] = {
    {Ruta::Arm, "silent", INVALIDA, 45},
    {Ruta::Arm, "nack-sync", INVALIDA, 15},
    {Ruta::Arm, "nack-erase", INVALIDA, 15},
    {Ruta::Arm, "nack-unprotect", INVALIDA, 15},
    {Ruta::Arm, "nack-write:3", INVALIDA, 20},
    {Ruta::Arm, "nack-read", INVALIDA, 20},
    {Ruta::Arm, "slow-erase", INVALIDA, 15},
    {Ruta::Arm, "corrupt-write:2", INVALIDA, 20},
    {Ruta::Arm, "no-end-answer", INVALIDA, 30},
    {Ruta::Arm, "old-version", INVALIDA, 25},
    {Ruta::Xa, "silent", INVALIDA, 20},
    {Ruta::Xa, "slow-erase", INVALIDA, 30},
    {Ruta::Xa, "no-end-answer", INVALIDA, 20},
    {Ruta::Xa, "old-version", INVALIDA, 15},
    {Ruta::XaConjunto, "silent", INVALIDA, 20},
    {Ruta::XaConjunto, "slow-erase", INVALIDA, 30},
    {Ruta::XaConjunto, "no-end-answer", INVALIDA, 20},
    {Ruta::XaConjunto, "old-version", INVALIDA, 15},
    {Ruta::ModuloHex, "silent", INVALIDA, 20},
    {Ruta::ModuloHex, "no-end-answer", INVALIDA, 15},
    {Ruta::ModuloBin, "silent", INVALIDA, 20},
    {Ruta::ModuloBin, "no-room", SIN_ESPACIO, 30},
    {Ruta::ModuloBin, "no-packet-answer", INVALIDA, 35},
    {Ruta::ModuloBin, "no-end-answer", INVALIDA, 35},
};
// clang-format on

} // namespace

TEST(FaultMatrix, EveryFaultFailsTheLoadInBoundAndASecondLoadSucceeds) {
    for (const Fila& f : FILAS) {
        const std::string fila = std::string(nombre_ruta(f.ruta)) + " / " + f.fallo;
        SCOPED_TRACE(fila);
        std::string error;
        const auto fallo = leer_fallo(f.fallo, error);
        ASSERT_TRUE(fallo) << error;
        WorkerRig rig(f.ruta == Ruta::Arm || f.ruta == Ruta::ModuloHex || f.ruta == Ruta::ModuloBin
                          ? SimUnit::Controller::ARM
                          : SimUnit::Controller::XA);
        if (f.ruta == Ruta::XaConjunto)
            tipo_sw = TIPO_FIRM_VTR_JOINT;
        ASSERT_TRUE(rig.select());
        const TrabajoCarga trabajo = trabajo_de(f.ruta);

        aplicar_fallo(rig.unit(), *fallo);
        size_t from = rig.rec.size();
        const Tiempo inicio = rig.sim.clock.now();
        ASSERT_TRUE(rig.load(trabajo)) << "the load did not end";
        const Tiempo duracion = rig.sim.clock.now() - inicio;
        EXPECT_EQ(entrada_resultado(rig.rec.since(from)), f.entrada);
        EXPECT_LE(duracion, ms(f.cota_s * 1000));
        EXPECT_FALSE(grabar_firmware.load());

        aplicar_fallo(rig.unit(), SimFault{});
        from = rig.rec.size();
        ASSERT_TRUE(rig.load(trabajo)) << "the second load did not end";
        const auto log = rig.rec.since(from);
        EXPECT_EQ(entrada_resultado(log), OK) << ::testing::PrintToString(log);
        EXPECT_NE(
            std::find(log.begin(), log.end(), std::string("version:") + version_nueva(f.ruta)),
            log.end());
    }
}

// A port name selects the fault; a wrong one is refused with its reason.
TEST(FaultMatrix, PortNamesSelectTheFault) {
    struct Caso {
        const char* nombre;
        bool valido;
        SimFault fallo;
        const char* motivo;
    } casos[] = {
        {"arm", true, {}, ""},
        {"arm,fault=nack-erase", true, {SimFault::Kind::NackErase, 0}, ""},
        {"xa,fault=silent", true, {SimFault::Kind::Silent, 0}, ""},
        {"arm,fault=nack-write:3", true, {SimFault::Kind::NackWrite, 3}, ""},
        {"arm,fault=nack-write", false, {}, "needs a message number"},
        {"arm,fault=nack-write:0", false, {}, "needs a message number"},
        {"arm,fault=silent:2", false, {}, "takes no number"},
        {"arm,fault=melt", false, {}, "unknown fault 'melt'"},
        {"arm,speed=9", false, {}, "unknown option"},
        {"z80", false, {}, "unknown simulated unit"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        std::string error;
        const auto spec = leer_puerto_simulado(c.nombre, error);
        ASSERT_EQ(spec.has_value(), c.valido);
        if (c.valido)
            EXPECT_EQ(spec->fault, c.fallo);
        else
            EXPECT_NE(error.find(c.motivo), std::string::npos) << error;
    }
}
