#pragma once
// Communication constants, result codes, the trace switch and the CRC-32 table
// shared by the serial stack and the load engine.

#include <array>
#include <atomic>
#include <cstdint>

// Result codes of every send and receive.
constexpr int TRAMA_TRANSMITIDA = 1;      // every byte was handed to the port
constexpr int TRAMA_RECIBIDA = 2;         // a frame or the expected characters arrived
constexpr int ERROR_TIMEOUT = 3;          // no (complete) frame in time, or a send waited too often
constexpr int ERROR_INTERFACE_NOOPEN = 7; // the port is not open (or has gone away)
constexpr int ERROR_CHECKSUM = 9;         // a received frame was rejected by the header extraction

constexpr int PROTOCOLO_TORVEX = 0;
constexpr uint8_t STX_TORVEX = 0xA5;
constexpr uint8_t ETX_TORVEX = 0xA5;
constexpr int NBYTESCHECKSUM_TORVEX = 1;
constexpr int CONTROL_CHECKSUM = 1;
constexpr int CONTROL_FCS = 0;
constexpr int MAX_BUF_TRAMA = 500;        // highest index of the serial layer's byte buffer
constexpr int MAX_SIZE_PAQUETE_BIN = 253; // data bytes per binary packet
constexpr uint8_t COMANDO_COMANDO = 3;    // command of every transfer message

// Interface modes of abrir_interface: RTS is cleared on opening in both.
constexpr uint8_t MODO_RS232 = 0;
constexpr uint8_t MODO_RS485 = 1;

// What abrir_interface is handed for the FIFO threshold and the RS-485 turnaround;
// both backends ignore them.
constexpr uint8_t THRESHOLD08 = 128;
constexpr int32_t AJUSTE_RS485_DEF = 16;

// Caller-side frame buffer: 601 bytes, index 0 to 600.
constexpr int TBUFF_SIZE = 601;
using Tbuff = std::array<uint8_t, TBUFF_SIZE>;

// Trace switch: written by the window, read by the link level of every worker.
extern std::atomic<bool> hab_traza;

// Reflected CRC-32 table, polynomial 0xEDB88320 (ISO 3309 / IEEE 802.3).
extern const std::array<uint32_t, 256> tabla_crc32;
