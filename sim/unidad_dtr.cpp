// How the unit's hardware reads the DTR line.
//
// ARM: a cleared line holds the controller in reset; releasing it starts the
// application, except after the boot pattern (cleared, asserted, cleared, each a
// few tens of milliseconds), whose final assertion starts the UART bootloader.
//
// XA: short pulses alone do nothing. Six pulses of about 100 ms cleared and 100 ms
// asserted, followed by the line held cleared for most of a second, start the
// in-system programming loader, which runs while the line stays cleared; a long
// clear without the pulses is a reset. Asserting the line after either starts the
// application.
//
// Over a pseudo-terminal there is no DTR: the loaders are entered by traffic.

#include "sim/unidad_simulada.h"

namespace {
// Windows wide enough for the host's own timing, narrow enough that a sequence
// with the wrong timing (by a wide margin) does not pass.
constexpr Tiempo ARM_BOOT_MIN = ms(30);
constexpr Tiempo ARM_BOOT_MAX = ms(80);
constexpr Tiempo XA_PULSE_MIN = ms(60);
constexpr Tiempo XA_PULSE_MAX = ms(150);
constexpr int XA_PULSES = 6;
constexpr Tiempo XA_HOLD = ms(900); // cleared this long: loader (after the pulses) or reset

constexpr uint8_t ARM_SYNC = 0x7F;    // first byte the host sends to the bootloader
constexpr uint8_t FRAME_START = 0xA5; // first byte of every frame for the application

bool within(Tiempo d, Tiempo lo, Tiempo hi) {
    return d >= lo && d <= hi;
}
} // namespace

void SimUnit::decodeDtr(bool asserted, Tiempo t) {
    if (!modemLines() || asserted == dtr_.asserted) {
        // No modem lines, or a call that leaves the level as it was.
        dtr_.asserted = asserted;
        return;
    }
    const Tiempo ended = t - dtr_.since;
    dtr_.recent = {ended, dtr_.recent[0], dtr_.recent[1]};
    dtr_.asserted = asserted;
    dtr_.since = t;
    ++dtr_.gen;
    (asserted ? dtr_.lastAssert : dtr_.lastClear) = t;

    if (controller_ == Controller::ARM) {
        if (!asserted) {
            enterMode(Mode::Reset, t);
            return;
        }
        const bool boot = within(dtr_.recent[0], ARM_BOOT_MIN, ARM_BOOT_MAX) &&
                          within(dtr_.recent[1], ARM_BOOT_MIN, ARM_BOOT_MAX) &&
                          within(dtr_.recent[2], ARM_BOOT_MIN, ARM_BOOT_MAX);
        enterMode(boot ? Mode::ArmBootloader : Mode::Application, t);
        return;
    }

    // XA controller
    if (asserted) {
        if (mode_ == Mode::XaLoader || mode_ == Mode::Reset)
            enterMode(Mode::Application, t);
        return;
    }
    // A clear ends a pulse when both halves before it were short.
    if (within(dtr_.recent[0], XA_PULSE_MIN, XA_PULSE_MAX) &&
        within(dtr_.recent[1], XA_PULSE_MIN, XA_PULSE_MAX))
        ++dtr_.shortPulses;
    else
        dtr_.shortPulses = 0;
    if (!link_)
        return;
    const unsigned long long gen = dtr_.gen;
    const bool loader = dtr_.shortPulses == XA_PULSES;
    const Tiempo at = t + XA_HOLD;
    link_->schedule(at, [this, gen, loader, at] {
        if (gen == dtr_.gen) // still cleared since then
            enterMode(loader ? Mode::XaLoader : Mode::Reset, at);
    });
}

void SimUnit::decodeTraffic(uint8_t b, Tiempo t) {
    if (controller_ != Controller::ARM)
        return;
    // A synchronisation byte reaching the application between frames stands for
    // the boot sequence (inside one it is data: a binary packet holds any byte);
    // a frame start reaching an idle bootloader for the reset after it.
    if (mode_ == Mode::Application && b == ARM_SYNC && !software_->inFrame(t))
        enterMode(Mode::ArmBootloader, t);
    else if (mode_ == Mode::ArmBootloader && b == FRAME_START && arm_->awaitingCommand())
        enterMode(Mode::Application, t);
}
