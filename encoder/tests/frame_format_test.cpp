#include "encoder/frame_format.h"

#include <gtest/gtest.h>

#include <string>

#include "codec/crc16.h"
#include "encoder/encode_frame.h"
#include "encoder/tests/seeded_bytes.h"

namespace encoder {
namespace {

using testing_support::seededBytes;

// A stand-in coded stream: the frame format never looks inside it beyond the CRC.
std::vector<uint8_t> fakeCoded(uint64_t seed, size_t length) {
    std::vector<uint8_t> coded = seededBytes(seed, length);
    const std::string mark = "ACMC";
    std::copy(mark.begin(), mark.end(), coded.begin());
    return coded;
}

FrameInput inputFor(std::span<const uint8_t> coded, int syndromes, std::string message) {
    FrameInput in;
    in.coded = coded;
    in.counter = 7;
    in.params = PictureParams{64, Wavelet::D4, 4, 2, 20};
    in.syndromes = syndromes;
    in.label = headerLabel("CALL ", "card.png");
    in.message = std::move(message);
    return in;
}

enum class UnitKind { Header, Message, Packet };

UnitKind kindOf(std::span<const uint8_t> unit) {
    if (parseHeaderBlock(unit)) return UnitKind::Header;
    if (unit[0] == 'm' && unit[1] == 's' && unit[2] == 'g') return UnitKind::Message;
    return UnitKind::Packet;
}

// ---- the worked example: t = 16, L = 2000 ----

TEST(FrameFormatWorkedExample, SizesAndLength) {
    const std::vector<uint8_t> coded = fakeCoded(1, 1996);
    for (const bool withMessage : {true, false}) {
        SCOPED_TRACE(withMessage ? "with message" : "without message");
        const FrameBuild built = buildFrame(inputFor(coded, 32, withMessage ? "hello" : ""));
        ASSERT_EQ(built.error, FrameBuildError::None);
        EXPECT_EQ(built.layout.L, 2000);
        EXPECT_EQ(built.layout.t, 16);
        EXPECT_EQ(built.layout.k, 223);
        EXPECT_EQ(built.layout.r, 52);
        EXPECT_EQ(built.layout.f, 171);
        EXPECT_EQ(built.layout.n, 84);
        const size_t expected = withMessage ? 4469 : 4059;
        EXPECT_EQ(built.frame.size(), expected);
        EXPECT_EQ(frameStringLength(84, withMessage), expected);
    }
    EXPECT_EQ(statusText(64, Wavelet::D4, 4469),
              "64x64 pixels,  D4 compression,  17.9 seconds/frame");
    EXPECT_EQ(framePeriodMs(4469), 4 * 4469 + 200);
}

TEST(FrameFormatWorkedExample, UnitOrder) {
    const std::vector<uint8_t> coded = fakeCoded(2, 1996);
    const FrameBuild built = buildFrame(inputFor(coded, 32, "hello"));
    ASSERT_EQ(built.error, FrameBuildError::None);
    std::string order;
    int nextPacket = 1;
    for (size_t off = 0; off < built.frame.size(); off += kUnitBytes) {
        const auto unit = std::span(built.frame).subspan(off, kUnitBytes);
        switch (kindOf(unit)) {
            case UnitKind::Header:
                order += 'H';
                break;
            case UnitKind::Message:
                order += 'M';
                break;
            case UnitKind::Packet:
                ASSERT_EQ(unit[0], nextPacket) << "unit at " << off;
                ++nextPacket;
                order += 'P';
                break;
        }
    }
    EXPECT_EQ(nextPacket, 85);
    // Packet m (from 0) is followed by H when m mod 7 = 0 and then M when m mod 9 = 0.
    EXPECT_EQ(order.substr(0, 3 + 3 + 7 + 1), "HHHPHMPPPPPPPH");
    EXPECT_EQ(order.substr(order.size() - 7), "PPPPMPP");  // m = 78..83, M after m = 81
    EXPECT_EQ(std::count(order.begin(), order.end(), 'H'), 3 + 12);
    EXPECT_EQ(std::count(order.begin(), order.end(), 'M'), 10);
}

// ---- payload ----

TEST(FrameFormatPayload, CrcTextEndMarkerAndFill) {
    const std::vector<uint8_t> coded = fakeCoded(3, 100);
    const std::vector<uint8_t> payload = framePayload(coded);
    char crc[5];
    std::snprintf(crc, sizeof crc, "%04X", static_cast<unsigned>(codec::CRC16(coded, 0xFFFF)));
    EXPECT_EQ(std::string(payload.begin(), payload.begin() + 4), crc);
    EXPECT_TRUE(std::equal(coded.begin(), coded.end(), payload.begin() + 4));
    EXPECT_EQ(std::string(payload.begin() + 104, payload.begin() + 131), kEndMarker);
    // 131 bytes before the fill: 25 more make 156 = 4 * 39.
    ASSERT_EQ(payload.size(), 156u);
    for (size_t i = 131; i < payload.size(); ++i) EXPECT_EQ(payload[i], 0xFF) << i;
}

TEST(FrameFormatPayload, WholeRowOfFillWhenAlreadyAMultipleOf39) {
    // 4 + 47 + 27 = 78 = 2 * 39: the fill is 39 bytes, not 0.
    const std::vector<uint8_t> payload = framePayload(fakeCoded(4, 47));
    ASSERT_EQ(payload.size(), 117u);
    for (size_t i = 78; i < 117; ++i) EXPECT_EQ(payload[i], 0xFF) << i;
}

// An AV1 frame's CRC text can never pass a wavelet receiver's check. CRC-16 is affine in its
// initial value: CRC(m, a) ^ CRC(m, b) depends on m's length alone, and equals
// CRC(zeros, a) ^ CRC(zeros, b) for zeros of that length. Checked for random streams, then that
// difference is shown nonzero for every length a frame can carry: so for every stream.
TEST(FrameFormatPayload, Av1CrcNeverMatchesTheWaveletsCrc) {
    for (uint64_t seed = 1; seed < 200; ++seed) {
        const std::vector<uint8_t> m = testing_support::seededBytes(seed, seed * 37 % 4000);
        const std::vector<uint8_t> zeros(m.size(), 0);
        EXPECT_EQ(codec::CRC16(m, kCrcInitial) ^ codec::CRC16(m, kAv1CrcInitial),
                  codec::CRC16(zeros, kCrcInitial) ^ codec::CRC16(zeros, kAv1CrcInitial))
            << "seed " << seed;
    }
    std::vector<uint8_t> zeros;
    for (int length = 0; length <= kSizeLimitBytes; ++length) {
        ASSERT_NE(codec::CRC16(zeros, kCrcInitial), codec::CRC16(zeros, kAv1CrcInitial))
            << "length " << length;
        zeros.push_back(0);
    }
    EXPECT_EQ(crcInitialFor('A'), kAv1CrcInitial);
    for (const uint8_t letter : {'H', 'D', 'S', 'X'}) EXPECT_EQ(crcInitialFor(letter), kCrcInitial);
}

TEST(FrameFormatPayload, CrcTextIsUpperCaseWithLeadingZeros) {
    // Search a few seeds for a CRC below 0x1000 and one with a letter digit.
    bool sawLeadingZero = false;
    bool sawLetter = false;
    for (uint64_t seed = 0; seed < 4000 && !(sawLeadingZero && sawLetter); ++seed) {
        const std::vector<uint8_t> coded = fakeCoded(seed, 12);
        const std::string text = crcText(coded);
        ASSERT_EQ(text.size(), 4u);
        const uint16_t crc = codec::CRC16(coded, 0xFFFF);
        if (crc < 0x1000) {
            EXPECT_EQ(text[0], '0') << "seed " << seed;
            sawLeadingZero = true;
        }
        for (const char c : text) {
            ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << "seed " << seed;
            sawLetter = sawLetter || c >= 'A';
        }
        EXPECT_EQ(std::stoul(text, nullptr, 16), crc) << "seed " << seed;
    }
    EXPECT_TRUE(sawLeadingZero);
    EXPECT_TRUE(sawLetter);
}

// ---- interleaving ----

class FrameFormatInterleaving : public testing::Test {
protected:
    static constexpr int kN = 132;  // t = 16, r = 100
    // Codeword j, position q holds j + 100 (never 0x00 or 0x20) or q (the position).
    static std::vector<uint8_t> byCodeword() {
        std::vector<uint8_t> c(static_cast<size_t>(kCodewords) * kN);
        for (size_t i = 0; i < c.size(); ++i) c[i] = static_cast<uint8_t>(i / kN + 100);
        return c;
    }
    static std::vector<uint8_t> byPosition() {
        std::vector<uint8_t> c(static_cast<size_t>(kCodewords) * kN);
        for (size_t i = 0; i < c.size(); ++i) c[i] = static_cast<uint8_t>(i % kN);
        return c;
    }
};

TEST_F(FrameFormatInterleaving, StreamStartAndAbsentRow) {
    const std::vector<uint8_t> c = byCodeword();
    const std::vector<uint8_t> s = interleave(c, kN);
    ASSERT_EQ(s.size(), 5280u);
    EXPECT_EQ(s[0], 0x00);
    EXPECT_EQ(s[1], c[1]);  // second parity byte of codeword 0
    EXPECT_EQ(s[2], 101);   // codeword 1
    EXPECT_EQ(s[5279], 0x20);
    for (size_t p = 40; p < s.size(); p += 40) EXPECT_EQ(s[p], 0x20) << p;
}

TEST_F(FrameFormatInterleaving, ReadersViewOfEachPacket) {
    const std::vector<uint8_t> id = interleave(byCodeword(), kN);
    const std::vector<uint8_t> pos = interleave(byPosition(), kN);
    for (int b = 1; b <= kN; ++b) {
        SCOPED_TRACE(testing::Message() << "packet " << b);
        const size_t base = static_cast<size_t>(b - 1) * 40;  // data byte 0 of packet b
        EXPECT_EQ(id[base], b == 1 ? 0x00 : 0x20);
        if (b < kN) {
            for (int d = 1; d <= 39; ++d) {
                ASSERT_EQ(id[base + d], d - 1 + 100) << "data byte " << d;
                ASSERT_EQ(pos[base + d], b) << "data byte " << d;
            }
        } else {
            for (int d = 1; d <= 38; ++d) {
                ASSERT_EQ(id[base + d], d + 100) << "data byte " << d;
                ASSERT_EQ(pos[base + d], 0) << "data byte " << d;
            }
            EXPECT_EQ(id[base + 39], 0x20);
        }
    }
}

TEST_F(FrameFormatInterleaving, DeinterleaveRestoresAllButTheUnsentByte) {
    std::vector<uint8_t> c = byPosition();
    for (size_t i = 0; i < c.size(); ++i) c[i] = static_cast<uint8_t>(c[i] ^ (i * 31));
    std::vector<uint8_t> back = deinterleave(interleave(c, kN), kN);
    EXPECT_EQ(back[0], 0);
    back[0] = c[0];
    EXPECT_EQ(back, c);
}

// ---- header and message blocks ----

TEST(FrameFormatHeader, FieldOffsets) {
    HeaderFields h;
    h.t = 16;
    h.k = 223;
    h.counter = 0x1234;
    h.frameSize = 256;
    h.letter = 'S';
    h.redFactor = 2;
    h.blueFactor = 4;
    h.step = 81;
    h.length = 2000;
    h.fill = 171;
    h.label = headerLabel("DL1XYZ ", "lena.bmp");
    const Unit u = makeHeaderBlock(h);
    EXPECT_EQ(u[0], 0xFF);
    EXPECT_EQ(std::string(u.begin() + 1, u.begin() + 7), "header");
    EXPECT_EQ(u[7], 16);
    EXPECT_EQ(u[8], 223);
    EXPECT_EQ(u[9], 0x34);  // low byte first
    EXPECT_EQ(u[10], 0x12);
    EXPECT_EQ(u[11], 255);  // 256 does not fit a byte
    EXPECT_EQ(u[12], 'S');
    EXPECT_EQ(u[13], 2);
    EXPECT_EQ(u[14], 4);
    EXPECT_EQ(u[15], 81);
    EXPECT_EQ(u[16], 2000 / 256 + 1);
    EXPECT_EQ(u[17], 2000 % 256);
    EXPECT_EQ(u[18], 171);
    EXPECT_EQ(std::string(u.begin() + 19, u.end()), "DL1XYZ lena.bmp       ");

    const std::optional<HeaderFields> back = parseHeaderBlock(u);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->frameSize, 256);
    EXPECT_EQ(back->counter, 0x1234);
    EXPECT_EQ(back->length, 2000);
    EXPECT_EQ(back->fill, 171);
    EXPECT_EQ(back->r(), 52);
    EXPECT_EQ(back->codewordLength(), 84);
    EXPECT_EQ(back->label, h.label);
    const std::optional<PictureParams> params = back->pictureParams();
    ASSERT_TRUE(params);
    EXPECT_EQ(params->wavelet, Wavelet::Cdf97);
    EXPECT_EQ(params->step, 81);
}

TEST(FrameFormatHeader, OnlyHeaderUnitsParse) {
    Unit packet{};
    packet[0] = 255;  // packet 255 of a frame with n' = 255
    EXPECT_FALSE(parseHeaderBlock(packet));
    EXPECT_FALSE(parseHeaderBlock(makeMessageBlock("header")));
    HeaderFields h;
    h.letter = 'X';
    const std::optional<HeaderFields> odd = parseHeaderBlock(makeHeaderBlock(h));
    ASSERT_TRUE(odd);
    EXPECT_FALSE(odd->pictureParams());
}

TEST(FrameFormatLabels, CallsignThenSourceCutTo22) {
    EXPECT_EQ(headerLabel("", ""), std::string(22, ' '));
    EXPECT_EQ(headerLabel("G4ABC ", "x.jpg"), "G4ABC x.jpg           ");
    EXPECT_EQ(headerLabel("G4ABC/P portable ", "holiday-picture.jpg"), "G4ABC/P portable holid");
}

TEST(FrameFormatLabels, MessageBlock) {
    const Unit empty = makeMessageBlock("");
    EXPECT_EQ(std::string(empty.begin(), empty.end()), "msg" + std::string(38, ' '));
    const std::string exact(38, 'x');
    const Unit full = makeMessageBlock(exact);
    EXPECT_EQ(std::string(full.begin() + 3, full.end()), exact);
    const Unit cut = makeMessageBlock(exact + "yz");
    EXPECT_EQ(std::string(cut.begin() + 3, cut.end()), exact);
}

TEST(FrameFormatLabels, EmptyMessageSendsNoMessageBlock) {
    const std::vector<uint8_t> coded = fakeCoded(5, 300);
    const FrameBuild built = buildFrame(inputFor(coded, 32, ""));
    ASSERT_EQ(built.error, FrameBuildError::None);
    for (size_t off = 0; off < built.frame.size(); off += kUnitBytes) {
        EXPECT_NE(kindOf(std::span(built.frame).subspan(off, kUnitBytes)), UnitKind::Message)
            << off;
    }
}

// ---- the streamless counter ----

TEST(FrameFormatCounter, Counter65535ReplacesEveryPacket) {
    const std::vector<uint8_t> coded = fakeCoded(6, 1996);
    for (const bool withMessage : {true, false}) {
        SCOPED_TRACE(withMessage ? "with message" : "without message");
        FrameInput in = inputFor(coded, 32, withMessage ? "hi" : "");
        in.counter = kStreamlessCounter;
        const FrameBuild built = buildFrame(in);
        ASSERT_EQ(built.error, FrameBuildError::None);
        EXPECT_EQ(built.frame.size(), frameStringLength(84, withMessage, true));
        EXPECT_EQ(built.frame.size(), 41u * (3 + 2 * 84 + 12 + (withMessage ? 10 : 0)));
        std::string order;
        for (size_t off = 0; off < built.frame.size(); off += kUnitBytes) {
            const UnitKind kind = kindOf(std::span(built.frame).subspan(off, kUnitBytes));
            ASSERT_NE(kind, UnitKind::Packet) << off;
            order += kind == UnitKind::Header ? 'H' : 'M';
        }
        // Slot m = 0: H M in place of the packet, then H (m mod 7), then M if a message is set.
        EXPECT_EQ(order.substr(0, 6), withMessage ? "HHHHMH" : "HHHHMH");
        EXPECT_EQ(order[6], withMessage ? 'M' : 'H');
        EXPECT_EQ(readFrame(built.frame).error, FrameReadError::MissingPacket);
    }
}

TEST(FrameFormatCounter, Counter65534StillCarriesPackets) {
    const std::vector<uint8_t> coded = fakeCoded(7, 500);
    FrameInput in = inputFor(coded, 32, "");
    in.counter = 0xFFFE;
    const FrameContents read = readFrame(buildFrame(in).frame);
    EXPECT_EQ(read.error, FrameReadError::None);
    EXPECT_EQ(read.header.counter, 0xFFFE);
}

// ---- size check ----

TEST(FrameFormatSizeCheck, RowLengthBoundary) {
    // t = 16: r = (L + 27) div 39 + 1 must stay at most 223, so L = 8669 is the largest frame.
    EXPECT_TRUE(passesSizeCheck(8669, 16));
    EXPECT_FALSE(passesSizeCheck(8670, 16));
    EXPECT_TRUE(passesSizeCheck(2000, 16));
    EXPECT_FALSE(passesSizeCheck(9945, 1));

    const std::vector<uint8_t> fits = fakeCoded(8, 8669 - 4);
    const FrameBuild ok = buildFrame(inputFor(fits, 32, ""));
    ASSERT_EQ(ok.error, FrameBuildError::None);
    EXPECT_EQ(ok.layout.r, 223);
    EXPECT_EQ(ok.layout.n, 255);  // packet 255 exists and must not be read as a header
    EXPECT_EQ(readFrame(ok.frame).error, FrameReadError::None);

    const std::vector<uint8_t> over = fakeCoded(8, 8670 - 4);
    const FrameBuild rejected = buildFrame(inputFor(over, 32, ""));
    EXPECT_EQ(rejected.error, FrameBuildError::TooLarge);
    EXPECT_TRUE(rejected.frame.empty());
}

TEST(FrameFormatSizeCheck, FiveLines) {
    const std::array<std::string, 5> lines = sizeCheckLines(9000, 16);
    EXPECT_EQ(lines[0], "   File length of 9000 bytes");
    EXPECT_EQ(lines[1], "   plus 1248 parity bytes");
    EXPECT_EQ(lines[2], "   exceeds maximum of  9945");
    EXPECT_EQ(lines[3], "      -> Increase threshold");
    EXPECT_EQ(lines[4], "         or reduce parity");
}

TEST(FrameFormatSizeCheck, SyndromesGiveTRoundedDown) {
    const std::vector<uint8_t> coded = fakeCoded(9, 200);
    EXPECT_EQ(buildFrame(inputFor(coded, 33, "")).layout.t, 16);
    EXPECT_EQ(buildFrame(inputFor(coded, 4, "")).layout.t, 2);
    EXPECT_EQ(buildFrame(inputFor(coded, 1, "")).error, FrameBuildError::BadSyndromes);
    EXPECT_EQ(buildFrame(inputFor(coded, 256, "")).error, FrameBuildError::BadSyndromes);
}

// ---- taking a frame apart ----

TEST(FrameFormatReader, RoundTripAcrossParity) {
    for (const int syndromes : {4, 5, 32, 64, 200}) {
        for (const size_t length : {20u, 777u, 1500u}) {
            const uint64_t seed = 1000 + syndromes * 10 + length;
            SCOPED_TRACE(testing::Message()
                         << "syndromes " << syndromes << " length " << length << " seed " << seed);
            const std::vector<uint8_t> coded = fakeCoded(seed, length);
            const FrameInput in = inputFor(coded, syndromes, "QSL?");
            const FrameBuild built = buildFrame(in);
            if (built.error == FrameBuildError::TooLarge) continue;
            ASSERT_EQ(built.error, FrameBuildError::None);
            const FrameContents read = readFrame(built.frame);
            ASSERT_EQ(read.error, FrameReadError::None) << "codeword " << read.badCodeword;
            EXPECT_EQ(read.coded, coded);
            EXPECT_EQ(read.payload, framePayload(coded));
            EXPECT_EQ(read.header.t, syndromes / 2);
            EXPECT_EQ(read.header.counter, 7);
            EXPECT_EQ(read.header.label, in.label);
            EXPECT_EQ(read.message, "QSL?" + std::string(34, ' '));
        }
    }
}

TEST(FrameFormatReader, DamageIsReported) {
    const std::vector<uint8_t> coded = fakeCoded(11, 900);
    const FrameBuild built = buildFrame(inputFor(coded, 32, ""));
    ASSERT_EQ(built.error, FrameBuildError::None);

    // Byte 5 of packet 10: H H H P1 H P2 .. P8 H P9 P10.
    std::vector<uint8_t> flipped = built.frame;
    const size_t packet10 = kUnitBytes * (3 + 1 + 1 + 7 + 1 + 1);
    ASSERT_EQ(flipped[packet10], 10);
    flipped[packet10 + 5] ^= 0x40;
    const FrameContents bad = readFrame(flipped);
    EXPECT_EQ(bad.error, FrameReadError::NotCodeword);
    EXPECT_EQ(bad.badCodeword, 3);  // data byte 4 of a packet holds codeword 3

    std::vector<uint8_t> dropped = built.frame;
    dropped.erase(dropped.begin() + static_cast<ptrdiff_t>(packet10),
                  dropped.begin() + static_cast<ptrdiff_t>(packet10 + kUnitBytes));
    EXPECT_EQ(readFrame(dropped).error, FrameReadError::MissingPacket);

    std::vector<uint8_t> cut(built.frame.begin(), built.frame.end() - 1);
    EXPECT_EQ(readFrame(cut).error, FrameReadError::BadLength);

    const std::vector<uint8_t> onlyPackets(built.frame.begin() + 3 * kUnitBytes,
                                           built.frame.begin() + 4 * kUnitBytes);
    EXPECT_EQ(readFrame(onlyPackets).error, FrameReadError::NoHeader);
}

}  // namespace
}  // namespace encoder
