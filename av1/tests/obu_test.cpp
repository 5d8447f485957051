// Our own reading of the OBU layer: the header bits and leb128 sizes we accept, and the one
// layout of OBUs a payload may have.

#include "av1/obu.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace av1 {
namespace {

constexpr uint8_t kSeq = obuHeaderByte(ObuType::SequenceHeader);
constexpr uint8_t kFrame = obuHeaderByte(ObuType::Frame);
constexpr uint8_t kFrameHeader = obuHeaderByte(ObuType::FrameHeader);
constexpr uint8_t kTileGroup = obuHeaderByte(ObuType::TileGroup);

TEST(ObuHeader, KnownBytes) {
    EXPECT_EQ(kSeq, 0x0A);
    EXPECT_EQ(kFrame, 0x32);
    EXPECT_EQ(kTemporalDelimiter[0], 0x12);
    EXPECT_EQ(kTemporalDelimiter[1], 0x00);
}

TEST(ObuSplit, SizesAndOffsets) {
    // A one-byte size, a two-byte leb128 size (0x81 0x01 = 129) and a size written in more
    // bytes than it needs (0x80 0x00 = 0), which leb128 allows.
    std::vector<uint8_t> stream = {kSeq, 2, 0xAA, 0xBB, kFrame, 0x81, 0x01};
    stream.insert(stream.end(), 129, 0x55);
    stream.insert(stream.end(), {kTileGroup, 0x80, 0x00});
    std::vector<Obu> obus;
    ASSERT_TRUE(splitObus(stream, obus));
    ASSERT_EQ(obus.size(), 3u);
    EXPECT_EQ(obus[0].type, ObuType::SequenceHeader);
    EXPECT_EQ(obus[0].payloadOffset, 2u);
    EXPECT_EQ(obus[0].payloadBytes, 2u);
    EXPECT_EQ(obus[0].bytes, 4u);
    EXPECT_EQ(obus[1].type, ObuType::Frame);
    EXPECT_EQ(obus[1].offset, 4u);
    EXPECT_EQ(obus[1].payloadOffset, 7u);
    EXPECT_EQ(obus[1].payloadBytes, 129u);
    EXPECT_EQ(obus[2].type, ObuType::TileGroup);
    EXPECT_EQ(obus[2].payloadBytes, 0u);
    EXPECT_EQ(obus[2].bytes, 3u);
    EXPECT_TRUE(splitObus({}, obus));
    EXPECT_TRUE(obus.empty());
}

TEST(ObuSplit, RefusesBadHeaders) {
    const uint8_t headers[] = {
        static_cast<uint8_t>(kSeq | 0x80),   // forbidden bit
        static_cast<uint8_t>(kSeq | 0x04),   // extension header
        static_cast<uint8_t>(kSeq & ~0x02),  // no size field
        static_cast<uint8_t>(kSeq | 0x01),   // reserved bit
    };
    for (const uint8_t h : headers) {
        const std::vector<uint8_t> stream = {h, 1, 0, h, 0};
        std::vector<Obu> obus;
        EXPECT_FALSE(splitObus(stream, obus)) << int{h};
    }
}

TEST(ObuSplit, RefusesSizesPastTheEnd) {
    std::vector<Obu> obus;
    const std::vector<std::vector<uint8_t>> bad = {
        {kSeq},                                  // no size
        {kSeq, 0x80},                            // size cut inside its leb128
        {kSeq, 3, 1, 2},                         // one payload byte short
        {kSeq, 1, 0, kFrame, 0xFF, 0xFF, 0x7F},  // 2^21 - 1
        // Nine leb128 bytes, and 2^32 in five: neither is a size.
        {kSeq, 0x81, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00},
        {kSeq, 0x80, 0x80, 0x80, 0x80, 0x10},
    };
    for (const std::vector<uint8_t>& stream : bad) {
        EXPECT_FALSE(splitObus(stream, obus)) << stream.size() << " bytes";
    }
    // 2^32 - 1 is a size, too long for this stream but read to the end.
    EXPECT_FALSE(splitObus(std::vector<uint8_t>{kSeq, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}, obus));
}

std::vector<Obu> layout(std::initializer_list<std::pair<ObuType, size_t>> list) {
    std::vector<Obu> obus;
    for (const auto& [type, payload] : list) {
        Obu o;
        o.type = type;
        o.payloadBytes = payload;
        obus.push_back(o);
    }
    return obus;
}

TEST(ObuLayout, OneSequenceHeaderAndOneFrame) {
    using enum ObuType;
    EXPECT_TRUE(isPayloadLayout(layout({{SequenceHeader, 6}, {Frame, 300}})));
    EXPECT_TRUE(isPayloadLayout(layout({{SequenceHeader, 6}, {FrameHeader, 4}, {TileGroup, 9}})));
    EXPECT_TRUE(isPayloadLayout(
        layout({{SequenceHeader, 6}, {FrameHeader, 4}, {TileGroup, 9}, {TileGroup, 9}})));

    const std::vector<std::vector<Obu>> refused = {
        layout({}),
        layout({{SequenceHeader, 6}}),
        layout({{Frame, 300}}),
        layout({{TemporalDelimiter, 0}, {SequenceHeader, 6}, {Frame, 300}}),
        layout({{SequenceHeader, 6}, {SequenceHeader, 6}, {Frame, 300}}),
        layout({{SequenceHeader, 6}, {Frame, 300}, {Frame, 300}}),
        layout({{SequenceHeader, 6}, {Frame, 300}, {Padding, 1}}),
        layout({{SequenceHeader, 6}, {Padding, 1}, {Frame, 300}}),
        layout({{SequenceHeader, 6}, {Metadata, 3}, {Frame, 300}}),
        layout({{SequenceHeader, 6}, {Frame, 300}, {TileGroup, 9}}),
        layout({{SequenceHeader, 6}, {FrameHeader, 4}}),
        layout({{SequenceHeader, 6}, {FrameHeader, 4}, {TileGroup, 9}, {FrameHeader, 4}}),
        layout({{SequenceHeader, 6}, {RedundantFrameHeader, 4}, {TileGroup, 9}}),
        layout({{SequenceHeader, 0}, {Frame, 300}}),
        layout({{SequenceHeader, 6}, {Frame, 0}}),
        layout({{SequenceHeader, 6}, {FrameHeader, 4}, {TileGroup, 0}}),
    };
    for (size_t i = 0; i < refused.size(); ++i) {
        EXPECT_FALSE(isPayloadLayout(refused[i])) << "case " << i;
    }
}

}  // namespace
}  // namespace av1
