#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace codec {

// The byte-wise table: entry i is the register after shifting the byte i through 8 steps of the
// reflected polynomial 0xA001. Entries 0..3 are 0x0000, 0xC0C1, 0xC181, 0x0140.
extern const std::array<uint16_t, 256> kCrc16Table;

// CRC-16 with the polynomial 0x8005 in reflected form (0xA001), no final XOR. With the initial
// value 0xFFFF this is CRC-16/MODBUS: "123456789" gives 0x4B37. No bytes give the initial value.
[[nodiscard]] uint16_t CRC16(std::span<const uint8_t> bytes, uint16_t initial);

}  // namespace codec
