#pragma once
// The STM32 USART bootloader's bytes, with the names of application note AN3155.
// Every command byte goes out followed by its complement.

#include <cstdint>

namespace stm32 {
constexpr uint8_t SYNC =
    0x7F; // first byte after entry: the bootloader measures the baud rate on it
constexpr uint8_t ACK = 0x79;
constexpr uint8_t NACK = 0x1F;
constexpr uint8_t READ_MEMORY = 0x11;
constexpr uint8_t WRITE_MEMORY = 0x31;
constexpr uint8_t ERASE = 0x43;
constexpr uint8_t WRITE_UNPROTECT = 0x73;
constexpr uint8_t GLOBAL_ERASE = 0xFF; // the page count of Erase that erases the whole flash

constexpr uint8_t complemento(uint8_t b) {
    return static_cast<uint8_t>(b ^ 0xFF);
}
} // namespace stm32
