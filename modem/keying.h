#pragma once

// When the transmitter is keyed: the rules around the sound, as a plain state machine over
// times in seconds on the sound card's output clock (the clock its "sample reaches the
// converter" times are on). The shell asks step() whenever something changes, and whenever
// deadline() comes, and does what it answers.
//
// - Audio waiting and the transmitter not keyed: key now; the first sample reaches the
//   converter a lead time later (signalStart()), so the rig's relay and amplifier are settled.
// - The last sample has left the converter: unkey a tail time later. While the sender is on
//   ("start" without "stop") it will send another frame string: the transmitter then stays
//   keyed for the hold time in case that one follows at once, and it goes on without a new lead.
// - Keyed longer than the time-out: unkey and refuse to key again until the next "start".
// - "stop", "exit", the sender's link lost, any fault: unkey at once (stop()).

#include <optional>

namespace modem {

struct KeyingSettings {
    double leadS = 0.150;
    double tailS = 0.050;
    double holdS = 1.0;
    double timeoutS = 300.0;
};

enum class KeyAction { None, Key, Unkey, TimeOut };

class Keying {
public:
    explicit Keying(const KeyingSettings& settings = {}) : settings_(settings) {}

    // audioWaiting: samples are queued to go out, or are going out. idleSince: when the last
    // sample of the transmission left the converter; nullopt while any is still to go.
    // Key: key the transmitter now. Unkey: unkey it now. TimeOut: unkey it now; it stays
    // unkeyed until senderStarted().
    [[nodiscard]] KeyAction step(double now, bool audioWaiting, std::optional<double> idleSince);
    // When step() must be asked again though nothing else changed: the unkey after the tail
    // (given the idle time), or the time-out. nullopt: not keyed.
    [[nodiscard]] std::optional<double> deadline(std::optional<double> idleSince) const;

    // The sender said "start": it is on, and a time-out's refusal ends.
    void senderStarted();
    // "stop", "exit", the link lost, a fault: returns Unkey when the transmitter is keyed.
    [[nodiscard]] KeyAction stop();
    // The keying took effect at now (after step() said Key): the lead and the time-out count
    // from here.
    void keyedNow(double now) { keyedAt_ = now; }
    // The keying itself failed: the transmitter is taken as not keyed.
    void keyFailed() { keyed_ = false; }

    [[nodiscard]] bool keyed() const { return keyed_; }
    [[nodiscard]] bool refused() const { return timedOut_; }  // after a time-out, until "start"
    [[nodiscard]] double signalStart() const { return keyedAt_ + settings_.leadS; }
    [[nodiscard]] double keyedAt() const { return keyedAt_; }
    [[nodiscard]] const KeyingSettings& settings() const { return settings_; }

private:
    [[nodiscard]] double unkeyAfterIdle() const;

    KeyingSettings settings_;
    bool keyed_ = false;
    bool senderOn_ = false;
    bool timedOut_ = false;
    double keyedAt_ = 0;
};

}  // namespace modem
