#include "sim/bootloader_arm.h"

#include "sim/unidad_simulada.h"

namespace {
constexpr uint8_t CMD_GET = 0x00;
constexpr uint8_t CMD_GET_VERSION = 0x01;
constexpr uint8_t CMD_GET_ID = 0x02;
constexpr uint8_t CMD_GO = 0x21;
constexpr uint8_t CMD_EXTENDED_ERASE = 0x44;
constexpr uint8_t CMD_READ_MEMORY = 0x11;
constexpr uint8_t CMD_WRITE_MEMORY = 0x31;
constexpr uint8_t CMD_ERASE = 0x43;
constexpr uint8_t CMD_WRITE_UNPROTECT = 0x73;
// Time the controller takes to clear the option bytes before its second ACK, and
// from that ACK to its own restart.
constexpr Tiempo UNPROTECT_TIME = ms(20);
constexpr Tiempo RESTART_DELAY = ms(1);
// From the ACK of Go's address to the application running.
constexpr Tiempo GO_DELAY = ms(1);

uint8_t xorOf(const std::vector<uint8_t>& v) {
    uint8_t x = 0;
    for (uint8_t b : v)
        x ^= b;
    return x;
}
} // namespace

SimArmBootloader::SimArmBootloader(SimUnit& unit) : SimPersonality(unit) {}

void SimArmBootloader::restart(Tiempo) {
    ++epoch_;
    state_ = State::WaitSync;
    field_.clear();
}

void SimArmBootloader::reply(uint8_t b) {
    if (!faults_.silent)
        unit_.link().sendToHost({b}, format());
}

void SimArmBootloader::replyAt(Tiempo at, uint8_t b) {
    const unsigned long long e = epoch_;
    unit_.link().schedule(at, [this, e, b] {
        if (e == epoch_)
            reply(b);
    });
}

void SimArmBootloader::finish(uint8_t code, bool ok, Tiempo t) {
    anotar(commands_, Command{code, t, ok});
    reply(ok ? ACK : NACK);
    state_ = State::Command;
    field_.clear();
}

// A garbled byte is taken for the value it arrived as: the checks then refuse it as
// the real controller would.
void SimArmBootloader::onByte(uint8_t b, bool /*garbled*/, Tiempo t) {
    switch (state_) {
    case State::WaitSync:
        if (b == SYNC) {
            anotar(commands_, Command{SYNC, t, !faults_.silent});
            if (faults_.silent)
                return; // a controller that never comes up
            if (faults_.nackSync) {
                reply(NACK);
                return;
            }
            reply(ACK);
            state_ = State::Command;
        }
        return;
    case State::Command:
        command_ = b;
        state_ = State::Complement;
        return;
    case State::Complement:
        if (static_cast<uint8_t>(command_ ^ b) != 0xFF) {
            finish(command_, false, t);
            return;
        }
        switch (command_) {
        case CMD_WRITE_UNPROTECT: {
            if (faults_.writeProtected) {
                finish(command_, false, t);
                return;
            }
            reply(ACK);
            anotar(commands_, Command{command_, t, true});
            state_ = State::Busy;
            const unsigned long long e = epoch_;
            const Tiempo done = t + UNPROTECT_TIME;
            replyAt(done, ACK);
            // The controller resets itself to apply the new option bytes and comes
            // back in its application: the host enters the bootloader again.
            unit_.link().schedule(done + RESTART_DELAY, [this, e, done] {
                if (e == epoch_)
                    unit_.enterMode(SimUnit::Mode::Application, done + RESTART_DELAY);
            });
            return;
        }
        case CMD_ERASE:
            reply(ACK);
            state_ = State::EraseCode;
            return;
        case CMD_WRITE_MEMORY:
            reply(ACK);
            field_.clear();
            state_ = State::WriteAddress;
            return;
        case CMD_GET:
        case CMD_GET_VERSION:
        case CMD_GET_ID:
            answerInformation(command_, t);
            return;
        case CMD_EXTENDED_ERASE:
        case CMD_GO:
            reply(ACK);
            field_.clear();
            state_ = command_ == CMD_GO ? State::GoAddress : State::ExtendedErase;
            return;
        case CMD_READ_MEMORY:
            if (faults_.refuseRead) {
                finish(command_, false, t);
                return;
            }
            reply(ACK);
            field_.clear();
            state_ = State::ReadAddress;
            return;
        default:
            finish(command_, false, t); // not offered by this model
            return;
        }
    case State::EraseCode:
        if (b != 0xFF) { // a page list: b + 1 page numbers follow
            field_.assign(1, b);
            state_ = State::ErasePages;
            return;
        }
        state_ = State::EraseChecksum;
        return;
    case State::EraseChecksum: {
        if (b != 0x00 || faults_.nackErase) {
            finish(command_, false, t);
            return;
        }
        state_ = State::Busy;
        const unsigned long long e = epoch_;
        const Tiempo done = t + faults_.eraseTime;
        unit_.link().schedule(done, [this, e, done] {
            if (e != epoch_)
                return;
            memory_.clear();
            ++erases_;
            finish(CMD_ERASE, true, done);
        });
        return;
    }
    case State::WriteAddress:
        if (tomarDireccion(b, t)) {
            reply(ACK);
            state_ = State::WriteCount;
        }
        return;
    case State::WriteCount:
        count_ = b + 1;
        field_.assign(1, b);
        state_ = State::WriteData;
        return;
    case State::WriteData:
        field_.push_back(b);
        if (static_cast<int>(field_.size()) == count_ + 1)
            state_ = State::WriteChecksum;
        return;
    case State::WriteChecksum: {
        ++writeBlocks_;
        const bool ok = (xorOf(field_) ^ b) == 0 && writeBlocks_ != faults_.nackWriteBlock;
        if (ok) {
            Block blk{address_, std::vector<uint8_t>(field_.begin() + 1, field_.end())};
            for (size_t i = 0; i < blk.data.size(); ++i)
                memory_[address_ + static_cast<uint32_t>(i)] = blk.data[i];
            if (writeBlocks_ == faults_.corruptWriteBlock) {
                const uint32_t mid = address_ + static_cast<uint32_t>(blk.data.size() / 2);
                memory_[mid] = static_cast<uint8_t>(memory_[mid] ^ 0x10);
            }
            anotar(blocks_, std::move(blk));
        }
        finish(CMD_WRITE_MEMORY, ok, t);
        return;
    }
    case State::ReadAddress:
        if (tomarDireccion(b, t)) {
            reply(ACK);
            state_ = State::ReadCount;
        }
        return;
    case State::ReadCount:
        count_ = b + 1;
        state_ = State::ReadComplement;
        return;
    case State::ReadComplement: {
        if (static_cast<uint8_t>((count_ - 1) ^ b) != 0xFF) {
            finish(command_, false, t);
            return;
        }
        finish(CMD_READ_MEMORY, true, t);
        anotar(reads_, Read{address_, count_});
        // The bytes follow the ACK; erased flash reads 0xFF.
        std::vector<uint8_t> out;
        for (int i = 0; i < count_; ++i) {
            const auto it = memory_.find(address_ + static_cast<uint32_t>(i));
            out.push_back(it == memory_.end() ? 0xFF : it->second);
        }
        if (!faults_.silent)
            unit_.link().sendToHost(out, format());
        return;
    }
    case State::ErasePages:
        onErasePagesByte(b, t);
        return;
    case State::ExtendedErase:
        onExtendedEraseByte(b, t);
        return;
    case State::GoAddress:
        onGoAddressByte(b, t);
        return;
    case State::Busy:
        return;
    }
}

void SimArmBootloader::answerInformation(uint8_t code, Tiempo t) {
    std::vector<uint8_t> out{ACK};
    switch (code) {
    case CMD_GET:
        // The count of bytes that follow less one, the version, the commands.
        out.insert(out.end(),
                   {11, VERSION, CMD_GET, CMD_GET_VERSION, CMD_GET_ID, CMD_READ_MEMORY, CMD_GO,
                    CMD_WRITE_MEMORY, CMD_ERASE, CMD_EXTENDED_ERASE, CMD_WRITE_UNPROTECT});
        out[1] = static_cast<uint8_t>(out.size() - 3);
        break;
    case CMD_GET_VERSION:
        out.insert(out.end(), {VERSION, 0x00, 0x00}); // and two option bytes
        break;
    default: // Get ID
        out.insert(out.end(), {1, static_cast<uint8_t>(PRODUCT_ID >> 8),
                               static_cast<uint8_t>(PRODUCT_ID & 0xFF)});
        break;
    }
    out.push_back(ACK);
    anotar(commands_, Command{code, t, true});
    if (!faults_.silent)
        unit_.link().sendToHost(out, format());
    state_ = State::Command;
    field_.clear();
}

// field_ holds the count less one, the page numbers, then the XOR of them all.
void SimArmBootloader::onErasePagesByte(uint8_t b, Tiempo t) {
    field_.push_back(b);
    if (field_.size() < static_cast<size_t>(field_[0]) + 3)
        return;
    if (xorOf(field_) != 0) {
        finish(CMD_ERASE, false, t);
        return;
    }
    erase(CMD_ERASE, std::vector<int>(field_.begin() + 1, field_.end() - 1), false, t);
}

// Two bytes of count less one (0xFFFF, 0xFFFE, 0xFFFD: the whole flash, or one
// of its banks), then that many two-byte page numbers, then the XOR of them all.
void SimArmBootloader::onExtendedEraseByte(uint8_t b, Tiempo t) {
    field_.push_back(b);
    if (field_.size() < 2)
        return;
    const int n = (field_[0] << 8) | field_[1];
    const bool special = n >= 0xFFF0;
    const size_t length = special ? 3 : 2 + 2 * static_cast<size_t>(n + 1) + 1;
    if (field_.size() < length)
        return;
    if (xorOf(field_) != 0 || (special && n < 0xFFFD)) {
        finish(CMD_EXTENDED_ERASE, false, t);
        return;
    }
    // This part has one bank: any of the three erases it all.
    std::vector<int> pages;
    for (size_t i = 2; !special && i + 1 < length; i += 2)
        pages.push_back((field_[i] << 8) | field_[i + 1]);
    erase(CMD_EXTENDED_ERASE, pages, special, t);
}

void SimArmBootloader::erase(uint8_t code, const std::vector<int>& pages, bool all, Tiempo t) {
    if (faults_.nackErase) {
        finish(code, false, t);
        return;
    }
    for (int p : pages) {
        if (p >= FLASH_PAGES) {
            finish(code, false, t);
            return;
        }
    }
    state_ = State::Busy;
    const unsigned long long e = epoch_;
    // Erasing takes the same time per page however it is asked for.
    const Tiempo share(faults_.eraseTime.count() * static_cast<long long>(pages.size()) /
                       FLASH_PAGES);
    const Tiempo done = t + (all ? faults_.eraseTime : share);
    unit_.link().schedule(done, [this, e, done, code, pages, all] {
        if (e != epoch_)
            return;
        if (all) {
            memory_.clear();
            ++erases_;
        }
        for (int p : pages) {
            const uint32_t from = FLASH_BASE + static_cast<uint32_t>(p) * PAGE_SIZE;
            memory_.erase(memory_.lower_bound(from), memory_.lower_bound(from + PAGE_SIZE));
            anotar(erasedPages_, p);
        }
        finish(code, true, done);
    });
}

bool SimArmBootloader::tomarDireccion(uint8_t b, Tiempo t) {
    field_.push_back(b);
    if (field_.size() < 5)
        return false;
    if (xorOf(field_) != 0) { // four bytes and their XOR
        finish(command_, false, t);
        return false;
    }
    address_ = (uint32_t{field_[0]} << 24) | (uint32_t{field_[1]} << 16) |
               (uint32_t{field_[2]} << 8) | field_[3];
    field_.clear();
    return true;
}

void SimArmBootloader::onGoAddressByte(uint8_t b, Tiempo t) {
    if (!tomarDireccion(b, t))
        return;
    finish(CMD_GO, true, t);
    state_ = State::Busy;
    // The controller jumps to the program at the address: the application.
    const unsigned long long e = epoch_;
    const Tiempo at = t + GO_DELAY;
    unit_.link().schedule(at, [this, e, at] {
        if (e == epoch_)
            unit_.enterMode(SimUnit::Mode::Application, at);
    });
}
