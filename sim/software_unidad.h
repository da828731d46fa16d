#pragma once
// The unit's running software as the framed protocol at 19200 8-N-1 sees it.
//
// It takes frames apart byte by byte as the unit's firmware does (start byte,
// doubled 0xA5 from the extended address on, length, checksum), answers the status
// request, the programming-mode message and the firmware transfer (identification,
// start, packets, end), and keeps a record of everything the host sent, so that
// tests can check the wire rather than the sender's own variables. Faults are data
// in the configuration.
//
// Threads: onByte and the scheduled answers run under the simulated line's lock;
// records and configuration are guarded by a mutex of this object and handed out
// as copies, so a test thread may read them at any time.

#include "sim/personalidad.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class SimRunningSoftware final : public SimPersonality {
public:
    struct Config {
        uint8_t unitType = 1;
        uint16_t model = 900;
        // Firmware version reported by the status reply; unset: the controller's
        // default (ARM 4.10, XA 3.05).
        std::optional<uint8_t> major;
        std::optional<uint8_t> minor;
        // Time the software takes between the end of a request and its answer.
        Tiempo replyDelay = ms(3);

        // ---- faults
        bool silent = false;            // answers nothing at all
        std::vector<int> noAnswerTo;    // 1-based numbers of good frames not answered
        bool noAnswerToPackets = false; // data packets are taken but never answered
        bool noAnswerToEnd = false;     // the end of a transfer is taken but never answered
        std::vector<uint8_t> noise;     // bytes sent before every answer
        bool refuseBinary = false;      // the binary start is answered with a refusal
        bool wrongChecksum = false;     // every answer carries a wrong checksum byte
        Tiempo bootDelay{0};            // after a restart nothing is heard for this long
        bool keepOldVersion = false;    // a completed transfer leaves the version as it was
    };

    // Why a frame was not taken.
    enum class Rejection { Checksum, Stuffing, Garbled, Incomplete, Length, Unknown };

    struct Frame {
        Tiempo start;     // arrival of the start byte
        Tiempo end;       // arrival of the last byte
        uint8_t command;  // low 4 bits of the control byte
        uint8_t sequence; // bits 4..6 of the control byte
        uint8_t extAddress;
        uint16_t address;
        std::vector<uint8_t> payload;
        bool answered;
    };

    struct Rejected {
        Tiempo t;
        Rejection reason;
        std::vector<uint8_t> raw; // the bytes as received, stuffing removed
    };

    struct Records {
        std::vector<Frame> frames;      // every good frame, in order
        std::vector<Rejected> rejected; // every frame not taken
        int ignoredWhileBooting = 0;    // bytes that arrived during the boot delay
        int garbledBytes = 0;           // bytes that arrived garbled (never taken as data)
        int sequenceErrors = 0;         // packets whose sequence number was out of turn
        bool programmingMode = false;   // the programming-mode message was received
        std::string identification;     // of the last identification message
        bool started = false;           // a start message opened the transfer
        bool binary = false;            // the start was the binary variant
        uint32_t announcedSize = 0;     // image size of the binary start
        int packets = 0;                // packets taken (retransmissions excluded)
        int retransmissions = 0;        // packets repeated with the same sequence number
        std::vector<uint8_t> data;      // concatenated data of the packets taken
        bool endReceived = false;
        uint32_t endCrc = 0;     // CRC carried by the end message
        bool crcMatched = false; // endCrc equals the CRC-32 of data
        bool completed = false;  // a transfer ended with the right CRC (and size)
    };

    explicit SimRunningSoftware(SimUnit& unit);
    LineFormat format() const override { return FORMAT_19200_8N1; }
    void onByte(uint8_t b, bool garbled, Tiempo t) override;
    void restart(Tiempo t) override;

    void setConfig(const Config& c);
    Config config() const;
    Records records() const;
    // A frame is under way at t: started and not given up by a silence.
    bool inFrame(Tiempo t) const;
    void clearRecords();
    // The version the status reply reports now (major, minor).
    std::pair<uint8_t, uint8_t> version() const;

    // CRC-32 (reflected, 0xEDB88320) as the unit computes it over received data.
    static uint32_t crc32(const std::vector<uint8_t>& data);
    // Version from an identification such as FIRMVTR-900_0412 (4, 12): its last
    // four characters as two two-digit numbers; nothing when they are not digits.
    static std::optional<std::pair<uint8_t, uint8_t>> versionFromId(const std::string& id);

private:
    struct Answer {
        std::vector<uint8_t> bytes;
        unsigned long long generation;
    };
    std::pair<uint8_t, uint8_t> versionLocked() const;
    void resetReceiverLocked();
    void rejectLocked(Tiempo t, Rejection r);
    void frameCompleteLocked(Tiempo t, std::vector<Answer>& out);
    std::vector<uint8_t> buildAnswerLocked(uint8_t control, const std::vector<uint8_t>& payload);
    std::optional<std::vector<uint8_t>> handleLocked(const Frame& f);
    void byteLocked(uint8_t b, bool garbled, Tiempo t, std::vector<Answer>& out);

    mutable std::mutex m_;
    Config config_;
    Records records_;
    std::optional<std::pair<uint8_t, uint8_t>> newVersion_;
    Tiempo awakeAt_{0};
    unsigned long long generation_ = 0; // bumped by a restart: pending answers are dropped
    int goodFrames_ = 0;

    // receiver
    bool inFrame_ = false;
    bool pendingA5_ = false;
    std::vector<uint8_t> frame_; // unstuffed, from the start byte
    Tiempo frameStart_{0};
    Tiempo lastByte_{0};
    // packets
    std::optional<uint8_t> lastPacketSeq_;
};
