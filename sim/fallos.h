#pragma once
// One fault of the simulated unit, chosen by name so that an operator or a script
// can rehearse a failure without hardware: "sim:arm,fault=nack-erase",
// "sim:xa,fault=no-answer:3". Tests set the same description on a unit directly.
//
// The parsing is header-only: the front ends check a port argument with it before
// anything is opened, without linking the simulator.

#include <optional>
#include <string>
#include <vector>

struct SimFault {
    enum class Kind {
        None,
        Silent,           // the unit answers nothing at all, in any of its programs
        NoAnswer,         // the running software leaves its n-th good frame unanswered
        NackSync,         // the ARM bootloader refuses the synchronisation
        NackErase,        // the ARM bootloader refuses the erase
        NackUnprotect,    // the ARM bootloader refuses Write Unprotect
        NackWrite,        // the ARM bootloader refuses the data of its n-th Write Memory
        NackRead,         // the ARM bootloader refuses the read-back
        SlowErase,        // the erase takes a minute, far beyond the loader's time-out
        Noise,            // the running software sends stray bytes before every answer
        BadChecksum,      // every answer of the running software carries a wrong checksum
        NoPacketAnswer,   // data packets are taken but never answered
        NoEndAnswer,      // the end of the transfer is taken but never answered
        NoRoom,           // the binary start is refused: no room for the image
        OldVersion,       // the transfer completes but the unit keeps its old version
        CorruptWrite,     // the n-th Write Memory block is stored wrong, yet acknowledged
        WrongEcho,        // the XA loader echoes its n-th data record with a character changed
        SilentAfterErase, // the XA loader answers nothing once its last block is erased
        Unplug,           // the serial adapter is pulled out once the unit has received n bytes
    };
    Kind kind = Kind::None;
    int n = 0; // the 1-based number of the faulty message, for the kinds that take one

    bool operator==(const SimFault&) const = default;
};

struct SimFaultName {
    const char* name;
    SimFault::Kind kind;
    bool numbered; // written name:N
    const char* help;
};

inline const std::vector<SimFaultName>& nombres_fallo() {
    static const std::vector<SimFaultName> v{
        {"silent", SimFault::Kind::Silent, false, "the unit answers nothing"},
        {"no-answer", SimFault::Kind::NoAnswer, true, "the n-th framed message is not answered"},
        {"nack-sync", SimFault::Kind::NackSync, false, "ARM: synchronisation refused"},
        {"nack-erase", SimFault::Kind::NackErase, false, "ARM: erase refused"},
        {"nack-unprotect", SimFault::Kind::NackUnprotect, false, "ARM: Write Unprotect refused"},
        {"nack-write", SimFault::Kind::NackWrite, true, "ARM: the n-th Write Memory refused"},
        {"nack-read", SimFault::Kind::NackRead, false, "ARM: the read-back refused"},
        {"slow-erase", SimFault::Kind::SlowErase, false, "the erase outlasts its time-out"},
        {"noise", SimFault::Kind::Noise, false, "stray bytes before every framed answer"},
        {"bad-checksum", SimFault::Kind::BadChecksum, false,
         "framed answers with a wrong checksum"},
        {"no-packet-answer", SimFault::Kind::NoPacketAnswer, false,
         "data packets are never answered"},
        {"no-end-answer", SimFault::Kind::NoEndAnswer, false,
         "the end of the transfer is never answered"},
        {"no-room", SimFault::Kind::NoRoom, false, "the binary image is refused (no room)"},
        {"old-version", SimFault::Kind::OldVersion, false,
         "the unit reports its old version after the load"},
        {"corrupt-write", SimFault::Kind::CorruptWrite, true,
         "ARM: the n-th block stored wrong while acknowledged"},
        {"wrong-echo", SimFault::Kind::WrongEcho, true,
         "XA: the n-th data record echoed with a character changed"},
        {"silent-after-erase", SimFault::Kind::SilentAfterErase, false,
         "XA: the loader falls silent once its erase is done"},
        {"unplug", SimFault::Kind::Unplug, true,
         "the adapter is pulled out after the unit has received n bytes"},
    };
    return v;
}

// "nack-write:3" -> the fault; an unknown name or a missing or bad number is
// refused with the reason in `error`.
inline std::optional<SimFault> leer_fallo(const std::string& text, std::string& error) {
    const auto colon = text.find(':');
    const std::string name = text.substr(0, colon);
    for (const auto& f : nombres_fallo()) {
        if (name != f.name)
            continue;
        SimFault fault{f.kind, 0};
        if (!f.numbered) {
            if (colon != std::string::npos) {
                error = "fault '" + name + "' takes no number";
                return std::nullopt;
            }
            return fault;
        }
        const std::string num = colon == std::string::npos ? "" : text.substr(colon + 1);
        int n = 0;
        for (const char c : num) {
            if (c < '0' || c > '9' || n > 100000) {
                n = 0;
                break;
            }
            n = n * 10 + (c - '0');
        }
        if (n <= 0) {
            error = "fault '" + name + "' needs a message number, e.g. " + name + ":3";
            return std::nullopt;
        }
        fault.n = n;
        return fault;
    }
    error = "unknown fault '" + name +
            "' (the faults are listed in the README, \"Rehearsing "
            "failures\")";
    return std::nullopt;
}

// A simulated port's name after "sim:": the controller ("arm" or "xa"), optionally
// "#N" naming one unit of several ("arm#1", "arm#2": units of their own, each with
// its own memory), then optionally ",fault=NAME[:N]".
struct SimPortSpec {
    std::string kind;
    SimFault fault;
    std::string unit; // the kind and its "#N", lower-case: "arm#2"; "arm" when unnumbered
};

inline std::optional<SimPortSpec> leer_puerto_simulado(const std::string& rest,
                                                       std::string& error) {
    const auto comma = rest.find(',');
    const std::string name = rest.substr(0, comma);
    const auto hash = name.find('#');
    SimPortSpec spec{name.substr(0, hash), {}, {}};
    if (spec.kind != "arm" && spec.kind != "xa" && spec.kind != "ARM" && spec.kind != "XA") {
        error = "unknown simulated unit '" + spec.kind + "' (sim:arm or sim:xa)";
        return std::nullopt;
    }
    spec.unit = spec.kind == "ARM" ? "arm" : spec.kind == "XA" ? "xa" : spec.kind;
    if (hash != std::string::npos) {
        const std::string num = name.substr(hash + 1);
        bool digits = !num.empty() && num.size() <= 6 && num[0] != '0';
        for (const char c : num)
            digits = digits && c >= '0' && c <= '9';
        if (!digits) {
            error =
                "bad unit number '" + num + "' of a simulated unit (e.g. sim:" + spec.unit + "#2)";
            return std::nullopt;
        }
        spec.unit += "#" + num;
    }
    if (comma == std::string::npos)
        return spec;
    const std::string option = rest.substr(comma + 1);
    const std::string key = "fault=";
    if (option.rfind(key, 0) != 0) {
        error = "unknown option '" + option + "' of a simulated unit (only fault=NAME)";
        return std::nullopt;
    }
    auto fault = leer_fallo(option.substr(key.size()), error);
    if (!fault)
        return std::nullopt;
    spec.fault = *fault;
    return spec;
}

class SimUnit;
// Puts the fault on the unit's parts, clearing whatever fault was there before;
// SimFault{} clears it.
void aplicar_fallo(SimUnit& unit, const SimFault& fault);
