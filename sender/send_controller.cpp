#include "sender/send_controller.h"

namespace sender {

std::string_view commandText(ModulatorCommand command) {
    switch (command) {
        case ModulatorCommand::Start:
            return "start";
        case ModulatorCommand::Stop:
            return "stop";
        case ModulatorCommand::Exit:
            return "exit";
    }
    return "";
}

TimerPlan SendController::startUp() const {
    TimerPlan plan;
    plan.sendTimerMs = kFirstSendDelayMs;
    return plan;
}

TimerPlan SendController::frameEncoded(const encoder::EncodeResult& result, int mode,
                                       bool movieSynced) {
    TimerPlan plan;
    // ENCODEFRAME already chose the send timer: the frame period, the one-second retry of an
    // oversize frame, or 0 for a good preview.
    plan.sendTimerMs = result.sendTimerMs;
    if (mode == encoder::kEncodePreview) return plan;

    // A timed send clears the progress line even when the frame was rejected.
    plan.clearProgress = true;
    progressMs_ = 0;
    if (result.error != encoder::EncodeError::None) return plan;

    framePeriodMs_ = result.sendTimerMs;
    plan.progressTimerMs = encoder::kProgressPeriodMs;
    if (movieSynced) plan.movieTimerMs = result.movieTimerMs;
    plan.sendFrame = result.send && transmit_ && !result.frame.empty();
    return plan;
}

int SendController::progressTicked() {
    progressMs_ += encoder::kProgressPeriodMs;
    if (framePeriodMs_ <= 0) return 0;
    return static_cast<int>(progressMs_ * kProgressScale / framePeriodMs_);
}

TransmitChange SendController::toggleTransmit() {
    transmit_ = !transmit_;
    TransmitChange change;
    change.on = transmit_;
    change.lines = transmit_ ? kKeyedLines : kUnkeyedLines;
    change.command = transmit_ ? ModulatorCommand::Start : ModulatorCommand::Stop;
    return change;
}

}  // namespace sender
