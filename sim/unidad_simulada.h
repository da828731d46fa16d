#pragma once
// The simulated VTR-900 unit: a controller (ARM or XA) that runs its software, or
// its loader, as the DTR line tells it, behind a simulated serial line.

#include "sim/bootloader_arm.h"
#include "sim/cargador_xa.h"
#include "sim/linea_simulada.h"
#include "sim/puerto_simulado.h" // fijar_unidad_simulada wires a unit to a port index
#include "sim/software_unidad.h"

#include <array>
#include <memory>
#include <string>

class SimUnit final : public SimDevice {
public:
    enum class Controller { ARM, XA };
    enum class Mode { Reset, Application, ArmBootloader, XaLoader };

    explicit SimUnit(Controller c);
    ~SimUnit() override;

    Controller controller() const { return controller_; }
    Mode mode() const;
    static const char* modeName(Mode m);

    SimLine& line() { return *line_; }
    UnitLink& link() { return *link_; }
    SimRunningSoftware& software() { return *software_; }
    SimArmBootloader& armBootloader() { return *arm_; }
    SimXaLoader& xaLoader() { return *xa_; }

    // Over a pseudo-terminal there are no modem lines: the loaders are entered by
    // their traffic instead of by the DTR sequences.
    bool modemLines() const { return link_ ? link_->hasModemLines() : true; }

    // Keep every record of what the unit received (the default, for tests), or only
    // the newest entry of each: see SimPersonality::setKeepHistory.
    void setKeepHistory(bool on);

    // Switches the controller to another program (DTR decoding, or the traffic
    // itself when there are no modem lines).
    void enterMode(Mode m, Tiempo t);

    // SimDevice
    void attach(UnitLink* link) override { link_ = link; }
    LineFormat format() const override;
    void onByte(uint8_t b, bool garbled, Tiempo t) override;
    void onDtr(bool asserted, Tiempo t) override;
    void onOpen(Tiempo t) override;

private:
    SimPersonality* current() const;
    void decodeDtr(bool asserted, Tiempo t); // in unidad_dtr.cpp
    // Without modem lines the loaders are entered and left by traffic instead
    // (unidad_dtr.cpp); called before each byte is dispatched.
    void decodeTraffic(uint8_t b, Tiempo t);

    Controller controller_;
    Mode mode_ = Mode::Application;
    UnitLink* link_ = nullptr;
    std::unique_ptr<SimRunningSoftware> software_;
    std::unique_ptr<SimArmBootloader> arm_;
    std::unique_ptr<SimXaLoader> xa_;
    std::unique_ptr<SimLine> line_;

public:
    // DTR decoding state (unidad_dtr.cpp).
    struct DtrState {
        bool asserted = true;
        Tiempo since{0};
        int shortPulses = 0;
        Tiempo lastClear{0};
        Tiempo lastAssert{0};
        // Lengths of the last completed periods, newest first (levels alternate).
        std::array<Tiempo, 3> recent{};
        unsigned long long gen = 0; // bumped by every change: cancels pending checks
    };

private:
    DtrState dtr_;
};

std::shared_ptr<SimUnit> crear_unidad_simulada(const std::string& kind); // "arm" / "xa"
