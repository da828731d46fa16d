#include "sim/cargador_xa.h"

#include "common/hex.h"
#include "sim/unidad_simulada.h"

#include <algorithm>
#include <optional>

namespace {
// The byte count of a record is known after ':' and two digits.
constexpr size_t COUNT_END = 3;
// ':' + count (2) + address (4) + type (2) + checksum (2), before the data digits.
constexpr size_t RECORD_OVERHEAD = 11;
// A record left half-sent for this long is given up: the next character starts afresh.
constexpr Tiempo RECORD_IDLE_LIMIT = ms(1000);
// What a Chatter fault sends: a character no awaited answer contains.
constexpr uint8_t CHATTER_CHAR = '?';

std::optional<uint8_t> hexByte(const std::string& s, size_t pos) {
    const int hi = valor_hex(s[pos]);
    const int lo = valor_hex(s[pos + 1]);
    if (hi < 0 || lo < 0)
        return std::nullopt;
    return static_cast<uint8_t>(hi * 16 + lo);
}

std::vector<uint8_t> bytesOf(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

const std::vector<uint8_t> ACK = bytesOf(".\r\n");
const std::vector<uint8_t> NAK = bytesOf("X\r\n");

std::string hex2(uint8_t v) {
    static const char* digits = "0123456789ABCDEF";
    return std::string{digits[v >> 4], digits[v & 0x0F]};
}
} // namespace

const std::vector<SimXaLoader::Block>& SimXaLoader::blocks() {
    static const std::vector<Block> b = {
        {0x00, 0x0000, 0x1FFF}, {0x20, 0x2000, 0x3FFF}, {0x40, 0x4000, 0x7FFF},
        {0x80, 0x8000, 0xBFFF}, {0xC0, 0xC000, 0xFFFF},
    };
    return b;
}

SimXaLoader::SimXaLoader(SimUnit& unit) : SimPersonality(unit) {}

void SimXaLoader::setFaults(const Faults& f) {
    std::lock_guard<std::mutex> lock(m_);
    faults_ = f;
    faultUses_.clear();
}

void SimXaLoader::restart(Tiempo t) {
    std::lock_guard<std::mutex> lock(m_);
    ++gen_;
    ++restarts_;
    current_.clear();
    expected_ = 0;
    heldEcho_.clear();
    busyUntil_ = t;
    upper_ = 0;
}

const SimXaLoader::LineFault* SimXaLoader::faultFor(const std::string& text, bool exact) {
    for (const LineFault& f : faults_.lineFaults) {
        if (f.times >= 0 && faultUses_[f.line] >= f.times)
            continue;
        const bool match = exact ? f.line == text : f.line.compare(0, text.size(), text) == 0;
        if (match)
            return &f;
    }
    return nullptr;
}

void SimXaLoader::sendAt(const std::vector<uint8_t>& bytes, Tiempo at) {
    if (bytes.empty())
        return;
    at = std::max(at, busyUntil_);
    busyUntil_ = at;
    const unsigned long long gen = gen_;
    // Sent from an event of the line, outside this loader's lock, so that the line
    // and the loader are always locked in the same order.
    unit_.link().schedule(at, [this, gen, bytes] {
        {
            std::lock_guard<std::mutex> lock(m_);
            if (gen != gen_)
                return; // the controller restarted since
        }
        if (unit_.mode() != SimUnit::Mode::XaLoader)
            return;
        unit_.link().sendToHost(bytes, format());
    });
}

void SimXaLoader::onByte(uint8_t b, bool /*garbled*/, Tiempo t) {
    {
        std::lock_guard<std::mutex> lock(m_);
        if (!current_.empty() && t - lines_.back().t > RECORD_IDLE_LIMIT) {
            // The rest of that record is not coming: forget it.
            current_.clear();
            expected_ = 0;
            heldEcho_.clear();
        }
        const bool between = current_.empty();
        // Without modem lines the host's first frame start takes the unit back to
        // its software (it is the only way back without a reset).
        if (!(between && b == 0xA5 && !unit_.modemLines())) {
            if (between && b != ':' && b != 'f')
                return; // noise between lines
            if (between)
                anotar(lines_, LineRecord{t, std::string(), false});
            current_.push_back(static_cast<char>(b));
            lines_.back().t = t;
            lines_.back().text = current_;
            if (!faults_.silent) {
                // A line whose answer a fault holds back keeps its echo too, until it
                // no longer can be that line.
                const LineFault* f = faultFor(current_, false);
                if (f && f->kind != LineFault::Kind::SplitAck) {
                    heldEcho_.push_back(b);
                } else {
                    heldEcho_.push_back(b);
                    sendAt(heldEcho_, t);
                    heldEcho_.clear();
                }
            }
            bool complete = current_ == "f";
            if (!complete && current_.size() > 1 && valor_hex(static_cast<char>(b)) < 0)
                complete = true; // not a record: refused at once
            if (!complete && current_.size() == COUNT_END)
                expected_ = RECORD_OVERHEAD + 2 * static_cast<size_t>(*hexByte(current_, 1));
            if (!complete && expected_ != 0 && current_.size() == expected_)
                complete = true;
            if (complete)
                lineComplete(t);
            return;
        }
    }
    unit_.enterMode(SimUnit::Mode::Application, t);
    unit_.software().onByte(b, false, t);
}

void SimXaLoader::lineComplete(Tiempo t) {
    const std::string text = current_;
    current_.clear();
    expected_ = 0;
    std::vector<uint8_t> echo;
    echo.swap(heldEcho_);
    if (faults_.silent)
        return;
    const LineFault* f = faultFor(text, true);
    if (f)
        ++faultUses_[f->line];
    const Answer a = execute(text);
    lines_.back().accepted = a.accepted;
    std::vector<uint8_t> all = echo;
    all.insert(all.end(), a.bytes.begin(), a.bytes.end());
    if (!f) {
        sendAt(echo, t);
        sendAt(a.bytes, t + a.busy);
        return;
    }
    switch (f->kind) {
    case LineFault::Kind::Silent:
        break;
    case LineFault::Kind::LateAnswer:
        sendAt(all, t + f->delay);
        break;
    case LineFault::Kind::SplitAck:
        sendAt(a.bytes, t + a.busy + f->delay);
        break;
    case LineFault::Kind::Chatter: {
        const Tiempo period = std::max(faults_.chatterPeriod, ms(1));
        for (Tiempo d{0}; d < f->delay; d += period)
            sendAt({CHATTER_CHAR}, t + d);
        sendAt(all, t + f->delay);
        break;
    }
    }
}

SimXaLoader::Answer SimXaLoader::execute(const std::string& line) {
    if (line == "f")
        return {{}, true, Tiempo(0)}; // the echo is the answer
    const Answer refused{NAK, false, Tiempo(0)};
    if (line.size() < RECORD_OVERHEAD || line[0] != ':' || (line.size() - 1) % 2 != 0)
        return refused;
    std::vector<uint8_t> rec;
    for (size_t i = 1; i + 1 < line.size(); i += 2) {
        const auto v = hexByte(line, i);
        if (!v)
            return refused;
        rec.push_back(*v);
    }
    uint8_t sum = 0;
    for (uint8_t v : rec)
        sum = static_cast<uint8_t>(sum + v);
    const size_t count = rec[0];
    if (sum != 0 || rec.size() != count + 5)
        return refused;
    const uint32_t offset = static_cast<uint32_t>(rec[1]) << 8 | rec[2];
    const uint8_t type = rec[3];
    const uint8_t* d = rec.data() + 4;
    const Answer ok{ACK, true, Tiempo(0)};

    switch (type) {
    case 0x00: { // data
        for (size_t i = 0; i < count; ++i) {
            const uint32_t a = (upper_ << 16) + offset + static_cast<uint32_t>(i);
            const bool erased = std::any_of(blocks().begin(), blocks().end(), [&](const Block& b) {
                return a >= b.first && a <= b.last &&
                       std::find(erased_.begin(), erased_.end(), b.code) != erased_.end();
            });
            if (!erased)
                anotar(unerased_, a);
            memory_[a] = d[i];
        }
        return ok;
    }
    case 0x01: // end of file
        return ok;
    case 0x04: // extended linear address
        if (count != 2)
            return refused;
        upper_ = static_cast<uint32_t>(d[0]) << 8 | d[1];
        return ok;
    case 0x82: // speed
        return count == 1 ? ok : refused;
    case 0x83: // erase and program the boot vector / status byte
        if (count == 2 && d[0] == 0x01) {
            for (const Block& b : blocks()) {
                if (b.code != d[1])
                    continue;
                memory_.erase(memory_.lower_bound(b.first), memory_.upper_bound(b.last));
                // The erased blocks are state, not only a record: kept once each
                // when the history is not.
                if (keepHistory_.load() ||
                    std::find(erased_.begin(), erased_.end(), b.code) == erased_.end())
                    erased_.push_back(b.code);
                return {ACK, true, faults_.eraseTime};
            }
            return refused;
        }
        if (count == 1 && d[0] == 0x04) {
            status_ = 0xFF;
            boot_ = 0xFF;
            return ok;
        }
        if (count == 3 && d[0] == 0x06 && (d[1] == 0x00 || d[1] == 0x01)) {
            (d[1] == 0x00 ? status_ : boot_) = d[2];
            return ok;
        }
        return refused;
    case 0x85: // read the status byte / boot vector
        if (count == 2 && d[0] == 0x07 && (d[1] == 0x01 || d[1] == 0x02)) {
            const int knob = d[1] == 0x01 ? faults_.statusReadBack : faults_.bootReadBack;
            const uint8_t v =
                knob >= 0 ? static_cast<uint8_t>(knob) : (d[1] == 0x01 ? status_ : boot_);
            std::vector<uint8_t> answer = bytesOf(hex2(v));
            answer.insert(answer.end(), ACK.begin(), ACK.end());
            return {answer, true, Tiempo(0)};
        }
        return refused;
    default:
        return refused;
    }
}

std::vector<SimXaLoader::LineRecord> SimXaLoader::lines() const {
    std::lock_guard<std::mutex> lock(m_);
    return lines_;
}

std::vector<std::string> SimXaLoader::lineTexts() const {
    std::lock_guard<std::mutex> lock(m_);
    std::vector<std::string> out;
    for (const auto& l : lines_)
        out.push_back(l.text);
    return out;
}

std::map<uint32_t, uint8_t> SimXaLoader::memory() const {
    std::lock_guard<std::mutex> lock(m_);
    return memory_;
}

std::vector<uint8_t> SimXaLoader::erasedBlocks() const {
    std::lock_guard<std::mutex> lock(m_);
    return erased_;
}

std::vector<uint32_t> SimXaLoader::unerasedWrites() const {
    std::lock_guard<std::mutex> lock(m_);
    return unerased_;
}

uint8_t SimXaLoader::statusByte() const {
    std::lock_guard<std::mutex> lock(m_);
    return status_;
}

uint8_t SimXaLoader::bootVector() const {
    std::lock_guard<std::mutex> lock(m_);
    return boot_;
}

int SimXaLoader::restarts() const {
    std::lock_guard<std::mutex> lock(m_);
    return restarts_;
}
