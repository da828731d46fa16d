#pragma once
// The ARM controller's UART bootloader at 115200 8-E-1: the commands of the
// published USART bootloader protocol that a general-purpose client uses
// (synchronisation, Get, Get Version, Get ID, Read Memory, Go, Write Memory, Erase
// global or by pages, Extended Erase, Write Unprotect), with their complement and
// XOR checks, a flash image, a record of what it received, and faults as data.
//
// It presents itself as a 128 KiB part with 1 KiB pages (product ID 0x410,
// bootloader 2.2), so that an independent flasher finds its flash layout.

#include "sim/personalidad.h"

#include <cstdint>
#include <map>
#include <vector>

class SimArmBootloader final : public SimPersonality {
public:
    static constexpr uint8_t ACK = 0x79;
    static constexpr uint8_t NACK = 0x1F;
    static constexpr uint8_t SYNC = 0x7F;
    static constexpr uint8_t VERSION = 0x22;
    static constexpr uint16_t PRODUCT_ID = 0x0410;
    static constexpr uint32_t FLASH_BASE = 0x08000000;
    static constexpr uint32_t PAGE_SIZE = 1024;
    static constexpr int FLASH_PAGES = 128;

    struct Faults {
        bool silent = false;         // answers nothing at all
        int nackWriteBlock = 0;      // NACKs the data of this Write Memory block (1-based; 0 none)
        Tiempo eraseTime = ms(1000); // length of a global erase; a page list takes its share
        bool writeProtected = false; // Write Unprotect refused with NACK
        // Stores this Write Memory block (1-based; 0 none) with one byte changed,
        // and still answers ACK.
        int corruptWriteBlock = 0;
        bool refuseRead = false; // Read Memory refused with NACK
        bool nackSync = false;   // the synchronisation byte answered with NACK
        bool nackErase = false;  // every erase refused with NACK
    };
    struct Command {
        uint8_t code; // 0x7F for a synchronisation
        Tiempo t;     // arrival of its last byte
        bool acked;   // the command completed with ACK
    };
    struct Block {
        uint32_t address;
        std::vector<uint8_t> data;
    };
    struct Read {
        uint32_t address;
        int count;
    };

    explicit SimArmBootloader(SimUnit& unit);
    LineFormat format() const override { return FORMAT_115200_8E1; }
    void onByte(uint8_t b, bool garbled, Tiempo t) override;
    void restart(Tiempo t) override;

    void setFaults(const Faults& f) { faults_ = f; }
    const Faults& faults() const { return faults_; }

    // Flash contents written since the last erase (erased bytes are absent).
    const std::map<uint32_t, uint8_t>& memory() const { return memory_; }
    void setMemory(const std::map<uint32_t, uint8_t>& m) { memory_ = m; }
    const std::vector<Command>& commands() const { return commands_; }
    const std::vector<Block>& blocks() const { return blocks_; } // as received
    const std::vector<Read>& reads() const { return reads_; }
    int eraseCount() const { return erases_; }                           // global erases
    const std::vector<int>& erasedPages() const { return erasedPages_; } // by page lists
    bool synchronised() const { return state_ != State::WaitSync; }
    // Between commands: the next byte would start a new one.
    bool awaitingCommand() const { return state_ == State::WaitSync || state_ == State::Command; }

private:
    // Takes one byte of an address field (four bytes, then their XOR): true once the
    // field is whole and right, with address_ set; a wrong XOR ends the command with
    // NACK.
    bool tomarDireccion(uint8_t b, Tiempo t);
    enum class State {
        WaitSync,
        Command,
        Complement,
        EraseCode,
        EraseChecksum,
        WriteAddress,
        WriteCount,
        WriteData,
        WriteChecksum,
        ReadAddress,
        ReadCount,
        ReadComplement,
        ErasePages,    // Erase with a page list: the pages and the checksum
        ExtendedErase, // Extended Erase: count, pages or special code, checksum
        GoAddress,
        Busy, // a long operation is running; bytes are lost
    };
    void reply(uint8_t b);
    void replyAt(Tiempo at, uint8_t b);
    void finish(uint8_t code, bool ok, Tiempo t);
    // The commands beyond the loader's own set, each on its own path.
    void answerInformation(uint8_t code, Tiempo t); // Get, Get Version, Get ID
    void onErasePagesByte(uint8_t b, Tiempo t);
    void onExtendedEraseByte(uint8_t b, Tiempo t);
    void onGoAddressByte(uint8_t b, Tiempo t);
    // Erases the given pages (all of the flash when pages is empty) after the
    // erase's duration, then answers ACK; a page outside the flash is refused.
    void erase(uint8_t code, const std::vector<int>& pages, bool all, Tiempo t);

    Faults faults_;
    State state_ = State::WaitSync;
    uint8_t command_ = 0;
    std::vector<uint8_t> field_;
    uint32_t address_ = 0;
    int count_ = 0;
    int writeBlocks_ = 0;
    int erases_ = 0;
    std::vector<int> erasedPages_;
    unsigned long long epoch_ = 0; // bumped by a restart: cancels work in progress
    std::map<uint32_t, uint8_t> memory_;
    std::vector<Command> commands_;
    std::vector<Block> blocks_;
    std::vector<Read> reads_;
};
