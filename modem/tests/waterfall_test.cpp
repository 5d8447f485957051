#include "modem/waterfall.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "modem/modulator.h"
#include "modem/tests/modem_signals.h"

namespace modem {
namespace {

std::vector<float> sine(double hz, double amplitude, size_t count) {
    std::vector<float> out(count);
    for (size_t i = 0; i < count; ++i) {
        out[i] = static_cast<float>(amplitude *
                                    std::sin(2 * std::numbers::pi * hz * double(i) / kSampleRate));
    }
    return out;
}

size_t peakBin(const WaterfallRow& row) {
    return static_cast<size_t>(std::max_element(row.db.begin(), row.db.end()) - row.db.begin());
}

// A tone lands in its bin at its level; rows come every 100 ms whatever the chunking.
TEST(Waterfall, ATonesBinAndLevelAndTheRowsPace) {
    const std::vector<float> tone = sine(1500, 0.5, 8000);
    Waterfall whole;
    std::vector<WaterfallRow> a;
    whole.process(tone, a);
    ASSERT_EQ(a.size(), 10u);
    EXPECT_EQ(a[3].firstSample, 2400);
    EXPECT_EQ(static_cast<int>(a[0].db.size()), Waterfall::bins());
    EXPECT_NEAR(Waterfall::bins() * Waterfall::binHz(), 3000, Waterfall::binHz());
    EXPECT_EQ(peakBin(a[5]), static_cast<size_t>(std::lround(Waterfall::binOf(1500))));
    EXPECT_NEAR(a[5].db[peakBin(a[5])], 20 * std::log10(0.5), 1.6);  // -6 dBFS, Hann scalloping
    EXPECT_LT(a[5].db[static_cast<size_t>(Waterfall::binOf(500))], -60.0f);

    Waterfall pieces;
    std::vector<WaterfallRow> b;
    for (size_t at = 0; at < tone.size(); at += 333) {
        pieces.process(std::span(tone).subspan(at, std::min<size_t>(333, tone.size() - at)), b);
    }
    ASSERT_EQ(b.size(), a.size());
    for (size_t r = 0; r < a.size(); ++r) EXPECT_EQ(a[r].db, b[r].db) << r;
}

// The modem's signal fills its passband, 375 to 2625 Hz, and little outside it.
TEST(Waterfall, TheModemsSignalFillsItsPassband) {
    std::vector<float> audio;
    Modulator modulator;
    modulator.modulate(test::randomUnits(12, 3), audio);
    Waterfall waterfall;
    std::vector<WaterfallRow> rows;
    waterfall.process(audio, rows);
    ASSERT_GE(rows.size(), 16u);
    // Mean power over the frame's rows, in and out of the band.
    const auto mean = [&](double fromHz, double toHz) {
        double sum = 0;
        int n = 0;
        for (size_t r = 2; r < 16; ++r) {
            for (int k = static_cast<int>(Waterfall::binOf(fromHz));
                 k <= static_cast<int>(Waterfall::binOf(toHz)); ++k) {
                sum += std::pow(10.0, rows[r].db[static_cast<size_t>(k)] / 10);
                ++n;
            }
        }
        return 10 * std::log10(sum / n);
    };
    const double band = mean(450, 2550);
    EXPECT_GT(band, mean(0, 250) + 12);
    EXPECT_GT(band, mean(2800, 3000) + 12);
    // The band's power is the signal's: kTxRms spread over its 37 carriers' bins, on a scale
    // where a sine's peak reads (+3 dB against its power), each Hann-windowed bin gathering
    // 1.5 bins' worth of a spread signal (+1.8 dB).
    const double expected = 20 * std::log10(kTxRms) -
                            10 * std::log10(kCarriers * kCarrierSpacingHz / Waterfall::binHz()) +
                            10 * std::log10(2.0) + 10 * std::log10(1.5);
    EXPECT_NEAR(band, expected, 1.0);
}

TEST(Waterfall, TheColourScaleRunsFromBlackToWhite) {
    EXPECT_EQ(waterfallColour(-200, -100, 0), 0x000000u);
    EXPECT_EQ(waterfallColour(0, -100, 0), 0xFFFFFFu);
    EXPECT_EQ(waterfallColour(-80, -100, 0), 0x0000A0u);  // the second stop: blue
    // The stops in between: cyan, yellow, red; halfway between two, the mean of the two.
    EXPECT_EQ(waterfallColour(-60, -100, 0), 0x00C8E6u);
    EXPECT_EQ(waterfallColour(-40, -100, 0), 0xF0E600u);
    EXPECT_EQ(waterfallColour(-20, -100, 0), 0xE61400u);
    EXPECT_EQ(waterfallColour(-90, -100, 0), 0x000050u);
}

}  // namespace
}  // namespace modem
