#pragma once
// The XA controller's in-system programming loader at 9600 8-N-1.
//
// "f" is echoed as "f" (synchronisation). Every other line is an Intel HEX record
// sent without a line end: it is complete when its byte count says so. Each
// character is echoed as it arrives; a good record is then acknowledged with a
// full stop, CR and LF, a bad one (checksum, non-hexadecimal text, unknown command)
// with "X" CR LF. Commands: speed (type 0x82), erase (type 0x83: 01 xx a block,
// 04 the boot vector and status byte, 06 00 vv / 06 01 vv program them) and read
// (type 0x85: 07 01 status byte, 07 02 boot vector, answered with the value as two
// hex digits before the full stop). Data records (type 00) are written at the
// extended linear address (type 04) << 16 plus their offset.

#include "sim/personalidad.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class SimXaLoader final : public SimPersonality {
public:
    // A fault of one line, picked by the line's text as the host sends it.
    struct LineFault {
        enum class Kind {
            Silent,     // no echo and no answer
            LateAnswer, // silence for delay, then the whole echo and answer at once
            SplitAck,   // the echo at once, the answer only after delay
            Chatter,    // for delay, a character that is no answer every chatterPeriod; then the
                        // answer
        };
        std::string line;
        Kind kind = Kind::Silent;
        Tiempo delay{0};
        int times = -1; // occurrences affected, from the first (-1: every one)
    };
    struct Faults {
        bool silent = false;             // answers nothing at all
        Tiempo eraseTime = ms(500);      // one block erase, before its acknowledgement
        Tiempo chatterPeriod = ms(1000); // gap between the characters of a Chatter fault
        int statusReadBack = -1;         // value the status read answers (-1: the real one)
        int bootReadBack = -1;           // value the boot vector read answers (-1: the real one)
        // The last character of this data record (1-based, counted from setFaults) is
        // echoed as another one; the record itself is taken and acknowledged (0: none).
        int wrongEchoRecord = 0;
        // Once the last block's erase is acknowledged, nothing more is answered until
        // the controller restarts.
        bool silentAfterErase = false;
        std::vector<LineFault> lineFaults; // first match wins
    };

    // One line received: the characters of a record (or "f"), with the time its last
    // character arrived and whether the loader took it.
    struct LineRecord {
        Tiempo t;
        std::string text;
        bool accepted;
    };

    // The five erasable blocks: the second data byte of the erase command gives the
    // block's first address >> 8; each block ends where the next one starts.
    struct Block {
        uint8_t code;
        uint32_t first;
        uint32_t last;
    };
    static const std::vector<Block>& blocks();

    explicit SimXaLoader(SimUnit& unit);
    LineFormat format() const override { return FORMAT_9600_8N1; }
    void onByte(uint8_t b, bool garbled, Tiempo t) override;
    void restart(Tiempo t) override;

    void setFaults(const Faults& f);

    // ---- records and state (copies)
    std::vector<LineRecord> lines() const;
    std::vector<std::string> lineTexts() const;
    std::map<uint32_t, uint8_t> memory() const; // bytes written since their block's erase
    std::vector<uint8_t> erasedBlocks() const;  // block codes, in the order erased
    // Addresses of data bytes written outside every block erased so far.
    std::vector<uint32_t> unerasedWrites() const;
    uint8_t statusByte() const;
    uint8_t bootVector() const;
    int restarts() const;

private:
    struct Answer {
        std::vector<uint8_t> bytes;
        bool accepted;
        Tiempo busy{0}; // time the command takes before its answer
    };
    void lineComplete(Tiempo t);
    Answer execute(const std::string& line);
    const LineFault* faultFor(const std::string& text, bool exact);
    void sendAt(const std::vector<uint8_t>& bytes, Tiempo at);
    bool mute() const { return faults_.silent || mutedAfterErase_; }
    // The character echoed for b, the last one of the current record.
    uint8_t echoOfLast(uint8_t b) const;

    mutable std::mutex m_;
    Faults faults_;
    std::map<std::string, int> faultUses_;
    int dataRecords_ = 0;          // data records received since setFaults
    bool mutedAfterErase_ = false; // silentAfterErase has struck since the last restart
    std::string current_;          // the record being received ("" between lines)
    size_t expected_ = 0;          // its full length once the count is known (0: not yet)
    std::vector<uint8_t> heldEcho_;
    Tiempo busyUntil_{0};
    unsigned long long gen_ = 0; // bumped at restart: answers still pending are dropped

    std::vector<LineRecord> lines_;
    std::map<uint32_t, uint8_t> memory_;
    std::vector<uint8_t> erased_;
    std::vector<uint32_t> unerased_;
    uint32_t upper_ = 0; // extended linear address
    uint8_t status_ = 0x00;
    uint8_t boot_ = 0xF8;
    int restarts_ = 0;
};
