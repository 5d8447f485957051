#pragma once

// The receiving half on a sound card, without the sound card: audio at the card's rate in
// chunks of any size; out come the modem frames and units, where each frame began (in the
// card's samples), the input level, where sound began and ended after a quiet spell, and, when
// asked for, the waterfall's rows. tonebox's station feeds it from the card; a window's tests
// feed it recordings.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "modem/demodulator.h"
#include "modem/resample.h"
#include "modem/waterfall.h"

namespace modem {

struct SoundEdge {
    bool began = false;   // true: sound after quiet; false: quiet after sound
    uint64_t sample = 0;  // the first loud sample, or the one after the last loud one
};

struct ReceiveOutput {
    DemodOutput demod;
    std::vector<double> frameStarts;  // card sample of each frame's sync burst (demod.frames)
    std::vector<WaterfallRow> rows;   // firstSample counts the modem's 8000 Hz samples
    std::vector<SoundEdge> edges;
};

struct InputLevel {
    float peak = 0;        // largest magnitude
    double rms = 0;        // over the samples
    uint64_t samples = 0;  // taken into it
};

class ReceivePath {
public:
    ReceivePath(double cardRate, bool waterfall);

    // Appends what this chunk completes. Samples are counted from 0 at construction.
    void process(std::span<const float> audio, ReceiveOutput& out);
    // Half duplex: while muted, the level and the sound's edges are still measured but nothing
    // is demodulated; unmuting starts the demodulator afresh.
    void setMuted(bool muted);
    // The level since the last call.
    [[nodiscard]] InputLevel takeLevel();
    [[nodiscard]] uint64_t samplesIn() const { return taken_; }
    [[nodiscard]] double cardRate() const { return rate_; }

private:
    double rate_;
    bool waterfallWanted_;
    StreamResampler down_;
    Demodulator demodulator_;
    Waterfall waterfall_;
    std::vector<float> base_;
    uint64_t taken_ = 0;
    bool muted_ = false;
    // Levels and edges
    float peak_ = 0;
    double power_ = 0;
    uint64_t counted_ = 0;
    uint64_t quiet_;  // samples since the last loud one; starts "long quiet"
    uint64_t lastLoud_ = 0;
    bool loud_ = false;
};

// Above a quiet line's noise: -60 dBFS.
inline constexpr float kSoundThreshold = 0.001f;

}  // namespace modem
