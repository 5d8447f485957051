#include "modem/receive_path.h"

#include <gtest/gtest.h>

#include "modem/modulator.h"
#include "modem/tests/modem_signals.h"

namespace modem {
namespace {

// A card's recording: a second of silence, two modem frames, a second of silence, at 48000 Hz.
struct Recording {
    std::vector<Unit> units = test::randomUnits(20, 9);
    std::vector<float> card;
    size_t signalStart = 48000;
    size_t signalEnd = 0;
    Recording() {
        std::vector<float> audio;
        Modulator modulator;
        modulator.modulate(units, audio);
        card = resampleAudio(audio, kSampleRate, 48000);
        card.insert(card.begin(), signalStart, 0.0f);
        signalEnd = card.size();
        card.resize(card.size() + 48000, 0.0f);
    }
};

void feed(ReceivePath& path, const std::vector<float>& card, size_t chunk, ReceiveOutput& out) {
    for (size_t at = 0; at < card.size(); at += chunk) {
        path.process(std::span(card).subspan(at, std::min(chunk, card.size() - at)), out);
    }
}

// In chunks the size a sound card hands over: every unit, each frame placed where it began on
// the card's own sample count, and the sound's edges where the signal is.
TEST(ReceivePath, UnitsFrameStartsAndEdgesOnTheCardsSamples) {
    const Recording r;
    ReceivePath path(48000, true);
    ReceiveOutput out;
    feed(path, r.card, 441, out);
    EXPECT_EQ(out.demod.units, r.units);
    ASSERT_EQ(out.demod.frames.size(), 2u);
    ASSERT_EQ(out.frameStarts.size(), 2u);
    EXPECT_NEAR(out.frameStarts[0], double(r.signalStart), 12.0);  // a quarter of a ms
    const double frameSeconds =
        double(out.demod.frames[0].endSample - out.demod.frames[0].startSample) / kSampleRate;
    EXPECT_NEAR(out.frameStarts[1] - out.frameStarts[0], frameSeconds * 48000, 12.0);
    ASSERT_EQ(out.edges.size(), 2u);
    EXPECT_TRUE(out.edges[0].began);
    EXPECT_NEAR(double(out.edges[0].sample), double(r.signalStart), 48.0);
    EXPECT_FALSE(out.edges[1].began);
    EXPECT_NEAR(double(out.edges[1].sample), double(r.signalEnd), 480.0);
    EXPECT_NEAR(double(out.rows.size()), double(r.card.size()) / 6 / kWaterfallRowSamples, 2.0);
    const InputLevel level = path.takeLevel();
    EXPECT_EQ(level.samples, r.card.size());
    EXPECT_GT(level.peak, 0.3f);
    EXPECT_EQ(path.takeLevel().samples, 0u);
}

// Muted (transmitting) nothing is demodulated; unmuted, the next frames are read again.
TEST(ReceivePath, MutedHearsTheLevelButDemodulatesNothing) {
    const Recording r;
    ReceivePath path(48000, false);
    path.setMuted(true);
    ReceiveOutput muted;
    feed(path, r.card, 960, muted);
    EXPECT_TRUE(muted.demod.units.empty());
    EXPECT_EQ(muted.edges.size(), 2u);
    EXPECT_GT(path.takeLevel().peak, 0.3f);
    path.setMuted(false);
    ReceiveOutput heard;
    feed(path, r.card, 960, heard);
    EXPECT_EQ(heard.demod.units, r.units);
    ASSERT_FALSE(heard.frameStarts.empty());
    EXPECT_NEAR(heard.frameStarts[0], double(r.card.size() + r.signalStart), 12.0);
}

}  // namespace
}  // namespace modem
