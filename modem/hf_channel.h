#pragma once

// A simulated HF radio path for the modem's tests, sweeps and benchmarks: real audio samples of
// an SSB signal (300-2700 Hz) in, the audio a receiver would hear out.
//
// The chain, each stage switchable:
//
//   x (real) -> analytic signal z (Hilbert FIR) -> Watterson two-path fading
//            -> frequency offset (mistuning) -> real part -> sample-clock error (libsoxr)
//            -> + white Gaussian noise -> out
//
// Noise is added last, at the receiver's sample rate, so it is white from 0 to fs/2 with the
// density the SNR asks for whatever the clock error. Every random stage has its own generator
// derived from the one seed, so switching noise on or off leaves the fading untouched: the same
// channel with noise off gives the noiseless reference of the same run.
//
// Streaming: process() takes chunks of any size and the concatenated output is the same, bit
// for bit, as one call with the whole signal (the sample clock of every stage is an integer
// count, never a sum of chunk lengths in floating point). With a clock error libsoxr holds back
// a few hundred samples; flush() hands them out at the end of the signal.
//
// Delay: output sample k carries the input at time k / (1 + clockPpm 1e-6) - delaySamples(),
// in input samples. The delay is the Hilbert filter's centre tap; libsoxr keeps the time
// alignment itself (it holds samples back, it does not delay them).

#include <complex>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string_view>
#include <vector>

namespace modem {

// The bandwidth SNR is quoted in: SNR = signal power / (noise density x 3000 Hz).
inline constexpr double kNoiseBandwidthHz = 3000.0;

// Analytic signal of a real one: z[n] = x[n - D] + j H{x}[n - D], a type III FIR Hilbert
// transformer (odd length 2D + 1, taps only at odd offsets from the centre), the ideal taps
// 2 / (pi k) under a Kaiser window.
//
// The length is chosen from the sample rate (Kaiser's formula for 70 dB) so that the response is
// flat from 300 Hz to fs/2 - 300 Hz: the window's transition, 600 Hz wide, straddles the jump of
// H at 0 Hz (and, mirrored, at fs/2). Measured: gain within 0.003 dB, negative frequencies 71 dB
// down. That is 59 taps (D = 29,
// 3.6 ms) at 8000 Hz and 347 taps (D = 173) at 48000 Hz; half of the taps are zero. An FIR
// rather than FFT overlap-save: at these lengths direct convolution costs 15-90 multiply-adds
// a sample, it keeps no block latency, and chunk independence is trivial.
class HilbertTransformer {
public:
    explicit HilbertTransformer(double sampleRateHz);

    // out.size() must equal in.size().
    void process(std::span<const float> in, std::span<std::complex<float>> out);
    void reset();

    // D: the real part of out[n] is exactly in[n - D].
    [[nodiscard]] int delaySamples() const { return delay_; }

private:
    int delay_ = 0;               // D, odd, so that the outermost taps (offset +-D) are nonzero
    std::vector<float> oddTaps_;  // oddTaps_[i] = h at offset 2i + 1; h(-k) = -h(k)
    std::vector<float> history_;  // the last 2D + 1 inputs, written twice (at i and i + len)
    int historyLength_ = 0;       // 2D + 1
    int writeIndex_ = 0;          // 0 .. historyLength_ - 1
};

// A complex Gaussian tap process of mean power 1 whose Doppler spectrum is a Gaussian with
// standard deviation sigma = spreadHz / 2 (the spread is the 2-sigma width, as in the usual
// statement of the Watterson model): S(f) ~ exp(-f^2 / (2 sigma^2)).
//
// Generated the usual way, as filtered noise: complex white Gaussian noise at a low tap rate
// (16 x spread = 32 sigma, so the tap band's edges lie 16 sigma out, where the Gaussian is
// nothing) through an FIR whose response is the square root of the Gaussian (again a Gaussian,
// 3.6 tap-rate samples wide, truncated at +-5 widths: 37 taps), normalised to unit output power;
// then interpolated to the audio rate with a 4-point cubic (Lagrange) interpolator. At 1/32 of
// the tap rate its passband droops by 0.0002 dB and its images lie 100 dB down (63 dB for
// components at 3 sigma), so no spurious Doppler lines appear. Cost per audio sample: the
// interpolation, plus 37 multiply-adds per tap-rate sample (a tap-rate sample every 50 audio
// samples even for flutter at 8000 Hz). The filter starts full of noise, so the process is
// stationary from the first sample.
//
// spreadHz = 0 freezes the tap: one complex Gaussian draw (mean power 1) held for ever.
class GaussianTapProcess {
public:
    GaussianTapProcess(double spreadHz, double sampleRateHz, uint32_t seed);

    // The next out.size() tap values at the audio rate.
    void process(std::span<std::complex<float>> out);
    void reset();

    [[nodiscard]] double tapRateHz() const { return tapRateHz_; }

private:
    std::complex<float> nextTapRateSample();

    double spreadHz_ = 0.0;
    double sampleRateHz_ = 8000.0;
    uint32_t seed_ = 0;
    double tapRateHz_ = 0.0;                  // 16 x spread, at most sampleRateHz
    std::vector<float> filter_;               // real Gaussian taps, sum of squares 1
    std::vector<std::complex<float>> noise_;  // filter history, written twice
    int noiseIndex_ = 0;
    std::complex<float> frozen_{};     // the tap when spreadHz is 0
    std::complex<float> points_[4]{};  // tap-rate samples i - 1, i, i + 1, i + 2
    int64_t pointsIndex_ = 0;          // i
    int64_t sampleCount_ = 0;          // audio samples handed out since reset()
    std::mt19937 random_;
    std::normal_distribution<float> gauss_{0.0f, 0.70710678f};  // each of re, im: power 1/2
};

// A Watterson two-path profile: the second path's delay and each path's Doppler spread.
struct WattersonProfile {
    double delayMs = 0.0;   // second path after the first, ms, >= 0; rounded to whole samples
    double spreadHz = 0.0;  // 2-sigma Doppler spread of each path, Hz, >= 0; 0 freezes the paths
};
inline constexpr WattersonProfile kCcirGood{0.5, 0.1};
inline constexpr WattersonProfile kCcirModerate{1.0, 0.5};
inline constexpr WattersonProfile kCcirPoor{2.0, 1.0};
inline constexpr WattersonProfile kCcirFlutter{0.5, 10.0};

// "good", "moderate", "poor", "flutter"; nothing for another name.
[[nodiscard]] std::optional<WattersonProfile> wattersonProfile(std::string_view name);

struct HfChannelConfig {
    double sampleRateHz = 8000.0;  // of the input and the output, Hz, > 0
    uint32_t seed = 1;             // same seed and settings: same output, bit for bit

    // Additive white Gaussian noise.
    bool noise = false;
    double snrDb = 20.0;  // signal power / (one-sided noise density x 3000 Hz)
    // The clean input's mean power (mean square), the SNR's reference. A streaming channel
    // cannot know it in advance, so the caller states it: the modulator's mean output power,
    // or meanPower() of a whole recording (simulateRecording() does that). Default: a sine of
    // amplitude 1.
    double signalPower = 0.5;

    // Watterson fading: two independent paths of mean power 1/2 each, so the mean power of the
    // signal is unchanged.
    bool fading = false;
    WattersonProfile watterson = kCcirModerate;

    double offsetHz = 0.0;  // mistuning: every frequency of the signal moves up by this much

    // Sample-clock error of the receiver's sound card, parts per million. Positive: the
    // receiver's clock runs fast, so it takes (1 + clockPpm 1e-6) samples for every transmitted
    // one and a tone at f appears at f / (1 + clockPpm 1e-6). 0 bypasses the resampler.
    double clockPpm = 0.0;
};

class HfChannel {
public:
    explicit HfChannel(const HfChannelConfig& config);
    ~HfChannel();
    HfChannel(HfChannel&&) noexcept;
    HfChannel& operator=(HfChannel&&) noexcept;
    HfChannel(const HfChannel&) = delete;
    HfChannel& operator=(const HfChannel&) = delete;

    // out is replaced by the output this chunk produced: in.size() samples without a clock
    // error; with one, whatever the resampler releases (about in.size() x the ratio, after its
    // initial hold-back of a few hundred samples).
    void process(std::span<const float> in, std::vector<float>& out);
    // End of the signal: the Hilbert filter's D samples (the signal followed by silence) and
    // whatever the resampler still holds. process() after flush() needs reset() first.
    void flush(std::vector<float>& out);
    // Back to the state after construction: the same output again for the same input.
    void reset();

    [[nodiscard]] const HfChannelConfig& config() const { return config_; }
    // See the file comment: output sample k carries input time k / ratio - delaySamples().
    [[nodiscard]] double delaySamples() const { return hilbert_.delaySamples(); }
    // Standard deviation of the added noise per output sample (0 with noise off).
    [[nodiscard]] double noiseRms() const { return noiseRms_; }
    // The second path's delay in whole samples (0 with fading off).
    [[nodiscard]] int pathDelaySamples() const { return pathDelay_; }

private:
    void processAnalytic(std::span<const float> in, std::vector<float>& real);
    void resample(std::span<const float> in, bool last, std::vector<float>& out);
    void addNoise(std::span<float> samples);

    struct Soxr;  // libsoxr's resampler, kept out of this header

    HfChannelConfig config_;
    HilbertTransformer hilbert_;
    GaussianTapProcess path1_;
    GaussianTapProcess path2_;
    int pathDelay_ = 0;
    std::vector<std::complex<float>> delayLine_;  // the last pathDelay_ analytic samples
    int delayIndex_ = 0;
    double phaseCycles_ = 0.0;  // offset oscillator phase, cycles in [0, 1)
    double noiseRms_ = 0.0;
    std::mt19937 noiseRandom_;
    std::normal_distribution<float> noiseGauss_;
    std::unique_ptr<Soxr> soxr_;
    // Work buffers, grown to the largest chunk seen; no allocation per sample.
    std::vector<std::complex<float>> analytic_;
    std::vector<std::complex<float>> taps1_;
    std::vector<std::complex<float>> taps2_;
    std::vector<float> real_;
};

// Mean square of a recording, for HfChannelConfig::signalPower. Silences count: for a signal
// with gaps, state the power of the signal itself instead.
[[nodiscard]] double meanPower(std::span<const float> samples);

// A whole recording through the channel: the signal power measured over the recording first
// (when config.signalPower <= 0; otherwise as given), then process() and flush(). The output is
// the full stream, delay included (see HfChannel).
[[nodiscard]] std::vector<float> simulateRecording(HfChannelConfig config,
                                                   std::span<const float> in);

}  // namespace modem
