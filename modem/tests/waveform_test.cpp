#include "modem/waveform.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

namespace modem {
namespace {

TEST(ModemLayout, NormalFramesCarryTheAirRateWithRoomToSpare) {
    // 12 units: the waveform's rate goal, 260 bytes of units a second, with every symbol
    // counted (sync, pilots, header).
    const FrameLayout full = frameLayout(Mode::Normal, 12);
    EXPECT_EQ(full.infoBits, 12 * 344);
    EXPECT_EQ(full.codeBits % (2 * kCarriers), 0);
    EXPECT_GE(full.codeBits * 3, full.infoBits * 4);  // rate at most 3/4
    EXPECT_GE(unitBytesPerSecond(full), 260.0);
    EXPECT_LE(full.seconds(), 2.0);
    const FrameLayout robust = frameLayout(Mode::Robust, 12);
    EXPECT_GE(robust.codeBits, 2 * robust.infoBits);
    EXPECT_GE(unitBytesPerSecond(robust), 110.0);

    for (Mode mode : {Mode::Normal, Mode::Robust}) {
        const int between = modeParams(mode).slotsBetweenPilots;
        for (int units = 1; units <= kMaxUnitsPerFrame; ++units) {
            SCOPED_TRACE(std::string(modeName(mode)) + " " + std::to_string(units));
            const FrameLayout l = frameLayout(mode, units);
            ASSERT_GE(l.symbols.size(), 5u);
            EXPECT_EQ(l.symbols[0], SymbolKind::Sync);
            EXPECT_EQ(l.symbols[1], SymbolKind::Sync);
            EXPECT_EQ(l.symbols[2], SymbolKind::Pilot);
            EXPECT_EQ(l.symbols[3], SymbolKind::Header);
            EXPECT_EQ(l.symbols.back(), SymbolKind::Pilot);
            int data = 0, run = 0;
            for (size_t s = 3; s < l.symbols.size(); ++s) {
                if (l.symbols[s] == SymbolKind::Pilot) {
                    EXPECT_GE(run, 1) << "two pilot rows in a row at " << s;
                    run = 0;
                } else {
                    data += l.symbols[s] == SymbolKind::Data;
                    EXPECT_LE(++run, between) << "no pilot row for too long at " << s;
                }
            }
            EXPECT_EQ(data, l.dataSymbols);
            EXPECT_EQ(l.codeBits, data * 2 * kCarriers);
            // A shorter frame is shorter on the air, never padded to the full length.
            if (units > 1) {
                EXPECT_LE(frameLayout(mode, units - 1).samples(), l.samples());
            }
        }
    }
}

TEST(ModemLayout, KnownValuesAreBpskAndTheSyncUsesOnlyEvenBins) {
    float pilotPower = 0, syncPower = 0;
    for (int k = 0; k < kCarriers; ++k) {
        EXPECT_EQ(std::abs(pilotValues()[k]), 1.0f);
        pilotPower += pilotValues()[k] * pilotValues()[k];
        syncPower += syncValues()[k] * syncValues()[k];
        if ((kFirstBin + k) % 2 != 0) {
            EXPECT_EQ(syncValues()[k], 0.0f) << k;
        }
    }
    EXPECT_NEAR(syncPower, pilotPower, 1e-3);
    std::set<int> carriers(headerCarriers().begin(), headerCarriers().end());
    EXPECT_EQ(carriers.size(), static_cast<size_t>(kHeaderCodeBits));
    EXPECT_LT(*carriers.rbegin(), kCarriers);
}

TEST(ModemHeader, EveryHeaderRoundTripsAndWordsLieFarApart) {
    std::vector<std::array<int8_t, kHeaderCodeBits>> words;
    for (Mode mode : {Mode::Normal, Mode::Robust}) {
        for (int units = 1; units <= kMaxUnitsPerFrame; ++units) {
            const auto code = encodeHeader({mode, units});
            words.push_back(code);
            std::array<float, kHeaderCodeBits> soft{};
            for (int i = 0; i < kHeaderCodeBits; ++i) soft[i] = 0.7f * code[i];
            const HeaderDecode d = decodeHeader(soft);
            ASSERT_TRUE(d.fields);
            EXPECT_EQ(d.fields->mode, mode);
            EXPECT_EQ(d.fields->units, units);
            EXPECT_GT(d.confidence, 0.9f);
        }
    }
    for (size_t a = 0; a < words.size(); ++a) {
        for (size_t b = a + 1; b < words.size(); ++b) {
            int distance = 0;
            for (int i = 0; i < kHeaderCodeBits; ++i) distance += words[a][i] != words[b][i];
            EXPECT_GE(distance, 16);
        }
    }
}

TEST(ModemHeader, SevenWrongBitsAreCorrectedAndNoiseIsRefused) {
    const auto code = encodeHeader({Mode::Robust, 7});
    std::array<float, kHeaderCodeBits> soft{};
    for (int i = 0; i < kHeaderCodeBits; ++i) soft[i] = code[i];
    for (int i : {0, 5, 9, 13, 20, 27, 31}) soft[i] = -soft[i];
    const HeaderDecode d = decodeHeader(soft);
    ASSERT_TRUE(d.fields);
    EXPECT_EQ(d.fields->units, 7);
    EXPECT_EQ(d.fields->mode, Mode::Robust);

    // Pure noise: mostly no valid header, or one with little margin. (The demodulator reads a
    // header only after the pilot row before it has matched, so this is its last guard.)
    std::mt19937 rng(5);
    std::normal_distribution<float> gauss;
    int confident = 0;
    for (int trial = 0; trial < 1000; ++trial) {
        for (float& s : soft) s = gauss(rng);
        const HeaderDecode n = decodeHeader(soft);
        confident += n.fields && n.confidence >= 0.3f;
    }
    EXPECT_LE(confident, 15) << "seed 5";
    EXPECT_FALSE(decodeHeader({}).fields);  // all zero: nothing
}

}  // namespace
}  // namespace modem
