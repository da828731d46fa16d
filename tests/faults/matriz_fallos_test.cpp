// Every load path against every unit fault that applies to it, through a port's
// worker on the simulated unit in simulated time: the load ends with its failure
// within the row's bound, the worker keeps serving, and once the fault is cleared (a
// pulled-out adapter plugged back in) a second load on the same worker and port ends
// OK; with the rig gone, no thread is left.
#include "sim/fallos.h"
#include "support/worker_rig.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

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

// Threads of the process now (Linux); 0 where the system does not list them.
int hilos_del_proceso() {
    std::error_code ec;
    int n = 0;
    for (std::filesystem::directory_iterator it("/proc/self/task", ec), fin; !ec && it != fin;
         it.increment(ec))
        ++n;
    return ec ? 0 : n;
}

// Whether the process is back to at most `n` threads. A thread that has returned is
// still listed for a moment while the system takes it down, so this looks again for
// up to a second of real time.
bool hilos_como_mucho(int n) {
    const auto fin = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (hilos_del_proceso() > n) {
        if (std::chrono::steady_clock::now() > fin)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
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
    // The adapter pulled out: at the synchronisation, in the erase, the writes, the
    // read-back, the framed transfer, the version read after the final reset.
    {Ruta::Arm, "unplug:1", INVALIDA, 10},
    {Ruta::Arm, "unplug:6", INVALIDA, 10},
    {Ruta::Arm, "unplug:300", INVALIDA, 15},
    {Ruta::Arm, "unplug:680", INVALIDA, 15},
    {Ruta::Arm, "unplug:1000", INVALIDA, 20},
    {Ruta::Arm, "unplug:1350", INVALIDA, 25},
    {Ruta::Xa, "silent", INVALIDA, 20},
    {Ruta::Xa, "slow-erase", INVALIDA, 30},
    {Ruta::Xa, "no-end-answer", INVALIDA, 20},
    {Ruta::Xa, "old-version", INVALIDA, 15},
    // A record's echo that is not the record, however it was acknowledged; the
    // loader that falls silent once it has erased; the adapter pulled out at the
    // synchronisation, in the records, in the framed transfer.
    {Ruta::Xa, "wrong-echo:3", INVALIDA, 35},
    {Ruta::Xa, "silent-after-erase", INVALIDA, 35},
    {Ruta::Xa, "unplug:1", INVALIDA, 10},
    {Ruta::Xa, "unplug:150", INVALIDA, 15},
    {Ruta::Xa, "unplug:600", INVALIDA, 15},
    {Ruta::XaConjunto, "silent", INVALIDA, 20},
    {Ruta::XaConjunto, "slow-erase", INVALIDA, 30},
    {Ruta::XaConjunto, "no-end-answer", INVALIDA, 20},
    {Ruta::XaConjunto, "old-version", INVALIDA, 15},
    {Ruta::XaConjunto, "wrong-echo:1", INVALIDA, 35},
    {Ruta::XaConjunto, "silent-after-erase", INVALIDA, 35},
    {Ruta::ModuloHex, "silent", INVALIDA, 20},
    {Ruta::ModuloHex, "no-end-answer", INVALIDA, 15},
    // The adapter pulled out in the framed transfer, in the version read after it.
    {Ruta::ModuloHex, "unplug:300", INVALIDA, 5},
    {Ruta::ModuloHex, "unplug:680", INVALIDA, 10},
    {Ruta::ModuloBin, "silent", INVALIDA, 20},
    {Ruta::ModuloBin, "no-room", SIN_ESPACIO, 30},
    {Ruta::ModuloBin, "no-packet-answer", INVALIDA, 35},
    {Ruta::ModuloBin, "no-end-answer", INVALIDA, 35},
    {Ruta::ModuloBin, "unplug:300", INVALIDA, 30}, // in the binary transfer
};
// clang-format on

} // namespace

TEST(FaultMatrix, EveryFaultFailsTheLoadInBoundAndASecondLoadSucceeds) {
    {
        // Threads the libraries start once for good are started before counting.
        WorkerRig calentamiento;
        ASSERT_TRUE(calentamiento.select());
    }
    for (const Fila& f : FILAS) {
        const std::string fila = std::string(nombre_ruta(f.ruta)) + " / " + f.fallo;
        SCOPED_TRACE(fila);
        std::string error;
        const auto fallo = leer_fallo(f.fallo, error);
        ASSERT_TRUE(fallo) << error;
        const int hilos_antes = hilos_del_proceso();
        {
            WorkerRig rig(f.ruta == Ruta::Arm || f.ruta == Ruta::ModuloHex ||
                                  f.ruta == Ruta::ModuloBin
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
        // The worker's thread ended with its rig, and nothing the load started is left.
        EXPECT_TRUE(hilos_como_mucho(hilos_antes))
            << hilos_del_proceso() << " threads, " << hilos_antes << " before the load";
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
        {"xa,fault=wrong-echo:3", true, {SimFault::Kind::WrongEcho, 3}, ""},
        {"xa,fault=silent-after-erase", true, {SimFault::Kind::SilentAfterErase, 0}, ""},
        {"arm,fault=unplug:500", true, {SimFault::Kind::Unplug, 500}, ""},
        {"arm,fault=unplug", false, {}, "needs a message number"},
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

// The pulled-out adapter behaves as a real one: the port fails once the unit has had
// its bytes and stays failed; while the adapter is out no port opens on it; plugged
// back in, a new open works while the old handle stays dead.
TEST(FaultMatrix, APulledOutAdapterKillsItsPortUntilItIsOpenedAgain) {
    SimPortFixture sim;
    Tinterface_enlace& l = sim.open();
    aplicar_fallo(*sim.unit, SimFault{SimFault::Kind::Unplug, 3});
    l.enviar_datos_nenlace(0, "abcdef");
    sim.clock.sleepFor(ms(100)); // whatever was on the wire has arrived
    sim.unit->line().pump();
    EXPECT_EQ(sim.unit->line().bytesFromHost(), std::vector<uint8_t>({'a', 'b', 'c'}));
    EXPECT_TRUE(l.perdido());
    Tbuff b{};
    EXPECT_EQ(l.recibir_trama_nfisico(0xA5, 0, 1, 2, b, 0), ERROR_INTERFACE_NOOPEN);

    EXPECT_FALSE(l.reabrir()) << "opened while the adapter is out";
    EXPECT_TRUE(l.perdido());
    EXPECT_EQ(l.enviar_trama_nfisico(1, 2, b), ERROR_INTERFACE_NOOPEN);

    sim.unit->adapter().enchufar();
    ASSERT_TRUE(l.reabrir());
    EXPECT_FALSE(l.perdido());
    l.enviar_datos_nenlace(0, "g");
    sim.clock.sleepFor(ms(100));
    // Pulled out and plugged back in behind the port's back: its handle stays dead
    // until it is opened again.
    aplicar_fallo(*sim.unit, SimFault{SimFault::Kind::Unplug, 1});
    l.enviar_datos_nenlace(0, "hi");
    sim.clock.sleepFor(ms(100));
    sim.unit->adapter().enchufar();
    EXPECT_TRUE(l.perdido());
    ASSERT_TRUE(l.reabrir());
    l.enviar_datos_nenlace(0, "jk");
    sim.clock.sleepFor(ms(100));
    sim.unit->line().pump();
    EXPECT_EQ(sim.unit->line().bytesFromHost(),
              std::vector<uint8_t>({'a', 'b', 'c', 'g', 'h', 'j', 'k'}));
}

// A request on a lost port opens it again; while the adapter is still out the load
// fails at once, and the next one after it is back ends OK.
TEST(FaultMatrix, ALoadWhileTheAdapterIsStillOutFailsAndTheNextOneRecovers) {
    WorkerRig rig;
    ASSERT_TRUE(rig.select());
    const TrabajoCarga trabajo = trabajo_de(Ruta::ModuloHex);
    aplicar_fallo(rig.unit(), SimFault{SimFault::Kind::Unplug, 300});
    ASSERT_TRUE(rig.load(trabajo));
    size_t from = rig.rec.size();
    const size_t recibidos = rig.unit().line().bytesFromHost().size();
    const Tiempo inicio = rig.sim.clock.now();
    ASSERT_TRUE(rig.load(trabajo));
    EXPECT_EQ(entrada_resultado(rig.rec.since(from)), INVALIDA);
    EXPECT_EQ(rig.unit().line().bytesFromHost().size(), recibidos) << "sent through no adapter";
    EXPECT_LE(rig.sim.clock.now() - inicio, ms(5000));

    rig.unit().adapter().enchufar();
    from = rig.rec.size();
    ASSERT_TRUE(rig.load(trabajo));
    EXPECT_EQ(entrada_resultado(rig.rec.since(from)), OK);
}
