// The worker's thread: idle and monitoring, its events, stopping it, giving a port
// up and taking it back. Every wait here is a bounded real-time wait for something
// the worker reports.
#include "support/worker_rig.h"

#include <gtest/gtest.h>

#include <QThread>

#include <atomic>
#include <chrono>
#include <pthread.h>
#include <thread>
#include <time.h>

namespace {

using namespace std::chrono_literals;

Tiempo cpu(clockid_t c) {
    timespec ts{};
    clock_gettime(c, &ts);
    return std::chrono::duration_cast<Tiempo>(std::chrono::seconds(ts.tv_sec) +
                                              std::chrono::nanoseconds(ts.tv_nsec));
}

// A module image's load job.
TrabajoCarga trabajo_modulo(int bytes = 600) {
    return trabajo_modulo_hex(registros_datos(0x1000, bytes, 0x21), "FIRMQLN-300_0102");
}

// The worker has given its port up: slot emptied, port closed.
bool puerto_cedido(Tmgrupo_superv& g, size_t idx, SimUnit& u) {
    return g.esperar_cierre(2000ms) && puertos[idx].load() == nullptr && !u.line().hostIsOpen() &&
           !g.fmon.load();
}

} // namespace

TEST(WorkerThread, IdleWorkerAndItsWaitsUseNoProcessor) {
    {
        // A wait of the worker on the real clock sleeps instead of spinning.
        Tmgrupo_superv g;
        const auto t0 = std::chrono::steady_clock::now();
        const Tiempo c0 = cpu(CLOCK_THREAD_CPUTIME_ID);
        g.retardo_msec(300);
        const Tiempo usado = cpu(CLOCK_THREAD_CPUTIME_ID) - c0;
        EXPECT_GE(std::chrono::steady_clock::now() - t0, 300ms);
        EXPECT_LT(usado, ms(100));
    }
    WorkerRig rig;
    std::atomic<clockid_t> reloj_hilo{0};
    std::atomic<bool> capturado{false};
    rig.rec.setHook([&](const std::string&) {
        clockid_t c;
        if (!capturado.load() && pthread_getcpuclockid(pthread_self(), &c) == 0) {
            reloj_hilo = c;
            capturado = true;
        }
    });
    ASSERT_TRUE(rig.select());
    ASSERT_TRUE(capturado.load());
    Tmgrupo_superv& g = *rig.worker();
    detener_monitorizacion(rig.acciones);
    ASSERT_TRUE(puerto_cedido(g, 0, rig.unit()));

    const Tiempo antes = cpu(reloj_hilo.load());
    std::this_thread::sleep_for(500ms); // the idle period being measured
    const Tiempo idle = cpu(reloj_hilo.load()) - antes;
    EXPECT_LT(idle, ms(20));
    EXPECT_TRUE(g.en_ejecucion());
}

TEST(WorkerThread, RequestWaitsForStartAndStopEndsTheThread) {
    WorkerRig rig;
    auto* g = new Tmgrupo_superv();
    grupos_supev[0] = g;
    g->fpcom = 0;
    g->setListener(&rig.rec);
    auto* l = new Tinterface_enlace();
    ASSERT_EQ(l->abrir_interface(0, MODO_RS232, 19200, 8, 1, 'N', 0, THRESHOLD08, 15000, 15000,
                                 AJUSTE_RS485_DEF),
              0);
    puertos[0] = l;
    l->ceder_a_hilo(g->hilo());

    // Monitoring set but the idle thread not woken: the request waits.
    const auto limite = std::chrono::steady_clock::now() + 5s;
    while (!g->en_reposo() && std::chrono::steady_clock::now() < limite)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(g->en_reposo());
    pedir_estado = true;
    g->fmon = true;
    EXPECT_FALSE(rig.rec.waitFor("carga:1", 1, 300ms));
    EXPECT_EQ(rig.rec.size(), 0u);
    g->Start();
    ASSERT_TRUE(rig.rec.waitFor("carga:1"));

    // A monitoring thread ends at its next poll; an idle one at once.
    g->Stop();
    EXPECT_TRUE(g->hilo()->wait(QDeadlineTimer(2000)));
    EXPECT_FALSE(g->en_ejecucion());
    {
        Tmgrupo_superv idle;
        ASSERT_TRUE(idle.en_ejecucion());
        idle.Stop();
        EXPECT_TRUE(idle.hilo()->wait(QDeadlineTimer(2000)));
        EXPECT_FALSE(idle.en_ejecucion());
    }
    // A request posted after the end is not served.
    const size_t n = rig.rec.size();
    pedir_estado = true;
    EXPECT_FALSE(rig.rec.waitFor("carga:1", 2, 300ms));
    EXPECT_EQ(rig.rec.size(), n);
}

TEST(WorkerThread, StopDuringALoadLetsTheLoadFinishThenTheThreadEnds) {
    WorkerRig rig;
    ASSERT_TRUE(rig.select());
    Tmgrupo_superv* g = rig.worker();
    std::atomic<bool> parado{false};
    rig.rec.setHook([&](const std::string& e) {
        if (e.rfind("progreso:", 0) == 0 && !parado.exchange(true))
            g->Stop();
    });

    ASSERT_TRUE(rig.load(trabajo_modulo()));

    EXPECT_TRUE(parado.load());
    const auto log = rig.rec.log();
    EXPECT_EQ(log[log.size() - 2], "resultado:11:OK: Update completed");
    EXPECT_TRUE(rig.unit().software().records().completed);
    EXPECT_TRUE(g->hilo()->wait(QDeadlineTimer(2000)));
    EXPECT_FALSE(g->en_ejecucion());
}

TEST(WorkerThread, DeselectingTakesEffectAfterTheLoadAndTheWorkerIsReused) {
    WorkerRig rig;
    ASSERT_TRUE(rig.select());
    Tmgrupo_superv* g = rig.worker();
    std::atomic<bool> cerrado{false};
    std::atomic<bool> puerto_durante_carga{false};
    rig.rec.setHook([&](const std::string& e) {
        if (e.rfind("progreso:", 0) == 0 && !cerrado.exchange(true))
            detener_monitorizacion(rig.acciones);
        if (e == "fin")
            puerto_durante_carga = puertos[0].load() != nullptr;
    });

    ASSERT_TRUE(rig.load(trabajo_modulo()));

    EXPECT_TRUE(cerrado.load());
    EXPECT_TRUE(puerto_durante_carga.load()) // the load kept its port to the end
        << ::testing::PrintToString(rig.rec.log());
    EXPECT_TRUE(rig.unit().software().records().completed);
    ASSERT_TRUE(puerto_cedido(*g, 0, rig.unit()));
    EXPECT_FALSE(hab_traza.load());
    rig.rec.setHook(nullptr);

    // Selected again: the same worker opens the port anew and refreshes.
    rig.unit().software().clearRecords();
    ASSERT_TRUE(rig.select());
    EXPECT_EQ(rig.worker(), g);
    EXPECT_TRUE(rig.unit().line().hostIsOpen());
    EXPECT_FALSE(rig.unit().software().records().frames.empty());
    EXPECT_TRUE(g->fmon.load());
}

TEST(WorkerThread, SwitchingPortsStopsTheOldWorkerAndComingBackReusesIt) {
    WorkerRig rig(SimUnit::Controller::ARM);
    auto otra = std::make_shared<SimUnit>(SimUnit::Controller::XA);
    fijar_unidad_simulada(1, otra);

    ASSERT_TRUE(rig.select());
    Tmgrupo_superv* g0 = rig.worker();
    ASSERT_EQ(seleccionar_puerto(1, &rig.rec, rig.acciones), ResultadoSeleccion::Abierto);
    ASSERT_TRUE(rig.rec.waitFor("carga:1", 2)) << ::testing::PrintToString(rig.rec.log());
    EXPECT_TRUE(tipo_vtr == TIPO_VTR_XA);
    EXPECT_TRUE(puerto_cedido(*g0, 0, rig.unit()));
    Tmgrupo_superv* g1 = grupos_supev[1].load();
    ASSERT_NE(g1, nullptr);

    // Back to the first port, then at once to the second and the first again: each
    // worker either keeps the port it was about to give up or opens it anew.
    ASSERT_EQ(seleccionar_puerto(0, &rig.rec, rig.acciones), ResultadoSeleccion::Abierto);
    ASSERT_EQ(seleccionar_puerto(1, &rig.rec, rig.acciones), ResultadoSeleccion::Abierto);
    const int antes = rig.rec.count("carga:1");
    ASSERT_EQ(seleccionar_puerto(0, &rig.rec, rig.acciones), ResultadoSeleccion::Abierto);
    EXPECT_TRUE(rig.rec.waitFor("carga:1", antes + 1));
    EXPECT_EQ(grupos_supev[0].load(), g0);
    EXPECT_EQ(grupos_supev[1].load(), g1);
    EXPECT_TRUE(puerto_cedido(*g1, 1, *otra));
    EXPECT_TRUE(g0->fmon.load());
    EXPECT_TRUE(rig.unit().line().hostIsOpen());
    EXPECT_NE(puertos[0].load(), nullptr);
    // Selecting the monitored port again touches nothing.
    EXPECT_EQ(seleccionar_puerto(0, &rig.rec, rig.acciones), ResultadoSeleccion::SinCambio);
    EXPECT_TRUE(g0->fmon.load());

    liberar_trabajadores();
    EXPECT_FALSE(rig.unit().line().hostIsOpen());
    EXPECT_EQ(grupos_supev[0].load(), nullptr);
    fijar_unidad_simulada(1, nullptr);
}
