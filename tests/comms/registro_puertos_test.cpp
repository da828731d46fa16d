// The port registry: which backend serves a port, by the index a rig wired or by
// the prefix of the port's name, and what is left to the real port.
#include "comms/Tint_com.h"
#include "comms/nombres_puerto.h"
#include "comms/registro_puertos.h"
#include "sim/linea_simulada.h"
#include "sim/puerto_simulado.h"
#include "sim/reloj_simulado.h"
#include "sim/unidad_simulada.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint8_t kIndex = 3;

class SilentDevice final : public SimDevice {
public:
    void attach(UnitLink*) override {}
    LineFormat format() const override { return FORMAT_19200_8N1; }
    void onByte(uint8_t, bool, Tiempo) override {}
    void onDtr(bool, Tiempo) override {}
};

// A test backend: a simulated line whose adapter names the backend that made it,
// and a record of the calls it served.
struct Backend {
    explicit Backend(std::string t) : tag(std::move(t)) {}
    std::string tag;
    SilentDevice device;
    std::shared_ptr<SimLine> line = std::make_shared<SimLine>(&device);
    std::vector<std::pair<uint8_t, std::string>> calls;
    bool declines = false;

    CreadorPuerto creador() {
        return [this](uint8_t port, const std::string& name) -> std::unique_ptr<TMyCOM> {
            calls.emplace_back(port, name);
            if (declines)
                return nullptr;
            return std::make_unique<PuertoSimulado>(line, tag);
        };
    }
};

struct RegistryFixture {
    SimClock clock;
    ScopedTimeSource useClock{clock};
    std::vector<std::string> prefixes;

    ~RegistryFixture() {
        for (const auto& p : prefixes)
            registrar_backend_puerto(p, {});
        fijar_backend_indice(kIndex, {});
        fijar_unidad_simulada(kIndex, nullptr);
        fijar_nombre_puerto(kIndex, "");
    }
    void add(const std::string& prefix, Backend& b) {
        prefixes.push_back(prefix);
        registrar_backend_puerto(prefix, b.creador());
    }
    // Opens the port under a name; returns the name of the adapter that served it,
    // or "" when the port did not open.
    std::string openAs(const std::string& name) {
        fijar_nombre_puerto(kIndex, name);
        Tinterface_com port;
        if (port.abrir_interface(kIndex, MODO_RS232, 19200, 8, 1, 'N', 0, THRESHOLD08, 15000, 15000,
                                 AJUSTE_RS485_DEF) != 0)
            return {};
        return port.nombre();
    }
};

} // namespace

TEST(PortRegistry, NameIsServedByTheLongestRegisteredPrefix) {
    RegistryFixture f;
    Backend shortB("short"), longB("long");
    f.add("test:", shortB);
    f.add("test:deep:", longB);
    struct Case {
        std::string name;
        std::string servedBy;
    };
    for (const Case& c :
         {Case{"test:a", "short"}, Case{"test:deep:b", "long"}, Case{"test:dee", "short"}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(f.openAs(c.name), c.servedBy);
    }
    ASSERT_EQ(longB.calls.size(), 1u);
    EXPECT_EQ(longB.calls[0], std::make_pair(kIndex, std::string("test:deep:b")));
    EXPECT_TRUE(es_puerto_simulado("test:deep:b"));
    EXPECT_FALSE(es_puerto_simulado("tes"));
}

TEST(PortRegistry, BackendBoundToTheIndexComesBeforeThePrefix) {
    RegistryFixture f;
    Backend byPrefix("prefix"), byIndex("index");
    f.add("test:", byPrefix);
    fijar_backend_indice(kIndex, byIndex.creador());
    EXPECT_EQ(f.openAs("test:x"), "index");
    EXPECT_TRUE(byPrefix.calls.empty());
    // Unbound, the index is back to its name's backend.
    fijar_backend_indice(kIndex, {});
    EXPECT_EQ(f.openAs("test:x"), "prefix");
}

TEST(PortRegistry, DecliningBackendsLeaveTheNameToTheRealPort) {
    RegistryFixture f;
    Backend byIndex("index"), byPrefix("prefix");
    byIndex.declines = byPrefix.declines = true;
    f.add("test:", byPrefix);
    fijar_backend_indice(kIndex, byIndex.creador());
    // Both were asked, in order; the real port then finds no such device.
    EXPECT_EQ(f.openAs("test:none"), "");
    EXPECT_EQ(byIndex.calls.size(), 1u);
    EXPECT_EQ(byPrefix.calls.size(), 1u);
    // The real port cannot be unregistered: an empty prefix is refused.
    registrar_backend_puerto("", byPrefix.creador());
    EXPECT_EQ(f.openAs("other"), "");
    EXPECT_EQ(byPrefix.calls.size(), 1u);
}

TEST(PortRegistry, SimulatedUnitRegisteredAtStartServesSimNamesAndKeepsItsUnit) {
    RegistryFixture f; // the test main registered the simulated unit
    EXPECT_TRUE(es_puerto_simulado("sim:arm"));
    EXPECT_FALSE(es_puerto_simulado("/dev/ttyS0"));
    EXPECT_EQ(f.openAs("sim:xa"), "sim:xa");
    const auto unit = unidad_simulada(kIndex);
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(unit->controller(), SimUnit::Controller::XA);
    // Reopened, the port finds the same unit as it was left.
    EXPECT_EQ(f.openAs("sim:xa"), "sim:xa");
    EXPECT_EQ(unidad_simulada(kIndex), unit);
    // An unknown kind is no simulated unit: the real port finds no such device.
    fijar_unidad_simulada(kIndex, nullptr);
    EXPECT_EQ(f.openAs("sim:zz"), "");
    EXPECT_EQ(unidad_simulada(kIndex), nullptr);
}
