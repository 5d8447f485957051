#include "receiver/unit_cutter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "encoder/tests/seeded_bytes.h"

namespace receiver {
namespace {

using encoder::kUnitBytes;
using encoder::Unit;

// count units of seeded bytes, each tagged with its index in byte 0 so that a repeated,
// dropped or reordered unit shows in the failure.
std::vector<Unit> seededUnits(uint64_t seed, size_t count) {
    const std::vector<uint8_t> bytes = encoder::testing_support::seededBytes(seed, count * 41);
    std::vector<Unit> units(count);
    for (size_t i = 0; i < count; ++i) {
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(i * kUnitBytes), kUnitBytes,
                    units[i].begin());
        units[i][0] = static_cast<uint8_t>(i + 1);
    }
    return units;
}

std::vector<uint8_t> concat(const std::vector<Unit>& units) {
    std::vector<uint8_t> bytes;
    for (const Unit& u : units) bytes.insert(bytes.end(), u.begin(), u.end());
    return bytes;
}

// Feeds the stream cut at the given offsets and collects what comes out.
std::vector<Unit> cutAt(const std::vector<uint8_t>& stream, const std::vector<size_t>& cuts) {
    UnitCutter cutter;
    std::vector<Unit> out;
    size_t from = 0;
    auto take = [&](size_t to) {
        const std::vector<Unit> got = cutter.feed(std::span(stream).subspan(from, to - from));
        out.insert(out.end(), got.begin(), got.end());
        from = to;
    };
    for (const size_t cut : cuts) take(cut);
    take(stream.size());
    EXPECT_EQ(cutter.pendingBytes(), 0u);
    return out;
}

void expectSameUnits(const std::vector<Unit>& got, const std::vector<Unit>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i], want[i]) << "unit " << i << " (tag " << int{got[i][0]} << ")";
    }
}

// ---- reads that match the demodulator's writes ----

TEST(UnitCutterReassembly, WholeUnitsComeOutOnceEach) {
    const std::vector<Unit> units = seededUnits(11, 5);
    UnitCutter cutter;
    std::vector<Unit> out;
    for (const Unit& u : units) {
        const std::vector<Unit> got = cutter.feed(u);
        ASSERT_EQ(got.size(), 1u);
        out.push_back(got[0]);
    }
    expectSameUnits(out, units);
    EXPECT_EQ(cutter.unitsCut(), 5u);
}

TEST(UnitCutterReassembly, EmptyReadChangesNothing) {
    UnitCutter cutter;
    EXPECT_TRUE(cutter.feed({}).empty());
    const Unit u = seededUnits(3, 1)[0];
    EXPECT_TRUE(cutter.feed(std::span(u).first(7)).empty());
    EXPECT_TRUE(cutter.feed({}).empty());
    EXPECT_EQ(cutter.pendingBytes(), 7u);
    const std::vector<Unit> got = cutter.feed(std::span(u).subspan(7));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], u);
}

// ---- reads that split and merge units ----

TEST(UnitCutterReassembly, OneSplitAtEveryOffsetOfThreeUnits) {
    const std::vector<Unit> units = seededUnits(21, 3);
    const std::vector<uint8_t> stream = concat(units);
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        SCOPED_TRACE(testing::Message() << "cut at " << cut);
        expectSameUnits(cutAt(stream, {cut}), units);
    }
}

TEST(UnitCutterReassembly, TwoSplitsAtEveryPairOfOffsets) {
    const std::vector<Unit> units = seededUnits(22, 2);
    const std::vector<uint8_t> stream = concat(units);
    for (size_t a = 0; a <= stream.size(); ++a) {
        for (size_t b = a; b <= stream.size(); ++b) {
            SCOPED_TRACE(testing::Message() << "cuts at " << a << ", " << b);
            expectSameUnits(cutAt(stream, {a, b}), units);
        }
    }
}

TEST(UnitCutterReassembly, MergedByTwosAndThrees) {
    const std::vector<Unit> units = seededUnits(23, 12);
    const std::vector<uint8_t> stream = concat(units);
    for (const size_t group : {2u, 3u}) {
        SCOPED_TRACE(testing::Message() << "units per read " << group);
        UnitCutter cutter;
        std::vector<Unit> out;
        for (size_t from = 0; from < stream.size(); from += group * kUnitBytes) {
            const size_t len = std::min(group * kUnitBytes, stream.size() - from);
            const std::vector<Unit> got = cutter.feed(std::span(stream).subspan(from, len));
            EXPECT_EQ(got.size(), len / kUnitBytes);
            out.insert(out.end(), got.begin(), got.end());
        }
        expectSameUnits(out, units);
    }
}

TEST(UnitCutterReassembly, SeededRandomReadSizes) {
    for (const uint64_t seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        const std::vector<Unit> units = seededUnits(seed, 60);
        const std::vector<uint8_t> stream = concat(units);
        std::mt19937_64 random(seed);
        std::vector<size_t> cuts;
        for (size_t at = 0; at < stream.size();) {
            at = std::min(stream.size(), at + static_cast<size_t>(random() % 130));
            cuts.push_back(at);
        }
        expectSameUnits(cutAt(stream, cuts), units);
    }
}

// ---- the end of a connection ----

TEST(UnitCutterConnectionEnd, PartialUnitIsDroppedAndTheNextConnectionStartsAfresh) {
    const std::vector<Unit> units = seededUnits(31, 2);
    UnitCutter cutter;
    EXPECT_TRUE(cutter.feed(std::span(units[0]).first(30)).empty());
    EXPECT_EQ(cutter.reset(), 30u);
    EXPECT_EQ(cutter.pendingBytes(), 0u);
    // Had the 30 bytes stayed, this unit would come out shifted by 30 bytes.
    const std::vector<Unit> got = cutter.feed(units[1]);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], units[1]);
    EXPECT_EQ(cutter.bytesDropped(), 30u);
    EXPECT_EQ(cutter.reset(), 0u);
}

}  // namespace
}  // namespace receiver
