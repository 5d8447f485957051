// The demodulator as a receiving station sees it: how soon units come out, whether the first
// frame after a stretch of noise is caught at the worst mistuning and clock error, what a
// transmission cut short does, clipped and offset audio, and one short sweep point per channel
// with a generous bound, to catch a receiver that has broken.

#include "modem/demodulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <set>

#include "modem/hf_channel.h"
#include "modem/modulator.h"
#include "modem/tests/modem_signals.h"

namespace modem {
namespace {

using test::randomUnits;
using test::through;
using test::transmission;

HfChannelConfig noisy(double snrDb, uint32_t seed) {
    HfChannelConfig c;
    c.noise = true;
    c.snrDb = snrDb;
    c.seed = seed;
    return c;
}

// The whole recording in chunks of the given length, then flush().
DemodOutput demodulate(std::span<const float> audio, size_t chunk = 800) {
    Demodulator demodulator;
    DemodOutput out;
    for (size_t at = 0; at < audio.size(); at += chunk) {
        demodulator.process(audio.subspan(at, std::min(chunk, audio.size() - at)), out);
    }
    demodulator.flush(out);
    return out;
}

// Where input sample `sent` of the channel lies in its output (see HfChannel).
double startInOutput(const HfChannelConfig& config, int sent) {
    return (sent + HfChannel(config).delaySamples()) * (1 + config.clockPpm * 1e-6);
}

// Units of out that are not among sent.
size_t wrongUnits(const DemodOutput& out, std::span<const Unit> sent) {
    const std::set<Unit> known(sent.begin(), sent.end());
    size_t wrong = 0;
    for (const Unit& u : out.units) wrong += !known.contains(u);
    return wrong;
}

// A unit must come out no more than 50 ms of audio after its modem frame's last sample: the
// receiver's picture fills in as the transmission goes, and tonebox passes units on at once.
TEST(DemodulatorLatency, UnitsComeOutWithin50MsOfTheirFrameEnd) {
    constexpr int64_t kLimit = kSampleRate / 20;
    const std::vector<Unit> units = randomUnits(24, 11);  // two frames of 12
    for (Mode mode : {Mode::Normal, Mode::Robust}) {
        HfChannelConfig channel = noisy(15, 11);
        channel.offsetHz = 17;
        // Three starting points, so the frame ends fall at different places in a 10 ms chunk.
        for (int leading : {4321, 4361, 4400}) {
            const std::vector<float> audio =
                through(channel, transmission(units, mode, leading, kSampleRate));
            // 10 ms, as a sound card delivers them; one sample, the demodulator's own delay.
            for (size_t chunk : {size_t{kSampleRate / 100}, size_t{1}}) {
                if (chunk == 1 && leading != 4321) continue;
                Demodulator demodulator;
                DemodOutput out;
                std::vector<int64_t> seenAt;  // samples in when each frame came out
                for (size_t at = 0; at < audio.size(); at += chunk) {
                    const size_t before = out.frames.size();
                    demodulator.process(
                        std::span(audio).subspan(at, std::min(chunk, audio.size() - at)), out);
                    for (size_t f = before; f < out.frames.size(); ++f) {
                        seenAt.push_back(demodulator.samplesIn());
                    }
                }
                SCOPED_TRACE(testing::Message() << modeName(mode) << ", " << leading
                                                << " samples first, chunks of " << chunk);
                EXPECT_TRUE(out.units == units) << out.units.size() << " units of 24";
                ASSERT_EQ(out.frames.size(), 2u);
                int64_t worst = 0;
                for (size_t f = 0; f < out.frames.size(); ++f) {
                    const int64_t late = seenAt[f] - out.frames[f].endSample;
                    EXPECT_LE(late, kLimit) << "frame " << f;
                    EXPECT_GE(late, 0) << "frame " << f << " came out before its end";
                    worst = std::max(worst, late);
                }
                std::printf("%s, chunks of %zu: units out %.1f ms of audio after the frame\n",
                            modeName(mode), chunk, 1000.0 * double(worst) / kSampleRate);
            }
        }
    }
}

// FrameStats::endSample, which the latency is measured from, is where the frame really ends.
TEST(DemodulatorLatency, TheFrameEndIsWhereTheAudioEnds) {
    const std::vector<Unit> units = randomUnits(12, 12);
    const std::vector<float> audio = transmission(units, Mode::Normal, 1000, 2000);
    const DemodOutput out = demodulate(audio);
    ASSERT_EQ(out.frames.size(), 1u);
    EXPECT_EQ(out.frames[0].startSample, 1000);
    EXPECT_EQ(out.frames[0].endSample, int64_t(audio.size()) - 2000);
}

// The worst mistuning and clock error a station meets, at the SNR where the unit error rate is
// 1 %: the first frame after a stretch of noise of any length must come out whole; nothing may
// be lost to acquisition.
TEST(DemodulatorAcquisition, FirstFrameAfterNoiseAtWorstMistuningAndClockError) {
    const std::vector<Unit> units = randomUnits(24, 13);
    int cases = 0;
    for (double offset : {-50.0, 50.0}) {
        for (double ppm : {-200.0, 200.0}) {
            for (uint32_t seed : {1u, 2u, 3u}) {
                ++cases;
                // 0.5 to 3 s of noise before the transmission, different for each case.
                const int leading = kSampleRate / 2 + (cases * 5407) % (5 * kSampleRate / 2);
                SCOPED_TRACE(testing::Message() << offset << " Hz, " << ppm << " ppm, seed " << seed
                                                << ", " << leading << " samples first");
                HfChannelConfig channel = noisy(6, 100 + seed);
                channel.offsetHz = offset;
                channel.clockPpm = ppm;
                const std::vector<float> audio =
                    through(channel, transmission(units, Mode::Normal, leading, 4000));
                const DemodOutput out = demodulate(audio, 160);
                ASSERT_FALSE(out.frames.empty());
                EXPECT_NEAR(double(out.frames[0].startSample), startInOutput(channel, leading), 8.0)
                    << "the first frame found is not the first one sent";
                EXPECT_EQ(out.frames[0].unitsGood, 12);
                ASSERT_GE(out.units.size(), 12u);
                EXPECT_TRUE(std::equal(units.begin(), units.begin() + 12, out.units.begin()));
                EXPECT_EQ(wrongUnits(out, units), 0u);
            }
        }
    }
}

// The same on the fading channels at their 1 % points (moderate 14 dB, poor 15 dB). A frame may
// fall into a deep fade whoever receives it, so one case in eight may lose its first frame.
TEST(DemodulatorAcquisition, FirstFrameOnFadingChannelsAtWorstMistuning) {
    const std::vector<Unit> units = randomUnits(24, 14);
    int found = 0;
    int cases = 0;
    for (const auto& [profile, snr] :
         {std::pair{kCcirModerate, 14.0}, std::pair{kCcirPoor, 15.0}}) {
        for (double offset : {-50.0, 50.0}) {
            for (uint32_t seed : {1u, 2u}) {
                ++cases;
                const int leading = kSampleRate / 2 + (cases * 7919) % (5 * kSampleRate / 2);
                HfChannelConfig channel = noisy(snr, 200 + seed);
                channel.fading = true;
                channel.watterson = profile;
                channel.offsetHz = offset;
                channel.clockPpm = offset > 0 ? 200 : -200;
                const std::vector<float> audio =
                    through(channel, transmission(units, Mode::Normal, leading, 4000));
                const DemodOutput out = demodulate(audio, 160);
                EXPECT_EQ(wrongUnits(out, units), 0u);
                const double start = startInOutput(channel, leading);
                // The burst is timed on the stronger path: up to 2 ms (16 samples) late.
                if (!out.frames.empty() &&
                    std::abs(out.frames[0].startSample - start) < kCyclicPrefix &&
                    out.frames[0].unitsGood == 12) {
                    ++found;
                }
            }
        }
    }
    std::printf("fading: the first frame came out whole in %d of %d cases\n", found, cases);
    EXPECT_GE(found, cases - 1);
}

// A recording that ends inside a frame: nothing comes out and nothing breaks; the next call,
// with a complete frame after a pause, reads it. A frame that lacks only its last symbols may
// still decode (the code fills in the missing bits), but then only with its own units.
TEST(DemodulatorTruncation, AFrameCutShortGivesNothingAndTheNextFrameStillDecodes) {
    const std::vector<Unit> first = randomUnits(12, 15);
    const std::vector<Unit> second = randomUnits(7, 16);
    const std::vector<float> whole = transmission(first, Mode::Normal, 800, 0);
    const std::vector<float> next = transmission(second, Mode::Normal, 3000, 3000);
    const int frame = frameLayout(Mode::Normal, 12).samples();
    // Inside the sync burst, the pilot row, the header, the first data symbols, half way, the
    // last pilot row gone, one sample short.
    for (int keep : {100, 400, 700, 1200, frame / 2, frame - kSymbolSamples, frame - 1}) {
        SCOPED_TRACE(testing::Message() << "cut after " << keep << " of " << frame << " samples");
        const std::span<const float> cut(whole.data(), 800 + static_cast<size_t>(keep));
        Demodulator demodulator;
        DemodOutput out;
        demodulator.process(cut, out);
        demodulator.flush(out);
        if (keep <= frame / 2) {
            EXPECT_TRUE(out.units.empty()) << out.units.size() << " units";
        } else {
            EXPECT_TRUE(out.units.empty() || out.units == first) << out.units.size() << " units";
        }
        std::printf("cut after %5d of %d samples: %zu units\n", keep, frame, out.units.size());
        // The recording stops and a new one starts a while later: the same demodulator reads
        // the next transmission.
        DemodOutput later;
        demodulator.process(std::vector<float>(kSampleRate * 2, 0.0f), later);
        demodulator.process(next, later);
        EXPECT_TRUE(later.units == second) << later.units.size() << " units of 7";
    }
}

// The transmitter stops in the middle of a frame (a key-up cut short) and a new transmission
// starts at once: the broken frame should cost its own units, not those of the next frame.
// (A failed frame once made the search resume only after the whole length its header
// announced, losing the next frame here.)
TEST(DemodulatorTruncation, AFrameCutShortAndFollowedAtOnceCostsOnlyItself) {
    const std::vector<Unit> first = randomUnits(12, 17);
    const std::vector<Unit> second = randomUnits(12, 18);
    const int frame = frameLayout(Mode::Normal, 12).samples();
    for (int keep : {700, frame / 2}) {
        SCOPED_TRACE(testing::Message() << "cut after " << keep << " of " << frame << " samples");
        std::vector<float> audio = transmission(first, Mode::Normal, 800, 0);
        audio.resize(800 + static_cast<size_t>(keep));
        const std::vector<float> next = transmission(second, Mode::Normal, 0, 3000);
        audio.insert(audio.end(), next.begin(), next.end());
        const DemodOutput out = demodulate(through(noisy(20, 19), audio));
        EXPECT_TRUE(out.units == second) << out.units.size() << " units of 12";
    }
}

// A receiver that starts listening in the middle of a frame's sync burst: the burst seems to
// begin before the first sample. Nothing of that frame need come out, but the demodulator must
// not look before the audio it has, and the next frame must decode.
// (Found by demodulator_fuzz: the fine frequency estimate once read before the first sample
// when the recording started 48 to 104 samples into the burst; the sanitizer build sees it.)
TEST(DemodulatorTruncation, ARecordingThatStartsInsideASyncBurst) {
    const std::vector<Unit> first = randomUnits(3, 24);
    const std::vector<Unit> second = randomUnits(5, 25);
    std::vector<float> frames;
    Modulator modulator(Mode::Normal);
    modulator.modulate(first, frames);
    modulator.modulate(second, frames);
    frames.resize(frames.size() + 2000, 0.0f);
    for (int skip = 0; skip <= 2 * kSymbolSamples; skip += 8) {
        SCOPED_TRACE(testing::Message() << "the recording starts " << skip << " samples in");
        const DemodOutput out = demodulate(std::span(frames).subspan(static_cast<size_t>(skip)));
        std::vector<Unit> both = first;
        both.insert(both.end(), second.begin(), second.end());
        EXPECT_EQ(wrongUnits(out, both), 0u);
        ASSERT_GE(out.units.size(), second.size());
        EXPECT_TRUE(std::equal(second.begin(), second.end(), out.units.end() - 5));
    }
}

// A receiver's audio driven into clipping, or with a DC offset from a cheap sound card: the
// clipping spreads some power out of band, the offset sits below the lowest carrier; neither
// may cost a unit on an otherwise good signal.
TEST(DemodulatorHostileLevels, ClippingAndDcOffsetOnAGoodSignal) {
    const std::vector<Unit> units = randomUnits(24, 20);
    const std::vector<float> clean =
        through(noisy(20, 21), transmission(units, Mode::Normal, 2000, 2000));
    std::vector<float> clipped = clean;
    int cut = 0;
    for (float& x : clipped) {
        // Four times too loud: RMS 1.0 at full scale 1, about a third of the samples clipped.
        x = 4.0f * x;
        cut += std::abs(x) > 1.0f;
        x = std::clamp(x, -1.0f, 1.0f);
    }
    EXPECT_GT(cut, int(clipped.size() / 5));
    EXPECT_EQ(demodulate(clipped).units, units);
    std::vector<float> offset = clean;
    for (float& x : offset) x += 0.3f;  // larger than the signal's RMS
    EXPECT_EQ(demodulate(offset).units, units);
    std::vector<float> both = clean;
    for (float& x : both) x = std::clamp(2.0f * x + 0.3f, -1.0f, 1.0f);
    EXPECT_EQ(demodulate(both).units, units);
}

// One point of each channel's sweep, a few hundred units, with a bound far from the measured
// rate: it fails only when the receiver has broken, not when it is a little worse.
TEST(DemodulatorSweepPoint, EachChannelAtOneSnrLosesFewUnitsAndNoneWrong) {
    struct Point {
        const char* name;
        std::optional<WattersonProfile> fading;
        double snrDb;
    };
    const Point points[] = {
        {"awgn", std::nullopt, 8.0}, {"moderate", kCcirModerate, 18.0}, {"poor", kCcirPoor, 18.0}};
    const std::vector<Unit> units = randomUnits(300, 22);
    for (const Point& p : points) {
        HfChannelConfig channel = noisy(p.snrDb, 23);
        if (p.fading) {
            channel.fading = true;
            channel.watterson = *p.fading;
        }
        channel.offsetHz = 12.5;
        channel.clockPpm = 80;
        const DemodOutput out = demodulate(
            through(channel, transmission(units, Mode::Normal, kSampleRate / 2, kSampleRate / 2)));
        const size_t wrong = wrongUnits(out, units);
        const double uer = 1.0 - double(out.units.size() - wrong) / double(units.size());
        std::printf("%s at %.0f dB: UER %.1f %% (%zu of %zu units)\n", p.name, p.snrDb, 100 * uer,
                    out.units.size() - wrong, units.size());
        EXPECT_EQ(wrong, 0u) << p.name;
        EXPECT_LT(uer, 0.10) << p.name;
    }
}

}  // namespace
}  // namespace modem
