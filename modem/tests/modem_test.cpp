#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string_view>
#include <tuple>

#include "modem/demodulator.h"
#include "modem/hf_channel.h"
#include "modem/modulator.h"
#include "modem/tests/modem_signals.h"

namespace modem {
namespace {

using test::randomUnits;
using test::through;
using test::transmission;

DemodOutput demodulate(std::span<const float> audio, size_t chunk = 0) {
    Demodulator demodulator;
    DemodOutput out;
    if (chunk == 0) chunk = audio.size();
    for (size_t at = 0; at < audio.size(); at += chunk) {
        demodulator.process(audio.subspan(at, std::min(chunk, audio.size() - at)), out);
    }
    return out;
}

TEST(ModemRoundTrip, CleanFramesOfBothModesComeBackBitForBit) {
    for (Mode mode : {Mode::Normal, Mode::Robust}) {
        SCOPED_TRACE(modeName(mode));
        const std::vector<Unit> units = randomUnits(17, 1);  // a full frame and one of 5
        const std::vector<float> audio = transmission(units, mode);
        const DemodOutput out = demodulate(audio);
        EXPECT_EQ(out.units, units);
        ASSERT_EQ(out.frames.size(), 2u);
        EXPECT_EQ(out.frames[0].units, 12);
        EXPECT_EQ(out.frames[1].units, 5);
        EXPECT_EQ(out.frames[0].mode, mode);
        EXPECT_EQ(out.frames[0].startSample, 1234);
        EXPECT_EQ(out.frames[1].startSample, out.frames[0].endSample);
        EXPECT_GT(out.frames[0].snrDb, 30.0);
        EXPECT_NEAR(out.frames[0].offsetHz, 0.0, 0.2);
    }
}

TEST(ModemRoundTrip, EveryChunkingGivesTheSameUnitsAndFrames) {
    const std::vector<Unit> units = randomUnits(14, 2);
    HfChannelConfig channel;
    channel.noise = true;
    channel.snrDb = 15;
    channel.offsetHz = 21.5;
    channel.seed = 2;
    const std::vector<float> audio = through(channel, transmission(units, Mode::Normal));
    const DemodOutput whole = demodulate(audio);
    EXPECT_EQ(whole.units, units);
    for (size_t chunk : {1u, 7u, 160u, 4097u}) {
        SCOPED_TRACE("chunks of " + std::to_string(chunk));
        const DemodOutput cut = demodulate(audio, chunk);
        EXPECT_EQ(cut.units, whole.units);
        ASSERT_EQ(cut.frames.size(), whole.frames.size());
        for (size_t f = 0; f < cut.frames.size(); ++f) {
            EXPECT_EQ(cut.frames[f].startSample, whole.frames[f].startSample);
            EXPECT_EQ(cut.frames[f].snrDb, whole.frames[f].snrDb);
        }
    }
}

TEST(ModemRoundTrip, MistuningAndClockErrorAreMeasured) {
    const std::vector<Unit> units = randomUnits(12, 3);
    for (double offset : {-50.0, 13.0, 50.0}) {
        for (double ppm : {-200.0, 200.0}) {
            SCOPED_TRACE(testing::Message() << offset << " Hz, " << ppm << " ppm");
            HfChannelConfig channel;
            channel.noise = true;
            channel.snrDb = 20;
            channel.offsetHz = offset;
            channel.clockPpm = ppm;
            channel.seed = 3;
            const DemodOutput out = demodulate(through(channel, transmission(units, Mode::Normal)));
            EXPECT_EQ(out.units, units);
            ASSERT_EQ(out.frames.size(), 1u);
            EXPECT_NEAR(out.frames[0].offsetHz, offset, 1.0);
            EXPECT_NEAR(out.frames[0].clockPpm, ppm, 60.0);
        }
    }
}

TEST(ModemRoundTrip, AModeChosenPassesTheOtherModesFramesOver) {
    const std::vector<Unit> robust = randomUnits(3, 7);
    const std::vector<Unit> normal = randomUnits(4, 8);
    std::vector<float> audio = transmission(robust, Mode::Robust, 500, 0);
    const std::vector<float> more = transmission(normal, Mode::Normal, 0, 3000);
    audio.insert(audio.end(), more.begin(), more.end());
    for (const size_t chunk : {size_t{0}, size_t{333}}) {
        SCOPED_TRACE("chunks of " + std::to_string(chunk));
        Demodulator only(Mode::Normal);
        DemodOutput out;
        const size_t step = chunk == 0 ? audio.size() : chunk;
        for (size_t at = 0; at < audio.size(); at += step) {
            only.process(std::span(audio).subspan(at, std::min(step, audio.size() - at)), out);
        }
        EXPECT_EQ(out.units, normal);
        ASSERT_EQ(out.frames.size(), 1u);
        EXPECT_EQ(out.frames[0].mode, Mode::Normal);
    }
    EXPECT_EQ(demodulate(audio).units.size(), 7u);  // with no mode chosen, both
}

// A fade can wipe out a frame's sync burst, and its header with it, while the rest of the
// frame comes through: in a stream of frames the next one is read where the last one ended.
TEST(ModemRoundTrip, AFrameWhoseStartIsLostIsReadWhereTheLastEnded) {
    const std::vector<Unit> units = randomUnits(36, 9);
    const int leading = 1000;
    const int frame = frameLayout(Mode::Normal, 12).samples();
    for (const int wiped : {kSyncSymbols * kSymbolSamples, 4 * kSymbolSamples}) {
        SCOPED_TRACE(testing::Message() << "first " << wiped << " samples of frame 2 wiped");
        std::vector<float> audio = transmission(units, Mode::Normal, leading, 4000);
        std::fill_n(audio.begin() + leading + frame, wiped, 0.0f);
        const DemodOutput out = demodulate(audio);
        EXPECT_EQ(out.units, units);
        ASSERT_EQ(out.frames.size(), 3u);  // and none made up after the last
        EXPECT_EQ(out.frames[1].startSample - out.frames[0].startSample, frame);
    }
}

// At 3.5 dB the pilot rows alone measure the channel too roughly for 4 frames in 10; measured
// again with the decoder's beliefs about the data, nearly every frame decodes.
TEST(ModemRoundTrip, FramesThePilotsAloneLoseDecodeWhenMeasuredAgainWithTheirData) {
    const std::vector<Unit> units = randomUnits(12 * 20, 10);
    HfChannelConfig channel;
    channel.noise = true;
    channel.snrDb = 3.5;
    channel.seed = 10;
    const DemodOutput out = demodulate(through(channel, transmission(units, Mode::Normal)));
    EXPECT_GE(out.units.size(), units.size() * 9 / 10) << "seed 10";
    for (const Unit& u : out.units) {
        EXPECT_NE(std::find(units.begin(), units.end(), u), units.end()) << "a wrong unit";
    }
}

// The SNR each frame reports, measured from its decoded data: on a steady channel within a
// fraction of a dB of the channel's, on fading within the spread of the fades themselves.
TEST(ModemRoundTrip, DecodedFramesReportTheSnr) {
    const std::vector<Unit> units = randomUnits(12 * 8, 11);
    for (const auto& [profile, snrDb, tolerance] :
         {std::tuple{"awgn", 10.0, 0.7}, std::tuple{"poor", 16.0, 2.0}}) {
        SCOPED_TRACE(profile);
        HfChannelConfig channel;
        channel.noise = true;
        channel.snrDb = snrDb;
        channel.seed = 11;
        if (std::string_view(profile) != "awgn") {
            channel.fading = true;
            channel.watterson = *wattersonProfile(profile);
        }
        const DemodOutput out = demodulate(through(channel, transmission(units, Mode::Normal)));
        double sum = 0;
        int decoded = 0;
        for (const FrameStats& f : out.frames) {
            if (!f.decoded) continue;
            sum += f.snrDb;
            ++decoded;
        }
        ASSERT_GE(decoded, 6);
        EXPECT_NEAR(sum / decoded, snrDb, tolerance) << "seed 11";
    }
}

TEST(ModemHostileAudio, NoiseSilenceAndToneGiveNothing) {
    const std::vector<float> silence(40000, 0.0f);
    EXPECT_TRUE(demodulate(silence).units.empty());
    EXPECT_TRUE(demodulate(silence).frames.empty());
    std::mt19937 rng(4);
    std::normal_distribution<float> gauss(0.0f, 0.3f);
    std::vector<float> noise(80000);
    for (float& x : noise) x = gauss(rng);
    EXPECT_TRUE(demodulate(noise).frames.empty()) << "seed 4";
    std::vector<float> tone(40000);
    for (size_t n = 0; n < tone.size(); ++n) tone[n] = 0.9f * std::sin(0.3f * float(n));
    EXPECT_TRUE(demodulate(tone).frames.empty());
    std::vector<float> clipped(40000);
    for (size_t n = 0; n < clipped.size(); ++n) clipped[n] = n % 100 < 50 ? 1.0f : -1.0f;
    EXPECT_TRUE(demodulate(clipped).frames.empty());
}

TEST(ModemMemory, LongListeningKeepsABoundedBuffer) {
    Demodulator demodulator;
    DemodOutput out;
    std::mt19937 rng(6);
    std::normal_distribution<float> gauss(0.0f, 0.1f);
    std::vector<float> chunk(8000);
    size_t most = 0;
    for (int second = 0; second < 120; ++second) {
        for (float& x : chunk) x = gauss(rng);
        demodulator.process(chunk, out);
        most = std::max(most, demodulator.samplesHeld());
    }
    EXPECT_LT(most, 40000u);
}

}  // namespace
}  // namespace modem
