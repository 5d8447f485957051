#include "sender/send_controller.h"

#include <gtest/gtest.h>

#include <vector>

#include "encoder/test_pictures.h"

namespace sender {
namespace {

using encoder::EncodeError;
using encoder::EncodeResult;
using encoder::kEncodePreview;
using encoder::kEncodeSend;

// What ENCODEFRAME returns for a good send-mode frame of the given length.
EncodeResult sentFrame(size_t bytes, bool transmit) {
    EncodeResult r;
    r.frame.assign(bytes, 0);
    r.sendTimerMs = encoder::framePeriodMs(bytes);
    r.movieTimerMs = encoder::syncedMovieTimerMs(r.sendTimerMs);
    r.send = transmit;
    return r;
}

EncodeResult rejectedFrame() {
    EncodeResult r;
    r.error = EncodeError::TooLarge;
    r.sendTimerMs = encoder::kRetryPeriodMs;
    return r;
}

// ---- timers after each event ----

TEST(SendControllerTimers, StartUpArmsTheSendTimerOnly) {
    const SendController c;
    const TimerPlan plan = c.startUp();
    EXPECT_EQ(plan.sendTimerMs, 4000);
    EXPECT_EQ(plan.progressTimerMs, 0);
    EXPECT_EQ(plan.movieTimerMs, 0);
    EXPECT_FALSE(plan.sendFrame);
}

TEST(SendControllerTimers, ThousandByteFrameGivesA4200MsPeriod) {
    SendController c;
    static_cast<void>(c.toggleTransmit());
    const TimerPlan plan = c.frameEncoded(sentFrame(1000, true), kEncodeSend, false);
    EXPECT_EQ(plan.sendTimerMs, 4200);
    EXPECT_EQ(plan.progressTimerMs, 100);
    EXPECT_EQ(plan.movieTimerMs, 0);  // the movie is not synced
    EXPECT_TRUE(plan.sendFrame);
    EXPECT_TRUE(plan.clearProgress);
    EXPECT_EQ(c.framePeriodMs(), 4200);
}

TEST(SendControllerTimers, SyncedMovieGetsNineTenthsOfThePeriod) {
    SendController c;
    const TimerPlan plan = c.frameEncoded(sentFrame(4469, false), kEncodeSend, true);
    EXPECT_EQ(plan.sendTimerMs, 4 * 4469 + 200);
    EXPECT_EQ(plan.movieTimerMs, 16268);  // 0.9 x 18076 = 16268.4
}

TEST(SendControllerTimers, TransmitOffStillTimesButDoesNotSend) {
    SendController c;
    const TimerPlan plan = c.frameEncoded(sentFrame(1000, false), kEncodeSend, false);
    EXPECT_EQ(plan.sendTimerMs, 4200);
    EXPECT_EQ(plan.progressTimerMs, 100);
    EXPECT_FALSE(plan.sendFrame);
}

TEST(SendControllerTimers, SwitchOffWinsOverAStaleSendFlag) {
    // The window forgot to copy the switch into the settings: the switch decides.
    SendController c;
    EXPECT_FALSE(c.frameEncoded(sentFrame(1000, true), kEncodeSend, false).sendFrame);
}

TEST(SendControllerTimers, OversizeTimedSendRetriesAfterASecondAndKeepsThePeriod) {
    SendController c;
    static_cast<void>(c.toggleTransmit());
    static_cast<void>(c.frameEncoded(sentFrame(1000, true), kEncodeSend, true));
    for (int i = 0; i < 5; ++i) static_cast<void>(c.progressTicked());
    const TimerPlan plan = c.frameEncoded(rejectedFrame(), kEncodeSend, true);
    EXPECT_EQ(plan.sendTimerMs, 1000);
    EXPECT_EQ(plan.progressTimerMs, 0);
    EXPECT_EQ(plan.movieTimerMs, 0);
    EXPECT_FALSE(plan.sendFrame);
    EXPECT_TRUE(plan.clearProgress);  // a timed send clears the line whatever the frame did
    EXPECT_EQ(c.progressMs(), 0);
    EXPECT_EQ(c.framePeriodMs(), 4200);
}

TEST(SendControllerTimers, PreviewLeavesTheTimersAloneUnlessRejected) {
    SendController c;
    static_cast<void>(c.toggleTransmit());
    EncodeResult preview = sentFrame(1000, false);
    preview.sendTimerMs = 0;  // ENCODEFRAME times nothing in preview mode
    preview.movieTimerMs = 0;
    const TimerPlan good = c.frameEncoded(preview, kEncodePreview, true);
    EXPECT_EQ(good.sendTimerMs, 0);
    EXPECT_EQ(good.progressTimerMs, 0);
    EXPECT_EQ(good.movieTimerMs, 0);
    EXPECT_FALSE(good.sendFrame);
    EXPECT_FALSE(good.clearProgress);

    const TimerPlan rejected = c.frameEncoded(rejectedFrame(), kEncodePreview, true);
    EXPECT_EQ(rejected.sendTimerMs, 1000);  // the retry runs the encoder in send mode
    EXPECT_FALSE(rejected.clearProgress);
    EXPECT_EQ(c.framePeriodMs(), 0);
}

TEST(SendControllerTimers, RealEncodesTimeEachFrameByItsOwnLength) {
    // The timers a window would run, on a simulated clock: the first frame at 4000 ms, each
    // later one a frame period after the send before it.
    encoder::EncoderSettings settings;
    settings.frameSize = 48;
    encoder::EncoderState state;
    SendController c;
    static_cast<void>(c.toggleTransmit());
    settings.transmit = c.transmitting();
    int64_t now = 0;
    int64_t due = c.startUp().sendTimerMs;
    std::vector<int64_t> sendTimes;
    const std::vector<int> thresholds{0, 40, 0};
    for (const int threshold : thresholds) {
        now = due;
        settings.threshold = threshold;
        const EncodeResult r = ENCODEFRAME(settings, encoder::testCard(), state, kEncodeSend);
        ASSERT_EQ(r.error, EncodeError::None);
        const TimerPlan plan = c.frameEncoded(r, kEncodeSend, false);
        ASSERT_TRUE(plan.sendFrame);
        EXPECT_EQ(plan.sendTimerMs, 4 * static_cast<int>(r.frame.size()) + 200);
        sendTimes.push_back(now);
        due = now + plan.sendTimerMs;
    }
    EXPECT_EQ(sendTimes[0], 4000);
    EXPECT_LT(sendTimes[2] - sendTimes[1], sendTimes[1] - sendTimes[0]);  // threshold 40 is short
    EXPECT_EQ(state.frameCounter, 3);
}

// ---- the progress line ----

TEST(SendControllerProgress, LineGrowsBy363PerPeriodRoundedDown) {
    SendController c;
    static_cast<void>(c.frameEncoded(sentFrame(1000, false), kEncodeSend, false));  // 4200 ms
    EXPECT_EQ(c.progressTicked(), 8);   // 100 x 363 / 4200 = 8.6
    EXPECT_EQ(c.progressTicked(), 17);  // 17.3
    int x = 0;
    int ticks = 2;
    while (x < kProgressWidthPx) {
        x = c.progressTicked();
        ++ticks;
    }
    EXPECT_EQ(ticks, 39);  // 3900 ms, 93 % of the period: the edge is reached at about 91 %
    for (; ticks < 42; ++ticks) x = c.progressTicked();
    EXPECT_EQ(x, 363);  // at the whole period, past the 330-pixel edge
}

TEST(SendControllerProgress, NextTimedSendStartsTheLineAgain) {
    SendController c;
    static_cast<void>(c.frameEncoded(sentFrame(1000, false), kEncodeSend, false));
    for (int i = 0; i < 10; ++i) static_cast<void>(c.progressTicked());
    EXPECT_EQ(c.progressMs(), 1000);
    static_cast<void>(c.frameEncoded(sentFrame(2000, false), kEncodeSend, false));  // 8200 ms
    EXPECT_EQ(c.progressMs(), 0);
    EXPECT_EQ(c.progressTicked(), 4);  // 100 x 363 / 8200 = 4.4
}

TEST(SendControllerProgress, NoPeriodYetDrawsNothing) {
    SendController c;
    EXPECT_EQ(c.progressTicked(), 0);
}

// ---- the transmit switch ----

TEST(SendControllerTransmit, TurnOnKeysAndStartsTurnOffUnkeysAndStops) {
    SendController c;
    EXPECT_FALSE(c.transmitting());
    const TransmitChange on = c.toggleTransmit();
    EXPECT_TRUE(on.on);
    EXPECT_EQ(on.lines, kKeyedLines);
    EXPECT_EQ(commandText(on.command), "start");
    const TransmitChange off = c.toggleTransmit();
    EXPECT_FALSE(off.on);
    EXPECT_EQ(off.lines, kUnkeyedLines);
    EXPECT_EQ(commandText(off.command), "stop");
    EXPECT_EQ(commandText(ModulatorCommand::Exit), "exit");
    // Bare letters, no line end: 5 and 4 bytes.
    EXPECT_EQ(commandText(on.command).size(), 5u);
    EXPECT_EQ(commandText(off.command).size(), 4u);
}

}  // namespace
}  // namespace sender
