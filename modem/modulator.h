#pragma once

// Units in, audio out: the transmitting half of the modem.
//
// Each call makes one modem frame of 1..12 units (see waveform.h for its symbols) as real
// samples at 8000 Hz. Frames may follow one another with no gap; the demodulator finds each by
// its sync burst. The mean power of a frame is kTxRms squared whatever it carries, which leaves
// OFDM's rare peaks room below full scale; the few samples beyond it are clipped.

#include <span>
#include <vector>

#include "modem/frame_coder.h"
#include "modem/waveform.h"

namespace modem {

inline constexpr float kTxRms = 0.25f;  // -12 dBFS: OFDM peaks stay below 1 but rarely

class Modulator {
public:
    explicit Modulator(Mode mode = Mode::Normal) : mode_(mode) {}

    // Appends one modem frame carrying units (1..kMaxUnitsPerFrame of them; more are not
    // sent, none gives nothing) to out.
    void modulateFrame(std::span<const Unit> units, std::vector<float>& out);
    // Appends as many frames as the units need: full frames, then a short last one.
    void modulate(std::span<const Unit> units, std::vector<float>& out);

    [[nodiscard]] Mode mode() const { return mode_; }
    void setMode(Mode mode) { mode_ = mode; }

private:
    Mode mode_;
    CodeBook book_;
};

// One symbol's samples (kSymbolSamples, the cyclic prefix first) for the carriers' values,
// scaled to kTxRms for unit-power values. Shared with the demodulator's tests.
void symbolSamples(std::span<const Complex> carriers, std::span<float> out);

}  // namespace modem
