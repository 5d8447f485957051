#include "codec/crc16.h"

namespace codec {
namespace {

constexpr std::array<uint16_t, 256> makeCrc16Table() {
    std::array<uint16_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        auto reg = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 1) != 0 ? static_cast<uint16_t>((reg >> 1) ^ 0xA001) : reg >> 1;
        }
        table[i] = reg;
    }
    return table;
}

}  // namespace

constexpr std::array<uint16_t, 256> kCrc16Table = makeCrc16Table();
static_assert(kCrc16Table[0] == 0x0000 && kCrc16Table[1] == 0xC0C1 && kCrc16Table[2] == 0xC181 &&
              kCrc16Table[3] == 0x0140);

uint16_t CRC16(std::span<const uint8_t> bytes, uint16_t initial) {
    uint16_t reg = initial;
    for (const uint8_t b : bytes) {
        reg = static_cast<uint16_t>((reg >> 8) ^ kCrc16Table[(reg ^ b) & 0xFF]);
    }
    return reg;
}

}  // namespace codec
