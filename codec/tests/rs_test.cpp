#include "codec/rs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <numeric>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <vector>

namespace codec {
namespace {

using Block = std::array<int32_t, kRsN>;

RsState stateFor(int t) {
    RsState rs;
    rs.t = t;
    RSGENGF(rs);
    RSGENPOLY(rs);
    return rs;
}

// Encodes data[0..k-1] and returns the whole code block: parity first, then data.
Block encodeBlock(RsState& rs, const std::vector<int32_t>& data) {
    const int nroots = 2 * rs.t;
    std::copy(data.begin(), data.end(), rs.data.begin());
    RSENCODE(rs);
    Block block{};
    std::copy_n(rs.parity.begin(), nroots, block.begin());
    std::copy(data.begin(), data.end(), block.begin() + nroots);
    return block;
}

std::vector<int32_t> randomData(int k, std::mt19937& rng) {
    std::vector<int32_t> data(k);
    for (int32_t& d : data) {
        d = static_cast<int32_t>(rng() & 0xFF);
    }
    return data;
}

// A code word is a block whose parity is what RSENCODE gives for its data positions.
bool isCodeWord(const RsState& like, const Block& block) {
    RsState rs = like;
    const int nroots = 2 * rs.t;
    const std::vector<int32_t> data(block.begin() + nroots, block.end());
    return encodeBlock(rs, data) == block;
}

// "position: got / want" for every position where the blocks differ.
std::string differences(const Block& got, const Block& want) {
    std::ostringstream out;
    int shown = 0;
    for (int j = 0; j < kRsN; ++j) {
        if (got[j] != want[j]) {
            out << (shown++ == 0 ? "" : ", ") << j << ": " << got[j] << " / " << want[j];
        }
    }
    return shown == 0 ? "no difference" : out.str();
}

std::string listed(const std::vector<int32_t>& values) {
    std::ostringstream out;
    for (size_t i = 0; i < values.size(); ++i) {
        out << (i == 0 ? "" : " ") << values[i];
    }
    return out.str();
}

// Damage: f erased positions (garbage, sometimes the right value, so the erasure changes
// nothing) and e errors at other positions (value XOR a non-zero byte).
struct Damage {
    Block block;
    std::vector<int32_t> erasures;
    std::vector<int32_t> errors;
};

Damage damage(const Block& word, int errors, int erasures, std::mt19937& rng, int lowest = 0,
              int highest = kRsN - 1) {
    std::vector<int32_t> positions(highest - lowest + 1);
    std::iota(positions.begin(), positions.end(), lowest);
    std::shuffle(positions.begin(), positions.end(), rng);
    Damage d{word, {}, {}};
    d.erasures.assign(positions.begin(), positions.begin() + erasures);
    d.errors.assign(positions.begin() + erasures, positions.begin() + erasures + errors);
    for (const int32_t q : d.erasures) {
        d.block[q] = rng() % 4 == 0 ? word[q] : static_cast<int32_t>(rng() & 0xFF);
    }
    for (const int32_t q : d.errors) {
        d.block[q] ^= static_cast<int32_t>(1 + rng() % 255);
    }
    return d;
}

// --- Known values: wrong field, generator, root convention or parity order. ---

TEST(RsKnownValues, FieldTables) {
    RsState rs;
    RSGENGF(rs);
    EXPECT_EQ(rs.antilog[8], 0x1D);
    EXPECT_EQ(rs.antilog[254], 0x8E);
    EXPECT_EQ(rs.log[1], 0);
    EXPECT_EQ(rs.log[2], 1);
    EXPECT_EQ(rs.log[0], -1);
    for (int i = 0; i < kRsN; ++i) {
        ASSERT_EQ(rs.log[rs.antilog[i]], i) << "i = " << i;
    }
}

TEST(RsKnownValues, GeneratorT1) {
    const RsState rs = stateFor(1);
    EXPECT_EQ(rs.gen[0], 3);  // x^2 + 6x + 8: log 8 = 3, log 6 = 26, log 1 = 0
    EXPECT_EQ(rs.gen[1], 26);
    EXPECT_EQ(rs.gen[2], 0);
}

TEST(RsKnownValues, GeneratorT2) {
    const RsState rs = stateFor(2);
    const std::array<int32_t, 5> poly = {116, 231, 216, 30, 1};  // x^4 + 30x^3 + 216x^2 + ...
    for (int i = 0; i < 5; ++i) {
        ASSERT_GE(rs.gen[i], 0);
        EXPECT_EQ(rs.antilog[rs.gen[i]], poly[i]) << "coefficient of x^" << i;
    }
}

TEST(RsKnownValues, ParityT2) {
    RsState rs = stateFor(2);
    rs.data.fill(0);
    rs.data[0] = 1;
    RSENCODE(rs);
    EXPECT_EQ((std::array{rs.parity[0], rs.parity[1], rs.parity[2], rs.parity[3]}),
              (std::array<int32_t, 4>{116, 231, 216, 30}));
    rs.data.fill(0);
    rs.data[rs.k() - 1] = 1;
    RSENCODE(rs);
    EXPECT_EQ((std::array{rs.parity[0], rs.parity[1], rs.parity[2], rs.parity[3]}),
              (std::array<int32_t, 4>{188, 88, 97, 233}));
}

TEST(RsKnownValues, ZeroDataZeroParity) {
    for (const int t : {1, 2, 16, 127}) {
        RsState rs = stateFor(t);
        rs.data.fill(0);
        rs.parity.fill(77);
        RSENCODE(rs);
        for (int j = 0; j < 2 * t; ++j) {
            ASSERT_EQ(rs.parity[j], 0) << "t = " << t << ", j = " << j;
        }
    }
}

TEST(RsKnownValues, EncodedBlocksAreCleanForEveryT) {
    SCOPED_TRACE("seed 11");
    std::mt19937 rng(11);
    for (int t = 1; t <= kRsMaxT; ++t) {
        RsState rs = stateFor(t);
        ASSERT_EQ(rs.gen[2 * t], 0) << "t = " << t;  // monic
        const Block word = encodeBlock(rs, randomData(rs.k(), rng));
        rs.received = word;
        RSDECODE(rs, {});
        ASSERT_EQ(rs.count, 0) << "t = " << t;
        ASSERT_EQ(rs.received, word) << "t = " << t;
    }
}

// Parity of seeded blocks for every t, hashed (FNV-1a): pins RSENCODE bit for bit across any
// rework of its inner loop.
TEST(RsKnownValues, PinnedParityForEveryT) {
    SCOPED_TRACE("seed 77");
    std::mt19937 rng(77);
    uint64_t hash = 0xcbf29ce484222325ull;
    for (int t = 1; t <= kRsMaxT; ++t) {
        RsState rs = stateFor(t);
        for (int block = 0; block < 3; ++block) {
            std::vector<int32_t> data = randomData(rs.k(), rng);
            // A run of 0xFF at the top, as the frame format's fill, and zeros in between.
            std::fill(data.begin() + rs.k() / 2, data.end(), 0xFF);
            std::fill(data.begin() + rs.k() / 4, data.begin() + rs.k() / 3, 0);
            encodeBlock(rs, data);
            for (int j = 0; j < 2 * t; ++j) {
                hash ^= static_cast<uint8_t>(rs.parity[j]);
                hash *= 0x100000001B3ull;
            }
        }
    }
    EXPECT_EQ(hash, 0xc2cb312192b36077ull);
}

// --- Blocks that share their fill: the frame format's encoder. ---

// rsEncodeFilledRows feeds the shared fill once and takes its products from a table; its parity
// must still be RSENCODE's, block by block, for every shape: rows of one byte, rows that leave
// no fill, a fill byte that is not 0xFF, and rows longer than k (cut to k).
TEST(RsFilledRows, ParityIsRsencodeBlockByBlock) {
    constexpr uint32_t kSeed = 606;
    std::mt19937 rng(kSeed);
    struct Shape {
        int t;
        int r;
        uint8_t fill;
    };
    const Shape shapes[] = {{16, 52, 0xFF},  {1, 1, 0xFF},   {1, 253, 0xFF},  {2, 30, 0x00},
                            {40, 120, 0x5A}, {127, 1, 0xFF}, {16, 240, 0xFF}, {3, 0, 0xFF}};
    for (const Shape shape : shapes) {
        SCOPED_TRACE("seed " + std::to_string(kSeed) + ", t " + std::to_string(shape.t) + ", r " +
                     std::to_string(shape.r) + ", fill " + std::to_string(shape.fill));
        RsState rs = stateFor(shape.t);
        constexpr int kBlocks = 5;
        std::vector<uint8_t> rows(static_cast<size_t>(kBlocks) * shape.r);
        for (uint8_t& b : rows) b = static_cast<uint8_t>(rng());
        const size_t nroots = 2 * static_cast<size_t>(shape.t);
        std::vector<uint8_t> parity(kBlocks * nroots, 0x77);
        rsEncodeFilledRows(rs, rows, kBlocks, shape.fill, parity);
        for (int b = 0; b < kBlocks; ++b) {
            std::vector<int32_t> data(rs.k(), shape.fill);
            for (int i = 0; i < std::min(shape.r, rs.k()); ++i) data[i] = rows[b * shape.r + i];
            encodeBlock(rs, data);
            for (size_t j = 0; j < nroots; ++j) {
                ASSERT_EQ(parity[b * nroots + j], rs.parity[j]) << "block " << b << ", j " << j;
            }
        }
    }
}

TEST(RsFilledRows, ArgumentsOutsideTheContractChangeNothing) {
    RsState rs = stateFor(2);
    const std::vector<uint8_t> rows(12, 1);
    std::vector<uint8_t> parity(12, 0x77);
    const std::vector<uint8_t> untouched = parity;
    rsEncodeFilledRows(rs, rows, 0, 0xFF, parity);  // no blocks
    rsEncodeFilledRows(rs, rows, 5, 0xFF, parity);  // 12 bytes are no whole number of 5 rows
    rsEncodeFilledRows(rs, rows, 4, 0xFF, std::span(parity).first(15));  // 4 blocks need 16
    rs.t = 0;
    rsEncodeFilledRows(rs, rows, 3, 0xFF, parity);
    rs.t = kRsMaxT + 1;
    rsEncodeFilledRows(rs, rows, 3, 0xFF, parity);
    EXPECT_EQ(parity, untouched);
}

// --- Capacity edge, seeded: erasure bookkeeping, counts, partial writes. ---

// Decodes d and checks it comes back as word with the count RSDECODE promises: 0 when nothing
// changed, else the number of locator roots, every erasure (changed or not) and every error.
void expectCorrected(RsState& rs, const Damage& d, const Block& word) {
    SCOPED_TRACE("erasures [" + listed(d.erasures) + "], errors [" + listed(d.errors) + "]");
    rs.received = d.block;
    RSDECODE(rs, d.erasures);
    const int expected =
        d.block == word ? 0 : static_cast<int>(d.erasures.size() + d.errors.size());
    EXPECT_EQ(rs.count, expected);
    EXPECT_TRUE(rs.received == word) << differences(rs.received, word);
}

TEST(RsCapacity, WithinCapacityIsCorrected) {
    constexpr uint32_t kSeed = 1234;
    std::mt19937 rng(kSeed);
    for (const int t : {2, 8, 16, 32, 64, 127}) {
        RsState rs = stateFor(t);
        for (int trial = 0; trial < 60; ++trial) {
            SCOPED_TRACE("seed " + std::to_string(kSeed) + ", t " + std::to_string(t) + ", trial " +
                         std::to_string(trial));
            const Block word = encodeBlock(rs, randomData(rs.k(), rng));
            // Every other trial sits on the edge, 2e + f == 2t.
            const int errors = static_cast<int>(rng() % (t + 1));
            const int room = 2 * t - 2 * errors;
            const int erasures = trial % 2 == 0 ? room : static_cast<int>(rng() % (room + 1));
            expectCorrected(rs, damage(word, errors, erasures, rng), word);
        }
    }
}

TEST(RsCapacity, NamedCases) {
    SCOPED_TRACE("seed 99");
    std::mt19937 rng(99);
    {
        SCOPED_TRACE("t = 16, 16 errors");
        RsState rs = stateFor(16);
        const Block word = encodeBlock(rs, randomData(rs.k(), rng));
        const Damage d = damage(word, 16, 0, rng);
        rs.received = d.block;
        RSDECODE(rs, {});
        EXPECT_EQ(rs.count, 16);
        EXPECT_TRUE(rs.received == word) << differences(rs.received, word);
    }
    RsState rs = stateFor(8);
    const Block word = encodeBlock(rs, randomData(rs.k(), rng));
    {
        SCOPED_TRACE("t = 8, 16 erasures");
        expectCorrected(rs, damage(word, 0, 16, rng), word);
    }
    {
        SCOPED_TRACE("t = 8, 1 error and 14 erasures");
        expectCorrected(rs, damage(word, 1, 14, rng), word);
    }
}

TEST(RsCapacity, CleanBlockStaysAndCountsZero) {
    SCOPED_TRACE("seed 5");
    std::mt19937 rng(5);
    for (const int t : {1, 16, 127}) {
        RsState rs = stateFor(t);
        const Block word = encodeBlock(rs, randomData(rs.k(), rng));
        rs.received = word;
        RSDECODE(rs, {});
        EXPECT_EQ(rs.count, 0) << "t = " << t;
        EXPECT_EQ(rs.received, word) << "t = " << t;
        // Erasures whose symbols all arrived right leave the syndromes 0: nothing to correct.
        rs.received = word;
        const std::vector<int32_t> erasures = {0, 3, 254};
        if (2 * t >= 3) {
            RSDECODE(rs, erasures);
            EXPECT_EQ(rs.count, 0) << "t = " << t;
            EXPECT_EQ(rs.received, word) << "t = " << t;
        }
    }
}

TEST(RsCapacity, EveryTCorrectsTErrorsOr2tErasures) {
    std::mt19937 rng(77);
    for (int t = 1; t <= kRsMaxT; ++t) {
        SCOPED_TRACE("seed 77, t " + std::to_string(t));
        RsState rs = stateFor(t);
        const Block word = encodeBlock(rs, randomData(rs.k(), rng));
        expectCorrected(rs, damage(word, t, 0, rng), word);
        expectCorrected(rs, damage(word, 0, 2 * t, rng), word);
    }
}

// Past the edge the decoder may land on another code word (a miscorrection, as any decoder
// following the same steps does) or give up; it must never hand back a block that is no code
// word, and giving up leaves the block exactly as it came.
void expectFailedOrCodeWord(RsState& rs, const Damage& d, int* failed, int* miscorrected) {
    rs.received = d.block;
    RSDECODE(rs, d.erasures);
    if (rs.count == kRsFailed) {
        ++*failed;
        EXPECT_TRUE(rs.received == d.block) << differences(rs.received, d.block);
    } else {
        ++*miscorrected;
        EXPECT_GE(rs.count, 1);
        EXPECT_LE(rs.count, 2 * rs.t);
        EXPECT_TRUE(isCodeWord(rs, rs.received)) << differences(rs.received, d.block);
    }
}

TEST(RsCapacity, PastCapacityFailsUntouchedOrGivesACodeWord) {
    constexpr uint32_t kSeed = 4321;
    std::mt19937 rng(kSeed);
    int failed = 0;
    int miscorrected = 0;
    {
        RsState rs = stateFor(16);
        for (int trial = 0; trial < 40; ++trial) {
            SCOPED_TRACE("seed " + std::to_string(kSeed) + ", t 16, 17 errors, trial " +
                         std::to_string(trial));
            const Block word = encodeBlock(rs, randomData(rs.k(), rng));
            expectFailedOrCodeWord(rs, damage(word, 17, 0, rng), &failed, &miscorrected);
        }
    }
    EXPECT_GT(failed, 0);
    // Small t miscorrects often; both outcomes must show up and both be clean.
    failed = 0;
    miscorrected = 0;
    for (const int t : {1, 2, 3}) {
        RsState rs = stateFor(t);
        for (int trial = 0; trial < 300; ++trial) {
            SCOPED_TRACE("seed " + std::to_string(kSeed) + ", t " + std::to_string(t) + ", trial " +
                         std::to_string(trial));
            const Block word = encodeBlock(rs, randomData(rs.k(), rng));
            const int erasures = static_cast<int>(rng() % (2 * t + 1));
            const int errors = (2 * t - erasures) / 2 + 1 + static_cast<int>(rng() % 3);
            expectFailedOrCodeWord(rs, damage(word, errors, erasures, rng), &failed, &miscorrected);
        }
    }
    EXPECT_GT(failed, 0);
    EXPECT_GT(miscorrected, 0);
}

// Berlekamp-Massey, Chien and Forney as plainly stated "correct" these blocks into blocks that
// are no code words: t = 1 ends with the locator 1 and no roots (count 0, block unchanged),
// t = 2 with one root whose value leaves three syndromes non-zero. Both are failures.
TEST(RsCapacity, NonCodeWordIsNeverReportedCorrected) {
    {
        RsState rs = stateFor(1);
        Block block{};
        block[0] = 4;  // S1 = 4 + alpha = 6, S2 = 4 + alpha^2 = 0
        block[1] = 1;
        rs.received = block;
        RSDECODE(rs, {});
        EXPECT_EQ(rs.count, kRsFailed);
        EXPECT_EQ(rs.received, block);
    }
    {
        RsState rs = stateFor(2);
        Block block{};
        block[1] = 141;
        block[2] = 139;
        block[3] = 1;
        rs.received = block;
        RSDECODE(rs, {});
        EXPECT_EQ(rs.count, kRsFailed);
        EXPECT_EQ(rs.received, block);
    }
}

// --- Hostile input: bounds, duplicates, partial writes on failure. ---

class RsHostile : public ::testing::Test {
protected:
    void SetUp() override {
        std::mt19937 rng(31);  // fixed: every hostile case starts from the same two blocks
        rs_ = stateFor(16);
        word_ = encodeBlock(rs_, randomData(rs_.k(), rng));
        damaged_ = damage(word_, 2, 3, rng).block;  // correctable with a proper list
    }

    void expectRejected(const std::vector<int32_t>& erasures) {
        SCOPED_TRACE("erasures [" + listed(erasures) + "]");
        for (const Block* block : {&damaged_, &word_}) {
            rs_.received = *block;
            RSDECODE(rs_, erasures);
            EXPECT_EQ(rs_.count, kRsFailed);
            EXPECT_TRUE(rs_.received == *block) << differences(rs_.received, *block);
        }
    }

    RsState rs_;
    Block word_{};
    Block damaged_{};
};

TEST_F(RsHostile, OutOfRangePositions) {
    expectRejected({255});
    expectRejected({-1});
    expectRejected({3, 7, 256});
    expectRejected({INT32_MIN});
    expectRejected({10, INT32_MAX});
}

TEST_F(RsHostile, RepeatedPositions) {
    expectRejected({5, 5});
    expectRejected({0, 7, 0});
    expectRejected({254, 1, 2, 3, 254});
}

TEST_F(RsHostile, TooManyErasures) {
    std::vector<int32_t> erasures(33);
    std::iota(erasures.begin(), erasures.end(), 0);
    expectRejected(erasures);
    erasures.pop_back();  // 2t distinct positions are fine
    rs_.received = word_;
    rs_.received[4] ^= 0x5A;
    RSDECODE(rs_, erasures);
    EXPECT_EQ(rs_.count, 32);
    EXPECT_EQ(rs_.received, word_);
}

TEST_F(RsHostile, AllPositionsErasedAtLargestT) {
    RsState rs = stateFor(kRsMaxT);
    std::vector<int32_t> erasures(kRsN);
    std::iota(erasures.begin(), erasures.end(), 0);
    rs.received.fill(0x33);
    const Block before = rs.received;
    RSDECODE(rs, erasures);
    EXPECT_EQ(rs.count, kRsFailed);
    EXPECT_EQ(rs.received, before);
}

TEST_F(RsHostile, SymbolsThatAreNotBytes) {
    for (const int32_t bad : {256, -1, INT32_MIN, 0x1FF}) {
        Block block = damaged_;
        block[200] = bad;
        rs_.received = block;
        RSDECODE(rs_, {});
        EXPECT_EQ(rs_.count, kRsFailed) << bad;
        EXPECT_EQ(rs_.received, block) << bad;
    }
}

TEST_F(RsHostile, TOutsideItsRange) {
    for (const int t : {0, -3, kRsMaxT + 1, 1000}) {
        SCOPED_TRACE("t = " + std::to_string(t));
        RsState rs = rs_;
        rs.t = t;
        const RsState before = rs;
        RSGENPOLY(rs);
        EXPECT_EQ(rs.gen, before.gen);
        RSENCODE(rs);
        EXPECT_EQ(rs.parity, before.parity);
        rs.received = damaged_;
        RSDECODE(rs, {});
        EXPECT_EQ(rs.count, kRsFailed);
        EXPECT_EQ(rs.received, damaged_);
    }
}

// --- Shortened code words: the frame format's rows, 0xFF fill at the top positions. ---

TEST(RsShortened, FrameLanesAreCorrected) {
    constexpr uint32_t kSeed = 2024;
    std::mt19937 rng(kSeed);
    struct Shape {
        int t;
        int rowBytes;
    };
    for (const Shape shape : {Shape{16, 52}, Shape{16, 100}, Shape{2, 30}, Shape{40, 120}}) {
        RsState rs = stateFor(shape.t);
        const int fill = rs.k() - shape.rowBytes;
        const int lastSent = kRsN - 1 - fill;
        for (int lane = 0; lane < 40; ++lane) {
            SCOPED_TRACE("seed " + std::to_string(kSeed) + ", t " + std::to_string(shape.t) +
                         ", r " + std::to_string(shape.rowBytes) + ", lane " +
                         std::to_string(lane));
            std::vector<int32_t> data = randomData(shape.rowBytes, rng);
            data.resize(rs.k(), 0xFF);
            const Block word = encodeBlock(rs, data);
            // Lost packets erase positions 1..n'-1; position 0 holds a header byte instead of
            // the first parity byte, so it is an error the decoder has to find.
            const int erasures = 2 * shape.t - 2;
            Damage d = damage(word, 0, erasures, rng, 1, lastSent);
            d.block[0] = static_cast<int32_t>(rng() & 0xFF);
            if (d.block[0] != word[0]) {
                d.errors.push_back(0);
            }
            expectCorrected(rs, d, word);
            for (int q = lastSent + 1; q < kRsN; ++q) {
                ASSERT_EQ(rs.received[q], 0xFF) << "fill position " << q;
            }
        }
    }
}

// One state decodes a frame's codewords one after another, mostly with the same erasure list;
// what it keeps of the last list must never stand in for a different one, with or without errors
// beside the erasures.
TEST(RsShortened, OneStateDecodesBlockAfterBlockWithRepeatedAndChangedLists) {
    constexpr uint32_t kSeed = 91;
    std::mt19937 rng(kSeed);
    RsState rs = stateFor(8);
    const std::vector<int32_t> lists[] = {
        {3, 9, 27, 81}, {3, 9, 27, 81},
        {9, 3, 27, 81}, {3, 9, 27, 82},
        {3, 9, 27},     {},
        {3, 9, 27, 81}, {0, 254, 100, 7, 8, 9, 10, 11, 12, 13},
    };
    for (int round = 0; round < 3; ++round) {
        for (const std::vector<int32_t>& erasures : lists) {
            SCOPED_TRACE("seed " + std::to_string(kSeed) + ", round " + std::to_string(round) +
                         ", erasures [" + listed(erasures) + "]");
            const Block word = encodeBlock(rs, randomData(rs.k(), rng));
            Damage d{word, erasures, {}};
            for (const int32_t q : erasures) d.block[q] ^= static_cast<int32_t>(1 + rng() % 255);
            // Room for errors beside the erasures: 2 errors + erasures <= 2t = 16.
            const int errors = (16 - static_cast<int>(erasures.size())) / 2;
            for (int e = 0, q = 40; e < errors; ++e, q += 19) {  // clear of every list
                d.block[q] ^= 0x42;
                d.errors.push_back(q);
            }
            expectCorrected(rs, d, word);
            // Erasures alone, the case of lost packets, where the per-list work is reused.
            Damage lost{word, erasures, {}};
            for (const int32_t q : erasures) lost.block[q] = static_cast<int32_t>(rng() & 0xFF);
            expectCorrected(rs, lost, word);
            expectCorrected(rs, lost, word);
        }
    }
}

// The decoder takes a run of one byte at the top of a block in a single step; the run's edges
// are where that could slip: no run, a run of one, a run over all the data or the whole block,
// and damage right at the run's lower end or inside it (which shortens the run it sees).
TEST(RsShortened, RunsOfOneByteAtTheTopOfEveryLength) {
    constexpr uint32_t kSeed = 77;
    std::mt19937 rng(kSeed);
    for (const int t : {1, 4, 16, 60}) {
        RsState rs = stateFor(t);
        const int k = rs.k();
        for (const int run : {0, 1, 2, k / 2, k - 1, k}) {
            for (const int32_t value : {0x00, 0xFF, 0x5A}) {
                SCOPED_TRACE("seed " + std::to_string(kSeed) + ", t " + std::to_string(t) +
                             ", run " + std::to_string(run) + ", value " + std::to_string(value));
                std::vector<int32_t> data = randomData(k - run, rng);
                data.resize(k, value);
                const Block word = encodeBlock(rs, data);
                const int firstFill = kRsN - run;
                // Errors and erasures anywhere, or crowded at the run's lower end.
                Damage d = damage(word, t / 2, t, rng);
                expectCorrected(rs, d, word);
                if (run > 0 && t >= 2) {
                    Damage edge{word, {}, {}};
                    edge.block[firstFill] ^= 0x81;  // the run now starts one position higher
                    edge.errors.push_back(firstFill);
                    if (firstFill > 0) {
                        edge.erasures.push_back(firstFill - 1);
                        edge.block[firstFill - 1] ^= 0x3C;
                    }
                    expectCorrected(rs, edge, word);
                }
            }
        }
    }
    // A block of one repeated byte is a code word: every power sum over the 255 positions is 0.
    for (const int32_t value : {0x00, 0x01, 0xFF}) {
        RsState rs = stateFor(8);
        rs.received.fill(value);
        RSDECODE(rs, {});
        EXPECT_EQ(rs.count, 0) << value;
    }
}

}  // namespace
}  // namespace codec
