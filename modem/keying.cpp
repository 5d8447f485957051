#include "modem/keying.h"

#include <algorithm>

namespace modem {

double Keying::unkeyAfterIdle() const {
    return senderOn_ ? std::max(settings_.tailS, settings_.holdS) : settings_.tailS;
}

KeyAction Keying::step(double now, bool audioWaiting, std::optional<double> idleSince) {
    if (keyed_) {
        if (now - keyedAt_ >= settings_.timeoutS) {
            keyed_ = false;
            timedOut_ = true;
            return KeyAction::TimeOut;
        }
        if (!audioWaiting && idleSince && now >= *idleSince + unkeyAfterIdle()) {
            keyed_ = false;
            return KeyAction::Unkey;
        }
        return KeyAction::None;
    }
    if (!audioWaiting || timedOut_) return KeyAction::None;
    keyed_ = true;
    keyedAt_ = now;
    return KeyAction::Key;
}

std::optional<double> Keying::deadline(std::optional<double> idleSince) const {
    if (!keyed_) return std::nullopt;
    const double timeout = keyedAt_ + settings_.timeoutS;
    if (!idleSince) return timeout;
    return std::min(timeout, *idleSince + unkeyAfterIdle());
}

void Keying::senderStarted() {
    senderOn_ = true;
    timedOut_ = false;
}

KeyAction Keying::stop() {
    senderOn_ = false;
    if (!keyed_) return KeyAction::None;
    keyed_ = false;
    return KeyAction::Unkey;
}

}  // namespace modem
