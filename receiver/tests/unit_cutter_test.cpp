#include "receiver/unit_cutter.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    EXPECT_EQ(cutter.bytesDroppedAtPause(), 0u);
    EXPECT_EQ(cutter.reset(), 0u);
}

// ---- a pause in the middle of a unit: the next read starts a unit ----

// Every byte fed is in a unit, pending, or dropped, once.
void expectEveryByteAccountedFor(const UnitCutter& cutter) {
    EXPECT_EQ(cutter.bytesFed(),
              cutter.unitsCut() * kUnitBytes + cutter.pendingBytes() + cutter.bytesDropped());
}

TEST(UnitCutterRealignment, OddWriteThenAPauseThenWholeUnits) {
    // A demodulator writes one unit with a stray byte after it (42), or one cut short (40).
    const std::vector<Unit> units = seededUnits(41, 6);
    for (const size_t odd : {42u, 40u}) {
        SCOPED_TRACE(testing::Message() << "odd write of " << odd << " bytes");
        std::vector<uint8_t> write(units[0].begin(), units[0].end());
        write.resize(odd, 0xA5);
        UnitCutter cutter;
        EXPECT_EQ(cutter.feed(write).size(), odd / kUnitBytes);
        EXPECT_EQ(cutter.realign(), odd % kUnitBytes);
        std::vector<Unit> out;
        for (size_t i = 1; i < units.size(); ++i) {
            const std::vector<Unit> got = cutter.feed(units[i]);
            out.insert(out.end(), got.begin(), got.end());
        }
        expectSameUnits(out, std::vector<Unit>(units.begin() + 1, units.end()));
        EXPECT_EQ(cutter.realignments(), 1u);
        EXPECT_EQ(cutter.bytesDroppedAtPause(), odd % kUnitBytes);
        expectEveryByteAccountedFor(cutter);
    }
}

TEST(UnitCutterRealignment, GarbageOfEveryLengthThenAPause) {
    const std::vector<Unit> before = seededUnits(42, 3);
    const std::vector<Unit> after = seededUnits(43, 3);
    for (size_t length = 1; length <= 2 * kUnitBytes; ++length) {
        SCOPED_TRACE(testing::Message() << length << " bytes of garbage");
        const std::vector<uint8_t> garbage = encoder::testing_support::seededBytes(length, length);
        UnitCutter cutter;
        std::vector<Unit> out = cutter.feed(concat(before));
        const std::vector<Unit> garbageUnits = cutter.feed(garbage);
        EXPECT_EQ(garbageUnits.size(), length / kUnitBytes);  // passed on; the receiver judges
        out.insert(out.end(), garbageUnits.begin(), garbageUnits.end());
        EXPECT_EQ(cutter.realign(), length % kUnitBytes);
        const std::vector<Unit> got = cutter.feed(concat(after));
        out.insert(out.end(), got.begin(), got.end());
        std::vector<Unit> want = before;
        want.insert(want.end(), garbageUnits.begin(), garbageUnits.end());
        want.insert(want.end(), after.begin(), after.end());
        expectSameUnits(out, want);
        EXPECT_EQ(cutter.realignments(), length % kUnitBytes == 0 ? 0u : 1u);
        expectEveryByteAccountedFor(cutter);
    }
}

// Without a pause the count rules: garbage that is not whole units shifts every unit after it
// until the stream next pauses. The receiver's checks reject the shifted units; what this
// guards is that the next pause ends it.
TEST(UnitCutterRealignment, GarbageOfEveryLengthWithoutAPauseShiftsUntilTheNextPause) {
    const std::vector<Unit> before = seededUnits(44, 2);
    const std::vector<Unit> during = seededUnits(45, 4);
    const std::vector<Unit> after = seededUnits(46, 3);
    for (size_t length = 1; length <= 2 * kUnitBytes; ++length) {
        SCOPED_TRACE(testing::Message() << length << " bytes of garbage");
        const std::vector<uint8_t> garbage = encoder::testing_support::seededBytes(length, length);
        UnitCutter cutter;
        expectSameUnits(cutter.feed(concat(before)), before);
        EXPECT_EQ(cutter.feed(garbage).size(), length / kUnitBytes);
        std::vector<Unit> shifted;
        for (const Unit& u : during) {
            const std::vector<Unit> got = cutter.feed(u);
            shifted.insert(shifted.end(), got.begin(), got.end());
        }
        if (length % kUnitBytes == 0) {
            expectSameUnits(shifted, during);  // whole units of garbage shift nothing
        } else {
            for (const Unit& u : shifted) {
                EXPECT_EQ(std::count(during.begin(), during.end(), u), 0)
                    << "a unit arrived whole though the stream is shifted";
            }
        }
        EXPECT_EQ(cutter.realign(), length % kUnitBytes);
        expectSameUnits(cutter.feed(concat(after)), after);
        expectEveryByteAccountedFor(cutter);
    }
}

TEST(UnitCutterRealignment, PauseWithNothingPendingChangesNothing) {
    const std::vector<Unit> units = seededUnits(47, 2);
    UnitCutter cutter;
    EXPECT_EQ(cutter.realign(), 0u);
    EXPECT_EQ(cutter.feed(units[0]).size(), 1u);
    EXPECT_EQ(cutter.realign(), 0u);
    EXPECT_EQ(cutter.realignments(), 0u);
    EXPECT_EQ(cutter.bytesDropped(), 0u);
    expectSameUnits(cutter.feed(units[1]), {units[1]});
}

TEST(UnitCutterRealignment, DropsAreCountedByReason) {
    const Unit u = seededUnits(48, 1)[0];
    UnitCutter cutter;
    EXPECT_TRUE(cutter.feed(std::span(u).first(10)).empty());
    EXPECT_EQ(cutter.realign(), 10u);
    EXPECT_TRUE(cutter.feed(std::span(u).first(25)).empty());
    EXPECT_EQ(cutter.reset(), 25u);
    EXPECT_TRUE(cutter.feed(std::span(u).first(3)).empty());
    EXPECT_EQ(cutter.realign(), 3u);
    EXPECT_EQ(cutter.bytesDroppedAtPause(), 13u);
    EXPECT_EQ(cutter.bytesDropped(), 38u);
    EXPECT_EQ(cutter.realignments(), 2u);
    EXPECT_EQ(cutter.bytesFed(), 38u);
    expectEveryByteAccountedFor(cutter);
}

}  // namespace
}  // namespace receiver
