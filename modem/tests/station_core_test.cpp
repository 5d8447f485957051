// The pieces between the modem and a sound card: the stream resampler, the ring the real-time
// thread shares, and the keying rules.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <thread>

#include "modem/audio_ring.h"
#include "modem/demodulator.h"
#include "modem/keying.h"
#include "modem/modulator.h"
#include "modem/resample.h"
#include "modem/tests/modem_signals.h"

namespace modem {
namespace {

std::vector<float> tone(double hz, double rate, size_t count) {
    std::vector<float> out(count);
    for (size_t i = 0; i < count; ++i) {
        out[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * hz * double(i) / rate));
    }
    return out;
}

std::vector<float> inChunks(StreamResampler& r, const std::vector<float>& in, size_t chunk) {
    std::vector<float> out;
    for (size_t at = 0; at < in.size(); at += chunk) {
        r.process(std::span(in).subspan(at, std::min(chunk, in.size() - at)), out);
    }
    r.drain(out);
    return out;
}

// However the sound card cuts its buffers, the samples out are the same, and a tone keeps its
// frequency and level through 48000 -> 8000 and 8000 -> 44100.
TEST(StreamResampler, ChunkingDoesNotChangeTheStream) {
    const std::vector<float> in = tone(1500, 48000, 48000);
    StreamResampler whole(48000, 8000);
    StreamResampler pieces(48000, 8000);
    const std::vector<float> a = inChunks(whole, in, in.size());
    const std::vector<float> b = inChunks(pieces, in, 441);  // an odd size on purpose
    EXPECT_NEAR(double(a.size()), 8000, 2);                  // drained: every sample out
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) ASSERT_NEAR(a[i], b[i], 1e-6f) << i;
    // Past the filter's start: the tone's level at 8000 Hz is the level it had.
    double power = 0;
    for (size_t i = 2000; i < 7000; ++i) power += double(a[i]) * a[i];
    EXPECT_NEAR(std::sqrt(power / 5000), 0.5 / std::sqrt(2.0), 0.01);

    StreamResampler up(8000, 44100);
    const std::vector<float> high = inChunks(up, tone(1500, 8000, 8000), 160);
    EXPECT_NEAR(double(high.size()), 44100, 2);
}

// The modem's own audio survives the trip the sound card makes it take: up to 48000 Hz in one
// process, back down in another, in different chunk sizes; every unit comes back.
TEST(StreamResampler, ModemFramesSurviveTheRoundTrip) {
    const std::vector<Unit> units = test::randomUnits(24, 5);
    std::vector<float> audio(4000, 0.0f);
    Modulator modulator;
    modulator.modulate(units, audio);
    audio.resize(audio.size() + 4000, 0.0f);
    StreamResampler up(8000, 48000);
    StreamResampler down(48000, 8000);
    const std::vector<float> card = inChunks(up, audio, 160);
    const std::vector<float> back = inChunks(down, card, 1024);
    Demodulator demodulator;
    DemodOutput out;
    demodulator.process(back, out);
    demodulator.flush(out);
    EXPECT_EQ(out.units, units);
}

// Wrapping round the end, filling up, and a writer and reader on two threads: every sample
// arrives once, in order.
TEST(AudioRing, KeepsOrderAcrossThreadsAndRefusesOverfill) {
    AudioRing ring(100);
    std::vector<float> in(150);
    for (size_t i = 0; i < in.size(); ++i) in[i] = float(i);
    EXPECT_EQ(ring.write(in), 100u);  // full: the rest is refused, not overwritten
    EXPECT_EQ(ring.write(in), 0u);
    std::vector<float> out(70);
    EXPECT_EQ(ring.read(out), 70u);
    EXPECT_EQ(out[69], 69.0f);
    EXPECT_EQ(ring.write(std::span(in).subspan(100, 50)), 50u);  // wraps
    std::vector<float> rest(200);
    EXPECT_EQ(ring.read(rest), 80u);
    EXPECT_EQ(rest[0], 70.0f);
    EXPECT_EQ(rest[29], 99.0f);
    EXPECT_EQ(rest[30], 100.0f);
    EXPECT_EQ(rest[79], 149.0f);
    EXPECT_EQ(ring.available(), 0u);

    constexpr size_t kTotal = 2'000'000;
    AudioRing shared(997);
    std::thread writer([&] {
        std::vector<float> block(333);
        size_t next = 0;
        while (next < kTotal) {
            const size_t n = std::min(block.size(), kTotal - next);
            for (size_t i = 0; i < n; ++i) block[i] = float(next + i);
            size_t done = 0;
            while (done < n) done += shared.write(std::span(block).subspan(done, n - done));
            next += n;
        }
    });
    size_t expected = 0;
    bool inOrder = true;
    std::vector<float> got(256);
    while (expected < kTotal) {
        const size_t n = shared.read(got);
        for (size_t i = 0; i < n; ++i) inOrder &= got[i] == float(expected + i);
        expected += n;
    }
    writer.join();
    EXPECT_TRUE(inOrder);
}

// The keying rules on a made-up clock.
TEST(Keying, LeadTailHoldAndTimeOut) {
    Keying k(KeyingSettings{.leadS = 0.15, .tailS = 0.05, .holdS = 1.0, .timeoutS = 300});
    EXPECT_EQ(k.step(10.0, false, std::nullopt), KeyAction::None);
    // Audio: key now, the first sample a lead later.
    EXPECT_EQ(k.step(10.0, true, std::nullopt), KeyAction::Key);
    EXPECT_DOUBLE_EQ(k.signalStart(), 10.15);
    EXPECT_EQ(k.step(12.0, true, std::nullopt), KeyAction::None);
    // The sender never said "start": the tail alone after the last sample.
    EXPECT_EQ(k.deadline(20.0), 20.05);
    EXPECT_EQ(k.step(20.04, false, 20.0), KeyAction::None);
    EXPECT_EQ(k.step(20.05, false, 20.0), KeyAction::Unkey);
    EXPECT_FALSE(k.keyed());

    // With the sender on, the next string within the hold time goes on without unkeying.
    k.senderStarted();
    EXPECT_EQ(k.step(30.0, true, std::nullopt), KeyAction::Key);
    EXPECT_EQ(k.step(40.5, false, 40.0), KeyAction::None);  // past the tail, inside the hold
    EXPECT_EQ(k.step(40.9, true, std::nullopt), KeyAction::None);
    EXPECT_EQ(k.deadline(50.0), 51.0);
    EXPECT_EQ(k.step(51.0, false, 50.0), KeyAction::Unkey);

    // "stop" unkeys at once, and the hold is over with it.
    EXPECT_EQ(k.step(60.0, true, std::nullopt), KeyAction::Key);
    EXPECT_EQ(k.stop(), KeyAction::Unkey);
    EXPECT_EQ(k.stop(), KeyAction::None);
    EXPECT_EQ(k.step(61.0, true, std::nullopt), KeyAction::Key);
    EXPECT_EQ(k.step(61.1, false, 61.0), KeyAction::Unkey);  // tail alone again
}

TEST(Keying, TimeOutRefusesUntilTheNextStart) {
    Keying k(KeyingSettings{.leadS = 0.15, .tailS = 0.05, .holdS = 1.0, .timeoutS = 300});
    k.senderStarted();
    EXPECT_EQ(k.step(0.0, true, std::nullopt), KeyAction::Key);
    EXPECT_EQ(k.deadline(std::nullopt), 300.0);
    EXPECT_EQ(k.step(299.9, true, std::nullopt), KeyAction::None);
    EXPECT_EQ(k.step(300.0, true, std::nullopt), KeyAction::TimeOut);
    EXPECT_TRUE(k.refused());
    EXPECT_EQ(k.step(301.0, true, std::nullopt), KeyAction::None);  // audio, but refused
    EXPECT_EQ(k.stop(), KeyAction::None);
    EXPECT_EQ(k.step(302.0, true, std::nullopt), KeyAction::None);  // "stop" does not lift it
    k.senderStarted();
    EXPECT_EQ(k.step(303.0, true, std::nullopt), KeyAction::Key);
    // A hold never stretches past the time-out.
    EXPECT_EQ(k.deadline(602.5), 603.0);
}

}  // namespace
}  // namespace modem
