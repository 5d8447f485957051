#include "modem/waterfall.h"

#include <fftw3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "modem/waveform.h"

namespace modem {

namespace {

constexpr int kHop = kWaterfallFft / 2;

}  // namespace

struct Waterfall::Fft {
    float* in = nullptr;
    fftwf_complex* out = nullptr;
    fftwf_plan plan = nullptr;
    Fft() {
        in = fftwf_alloc_real(kWaterfallFft);
        out = fftwf_alloc_complex(kWaterfallFft / 2 + 1);
        plan = fftwf_plan_dft_r2c_1d(kWaterfallFft, in, out, FFTW_ESTIMATE);
    }
    ~Fft() {
        fftwf_destroy_plan(plan);
        fftwf_free(in);
        fftwf_free(out);
    }
    Fft(const Fft&) = delete;
    Fft& operator=(const Fft&) = delete;
};

Waterfall::Waterfall()
    : fft_(std::make_unique<Fft>()),
      window_(kWaterfallFft),
      history_(kWaterfallFft, 0.0f),
      sum_(static_cast<size_t>(bins()), 0.0) {
    for (int i = 0; i < kWaterfallFft; ++i) {
        window_[static_cast<size_t>(i)] =
            static_cast<float>(0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / kWaterfallFft));
    }
}

Waterfall::~Waterfall() = default;

int Waterfall::bins() {
    return static_cast<int>(kWaterfallTopHz * kWaterfallFft / kSampleRate) + 1;
}

double Waterfall::binHz() { return double(kSampleRate) / kWaterfallFft; }

double Waterfall::binOf(double hz) { return hz / binHz(); }

void Waterfall::reset() {
    std::fill(history_.begin(), history_.end(), 0.0f);
    std::fill(sum_.begin(), sum_.end(), 0.0);
    transforms_ = 0;
    sinceTransform_ = 0;
    inRow_ = 0;
    head_ = 0;
    taken_ = 0;
}

void Waterfall::process(std::span<const float> audio, std::vector<WaterfallRow>& rows) {
    // A Hann window's power gain, and the scale that puts a full-scale sine at 0 dB.
    const double coherent = kWaterfallFft / 2.0;
    const double reference = 1.0 / (coherent * coherent / 4.0);
    for (const float x : audio) {
        history_[static_cast<size_t>(head_)] = x;  // the oldest sample makes way
        head_ = (head_ + 1) % kWaterfallFft;
        ++taken_;
        ++inRow_;
        if (++sinceTransform_ == kHop) {
            sinceTransform_ = 0;
            for (int i = 0; i < kWaterfallFft; ++i) {
                const size_t at = static_cast<size_t>((head_ + i) % kWaterfallFft);
                fft_->in[i] = history_[at] * window_[static_cast<size_t>(i)];
            }
            fftwf_execute(fft_->plan);
            for (size_t k = 0; k < sum_.size(); ++k) {
                const double re = fft_->out[k][0];
                const double im = fft_->out[k][1];
                sum_[k] += re * re + im * im;
            }
            ++transforms_;
        }
        if (inRow_ == kWaterfallRowSamples) {
            WaterfallRow row;
            row.firstSample = taken_ - kWaterfallRowSamples;
            row.db.resize(sum_.size());
            for (size_t k = 0; k < sum_.size(); ++k) {
                const double power = transforms_ > 0 ? sum_[k] / transforms_ * reference : 0.0;
                row.db[k] = static_cast<float>(10 * std::log10(std::max(power, 1e-14)));
            }
            rows.push_back(std::move(row));
            std::fill(sum_.begin(), sum_.end(), 0.0);
            transforms_ = 0;
            inRow_ = 0;
        }
    }
}

uint32_t waterfallColour(float db, float floorDb, float ceilingDb) {
    // Stops of the scale, from the floor up.
    static constexpr std::array<std::array<float, 3>, 6> kStops{{
        {0, 0, 0},
        {0, 0, 160},
        {0, 200, 230},
        {240, 230, 0},
        {230, 20, 0},
        {255, 255, 255},
    }};
    const float span = std::max(ceilingDb - floorDb, 1e-3f);
    const float t = std::clamp((db - floorDb) / span, 0.0f, 1.0f) * (kStops.size() - 1);
    const size_t i = std::min(static_cast<size_t>(t), kStops.size() - 2);
    const float f = t - static_cast<float>(i);
    uint32_t colour = 0;
    for (int c = 0; c < 3; ++c) {
        const float v = kStops[i][c] + (kStops[i + 1][c] - kStops[i][c]) * f;
        colour = (colour << 8) | static_cast<uint32_t>(std::lround(v));
    }
    return colour;
}

}  // namespace modem
