#include "sim/unidad_simulada.h"

SimUnit::SimUnit(Controller c)
    : controller_(c), software_(std::make_unique<SimRunningSoftware>(*this)),
      arm_(std::make_unique<SimArmBootloader>(*this)), xa_(std::make_unique<SimXaLoader>(*this)) {
    line_ = std::make_unique<SimLine>(this);
}

SimUnit::~SimUnit() = default;

void SimUnit::setKeepHistory(bool on) {
    software_->setKeepHistory(on);
    arm_->setKeepHistory(on);
    xa_->setKeepHistory(on);
}

SimUnit::Mode SimUnit::mode() const {
    return mode_;
}

const char* SimUnit::modeName(Mode m) {
    switch (m) {
    case Mode::Reset:
        return "reset";
    case Mode::Application:
        return "application";
    case Mode::ArmBootloader:
        return "ARM bootloader";
    case Mode::XaLoader:
        return "XA loader";
    }
    return "?";
}

SimPersonality* SimUnit::current() const {
    switch (mode_) {
    case Mode::Application:
        return software_.get();
    case Mode::ArmBootloader:
        return arm_.get();
    case Mode::XaLoader:
        return xa_.get();
    case Mode::Reset:
        break;
    }
    return nullptr;
}

void SimUnit::enterMode(Mode m, Tiempo t) {
    if (m == mode_)
        return;
    mode_ = m;
    if (SimPersonality* p = current())
        p->restart(t);
}

LineFormat SimUnit::format() const {
    SimPersonality* p = current();
    return p ? p->format() : FORMAT_19200_8N1;
}

void SimUnit::onByte(uint8_t b, bool garbled, Tiempo t) {
    if (!modemLines())
        decodeTraffic(b, t);
    // Without modem lines the XA loader's synchronisation character stands for the
    // programming-mode pulses; the loader then answers it (it leaves on a frame start).
    if (!modemLines() && controller_ == Controller::XA && mode_ == Mode::Application && !garbled &&
        b == 'f')
        enterMode(Mode::XaLoader, t);
    if (SimPersonality* p = current())
        p->onByte(b, garbled, t);
}

void SimUnit::onDtr(bool asserted, Tiempo t) {
    decodeDtr(asserted, t);
}

void SimUnit::onOpen(Tiempo t) {
    dtr_.since = t;
}

std::shared_ptr<SimUnit> crear_unidad_simulada(const std::string& kind) {
    if (kind == "xa" || kind == "XA")
        return std::make_shared<SimUnit>(SimUnit::Controller::XA);
    if (kind == "arm" || kind == "ARM")
        return std::make_shared<SimUnit>(SimUnit::Controller::ARM);
    return nullptr;
}
