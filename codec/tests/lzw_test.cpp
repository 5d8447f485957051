#include "codec/lzw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace codec {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kTrailer = {0x5A, 0x00, 0x9E, 0x9B};
constexpr size_t kCodesPerDictionary = 16128;  // 16127 entries 257..16383, then the clear code

Bytes lzw(std::span<const uint8_t> input) {
    Bytes out = {0xEE};  // LZW must replace, not append
    LZW(input, out);
    return out;
}

Bytes unlzw(std::span<const uint8_t> input) {
    Bytes out = {0xEE};
    UNLZW(input, out);
    return out;
}

Bytes randomBytes(uint32_t seed, size_t n) {
    std::mt19937 rng(seed);
    Bytes bytes(n);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

// Fewest codes a compressed string can hold: none is wider than 14 bits, and at most 7 bits of
// the code stream are padding.
size_t fewestCodes(const Bytes& compressed) {
    const size_t bits = (compressed.size() - kTrailer.size()) * 8;
    return bits < 7 ? 0 : (bits - 7) / 14;
}

void expectRoundTrip(const Bytes& input) {
    const Bytes compressed = lzw(input);
    ASSERT_GE(compressed.size(), kTrailer.size());
    EXPECT_TRUE(std::equal(kTrailer.begin(), kTrailer.end(), compressed.end() - 4));
    const Bytes back = unlzw(compressed);
    ASSERT_EQ(back.size(), input.size());
    const auto [a, b] = std::mismatch(input.begin(), input.end(), back.begin());
    EXPECT_TRUE(a == input.end()) << "first difference at byte " << (a - input.begin()) << " of "
                                  << input.size() << ": " << int{*a} << " restored as " << int{*b};
}

// Hand-packs codes least significant bit first at the given widths, for streams LZW never makes.
Bytes pack(const std::vector<std::pair<int, int>>& codesAndWidths) {
    Bytes out;
    uint32_t acc = 0;
    int held = 0;
    for (const auto& [code, width] : codesAndWidths) {
        acc |= static_cast<uint32_t>(code) << held;
        for (held += width; held >= 8; held -= 8, acc >>= 8)
            out.push_back(static_cast<uint8_t>(acc));
    }
    if (held > 0) out.push_back(static_cast<uint8_t>(acc));
    out.insert(out.end(), kTrailer.begin(), kTrailer.end());
    return out;
}

// Known values: bit order, code width, trailer, the empty case.

TEST(LzwKnownValues, OneByte) {
    EXPECT_EQ(lzw(Bytes{0x41}), (Bytes{0x41, 0x00, 0x5A, 0x00, 0x9E, 0x9B}));
    EXPECT_EQ(unlzw(Bytes{0x41, 0x00, 0x5A, 0x00, 0x9E, 0x9B}), Bytes{0x41});
}

TEST(LzwKnownValues, EmptyIsTrailerOnly) {
    EXPECT_EQ(lzw(Bytes{}), kTrailer);
    EXPECT_TRUE(unlzw(kTrailer).empty());
    EXPECT_TRUE(unlzw(Bytes{}).empty());
}

TEST(LzwKnownValues, RunOfThreeUsesTheCodeBeingDefined) {
    // "AAA" is 0x41, then 257 ("AA") before the decoder has defined it: 9-bit codes 0x041 and
    // 0x101 packed from bit 0.
    const Bytes compressed = {0x41, 0x02, 0x02, 0x5A, 0x00, 0x9E, 0x9B};
    EXPECT_EQ(lzw(Bytes{0x41, 0x41, 0x41}), compressed);
    EXPECT_EQ(unlzw(compressed), (Bytes{0x41, 0x41, 0x41}));
}

TEST(LzwKnownValues, TrailerIsNotChecked) {
    EXPECT_EQ(unlzw(Bytes{0x41, 0x00, 0x00, 0x00, 0x00, 0x00}), Bytes{0x41});
    EXPECT_EQ(unlzw(Bytes{0x41, 0x00}), Bytes{0x41});  // 3 bytes or fewer: all code bits
}

// Inverse pairs: encoder and decoder dictionaries or widths out of step.

TEST(LzwRoundTrip, ShortInputs) {
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE("byte " + std::to_string(b));
        expectRoundTrip({static_cast<uint8_t>(b)});
        expectRoundTrip({static_cast<uint8_t>(b), static_cast<uint8_t>(255 - b)});
    }
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    expectRoundTrip(all);
    const std::string text = "TOBEORNOTTOBEORTOBEORNOT#";
    expectRoundTrip(Bytes(text.begin(), text.end()));
}

TEST(LzwRoundTrip, RunsOfEqualBytes) {
    for (const size_t n : {2u, 3u, 4u, 5u, 6u, 7u, 100u, 1000u, 70000u}) {
        SCOPED_TRACE(std::to_string(n) + " equal bytes");
        expectRoundTrip(Bytes(n, 0x41));
    }
    Bytes runs;
    std::mt19937 rng(3);
    while (runs.size() < 300000)
        runs.insert(runs.end(), rng() % 300, static_cast<uint8_t>(rng() % 4));
    SCOPED_TRACE("runs of random length, seed 3");
    expectRoundTrip(runs);
}

TEST(LzwRoundTrip, RandomBytesAcrossWidths) {
    for (const uint32_t seed : {1u, 2u}) {
        for (const size_t n : {200u, 600u, 1500u, 3500u, 7500u, 15000u}) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(n) + " bytes");
            expectRoundTrip(randomBytes(seed, n));
        }
    }
}

TEST(LzwRoundTrip, DictionaryFillsTwice) {
    for (const uint32_t seed : {7u, 8u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const Bytes input = randomBytes(seed, 100000);
        const Bytes compressed = lzw(input);
        // Every code but the last defines an entry: past 2 x 16128 codes the encoder has sent
        // the clear code twice and gone back to 9 bits each time.
        EXPECT_GT(fewestCodes(compressed), 2 * kCodesPerDictionary);
        expectRoundTrip(input);
    }
    Bytes text;  // few distinct bytes: longer strings, fewer codes per byte
    std::mt19937 rng(9);
    while (text.size() < 400000) text.push_back(static_cast<uint8_t>('a' + rng() % 6));
    EXPECT_GT(fewestCodes(lzw(text)), 2 * kCodesPerDictionary);
    SCOPED_TRACE("six letters, seed 9");
    expectRoundTrip(text);
}

TEST(LzwRoundTrip, StringsLongerThan4096Bytes) {
    // A run of n equal bytes defines strings of 2, 3, ... bytes; 9,000,000 reach about 4240.
    expectRoundTrip(Bytes(9000000, 0x00));
}

TEST(LzwRoundTrip, TruncatedStreamGivesAPrefix) {
    const Bytes input = randomBytes(11, 3000);
    const Bytes compressed = lzw(input);
    for (size_t cut = 0; cut <= compressed.size(); cut += 7) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const Bytes back = unlzw(std::span(compressed).first(cut));
        ASSERT_LE(back.size(), input.size());
        EXPECT_TRUE(std::equal(back.begin(), back.end(), input.begin()));
    }
}

// Streams LZW did not make: undefined entries, a full dictionary, noise.

TEST(LzwHostile, FirstCodeAboveTheBytesEndsDecoding) {
    EXPECT_TRUE(unlzw(pack({{300, 9}, {0x41, 9}})).empty());
    EXPECT_TRUE(unlzw(pack({{257, 9}})).empty());
}

TEST(LzwHostile, ClearCodesWhereARunBeginsAreSkipped) {
    EXPECT_EQ(unlzw(pack({{256, 9}, {256, 9}, {0x41, 9}, {0x42, 9}})), (Bytes{0x41, 0x42}));
}

TEST(LzwHostile, CodeAboveNextEndsDecoding) {
    // After 'A' the next free code is 257 (the decoder defines it on the following code).
    EXPECT_EQ(unlzw(pack({{0x41, 9}, {258, 9}, {0x42, 9}})), Bytes{0x41});
    EXPECT_EQ(unlzw(pack({{0x41, 9}, {0x42, 9}, {0x43, 9}, {400, 9}})), (Bytes{0x41, 0x42, 0x43}));
}

TEST(LzwHostile, FullDictionaryWithoutClearCodeEndsDecoding) {
    // Code j (from 1) is read at the decoder's width: 9 bits up to code 255, 10 up to 767,
    // 11 up to 1791, 12 up to 3839, 13 up to 7935, then 14. Codes 2..16128 define entries
    // 257..16383; code 16129 would define entry 16384, which does not exist.
    std::vector<std::pair<int, int>> codes;
    for (int j = 1; j <= 16200; ++j) {
        int width = 9;
        for (const int last : {255, 767, 1791, 3839, 7935}) width += j > last ? 1 : 0;
        codes.emplace_back(0x41, width);
    }
    EXPECT_EQ(unlzw(pack(codes)), Bytes(16128, 0x41));
}

TEST(LzwHostile, NoiseEndsInBounds) {
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const Bytes noise = randomBytes(seed, seed % 7 == 0 ? 20000 : seed);
        const Bytes out = unlzw(noise);
        EXPECT_LE(out.size(), noise.size() * 8 / 9 * 16129);
    }
}

TEST(LzwHostile, FlippedBitsEndInBounds) {
    const Bytes input = randomBytes(21, 40000);
    const Bytes compressed = lzw(input);
    std::mt19937 rng(21);
    for (int trial = 0; trial < 100; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial) + ", seed 21");
        Bytes damaged = compressed;
        const size_t at = rng() % damaged.size();
        damaged[at] ^= static_cast<uint8_t>(1 << (rng() % 8));
        const Bytes out = unlzw(damaged);
        EXPECT_LE(out.size(), damaged.size() * 8 / 9 * 16129);
        // The codes before the flipped byte still decode to the input they stood for.
        const Bytes head = unlzw(Bytes(compressed.begin(), compressed.begin() + at));
        ASSERT_LE(head.size(), input.size());
        EXPECT_TRUE(std::equal(head.begin(), head.end(), input.begin()));
        ASSERT_GE(out.size(), head.size()) << "flipped byte " << at;
        EXPECT_TRUE(std::equal(head.begin(), head.end(), out.begin())) << "flipped byte " << at;
    }
}

}  // namespace
}  // namespace codec
