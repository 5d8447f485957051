#include "codec/crc16.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <span>
#include <string_view>
#include <vector>

namespace codec {
namespace {

std::span<const uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// --- Known values: wrong table, reflection, byte order, initial value ignored. ---

TEST(Crc16KnownValues, CheckString) {
    EXPECT_EQ(CRC16(bytesOf("123456789"), 0xFFFF), 0x4B37);
    EXPECT_EQ(CRC16(bytesOf("123456789"), 0x0000), 0xBB3D);
}

TEST(Crc16KnownValues, NoBytesGiveTheInitialValue) {
    for (const uint16_t initial : {0x0000, 0xFFFF, 0x1234}) {
        EXPECT_EQ(CRC16({}, initial), initial);
    }
}

TEST(Crc16KnownValues, Table) {
    EXPECT_EQ(kCrc16Table[0], 0x0000);
    EXPECT_EQ(kCrc16Table[1], 0xC0C1);
    EXPECT_EQ(kCrc16Table[2], 0xC181);
    EXPECT_EQ(kCrc16Table[3], 0x0140);
    EXPECT_EQ(kCrc16Table[128], 0xA001);  // one reflected step on the top bit alone
    EXPECT_EQ(kCrc16Table[255], 0x4040);
}

// --- Register handling: the register carries over exactly between calls. ---

TEST(Crc16Register, SplitInputChainsThroughTheInitialValue) {
    std::mt19937 rng(3);
    std::vector<uint8_t> bytes(1000);
    for (uint8_t& b : bytes) {
        b = static_cast<uint8_t>(rng());
    }
    const uint16_t whole = CRC16(bytes, 0xFFFF);
    for (const size_t cut : {size_t{0}, size_t{1}, size_t{499}, size_t{1000}}) {
        const std::span<const uint8_t> all(bytes);
        EXPECT_EQ(CRC16(all.subspan(cut), CRC16(all.first(cut), 0xFFFF)), whole) << cut;
    }
}

TEST(Crc16Register, AppendingTheCrcLowByteFirstGivesZero) {
    std::vector<uint8_t> bytes = {'A', 'C', 'M', 'C', 0x00, 0xFF, 0x80};
    const uint16_t crc = CRC16(bytes, 0xFFFF);
    bytes.push_back(static_cast<uint8_t>(crc & 0xFF));
    bytes.push_back(static_cast<uint8_t>(crc >> 8));
    EXPECT_EQ(CRC16(bytes, 0xFFFF), 0);
}

}  // namespace
}  // namespace codec
