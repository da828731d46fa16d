#include "sim/fallos.h"

#include "sim/unidad_simulada.h"

namespace {
// Far beyond any erase the loaders wait for, yet finite so that the unit recovers.
constexpr Tiempo ERASE_LENTO = ms(60000);
} // namespace

void aplicar_fallo(SimUnit& unit, const SimFault& fault) {
    using K = SimFault::Kind;
    SimArmBootloader::Faults arm;
    SimXaLoader::Faults xa;
    auto cfg = unit.software().config();
    const SimRunningSoftware::Config limpio;
    cfg.silent = limpio.silent;
    cfg.noAnswerTo = limpio.noAnswerTo;
    cfg.noAnswerToPackets = limpio.noAnswerToPackets;
    cfg.noAnswerToEnd = limpio.noAnswerToEnd;
    cfg.noise = limpio.noise;
    cfg.refuseBinary = limpio.refuseBinary;
    cfg.wrongChecksum = limpio.wrongChecksum;
    cfg.keepOldVersion = limpio.keepOldVersion;

    switch (fault.kind) {
    case K::None:
        break;
    case K::Silent:
        cfg.silent = arm.silent = xa.silent = true;
        break;
    case K::NoAnswer:
        cfg.noAnswerTo = {fault.n};
        break;
    case K::NackSync:
        arm.nackSync = true;
        break;
    case K::NackErase:
        arm.nackErase = true;
        break;
    case K::NackUnprotect:
        arm.writeProtected = true;
        break;
    case K::NackWrite:
        arm.nackWriteBlock = fault.n;
        break;
    case K::NackRead:
        arm.refuseRead = true;
        break;
    case K::SlowErase:
        arm.eraseTime = xa.eraseTime = ERASE_LENTO;
        break;
    case K::Noise:
        cfg.noise = {0x00, 0xFF, 0x13};
        break;
    case K::BadChecksum:
        cfg.wrongChecksum = true;
        break;
    case K::NoPacketAnswer:
        cfg.noAnswerToPackets = true;
        break;
    case K::NoEndAnswer:
        cfg.noAnswerToEnd = true;
        break;
    case K::NoRoom:
        cfg.refuseBinary = true;
        break;
    case K::OldVersion:
        cfg.keepOldVersion = true;
        break;
    case K::CorruptWrite:
        arm.corruptWriteBlock = fault.n;
        break;
    case K::WrongEcho:
        xa.wrongEchoRecord = fault.n;
        break;
    case K::SilentAfterErase:
        xa.silentAfterErase = true;
        break;
    case K::Unplug:
        break;
    }
    unit.software().setConfig(cfg);
    unit.armBootloader().setFaults(arm);
    unit.xaLoader().setFaults(xa);
    // Any other fault, or none, finds the adapter plugged in, as the operator
    // plugs it back in.
    unit.adapter().desenchufar_tras(fault.kind == K::Unplug ? fault.n : 0);
}
