#pragma once

// The transmitting side's queue: frame strings in as the sender hands them over, audio out as
// the sound card asks for it. Pure core: no clock, no device; the shell pulls samples at the
// card's pace and keys the transmitter while there are any.
//
// - Units of consecutive frame strings share modem frames when both are queued: a modem frame
//   takes up to 12 units from the oldest string and goes on into the next, so there is no idle
//   gap between strings, and only the last modem frame of a run of strings is short.
// - A frame string never waits more than one behind the one on the air. When the mode is
//   slower than the strings arrive (`robust` carries about 160 bytes a second against the
//   sender's 250), a string still waiting whole is dropped, oldest first, when a newer one
//   arrives; a string of which any unit has gone into a modem frame is never dropped, so no
//   string is ever sent in part.

#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "modem/modulator.h"

namespace modem {

struct TxQueueStats {
    uint64_t stringsQueued = 0;   // frame strings pushed
    uint64_t stringsSent = 0;     // whose last unit has gone into a modem frame
    uint64_t stringsDropped = 0;  // dropped whole while waiting, or by clear()
    uint64_t modemFrames = 0;     // modem frames made
    uint64_t unitsSent = 0;
};

class TxQueue {
public:
    explicit TxQueue(Mode mode = Mode::Normal) : modulator_(mode) {}

    // Queues one frame string (its units, in order; an empty one is ignored). Returns how many
    // waiting strings were dropped for it (0 or 1).
    int push(std::vector<Unit> frameString);
    // Appends up to count samples of the transmission to out and returns how many: fewer than
    // count only when everything queued has been played.
    size_t pull(size_t count, std::vector<float>& out);
    // Drops everything: strings waiting or begun and the rest of the modem frame on the air
    // (the sender's "stop").
    void clear();

    [[nodiscard]] bool idle() const { return played_ == audio_.size() && strings_.empty(); }
    [[nodiscard]] size_t waiting() const;  // strings of which no unit has been sent yet
    [[nodiscard]] const TxQueueStats& stats() const { return stats_; }
    [[nodiscard]] Mode mode() const { return modulator_.mode(); }

private:
    struct Pending {
        std::vector<Unit> units;
        size_t taken = 0;  // units already put into modem frames
    };
    bool makeModemFrame();

    Modulator modulator_;
    std::deque<Pending> strings_;
    std::vector<float> audio_;  // the modem frame being played
    size_t played_ = 0;         // samples of it handed out
    TxQueueStats stats_;
};

}  // namespace modem
