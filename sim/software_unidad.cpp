#include "sim/software_unidad.h"

#include "common/global.h"
#include "sim/unidad_simulada.h"

#include <algorithm>

namespace {
constexpr uint8_t STX = 0xA5;
constexpr uint8_t COMANDO_ESTADO = 4;
// Silence inside a frame after which the unit gives the frame up: about 38
// character times at 19200 baud. The host sends a frame in one go, so only a
// truncated frame ever sees such a gap.
constexpr Tiempo HUECO_TRAMA = ms(20);
} // namespace

SimRunningSoftware::SimRunningSoftware(SimUnit& unit) : SimPersonality(unit) {}

void SimRunningSoftware::setConfig(const Config& c) {
    std::lock_guard<std::mutex> lock(m_);
    config_ = c;
}

SimRunningSoftware::Config SimRunningSoftware::config() const {
    std::lock_guard<std::mutex> lock(m_);
    return config_;
}

SimRunningSoftware::Records SimRunningSoftware::records() const {
    std::lock_guard<std::mutex> lock(m_);
    return records_;
}

void SimRunningSoftware::clearRecords() {
    std::lock_guard<std::mutex> lock(m_);
    records_ = Records{};
    goodFrames_ = 0;
    lastPacketSeq_.reset();
}

std::pair<uint8_t, uint8_t> SimRunningSoftware::version() const {
    std::lock_guard<std::mutex> lock(m_);
    return versionLocked();
}

std::pair<uint8_t, uint8_t> SimRunningSoftware::versionLocked() const {
    if (newVersion_)
        return *newVersion_;
    const bool arm = unit_.controller() == SimUnit::Controller::ARM;
    return {config_.major.value_or(arm ? 4 : 3), config_.minor.value_or(arm ? 10 : 5)};
}

uint32_t SimRunningSoftware::crc32(const std::vector<uint8_t>& data) {
    uint32_t c = 0xFFFFFFFFu;
    for (uint8_t x : data)
        c = tabla_crc32[(c ^ x) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::optional<std::pair<uint8_t, uint8_t>>
SimRunningSoftware::versionFromId(const std::string& id) {
    if (id.size() < 4)
        return std::nullopt;
    const std::string d = id.substr(id.size() - 4);
    if (!std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::make_pair(static_cast<uint8_t>((d[0] - '0') * 10 + (d[1] - '0')),
                          static_cast<uint8_t>((d[2] - '0') * 10 + (d[3] - '0')));
}

void SimRunningSoftware::restart(Tiempo t) {
    std::lock_guard<std::mutex> lock(m_);
    awakeAt_ = t + config_.bootDelay;
    ++generation_; // answers of the program that ran before are never sent
    resetReceiverLocked();
    lastPacketSeq_.reset();
}

void SimRunningSoftware::resetReceiverLocked() {
    inFrame_ = false;
    pendingA5_ = false;
    frame_.clear();
}

void SimRunningSoftware::rejectLocked(Tiempo t, Rejection r) {
    anotar(records_.rejected, Rejected{t, r, frame_});
    resetReceiverLocked();
}

void SimRunningSoftware::onByte(uint8_t b, bool garbled, Tiempo t) {
    std::vector<Answer> answers;
    Tiempo delay{0};
    {
        std::lock_guard<std::mutex> lock(m_);
        byteLocked(b, garbled, t, answers);
        delay = config_.replyDelay;
    }
    // Scheduled outside our own lock: the line's lock is always taken first.
    for (auto& a : answers) {
        unit_.link().schedule(t + delay, [this, a = std::move(a)] {
            {
                std::lock_guard<std::mutex> lock(m_);
                if (a.generation != generation_)
                    return;
            }
            if (unit_.mode() != SimUnit::Mode::Application)
                return;
            unit_.link().sendToHost(a.bytes, format());
        });
    }
}

bool SimRunningSoftware::inFrame(Tiempo t) const {
    std::lock_guard<std::mutex> lock(m_);
    return inFrame_ && t - lastByte_ <= HUECO_TRAMA;
}

void SimRunningSoftware::byteLocked(uint8_t b, bool garbled, Tiempo t, std::vector<Answer>& out) {
    if (t < awakeAt_) {
        ++records_.ignoredWhileBooting;
        return;
    }
    if (garbled) {
        // A character sent at another format is noise: it ends any frame under way.
        ++records_.garbledBytes;
        if (inFrame_)
            rejectLocked(t, Rejection::Garbled);
        return;
    }
    if (inFrame_ && t - lastByte_ > HUECO_TRAMA)
        rejectLocked(lastByte_, pendingA5_ ? Rejection::Stuffing : Rejection::Incomplete);
    lastByte_ = t;

    auto startFrame = [&] {
        resetReceiverLocked();
        inFrame_ = true;
        frameStart_ = t;
        frame_.push_back(STX);
    };
    if (!inFrame_) {
        if (b == STX)
            startFrame();
        return; // anything else between frames is ignored
    }
    if (frame_.size() == 1) { // control byte: never 0xA5
        if (b == STX) {
            rejectLocked(t, Rejection::Stuffing);
            startFrame();
            return;
        }
        frame_.push_back(b);
        return;
    }
    if (pendingA5_) {
        pendingA5_ = false;
        if (b != STX) {
            // A single 0xA5 inside a frame is the start of the next one.
            rejectLocked(t, Rejection::Stuffing);
            startFrame();
            frame_.push_back(b);
            return;
        }
        frame_.push_back(STX);
    } else if (b == STX) {
        pendingA5_ = true;
        return;
    } else {
        frame_.push_back(b);
    }
    if (frame_.size() >= 6 && frame_.size() == 7u + frame_[5])
        frameCompleteLocked(t, out);
}

void SimRunningSoftware::frameCompleteLocked(Tiempo t, std::vector<Answer>& out) {
    unsigned sum = 0;
    for (size_t i = 1; i < frame_.size(); ++i)
        sum += frame_[i];
    if ((sum & 0xFF) != 0) {
        rejectLocked(t, Rejection::Checksum);
        return;
    }
    Frame f{frameStart_,
            t,
            static_cast<uint8_t>(frame_[1] & 0x0F),
            static_cast<uint8_t>((frame_[1] >> 4) & 0x07),
            frame_[2],
            static_cast<uint16_t>(frame_[3] << 8 | frame_[4]),
            std::vector<uint8_t>(frame_.begin() + 6, frame_.end() - 1),
            false};
    const uint8_t control = frame_[1];
    const auto payload = handleLocked(f);
    if (!payload)
        return; // rejected by handleLocked
    ++goodFrames_;
    const bool isPacket = f.command == COMANDO_COMANDO && !f.payload.empty() &&
                          f.payload[0] == SUBCOMANDO_PAQUETE_TRANSFERENCIA;
    const bool isEnd = f.command == COMANDO_COMANDO && !f.payload.empty() &&
                       f.payload[0] == SUBCOMANDO_FIN_TRANSFERENCIA;
    const bool skip = config_.silent ||
                      std::find(config_.noAnswerTo.begin(), config_.noAnswerTo.end(),
                                goodFrames_) != config_.noAnswerTo.end() ||
                      (isPacket && config_.noAnswerToPackets) || (isEnd && config_.noAnswerToEnd);
    f.answered = !skip;
    anotar(records_.frames, std::move(f));
    resetReceiverLocked();
    if (skip)
        return;
    std::vector<uint8_t> bytes = config_.noise;
    const auto frame = buildAnswerLocked(control, *payload);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    out.push_back({std::move(bytes), generation_});
}

std::vector<uint8_t> SimRunningSoftware::buildAnswerLocked(uint8_t control,
                                                           const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> w{STX, static_cast<uint8_t>(control & 0x7F), 0, 0,
                           0,   static_cast<uint8_t>(payload.size())};
    w.insert(w.end(), payload.begin(), payload.end());
    unsigned sum = 0;
    for (size_t i = 1; i < w.size(); ++i)
        sum += w[i];
    uint8_t cs = static_cast<uint8_t>((256 - (sum & 0xFF)) & 0xFF);
    if (config_.wrongChecksum)
        cs = static_cast<uint8_t>(cs + 1);
    w.push_back(cs);
    std::vector<uint8_t> out{w[0], w[1]};
    for (size_t i = 2; i < w.size(); ++i) {
        out.push_back(w[i]);
        if (w[i] == STX)
            out.push_back(STX);
    }
    return out;
}

std::optional<std::vector<uint8_t>> SimRunningSoftware::handleLocked(const Frame& f) {
    const auto& p = f.payload;
    auto reject = [&](Rejection r) -> std::optional<std::vector<uint8_t>> {
        rejectLocked(f.end, r);
        return std::nullopt;
    };
    auto ok = [](uint8_t sub, uint8_t status) {
        return std::optional<std::vector<uint8_t>>(
            std::vector<uint8_t>{sub, TRANSFERENCIA_FIRMWARE, status});
    };
    if (f.command == COMANDO_ESTADO) {
        if (!p.empty())
            return reject(Rejection::Length);
        const auto v = versionLocked();
        return std::vector<uint8_t>{config_.unitType, static_cast<uint8_t>(config_.model >> 8),
                                    static_cast<uint8_t>(config_.model & 0xFF), v.first, v.second};
    }
    if (f.command != COMANDO_COMANDO || p.empty())
        return reject(f.command == COMANDO_COMANDO ? Rejection::Length : Rejection::Unknown);

    Records& r = records_;
    auto newTransfer = [&] {
        r.started = false;
        r.binary = false;
        r.announcedSize = 0;
        r.packets = 0;
        r.retransmissions = 0;
        r.sequenceErrors = 0;
        r.data.clear();
        r.endReceived = false;
        r.endCrc = 0;
        r.crcMatched = false;
        r.completed = false;
        lastPacketSeq_.reset();
    };
    switch (p[0]) {
    case SUBCOMANDO_ID_GRABACION:
        if (p.size() < 2 || p.back() != 0)
            return reject(Rejection::Length);
        newTransfer();
        r.identification.assign(p.begin() + 1, p.end() - 1);
        return ok(SUBCOMANDO_ID_GRABACION, 0);
    case SUBCOMANDO_MODO_GRABACION:
        if (p.size() != 1)
            return reject(Rejection::Length);
        r.programmingMode = true;
        return ok(SUBCOMANDO_MODO_GRABACION, 0);
    case SUBCOMANDO_INICIO_TRANSFERENCIA: {
        if ((p.size() != 2 && p.size() != 6) || p[1] != TRANSFERENCIA_FIRMWARE)
            return reject(Rejection::Length);
        const std::string id = r.identification;
        newTransfer();
        r.identification = id;
        r.binary = p.size() == 6;
        if (r.binary)
            r.announcedSize = static_cast<uint32_t>(p[2]) << 24 |
                              static_cast<uint32_t>(p[3]) << 16 | static_cast<uint32_t>(p[4]) << 8 |
                              p[5];
        const bool refused = r.binary && config_.refuseBinary;
        r.started = !refused;
        return ok(SUBCOMANDO_INICIO_TRANSFERENCIA, refused ? 1 : 0);
    }
    case SUBCOMANDO_PAQUETE_TRANSFERENCIA:
        if (p.size() < 2 || p[1] != TRANSFERENCIA_FIRMWARE)
            return reject(Rejection::Length);
        if (lastPacketSeq_ && *lastPacketSeq_ == f.sequence) {
            ++r.retransmissions; // the host did not hear the answer: already taken
        } else {
            const uint8_t expected = lastPacketSeq_ ? (*lastPacketSeq_ + 1) % 8 : 1;
            if (f.sequence != expected)
                ++r.sequenceErrors;
            lastPacketSeq_ = f.sequence;
            r.data.insert(r.data.end(), p.begin() + 2, p.end());
            ++r.packets;
        }
        return ok(SUBCOMANDO_PAQUETE_TRANSFERENCIA, 0);
    case SUBCOMANDO_FIN_TRANSFERENCIA: {
        if (p.size() != 6 || p[1] != TRANSFERENCIA_FIRMWARE)
            return reject(Rejection::Length);
        r.endReceived = true;
        r.endCrc = static_cast<uint32_t>(p[2]) << 24 | static_cast<uint32_t>(p[3]) << 16 |
                   static_cast<uint32_t>(p[4]) << 8 | p[5];
        r.crcMatched = r.endCrc == crc32(r.data);
        const bool sizeOk = !r.binary || r.data.size() == r.announcedSize;
        r.completed = r.crcMatched && sizeOk;
        if (r.completed && !config_.keepOldVersion) {
            if (auto v = versionFromId(r.identification))
                newVersion_ = v;
        }
        lastPacketSeq_.reset();
        return ok(SUBCOMANDO_FIN_TRANSFERENCIA, r.completed ? 0 : 1);
    }
    default:
        return reject(Rejection::Unknown);
    }
}
