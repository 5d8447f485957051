#pragma once

// The send timer, the progress line and the transmit switch of pictx. Pure core: each event
// returns the timers to restart, the lines to set and what to send; the window applies it with
// its QTimers, the keying and the modulator link.
//
//   window created     send timer 4000 ms
//   send timer fired   ENCODEFRAME(kEncodeSend), then frameEncoded: send timer := frame period
//                      (4 ms per frame byte + 200 ms, the frame's air time at 250 bytes per
//                      second and a margin), progress timer := 100 ms, movie timer := 0.9 x
//                      period when the movie is synced, progress count := 0, the frame sent
//                      when the transmit switch is on; 1000 ms and nothing else for an oversize
//                      frame
//   progress timer     progress count += 100 ms; the line runs to count x 363 / period pixels,
//                      so it reaches the 330-pixel graphic's edge at about 91 % of the period
//   "Turn On"          switch inverted; on: lines keyed, "start"; off: lines down, "stop"
//
// All three timers are periodic: a timer that an event does not restart keeps its period.

#include <cstdint>
#include <string_view>

#include "encoder/encode_frame.h"
#include "sender/keying.h"

namespace sender {

inline constexpr int kFirstSendDelayMs = 4000;  // send timer at window creation
inline constexpr int kProgressWidthPx = 330;    // the progress graphic, 330 x 6 pixels
inline constexpr int kProgressHeightPx = 6;
inline constexpr int kProgressScale = 363;  // pixels the line would reach at a whole period

enum class ModulatorCommand { Start, Stop, Exit };
[[nodiscard]] std::string_view commandText(ModulatorCommand command);  // "start", "stop", "exit"

// What the window does after an event. A zero period leaves that timer as it is.
struct TimerPlan {
    int sendTimerMs = 0;         // stop and restart the send timer with this period
    int progressTimerMs = 0;     // stop and restart the progress timer
    int movieTimerMs = 0;        // stop and restart the movie page's frame timer
    bool sendFrame = false;      // hand the frame string to the modulator link
    bool clearProgress = false;  // clear the progress graphic to white
};

struct TransmitChange {
    bool on = false;           // the switch as it now is; the button shows it pressed
    KeyLines lines;            // for the keying
    ModulatorCommand command;  // for the modulator link
};

class SendController {
public:
    [[nodiscard]] TimerPlan startUp() const;

    // After ENCODEFRAME ran in mode (kEncodeSend from the send timer, kEncodePreview after a
    // setting changed). movieSynced: the movie source is set to "Sync frames with sender". The
    // window runs ENCODEFRAME with EncoderSettings::transmit = transmitting().
    [[nodiscard]] TimerPlan frameEncoded(const encoder::EncodeResult& result, int mode,
                                         bool movieSynced);

    // Progress timer elapsed: the right end of the progress line in pixels from the left, not
    // clipped to the graphic.
    [[nodiscard]] int progressTicked();

    // "Turn On" clicked.
    [[nodiscard]] TransmitChange toggleTransmit();

    [[nodiscard]] bool transmitting() const { return transmit_; }
    [[nodiscard]] int framePeriodMs() const { return framePeriodMs_; }  // 0 before any send
    [[nodiscard]] int64_t progressMs() const { return progressMs_; }    // since the last send

private:
    bool transmit_ = false;
    int framePeriodMs_ = 0;
    int64_t progressMs_ = 0;
};

}  // namespace sender
