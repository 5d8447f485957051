#include "modem/hf_channel.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace modem {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Hilbert design: 70 dB, and a transition 2 x 300 Hz wide centred on the jump at 0 Hz.
constexpr double kHilbertAttenuationDb = 70.0;
constexpr double kHilbertTransitionHz = 600.0;

// Tap rate of the fading processes in multiples of the spread (16 x 2 sigma = 32 sigma: the
// Doppler spectrum's +-3 sigma cover less than a fifth of the tap band), and the length of the
// Gaussian shaping filter in its own standard deviations either side.
constexpr double kTapRatePerSpread = 16.0;
constexpr double kTapFilterHalfWidths = 5.0;

// Independent generators from one seed: the seed and a stream number through std::seed_seq,
// whose mixing the standard fixes, so streams 1, 2, 3 share no structure.
uint32_t streamSeed(uint32_t seed, uint32_t stream) {
    std::seed_seq seq{seed, stream};
    uint32_t out = 0;
    seq.generate(&out, &out + 1);
    return out;
}

enum Stream : uint32_t { kNoiseStream = 1, kPath1Stream = 2, kPath2Stream = 3 };

HfChannelConfig sanitised(HfChannelConfig c) {
    if (!(c.sampleRateHz > 0.0) || !std::isfinite(c.sampleRateHz)) c.sampleRateHz = 8000.0;
    if (!std::isfinite(c.snrDb)) c.snrDb = 100.0;
    if (!(c.signalPower >= 0.0) || !std::isfinite(c.signalPower)) c.signalPower = 0.0;
    if (!(c.watterson.delayMs >= 0.0) || !std::isfinite(c.watterson.delayMs)) {
        c.watterson.delayMs = 0.0;
    }
    c.watterson.delayMs = std::min(c.watterson.delayMs, 1000.0);
    if (!(c.watterson.spreadHz >= 0.0) || !std::isfinite(c.watterson.spreadHz)) {
        c.watterson.spreadHz = 0.0;
    }
    if (!std::isfinite(c.offsetHz)) c.offsetHz = 0.0;
    // +-10 %: far beyond any sound card, and keeps libsoxr's ratio positive and sane.
    if (!std::isfinite(c.clockPpm)) c.clockPpm = 0.0;
    c.clockPpm = std::clamp(c.clockPpm, -1e5, 1e5);
    return c;
}

}  // namespace

// --- HilbertTransformer ---

HilbertTransformer::HilbertTransformer(double sampleRateHz) {
    if (!(sampleRateHz > 0.0) || !std::isfinite(sampleRateHz)) sampleRateHz = 8000.0;
    // Kaiser's estimate of the length for a given attenuation and transition width, rounded up
    // to an odd D.
    const double transition = kTwoPi * kHilbertTransitionHz / sampleRateHz;
    const double order = (kHilbertAttenuationDb - 7.95) / (2.285 * transition);
    int d = static_cast<int>(std::ceil(order / 2.0));
    d = std::max(d, 1) | 1;
    delay_ = d;
    const double beta = 0.1102 * (kHilbertAttenuationDb - 8.7);
    const double i0Beta = std::cyl_bessel_i(0.0, beta);
    oddTaps_.resize(static_cast<size_t>((d + 1) / 2));
    for (size_t i = 0; i < oddTaps_.size(); ++i) {
        const double k = 2.0 * static_cast<double>(i) + 1.0;
        const double r = k / d;
        const double window = std::cyl_bessel_i(0.0, beta * std::sqrt(1.0 - r * r)) / i0Beta;
        oddTaps_[i] = static_cast<float>(2.0 / (std::numbers::pi * k) * window);
    }
    historyLength_ = 2 * d + 1;
    history_.assign(static_cast<size_t>(2 * historyLength_), 0.0f);
    writeIndex_ = 0;
}

void HilbertTransformer::reset() {
    std::fill(history_.begin(), history_.end(), 0.0f);
    writeIndex_ = 0;
}

void HilbertTransformer::process(std::span<const float> in, std::span<std::complex<float>> out) {
    const size_t n = std::min(in.size(), out.size());
    const int taps = static_cast<int>(oddTaps_.size());
    for (size_t s = 0; s < n; ++s) {
        history_[static_cast<size_t>(writeIndex_)] = in[s];
        history_[static_cast<size_t>(writeIndex_ + historyLength_)] = in[s];
        // The last 2D + 1 inputs, oldest first, are history_[writeIndex_ + 1 ...]; the centre
        // x[n - D] sits D after the oldest.
        const float* centre = history_.data() + writeIndex_ + 1 + delay_;
        float imag = 0.0f;
        for (int i = 0; i < taps; ++i) {
            const int k = 2 * i + 1;
            imag += oddTaps_[static_cast<size_t>(i)] * (centre[-k] - centre[k]);
        }
        out[s] = {*centre, imag};
        if (++writeIndex_ == historyLength_) writeIndex_ = 0;
    }
}

// --- GaussianTapProcess ---

GaussianTapProcess::GaussianTapProcess(double spreadHz, double sampleRateHz, uint32_t seed)
    : spreadHz_(std::isfinite(spreadHz) && spreadHz > 0.0 ? spreadHz : 0.0),
      sampleRateHz_(std::isfinite(sampleRateHz) && sampleRateHz > 0.0 ? sampleRateHz : 8000.0),
      seed_(seed) {
    if (spreadHz_ > 0.0) {
        tapRateHz_ = std::min(kTapRatePerSpread * spreadHz_, sampleRateHz_);
        // |H(f)|^2 = exp(-f^2 / (2 sigma^2)), so h(t) ~ exp(-t^2 / (2 tau^2)) with
        // tau = 1 / (2 sqrt(2) pi sigma) seconds.
        const double sigmaHz = spreadHz_ / 2.0;
        const double tauSamples =
            tapRateHz_ / (2.0 * std::numbers::sqrt2 * std::numbers::pi * sigmaHz);
        const int half =
            std::max(1, static_cast<int>(std::ceil(kTapFilterHalfWidths * tauSamples)));
        filter_.resize(static_cast<size_t>(2 * half + 1));
        double energy = 0.0;
        for (int k = -half; k <= half; ++k) {
            const double v = std::exp(-0.5 * (k / tauSamples) * (k / tauSamples));
            filter_[static_cast<size_t>(k + half)] = static_cast<float>(v);
            energy += v * v;
        }
        const float norm = static_cast<float>(1.0 / std::sqrt(energy));
        for (float& v : filter_) v *= norm;
        noise_.assign(2 * filter_.size(), {});
    }
    reset();
}

std::complex<float> GaussianTapProcess::nextTapRateSample() {
    const int length = static_cast<int>(filter_.size());
    const std::complex<float> w{gauss_(random_), gauss_(random_)};
    noise_[static_cast<size_t>(noiseIndex_)] = w;
    noise_[static_cast<size_t>(noiseIndex_ + length)] = w;
    if (++noiseIndex_ == length) noiseIndex_ = 0;
    // The filter is symmetric, so the order of the window does not matter.
    const std::complex<float>* window = noise_.data() + noiseIndex_;
    std::complex<float> sum{};
    for (int k = 0; k < length; ++k) sum += filter_[static_cast<size_t>(k)] * window[k];
    return sum;
}

void GaussianTapProcess::reset() {
    random_.seed(seed_);
    gauss_.reset();
    sampleCount_ = 0;
    pointsIndex_ = 0;
    noiseIndex_ = 0;
    if (spreadHz_ == 0.0) {
        frozen_ = {gauss_(random_), gauss_(random_)};
        return;
    }
    // Fill the filter with noise so the first output is already a stationary sample, then the
    // four interpolation points around tap-rate index 0.
    for (size_t i = 0; i < filter_.size(); ++i) (void)nextTapRateSample();
    for (auto& p : points_) p = nextTapRateSample();
}

void GaussianTapProcess::process(std::span<std::complex<float>> out) {
    if (spreadHz_ == 0.0) {
        std::fill(out.begin(), out.end(), frozen_);
        return;
    }
    const double step = tapRateHz_ / sampleRateHz_;
    for (auto& tap : out) {
        // The position from the sample count, not a running sum: the same for any chunking.
        const double t = static_cast<double>(sampleCount_++) * step;
        const auto i = static_cast<int64_t>(std::floor(t));
        while (pointsIndex_ < i) {
            points_[0] = points_[1];
            points_[1] = points_[2];
            points_[2] = points_[3];
            points_[3] = nextTapRateSample();
            ++pointsIndex_;
        }
        const auto mu = static_cast<float>(t - static_cast<double>(i));
        // Lagrange weights for the points at -1, 0, 1, 2.
        const float c0 = -mu * (mu - 1.0f) * (mu - 2.0f) / 6.0f;
        const float c1 = (mu + 1.0f) * (mu - 1.0f) * (mu - 2.0f) / 2.0f;
        const float c2 = -(mu + 1.0f) * mu * (mu - 2.0f) / 2.0f;
        const float c3 = (mu + 1.0f) * mu * (mu - 1.0f) / 6.0f;
        tap = c0 * points_[0] + c1 * points_[1] + c2 * points_[2] + c3 * points_[3];
    }
}

// --- Watterson profiles ---

std::optional<WattersonProfile> wattersonProfile(std::string_view name) {
    if (name == "good") return kCcirGood;
    if (name == "moderate") return kCcirModerate;
    if (name == "poor") return kCcirPoor;
    if (name == "flutter") return kCcirFlutter;
    return std::nullopt;
}

// --- HfChannel ---

struct HfChannel::Soxr {
    soxr_t handle = nullptr;
    explicit Soxr(double ratio) {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        // 20-bit quality, linear phase: libsoxr's default. One thread, so that nothing depends
        // on the machine.
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_LINEAR_PHASE);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        soxr_error_t error = nullptr;
        handle = soxr_create(1.0, ratio, 1, &error, &io, &quality, &runtime);
        if (error != nullptr) handle = nullptr;
    }
    ~Soxr() {
        if (handle != nullptr) soxr_delete(handle);
    }
    Soxr(const Soxr&) = delete;
    Soxr& operator=(const Soxr&) = delete;
};

HfChannel::HfChannel(const HfChannelConfig& config)
    : config_(sanitised(config)),
      hilbert_(config_.sampleRateHz),
      path1_(config_.watterson.spreadHz, config_.sampleRateHz,
             streamSeed(config_.seed, kPath1Stream)),
      path2_(config_.watterson.spreadHz, config_.sampleRateHz,
             streamSeed(config_.seed, kPath2Stream)) {
    if (config_.fading) {
        pathDelay_ =
            static_cast<int>(std::lround(config_.watterson.delayMs * 1e-3 * config_.sampleRateHz));
    }
    if (config_.noise) {
        // Density N0 = P / (SNR x 3000 Hz) over 0 .. fs/2: variance N0 x fs / 2.
        const double snr = std::pow(10.0, config_.snrDb / 10.0);
        const double density = config_.signalPower / (snr * kNoiseBandwidthHz);
        noiseRms_ = std::sqrt(density * config_.sampleRateHz / 2.0);
    }
    reset();
}

HfChannel::~HfChannel() = default;
HfChannel::HfChannel(HfChannel&&) noexcept = default;
HfChannel& HfChannel::operator=(HfChannel&&) noexcept = default;

void HfChannel::reset() {
    hilbert_.reset();
    path1_.reset();
    path2_.reset();
    delayLine_.assign(static_cast<size_t>(pathDelay_), {});
    delayIndex_ = 0;
    phaseCycles_ = 0.0;
    noiseRandom_.seed(streamSeed(config_.seed, kNoiseStream));
    noiseGauss_.reset();
    soxr_.reset();
    if (config_.clockPpm != 0.0) soxr_ = std::make_unique<Soxr>(1.0 + config_.clockPpm * 1e-6);
}

void HfChannel::processAnalytic(std::span<const float> in, std::vector<float>& real) {
    const size_t n = in.size();
    if (analytic_.size() < n) analytic_.resize(n);
    const std::span<std::complex<float>> z(analytic_.data(), n);
    hilbert_.process(in, z);

    if (config_.fading) {
        if (taps1_.size() < n) {
            taps1_.resize(n);
            taps2_.resize(n);
        }
        path1_.process({taps1_.data(), n});
        path2_.process({taps2_.data(), n});
        // Each path's tap has mean power 1; scaled to 1/2 each, so the two independent paths
        // keep the mean power of the signal.
        const float half = std::numbers::sqrt2_v<float> / 2.0f;
        for (size_t i = 0; i < n; ++i) {
            std::complex<float> late = z[i];
            if (pathDelay_ > 0) {
                late = delayLine_[static_cast<size_t>(delayIndex_)];
                delayLine_[static_cast<size_t>(delayIndex_)] = z[i];
                if (++delayIndex_ == pathDelay_) delayIndex_ = 0;
            }
            z[i] = half * (taps1_[i] * z[i] + taps2_[i] * late);
        }
    }

    if (config_.offsetHz != 0.0) {
        // Phase in cycles, wrapped every sample: no growth of the argument, and each sample's
        // phase depends only on how many came before it.
        const double step = config_.offsetHz / config_.sampleRateHz;
        for (size_t i = 0; i < n; ++i) {
            const double angle = kTwoPi * phaseCycles_;
            z[i] *= std::complex<float>(static_cast<float>(std::cos(angle)),
                                        static_cast<float>(std::sin(angle)));
            phaseCycles_ += step;
            phaseCycles_ -= std::floor(phaseCycles_);
        }
    }

    real.resize(n);
    for (size_t i = 0; i < n; ++i) real[i] = z[i].real();
}

void HfChannel::resample(std::span<const float> in, bool last, std::vector<float>& out) {
    out.clear();
    if (!soxr_ || soxr_->handle == nullptr) {
        out.assign(in.begin(), in.end());
        return;
    }
    const double ratio = 1.0 + config_.clockPpm * 1e-6;
    size_t produced = 0;
    auto room = [&] {
        if (out.size() < produced + 256) out.resize(produced + 256 + out.size());
        return out.size() - produced;
    };
    out.resize(static_cast<size_t>(static_cast<double>(in.size()) * ratio) + 64);
    size_t used = 0;
    // Feed everything, then drain: libsoxr hands out each block as soon as its input is
    // complete, so the samples released depend only on the input so far, not on the chunking.
    while (used < in.size()) {
        size_t idone = 0;
        size_t odone = 0;
        const size_t olen = room();
        soxr_process(soxr_->handle, in.data() + used, in.size() - used, &idone,
                     out.data() + produced, olen, &odone);
        used += idone;
        produced += odone;
        if (idone == 0 && odone == 0) break;  // cannot happen with room to write; never spin
    }
    static const float kNone = 0.0f;
    for (;;) {
        size_t idone = 0;
        size_t odone = 0;
        const size_t olen = room();
        // A null input tells libsoxr the signal has ended; a zero-length one only asks for more.
        soxr_process(soxr_->handle, last ? nullptr : &kNone, 0, &idone, out.data() + produced, olen,
                     &odone);
        produced += odone;
        if (odone == 0) break;
    }
    out.resize(produced);
}

void HfChannel::addNoise(std::span<float> samples) {
    if (!config_.noise) return;
    const auto rms = static_cast<float>(noiseRms_);
    for (float& s : samples) s += rms * noiseGauss_(noiseRandom_);
}

void HfChannel::process(std::span<const float> in, std::vector<float>& out) {
    processAnalytic(in, real_);
    resample(real_, false, out);
    addNoise(out);
}

void HfChannel::flush(std::vector<float>& out) {
    // D zeros push the Hilbert filter's held samples out; they stand for silence after the
    // signal.
    std::vector<float> zeros(static_cast<size_t>(hilbert_.delaySamples()), 0.0f);
    processAnalytic(zeros, real_);
    resample(real_, true, out);
    addNoise(out);
}

// --- Whole recordings ---

double meanPower(std::span<const float> samples) {
    if (samples.empty()) return 0.0;
    double sum = 0.0;
    for (const float s : samples) sum += static_cast<double>(s) * s;
    return sum / static_cast<double>(samples.size());
}

std::vector<float> simulateRecording(HfChannelConfig config, std::span<const float> in) {
    if (!(config.signalPower > 0.0)) config.signalPower = meanPower(in);
    HfChannel channel(config);
    std::vector<float> out;
    std::vector<float> tail;
    channel.process(in, out);
    channel.flush(tail);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

}  // namespace modem
