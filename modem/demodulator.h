#pragma once

// Audio in, units out: the receiving half of the modem.
//
// The demodulator takes 8000 Hz audio in chunks of any size (one sample to minutes) and hands
// out the units of every modem frame it finds, the same units whatever the chunking. Between
// frames it searches: the sync burst repeats every 64 samples, so the correlation of the signal
// with itself 64 samples later stands out over noise at any frequency offset (within +-62 Hz),
// and its phase gives the offset. A candidate is then checked twice before its frame is read:
// the pilot row after the burst must correlate with the known pilot waveform, and the header
// must decode with a clear margin. A frame's units come out as soon as its last symbol is in.
//
// Memory is bounded: it keeps the longest frame's samples and a little more, however long it
// runs.

#include <complex>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "modem/frame_coder.h"
#include "modem/hf_channel.h"
#include "modem/waveform.h"

namespace modem {

// What the demodulator saw of one modem frame.
struct FrameStats {
    Mode mode = Mode::Normal;
    int units = 0;            // the header's count
    int unitsGood = 0;        // handed out
    int unitsDropped = 0;     // units - unitsGood
    bool decoded = false;     // the LDPC decoder satisfied every check
    int iterations = 0;       // LDPC passes
    double snrDb = 0;         // estimated, in 3 kHz
    double offsetHz = 0;      // the signal's frequency above where it should be
    double clockPpm = 0;      // the sender's sample clock against ours, from the pilots' drift
    int64_t startSample = 0;  // input sample where the sync burst began
    int64_t endSample = 0;    // input sample just after its last symbol
};

struct DemodOutput {
    std::vector<Unit> units;         // in arrival order
    std::vector<FrameStats> frames;  // one per frame whose header decoded
};

class Demodulator {
public:
    // only: read frames of this mode alone and pass over the others; none reads every mode.
    explicit Demodulator(std::optional<Mode> only = std::nullopt);

    // Appends the units and frames this chunk completes.
    void process(std::span<const float> audio, DemodOutput& out);
    // The end of the recording: pushes out what the filters still hold, so a frame that ends
    // with the audio is read too.
    void flush(DemodOutput& out);
    void reset();

    // Samples taken since construction or reset().
    [[nodiscard]] int64_t samplesIn() const { return taken_; }
    // Baseband samples held, for the memory bound.
    [[nodiscard]] size_t samplesHeld() const { return base_.size(); }

private:
    enum class State { Searching, Tracking, Reading };

    void search();
    bool confirm();  // the candidate's pilot and header; sets layout_ and window_
    void readFrame(DemodOutput& out);
    void restartSearch(int64_t from);
    void trim();

    [[nodiscard]] Complex at(int64_t index) const { return base_[index - baseStart_]; }
    // The 37 carriers of the 128 samples starting at absolute baseband index start, the
    // frame's frequency offset removed.
    void carriersAt(int64_t start, std::span<Complex> out) const;

    std::optional<Mode> only_;
    HilbertTransformer hilbert_;
    std::vector<Complex> base_;  // baseband samples from absolute index baseStart_
    int64_t baseStart_ = 0;
    int64_t taken_ = 0;  // input samples so far; also the next baseband index

    State state_ = State::Searching;
    // The self-correlation search: window start d, running sums over the window.
    int64_t d_ = 0;
    std::complex<double> p_{};
    double ra_ = 0, rb_ = 0;
    bool sumsValid_ = false;
    // Tracking a candidate: metric values from trackStart_.
    int64_t trackStart_ = 0;
    std::vector<float> track_;
    std::vector<std::complex<double>> trackP_;

    // The frame being read.
    int64_t burst_ = 0;     // absolute baseband index of the sync burst's first sample
    double offsetHz_ = 0;   // coarse frequency offset
    int windowOffset_ = 0;  // FFT window start after each symbol's cyclic-prefix start
    std::array<Complex, kCarriers> windowTurn_{};  // undoes the window's offset, per carrier
    FrameLayout layout_;

    // Where the next frame should start when frames follow one another: just after the last
    // one read. A sync burst lost in a fade is then looked for there anyway, and a header lost
    // with it is taken to repeat the last one; the LDPC checks and the unit CRCs judge the guess.
    int64_t expected_ = -1;  // absolute baseband index; -1: none
    double expectedOffsetHz_ = 0;
    HeaderFields lastHeader_;
    bool flywheel_ = false;       // the frame being read was not found by its burst
    bool headerGuessed_ = false;  // its header did not decode and repeats the last one

    CodeBook book_;
};

}  // namespace modem
