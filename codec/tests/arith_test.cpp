#include "codec/arith.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "codec/tests/linear_arith.h"

namespace codec {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kGuard = 0xA5;  // fills the bytes past a bounded dst; must survive every call

Bytes encode(std::span<const uint8_t> src) {
    Bytes dst(arithEncodeBound(src.size()));
    const int32_t n = ARITHCODE(src, dst, kArithEncode);
    EXPECT_GE(n, 6) << "encoding " << src.size() << " bytes";
    dst.resize(static_cast<size_t>(std::max(n, 0)));
    return dst;
}

Bytes decode(std::span<const uint8_t> coded, size_t cap) {
    Bytes dst(cap);
    const int32_t n = ARITHCODE(coded, dst, kArithDecode);
    EXPECT_GE(n, 0);
    EXPECT_LE(static_cast<size_t>(n), cap);
    dst.resize(static_cast<size_t>(std::clamp<int32_t>(n, 0, static_cast<int32_t>(cap))));
    return dst;
}

// Runs ARITHCODE with dst = the first cap bytes of a guarded buffer; fails if a byte past cap
// changes. Returns the call's result; the buffer's first cap bytes are left in *out.
int32_t guardedCall(std::span<const uint8_t> src, size_t cap, int mode, Bytes* out = nullptr) {
    Bytes buffer(cap + 64, kGuard);
    const int32_t n = ARITHCODE(src, std::span(buffer).first(cap), mode);
    const auto firstChanged = std::find_if(buffer.begin() + static_cast<ptrdiff_t>(cap),
                                           buffer.end(), [](uint8_t b) { return b != kGuard; });
    EXPECT_EQ(firstChanged, buffer.end())
        << "wrote past dst (capacity " << cap << ") at offset " << (firstChanged - buffer.begin());
    if (out != nullptr) out->assign(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(cap));
    return n;
}

Bytes randomBytes(uint32_t seed, size_t n) {
    std::mt19937 rng(seed);
    Bytes bytes(n);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

// Quantised wavelet coefficients: about 85% the zero coefficient 128, the rest 120..136, the
// larger deviations the rarer.
Bytes coefficientBytes(uint32_t seed, size_t n) {
    std::mt19937 rng(seed);
    Bytes bytes(n);
    for (uint8_t& b : bytes) {
        if (rng() % 100 < 85) {
            b = 128;
            continue;
        }
        int magnitude = 1;
        while (magnitude < 8 && rng() % 2 == 0) ++magnitude;
        b = static_cast<uint8_t>(rng() % 2 == 0 ? 128 + magnitude : 128 - magnitude);
    }
    return bytes;
}

// FNV-1a, 64 bits: a fingerprint of a long pinned stream.
uint64_t fingerprint(std::span<const uint8_t> bytes) {
    uint64_t h = 0xcbf29ce484222325u;
    for (const uint8_t b : bytes) h = (h ^ b) * 0x100000001b3u;
    return h;
}

void expectRoundTrip(const Bytes& src) {
    const Bytes coded = encode(src);
    ASSERT_LE(coded.size(), arithEncodeBound(src.size()));
    const Bytes back = decode(coded, src.size());
    ASSERT_EQ(back.size(), src.size());
    const auto [a, b] = std::mismatch(src.begin(), src.end(), back.begin());
    EXPECT_TRUE(a == src.end()) << "first difference at byte " << (a - src.begin()) << " of "
                                << src.size() << ": " << int{*a} << " decoded as " << int{*b};
    // With room to spare the end-of-stream symbol, not the capacity, ends decoding.
    EXPECT_EQ(decode(coded, src.size() + 100).size(), src.size());
}

// Known values: wrong interval arithmetic, renormalisation, flush, bit order or mark.

TEST(ArithKnownValues, EmptyInputIsMarkAndEndSymbol) {
    EXPECT_EQ(encode({}), (Bytes{0x41, 0x43, 0x4D, 0x43, 0xFF, 0x40}));
    EXPECT_TRUE(decode(Bytes{0x41, 0x43, 0x4D, 0x43, 0xFF, 0x40}, 16).empty());
}

TEST(ArithKnownValues, ThreeBytes) {
    const Bytes abc = {0x61, 0x62, 0x63};
    const Bytes coded = {0x41, 0x43, 0x4D, 0x43, 0x61, 0x01, 0x9D, 0x92};
    EXPECT_EQ(encode(abc), coded);
    EXPECT_EQ(decode(coded, 16), abc);
}

// A long stream pinned against the literal linear-scan coder (the benchmark keeps one): catches
// a fast model that drifts from the plain one only after many symbols or mode changes.
TEST(ArithKnownValues, PinnedCoefficientStream) {
    const Bytes src = coefficientBytes(1, 98304);
    const Bytes coded = encode(src);
    EXPECT_EQ(coded.size(), 13481u);
    EXPECT_EQ(fingerprint(coded), 0x1248c745ed4fe4b1u);
}

TEST(ArithKnownValues, PinnedShiftingStream) {
    // The most frequent byte changes three times (10, 200, 77, 10 again).
    Bytes src;
    for (const auto& [common, n] :
         {std::pair<uint8_t, size_t>{10, 3000}, {200, 6000}, {77, 12000}, {10, 20000}}) {
        const Bytes part = coefficientBytes(common, n);
        for (const uint8_t b : part) src.push_back(static_cast<uint8_t>(b - 128 + common));
    }
    const Bytes coded = encode(src);
    EXPECT_EQ(coded.size(), 12681u);
    EXPECT_EQ(fingerprint(coded), 0x30171a8b4bbaeb76u);
}

// Inverse pairs: encoder and decoder models or registers out of step.

TEST(ArithRoundTrip, EmptyAndSingleBytes) {
    expectRoundTrip({});
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE("byte " + std::to_string(b));
        expectRoundTrip({static_cast<uint8_t>(b)});
    }
}

TEST(ArithRoundTrip, AllByteValues) {
    Bytes up(256);
    for (int i = 0; i < 256; ++i) up[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    expectRoundTrip(up);
    expectRoundTrip(Bytes(up.rbegin(), up.rend()));
    Bytes repeated;
    for (int k = 0; k < 40; ++k) repeated.insert(repeated.end(), up.begin(), up.end());
    expectRoundTrip(repeated);
    for (const uint32_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Bytes shuffled = up;
        std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(seed));
        expectRoundTrip(shuffled);
    }
}

TEST(ArithRoundTrip, LongRuns) {
    for (const uint8_t b : {0, 128, 255}) {
        SCOPED_TRACE("byte " + std::to_string(b));
        expectRoundTrip(Bytes(100000, b));
    }
    Bytes runs;
    std::mt19937 rng(5);
    while (runs.size() < 200000) runs.insert(runs.end(), rng() % 5000, static_cast<uint8_t>(rng()));
    SCOPED_TRACE("runs of random length, seed 5");
    expectRoundTrip(runs);
}

TEST(ArithRoundTrip, RandomBytes) {
    for (const uint32_t seed : {11u, 12u, 13u, 14u}) {
        for (const size_t n : {1u, 2u, 7u, 100u, 1000u, 65536u}) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(n) + " bytes");
            expectRoundTrip(randomBytes(seed, n));
        }
    }
}

TEST(ArithRoundTrip, CoefficientBytes) {
    for (const uint32_t seed : {21u, 22u, 23u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        expectRoundTrip(coefficientBytes(seed, 98304));
    }
}

TEST(ArithRoundTrip, FewSymbolsAndShiftingStatistics) {
    for (const uint32_t seed : {31u, 32u, 33u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        Bytes two(20000);  // two symbols that overtake each other as the most frequent
        for (uint8_t& b : two) b = rng() % 2 == 0 ? 3 : 250;
        expectRoundTrip(two);
        Bytes drifting(50000);  // the common byte jumps every few thousand bytes
        uint8_t common = 0;
        for (size_t i = 0; i < drifting.size(); ++i) {
            if (i % 3000 == 0) common = static_cast<uint8_t>(rng());
            drifting[i] = rng() % 10 < 8 ? common : static_cast<uint8_t>(rng());
        }
        expectRoundTrip(drifting);
    }
}

// The literal linear-scan coder against the fast model: the same bit stream, and each decodes
// the other's. The inputs put bytes at every distance from the most frequent one, near it and
// in other groups of 16, around both ends of the byte range, and move the most frequent byte.

void expectSameAsLinearScan(const Bytes& src) {
    const Bytes coded = encode(src);
    Bytes plain(arithEncodeBound(src.size()));
    const int32_t n = linear::encode(src, plain);
    ASSERT_GE(n, 6);
    plain.resize(static_cast<size_t>(n));
    const auto [a, b] = std::mismatch(coded.begin(), coded.end(), plain.begin(), plain.end());
    ASSERT_TRUE(a == coded.end() && b == plain.end())
        << "streams differ from byte " << (a - coded.begin()) << " (lengths " << coded.size()
        << " and " << plain.size() << ")";
    EXPECT_EQ(decode(coded, src.size() + 1), src);
    Bytes back(src.size() + 1);
    ASSERT_EQ(linear::decode(coded, back), static_cast<int32_t>(src.size()));
    back.resize(src.size());
    EXPECT_EQ(back, src);
}

// Mostly centre, else centre + d for a d in deviations, each as likely.
Bytes aroundByte(uint32_t seed, uint8_t centre, std::span<const int> deviations, size_t n) {
    std::mt19937 rng(seed);
    Bytes bytes(n);
    for (uint8_t& b : bytes) {
        const int d = rng() % 100 < 70 ? 0 : deviations[rng() % deviations.size()];
        b = static_cast<uint8_t>(std::clamp(centre + d, 0, 255));
    }
    return bytes;
}

TEST(ArithAgainstLinearScan, RandomAndCoefficientBytes) {
    for (const uint32_t seed : {41u, 42u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        expectSameAsLinearScan(randomBytes(seed, 30000));
        expectSameAsLinearScan(coefficientBytes(seed, 30000));
    }
}

TEST(ArithAgainstLinearScan, EveryDistanceFromTheCommonByte) {
    std::vector<int> deviations;
    for (int d = -40; d <= 40; ++d) deviations.push_back(d);
    const int nearEdge[] = {-10, -9, -8, -7, 7, 8, 9, 10};
    // Centres at both ends of the byte range, at group edges and inside a group.
    for (const int centre : {0, 1, 15, 16, 100, 127, 128, 247, 254, 255}) {
        SCOPED_TRACE("centre " + std::to_string(centre));
        const auto c = static_cast<uint8_t>(centre);
        expectSameAsLinearScan(aroundByte(static_cast<uint32_t>(centre), c, deviations, 20000));
        expectSameAsLinearScan(aroundByte(static_cast<uint32_t>(centre), c, nearEdge, 20000));
    }
}

TEST(ArithAgainstLinearScan, TheCommonByteMoves) {
    std::mt19937 rng(43);
    Bytes src;
    const int deviations[] = {-20, -9, -8, -3, -1, 1, 2, 8, 9, 30};
    for (int part = 0; part < 12; ++part) {
        const Bytes next = aroundByte(rng(), static_cast<uint8_t>(rng()), deviations, 4000);
        src.insert(src.end(), next.begin(), next.end());
    }
    expectSameAsLinearScan(src);
    Bytes two(20000);  // two bytes far apart overtaking each other
    for (uint8_t& b : two) b = rng() % 2 == 0 ? 3 : 250;
    expectSameAsLinearScan(two);
}

// Capacity edges: partial writes, a wrong length, a bound that does not hold.

TEST(ArithCapacity, RandomBytesOutgrowTheCallersBuffer) {
    const uint32_t seed = 41;
    SCOPED_TRACE("seed 41");
    const Bytes src = randomBytes(seed, 1000);
    const Bytes coded = encode(src);
    EXPECT_GT(coded.size(), src.size() + 5);
    EXPECT_LT(coded.size(), 1060u);  // about 1024
    EXPECT_EQ(guardedCall(src, src.size() + 5, kArithEncode), kArithOverflow);
}

TEST(ArithCapacity, EqualBytesCodeSmall) {
    const size_t n = encode(Bytes(1000, 0x37)).size();
    EXPECT_GT(n, 100u);  // about 120
    EXPECT_LT(n, 140u);
}

TEST(ArithCapacity, ExactFitSucceedsOneLessOverflows) {
    for (const Bytes& src :
         {Bytes{}, Bytes{0x61, 0x62, 0x63}, randomBytes(42, 500), coefficientBytes(43, 3000)}) {
        SCOPED_TRACE(std::to_string(src.size()) + " bytes");
        const Bytes coded = encode(src);
        Bytes out;
        EXPECT_EQ(guardedCall(src, coded.size(), kArithEncode, &out),
                  static_cast<int32_t>(coded.size()));
        EXPECT_EQ(out, coded);
        for (size_t cap = 0; cap < std::min<size_t>(coded.size(), 12); ++cap) {
            EXPECT_EQ(guardedCall(src, cap, kArithEncode), kArithOverflow) << "capacity " << cap;
        }
        EXPECT_EQ(guardedCall(src, coded.size() - 1, kArithEncode), kArithOverflow);
    }
}

TEST(ArithCapacity, EncodeBoundHoldsForIncompressibleInput) {
    std::vector<Bytes> inputs;
    for (const uint32_t seed : {51u, 52u}) {
        for (const size_t n : {0u, 1u, 5u, 64u, 1000u, 100000u})
            inputs.push_back(randomBytes(seed, n));
    }
    Bytes cycle(70000);  // every byte value in turn: always one of the least frequent
    for (size_t i = 0; i < cycle.size(); ++i) cycle[i] = static_cast<uint8_t>(i * 167);
    inputs.push_back(cycle);
    for (const Bytes& src : inputs) {
        SCOPED_TRACE(std::to_string(src.size()) + " bytes");
        const int32_t n = guardedCall(src, arithEncodeBound(src.size()), kArithEncode);
        EXPECT_GE(n, 6);
    }
}

TEST(ArithCapacity, DecoderStopsAtCapacity) {
    const Bytes src = randomBytes(61, 1000);
    const Bytes coded = encode(src);
    for (const size_t cap : {0u, 1u, 2u, 500u, 999u}) {
        SCOPED_TRACE("capacity " + std::to_string(cap));
        Bytes out;
        EXPECT_EQ(guardedCall(coded, cap, kArithDecode, &out), static_cast<int32_t>(cap));
        EXPECT_TRUE(std::equal(out.begin(), out.end(), src.begin()));
    }
}

// Streams the encoder did not make: a checked mark, a missing end, corrupt bits, overruns.

TEST(ArithStream, MarkIsNotChecked) {
    const Bytes src = coefficientBytes(71, 4000);
    Bytes coded = encode(src);
    for (const Bytes& mark :
         {Bytes{'X', 'X', 'X', 'X'}, Bytes{0, 0, 0, 0}, Bytes{0xFF, 0, 0xFF, 0}}) {
        std::copy(mark.begin(), mark.end(), coded.begin());
        EXPECT_EQ(decode(coded, src.size() + 10), src);
    }
}

TEST(ArithStream, AppendedGarbageIsSafe) {
    for (const uint32_t seed : {81u, 82u, 83u, 84u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const Bytes src = coefficientBytes(seed, 3000);
        Bytes coded = encode(src);
        const Bytes garbage = randomBytes(seed + 1000, 1 + seed % 16);
        coded.insert(coded.end(), garbage.begin(), garbage.end());
        // The bits past the end are no longer 0, so the last symbols may differ.
        EXPECT_LE(guardedCall(coded, src.size() + 10, kArithDecode),
                  static_cast<int32_t>(src.size() + 10));
    }
}

TEST(ArithStream, NoCodeBitsFillsDstWithZeros) {
    for (const Bytes& src : {Bytes{}, Bytes{0x41}, Bytes{0x41, 0x43, 0x4D},
                             Bytes{'A', 'C', 'M', 'C'}, Bytes{'A', 'C', 'M', 'C', 0, 0, 0}}) {
        SCOPED_TRACE(std::to_string(src.size()) + " bytes");
        Bytes out;
        EXPECT_EQ(guardedCall(src, 100, kArithDecode, &out), 100);
        EXPECT_EQ(out, Bytes(100, 0));
    }
}

TEST(ArithStream, CodeValueOutsideTheModelStops) {
    // Value 0x7FFFFFFF: target = 0x7FFFFFFF / (0x80000000 / 257) = 257, the model's total.
    const Bytes allOnes = {'A', 'C', 'M', 'C', 0xFF, 0xFF, 0xFF, 0xFF};
    Bytes out;
    EXPECT_EQ(guardedCall(allOnes, 16, kArithDecode, &out), 0);
    EXPECT_EQ(out, Bytes(16, kGuard));
}

TEST(ArithStream, TruncatedStreamsStayInBounds) {
    const Bytes src = coefficientBytes(91, 2000);
    const Bytes coded = encode(src);
    // prefixBytes[j / 8]: the length of a whole stream for the first j source bytes. A cut that
    // keeps that much and the code value's 4 bytes of look-ahead still carries those j bytes.
    std::vector<size_t> prefixBytes;
    for (size_t j = 0; j <= src.size(); j += 8) {
        prefixBytes.push_back(encode(Bytes(src.begin(), src.begin() + j)).size());
    }
    const size_t cap = src.size() + 1;
    for (size_t cut = 0; cut < coded.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        Bytes out;
        const int32_t n = guardedCall(std::span(coded).first(cut), cap, kArithDecode, &out);
        ASSERT_GE(n, 0);
        ASSERT_LE(n, static_cast<int32_t>(cap));
        const size_t agreed = static_cast<size_t>(
            std::mismatch(src.begin(), src.end(), out.begin(), out.begin() + n).first -
            src.begin());
        size_t carried = 0;
        while (carried / 8 + 1 < prefixBytes.size() && prefixBytes[carried / 8 + 1] + 4 <= cut) {
            carried += 8;
        }
        EXPECT_GE(agreed, carried);
    }
    Bytes whole;
    EXPECT_EQ(guardedCall(coded, cap, kArithDecode, &whole), static_cast<int32_t>(src.size()));
    EXPECT_TRUE(std::equal(src.begin(), src.end(), whole.begin()));
}

TEST(ArithStream, CorruptStreamsStayInBounds) {
    for (uint32_t seed = 100; seed < 400; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        Bytes coded;
        if (seed % 2 == 0) {
            coded = randomBytes(seed, 4 + rng() % 300);  // noise
        } else {
            coded = encode(coefficientBytes(seed, 1 + rng() % 3000));  // flipped bits
            for (int k = 0; k < 3; ++k) coded[4 + rng() % (coded.size() - 4)] ^= 1 << (rng() % 8);
        }
        const size_t cap = rng() % 5000;
        const int32_t n = guardedCall(coded, cap, kArithDecode);
        EXPECT_GE(n, 0);
        EXPECT_LE(n, static_cast<int32_t>(cap));
    }
}

}  // namespace
}  // namespace codec
