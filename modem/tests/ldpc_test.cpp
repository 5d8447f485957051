#include "modem/ldpc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "modem/splitmix.h"

namespace modem {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kNoiseFrames = 6;  // sanitized builds decode about 20 times slower
#else
constexpr int kNoiseFrames = 24;
#endif

std::vector<uint8_t> encode(const LdpcCode& code, const std::vector<uint8_t>& info) {
    std::vector<uint8_t> word(static_cast<size_t>(code.n));
    EXPECT_TRUE(encodeLdpc(code, info, word));
    return word;
}

// BPSK (0 -> +1) through AWGN at the given Eb/N0, as LLRs 2y / s^2.
std::vector<uint8_t> randomBits(SplitMix64& rng, int count) {
    std::vector<uint8_t> out(static_cast<size_t>(count));
    for (auto& bit : out) bit = static_cast<uint8_t>(rng.next() >> 63);
    return out;
}

std::vector<float> awgnLlr(const std::vector<uint8_t>& word, double rate, double ebn0Db,
                           SplitMix64& rng) {
    const double sigma = std::sqrt(1.0 / (2.0 * rate * std::pow(10.0, ebn0Db / 10.0)));
    std::vector<float> llr(word.size());
    for (size_t i = 0; i < word.size(); ++i) {
        const double y = (word[i] ? -1.0 : 1.0) + sigma * rng.gaussian();
        llr[i] = static_cast<float>(2.0 * y / (sigma * sigma));
    }
    return llr;
}

std::vector<float> cleanLlr(const std::vector<uint8_t>& word, float magnitude) {
    std::vector<float> llr(word.size());
    for (size_t i = 0; i < word.size(); ++i) llr[i] = word[i] ? -magnitude : magnitude;
    return llr;
}

std::string firstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    const auto [pa, pb] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    if (pa == a.end() && pb == b.end()) return "none";
    return "bit " + std::to_string(pa - a.begin()) + " of " + std::to_string(a.size());
}

const LdpcCode& modemCode(int k, int n) {
    const std::shared_ptr<const LdpcCode> code = sharedLdpcCode(k, n);
    EXPECT_NE(code, nullptr);
    static const LdpcCode none;
    return code ? *code : none;  // the cache keeps it
}

class ModemCodes : public ::testing::TestWithParam<std::pair<int, int>> {
protected:
    const LdpcCode& code() { return modemCode(GetParam().first, GetParam().second); }
    double rate() { return static_cast<double>(GetParam().first) / GetParam().second; }
};

INSTANTIATE_TEST_SUITE_P(Ldpc, ModemCodes,
                         ::testing::Values(std::pair{kLdpcNormalK, kLdpcNormalN},
                                           std::pair{kLdpcRobustK, kLdpcRobustN}),
                         [](const auto& info) {
                             return info.param.first == kLdpcNormalK &&
                                            info.param.second == kLdpcNormalN
                                        ? std::string("Normal")
                                        : std::string("Robust");
                         });

// Degrees as designed: information bits highDegree or 3, parity bits 2 (the last 1), every
// check floor(E/m) or ceil(E/m) information bits plus its one or two parity bits; no two bits
// share two checks (a 4-cycle), which the edge growth avoids at these sizes. The matrix is
// pinned by its hash: a compiler or library that changes the construction fails here.
TEST_P(ModemCodes, BuiltAsDesigned) {
    const LdpcCode& c = code();
    const int m = c.checks();
    ASSERT_EQ(c.rowStart.size(), static_cast<size_t>(m) + 1);
    ASSERT_EQ(c.rowStart.back(), c.rowBits.size());
    const int highDegree = c.k * 2 == c.n ? 8 : 12;
    EXPECT_EQ(c.highDegree, highDegree);
    EXPECT_EQ(c.highCount, c.k * 2 == c.n ? 1651 : 459);  // 2/5 and 1/9 of k, rounded

    std::vector<int> columnDegree(static_cast<size_t>(c.n), 0);
    std::vector<int> infoPerRow(static_cast<size_t>(m), 0);
    std::set<std::pair<uint32_t, uint32_t>> pairs;
    int cycles4 = 0;
    for (int r = 0; r < m; ++r) {
        const auto begin = c.rowBits.begin() + c.rowStart[static_cast<size_t>(r)];
        const auto end = c.rowBits.begin() + c.rowStart[static_cast<size_t>(r) + 1];
        ASSERT_TRUE(std::is_sorted(begin, end)) << "row " << r;
        ASSERT_TRUE(std::adjacent_find(begin, end) == end) << "row " << r;
        // The accumulator: parity bits r - 1 and r, last in the row.
        ASSERT_EQ(*(end - 1), static_cast<uint32_t>(c.k + r)) << "row " << r;
        if (r > 0) {
            ASSERT_EQ(*(end - 2), static_cast<uint32_t>(c.k + r - 1)) << "row " << r;
        }
        for (auto it = begin; it != end; ++it) {
            ++columnDegree[*it];
            if (*it < static_cast<uint32_t>(c.k)) ++infoPerRow[static_cast<size_t>(r)];
            for (auto jt = it + 1; jt != end; ++jt)
                if (!pairs.emplace(*it, *jt).second) ++cycles4;
        }
        ASSERT_EQ(end - begin, infoPerRow[static_cast<size_t>(r)] + (r > 0 ? 2 : 1));
    }
    EXPECT_EQ(cycles4, 0);

    for (int v = 0; v < c.n; ++v) {
        const int expected = v < c.highCount ? highDegree : v < c.k ? 3 : v < c.n - 1 ? 2 : 1;
        ASSERT_EQ(columnDegree[static_cast<size_t>(v)], expected) << "bit " << v;
    }
    const int infoEdges = c.highCount * highDegree + (c.k - c.highCount) * 3;
    const int floorDegree = infoEdges / m;
    int atCeil = 0;
    for (int r = 0; r < m; ++r) {
        const int d = infoPerRow[static_cast<size_t>(r)];
        ASSERT_TRUE(d == floorDegree || d == floorDegree + 1) << "row " << r << ": " << d;
        atCeil += d > floorDegree;
    }
    EXPECT_EQ(atCeil, infoEdges % m);

    uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a over the row lists
    for (uint32_t bit : c.rowBits) hash = (hash ^ bit) * 0x100000001B3ull;
    for (uint32_t start : c.rowStart) hash = (hash ^ start) * 0x100000001B3ull;
    const uint64_t pinned = c.k * 2 == c.n ? 0xe252bd3ec889923eull : 0x7a8e2352b06dc2a2ull;
    EXPECT_EQ(hash, pinned) << std::hex << "0x" << hash;
}

// Systematic codewords that satisfy every check; clean LLRs decode at once.
TEST_P(ModemCodes, EncodesCodewordsThatDecodeClean) {
    const LdpcCode& c = code();
    LdpcDecoder decoder(c);
    SplitMix64 rng{11};
    for (int trial = 0; trial < 4; ++trial) {
        SCOPED_TRACE("seed 11, word " + std::to_string(trial));
        const std::vector<uint8_t> info = randomBits(rng, c.k);
        const std::vector<uint8_t> word = encode(c, info);
        EXPECT_TRUE(std::equal(info.begin(), info.end(), word.begin()));
        EXPECT_TRUE(ldpcSyndromeZero(c, word));
        std::vector<uint8_t> decoded(static_cast<size_t>(c.n));
        const LdpcDecodeResult result = decoder.process(cleanLlr(word, 3.0f), decoded);
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.iterations, 0);
        EXPECT_EQ(decoded, word) << firstDifference(decoded, word);
    }
    // One flipped bit is no codeword; the decoder puts it right.
    const std::vector<uint8_t> info = randomBits(rng, c.k);
    std::vector<uint8_t> word = encode(c, info);
    word[100] ^= 1;
    EXPECT_FALSE(ldpcSyndromeZero(c, word));
    std::vector<float> llr = cleanLlr(word, 3.0f);
    llr[100] *= 0.5f;
    word[100] ^= 1;
    std::vector<uint8_t> decoded(static_cast<size_t>(c.k));
    const LdpcDecodeResult result = decoder.process(llr, decoded);
    EXPECT_TRUE(result.ok);
    EXPECT_GE(result.iterations, 1);
    EXPECT_EQ(decoded, info) << firstDifference(decoded, info);
}

// Parity bits received wrong and surer than the bits around them: a run of them in the
// accumulator's chain violates only the two checks at its ends, and the last one has a single
// check. Messages along the chain must not fade, or such words stay wrong (with every message
// scaled by 0.8, the run of 4 does). A run that ends at the chain's end violates one check only,
// which no setting here corrects at these values.
TEST_P(ModemCodes, WrongParityRunsAreCorrected) {
    const LdpcCode& c = code();
    const auto checkDecodes = [&](LdpcDecoder::Settings settings) {
        LdpcDecoder decoder(c, settings);
        SplitMix64 rng{17};
        const std::vector<uint8_t> word = encode(c, randomBits(rng, c.k));
        int failures = 0;
        // Runs inside the chain, and its last bit.
        for (const auto& [start, run] : {std::pair{c.k + 500, 1}, std::pair{c.k + 500, 2},
                                         std::pair{c.k + 500, 4}, std::pair{c.n - 1, 1}}) {
            std::vector<float> llr = cleanLlr(word, 2.0f);
            for (int i = start; i < start + run; ++i) llr[static_cast<size_t>(i)] *= -2.0f;
            std::vector<uint8_t> decoded(static_cast<size_t>(c.n));
            const LdpcDecodeResult result = decoder.process(llr, decoded);
            failures += result.ok && decoded == word ? 0 : 1;
        }
        return failures;
    };
    EXPECT_EQ(checkDecodes({}), 0);
    EXPECT_GT(
        checkDecodes({.maxIterations = 50, .normalisation = 0.8f, .parityNormalisation = 0.8f}), 0);
}

// Against the encoder on BPSK over AWGN (fixed seed): 1 dB below the Eb/N0 where ldpc_sweep
// measures a frame error rate of 1e-2 (1.2 dB at rate 1/2, 2.5 dB at rate 3/4) nearly every word
// fails, 1 dB above it nearly every word decodes, and no word is ever reported decoded that is
// not a codeword, or decoded to the wrong codeword here.
TEST_P(ModemCodes, NoisyWordsFailBelowAndDecodeAboveThreshold) {
    const LdpcCode& c = code();
    LdpcDecoder decoder(c);
    const bool half = c.k * 2 == c.n;
    const double below = half ? 0.2 : 1.5;  // Eb/N0 in dB
    const double above = half ? 2.2 : 3.5;
    SplitMix64 rng{2026};
    std::vector<uint8_t> decoded(static_cast<size_t>(c.n));
    for (const double ebn0 : {below, above}) {
        int failures = 0;
        for (int trial = 0; trial < kNoiseFrames; ++trial) {
            SCOPED_TRACE("seed 2026, Eb/N0 " + std::to_string(ebn0) + " dB, word " +
                         std::to_string(trial));
            const std::vector<uint8_t> word = encode(c, randomBits(rng, c.k));
            const LdpcDecodeResult result =
                decoder.process(awgnLlr(word, rate(), ebn0, rng), decoded);
            EXPECT_EQ(result.ok, ldpcSyndromeZero(c, decoded));
            EXPECT_LE(result.iterations, 50);
            if (result.ok) {
                EXPECT_EQ(decoded, word) << firstDifference(decoded, word);
            }
            failures += result.ok ? 0 : 1;
        }
        if (ebn0 == below) {
            EXPECT_GE(failures, kNoiseFrames * 3 / 4) << "at " << ebn0 << " dB";
        } else {
            EXPECT_LE(failures, 1) << "at " << ebn0 << " dB";
        }
    }
}

// Erasures: a word with every LLR 0 carries nothing and must fail, though the all-zero
// hard decision satisfies every check; so must a word with more erasures than parity bits.
// Fewer erasures than the code's capacity are filled in.
TEST(Ldpc, ErasuresFillInOrFailCleanly) {
    const LdpcCode& c = modemCode(kLdpcNormalK, kLdpcNormalN);
    LdpcDecoder decoder(c, {.maxIterations = 20});
    std::vector<uint8_t> decoded(static_cast<size_t>(c.n), 7);
    LdpcDecodeResult result =
        decoder.process(std::vector<float>(static_cast<size_t>(c.n), 0.0f), decoded);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.iterations, 20);
    EXPECT_TRUE(std::all_of(decoded.begin(), decoded.end(), [](uint8_t b) { return b <= 1; }));

    SplitMix64 rng{5};
    const std::vector<uint8_t> word = encode(c, randomBits(rng, c.k));
    const auto erase = [&](double share) {
        std::vector<float> llr = cleanLlr(word, 4.0f);
        for (auto& value : llr)
            if (rng.uniform() < share) value = 0.0f;
        return llr;
    };
    const double capacity = 0.25;  // 1 - rate: the share of erasures a perfect code could fill
    result = decoder.process(erase(capacity * 0.6), decoded);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(decoded, word) << firstDifference(decoded, word);
    result = decoder.process(erase(capacity * 1.15), decoded);
    EXPECT_FALSE(result.ok);
}

// Whatever comes in, success means a codeword: pure noise with few iterations, huge and
// non-finite LLRs.
TEST(Ldpc, SuccessOnlyForCodewords) {
    const LdpcCode& c = modemCode(kLdpcNormalK, kLdpcNormalN);
    LdpcDecoder decoder(c, {.maxIterations = 3});
    SplitMix64 rng{99};
    std::vector<uint8_t> decoded(static_cast<size_t>(c.n));
    std::vector<float> llr(static_cast<size_t>(c.n));
    for (int trial = 0; trial < 4; ++trial) {
        for (auto& value : llr) value = static_cast<float>(4.0 * rng.gaussian());
        const LdpcDecodeResult result = decoder.process(llr, decoded);
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(ldpcSyndromeZero(c, decoded));
        for (float p : decoder.posterior()) ASSERT_TRUE(std::isfinite(p));
    }

    const std::vector<uint8_t> word = encode(c, randomBits(rng, c.k));
    llr = cleanLlr(word, std::numeric_limits<float>::infinity());
    llr[3] = std::numeric_limits<float>::quiet_NaN();  // an erasure
    llr[7] = std::numeric_limits<float>::max();
    LdpcDecodeResult result = decoder.process(llr, decoded);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(decoded, word) << firstDifference(decoded, word);
    for (float p : decoder.posterior()) ASSERT_TRUE(std::isfinite(p));

    llr[static_cast<size_t>(c.n) - 1] = -llr[static_cast<size_t>(c.n) - 1];  // certain and wrong
    result = decoder.process(llr, decoded);
    EXPECT_TRUE(!result.ok || ldpcSyndromeZero(c, decoded));
    for (float p : decoder.posterior()) ASSERT_TRUE(std::isfinite(p));
}

// A decoder object carries nothing from one word to the next.
TEST(Ldpc, DecoderKeepsNoStateBetweenWords) {
    const LdpcCode& c = modemCode(kLdpcNormalK, kLdpcNormalN);
    LdpcDecoder decoder(c);
    SplitMix64 rng{31};
    const std::vector<float> first = awgnLlr(encode(c, randomBits(rng, c.k)), 0.75, 2.5, rng);
    const std::vector<float> second = awgnLlr(encode(c, randomBits(rng, c.k)), 0.75, 0.0, rng);
    std::vector<uint8_t> a(static_cast<size_t>(c.n)), b(a.size());
    const LdpcDecodeResult resultA = decoder.process(first, a);
    decoder.process(second, b);
    const LdpcDecodeResult resultB = decoder.process(first, b);
    EXPECT_EQ(resultA.ok, resultB.ok);
    EXPECT_EQ(resultA.iterations, resultB.iterations);
    EXPECT_EQ(a, b) << firstDifference(a, b);
}

// Any (k, n) in the rate range gives the same code on every build, whose words check out and
// decode; sizes outside it and wrong buffer sizes are refused.
TEST(Ldpc, SmallCodesAcrossTheRateRange) {
    const std::pair<int, int> sizes[] = {{40, 120},    {100, 290},  {344, 688},  {344, 516},
                                         {1032, 1290}, {850, 1000}, {900, 1000}, {3, 8}};
    SplitMix64 rng{7};
    for (const auto& [k, n] : sizes) {
        SCOPED_TRACE("k " + std::to_string(k) + ", n " + std::to_string(n));
        const std::optional<LdpcCode> code = makeLdpcCode(k, n);
        ASSERT_TRUE(code.has_value());
        EXPECT_EQ(makeLdpcCode(k, n)->rowBits, code->rowBits);  // a pure function of (k, n)
        LdpcDecoder decoder(*code);
        for (int trial = 0; trial < 3; ++trial) {
            const std::vector<uint8_t> word = encode(*code, randomBits(rng, k));
            ASSERT_TRUE(ldpcSyndromeZero(*code, word));
            std::vector<float> llr = cleanLlr(word, 2.0f);
            llr[static_cast<size_t>(trial)] = -llr[static_cast<size_t>(trial)] * 0.25f;
            std::vector<uint8_t> decoded(static_cast<size_t>(n));
            const LdpcDecodeResult result = decoder.process(llr, decoded);
            EXPECT_TRUE(result.ok);
            EXPECT_EQ(decoded, word) << firstDifference(decoded, word);
        }
    }

    EXPECT_FALSE(makeLdpcCode(0, 10).has_value());
    EXPECT_FALSE(makeLdpcCode(10, 10).has_value());
    EXPECT_FALSE(makeLdpcCode(100, 400).has_value());  // rate 1/4
    EXPECT_FALSE(makeLdpcCode(95, 100).has_value());   // rate 0.95
    EXPECT_EQ(sharedLdpcCode(95, 100), nullptr);
    EXPECT_EQ(sharedLdpcCode(344, 688), sharedLdpcCode(344, 688));  // built once
    EXPECT_NE(sharedLdpcCode(344, 688), sharedLdpcCode(344, 516));

    const std::optional<LdpcCode> code = makeLdpcCode(40, 80);
    ASSERT_TRUE(code.has_value());
    std::vector<uint8_t> info(40), word(80, 9);
    EXPECT_FALSE(encodeLdpc(*code, std::span(info).first(39), word));
    EXPECT_FALSE(encodeLdpc(*code, info, std::span(word).first(79)));
    EXPECT_EQ(word[0], 9);
    LdpcDecoder decoder(*code);
    std::vector<uint8_t> decoded(40, 9);
    const LdpcDecodeResult result = decoder.process(std::vector<float>(79, 1.0f), decoded);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(decoded[0], 9);
}

}  // namespace
}  // namespace modem
