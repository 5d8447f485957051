#include "modem/tests/test_signals.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "modem/hf_channel.h"

namespace modem::test {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

double hann(size_t n, size_t count) {
    return 0.5 -
           0.5 * std::cos(kTwoPi * (static_cast<double>(n) + 0.5) / static_cast<double>(count));
}

}  // namespace

std::vector<float> tone(size_t count, double sampleRateHz, double frequencyHz, double amplitude,
                        double phaseRadians) {
    std::vector<float> out(count);
    for (size_t n = 0; n < count; ++n) {
        // The phase from n in double, reduced to cycles first, so long tones stay exact.
        double cycles = frequencyHz * static_cast<double>(n) / sampleRateHz;
        cycles -= std::floor(cycles);
        out[n] = static_cast<float>(amplitude * std::sin(kTwoPi * cycles + phaseRadians));
    }
    return out;
}

std::vector<float> passbandNoise(size_t count, double sampleRateHz, uint32_t seed, double power,
                                 double lowHz, double highHz) {
    const size_t bins = count / 2 + 1;
    std::vector<std::complex<double>> spectrum(bins);
    std::mt19937 random(seed);
    std::normal_distribution<double> gauss;
    for (size_t k = 0; k < bins; ++k) {
        const double f = static_cast<double>(k) * sampleRateHz / static_cast<double>(count);
        // Draw for every bin, so the band edges do not change the other bins' values.
        const std::complex<double> v{gauss(random), gauss(random)};
        if (f >= lowHz && f <= highHz) spectrum[k] = v;
    }
    std::vector<double> out(count);
    fftw_plan plan = fftw_plan_dft_c2r_1d(static_cast<int>(count),
                                          reinterpret_cast<fftw_complex*>(spectrum.data()),
                                          out.data(), FFTW_ESTIMATE);
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    double sum = 0.0;
    for (const double v : out) sum += v * v;
    const double scale = sum > 0.0 ? std::sqrt(power * static_cast<double>(count) / sum) : 0.0;
    std::vector<float> result(count);
    for (size_t n = 0; n < count; ++n) result[n] = static_cast<float>(out[n] * scale);
    return result;
}

double snrDbAgainst(std::span<const float> received, std::span<const float> reference,
                    double sampleRateHz) {
    const size_t n = std::min(received.size(), reference.size());
    double rr = 0.0;
    double xr = 0.0;
    for (size_t i = 0; i < n; ++i) {
        rr += static_cast<double>(reference[i]) * reference[i];
        xr += static_cast<double>(received[i]) * reference[i];
    }
    const double gain = rr > 0.0 ? xr / rr : 0.0;
    double noise = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double e = received[i] - gain * reference[i];
        noise += e * e;
    }
    const double signalPower = gain * gain * rr / static_cast<double>(n);
    const double density = noise / static_cast<double>(n) / (sampleRateHz / 2.0);
    return 10.0 * std::log10(signalPower / (density * kNoiseBandwidthHz));
}

double bandPower(std::span<const float> x, double sampleRateHz, double lowHz, double highHz) {
    const size_t count = x.size();
    std::vector<double> in(x.begin(), x.end());
    std::vector<std::complex<double>> out(count / 2 + 1);
    fftw_plan plan =
        fftw_plan_dft_r2c_1d(static_cast<int>(count), in.data(),
                             reinterpret_cast<fftw_complex*>(out.data()), FFTW_ESTIMATE);
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    const double n = static_cast<double>(count);
    double sum = 0.0;
    for (size_t k = 0; k < out.size(); ++k) {
        const double f = static_cast<double>(k) * sampleRateHz / n;
        if (f < lowHz || f >= highHz) continue;
        // Bins 0 and N/2 have no mirror image; every other bin stands for two.
        const bool single = k == 0 || 2 * k == count;
        sum += (single ? 1.0 : 2.0) * std::norm(out[k]) / (n * n);
    }
    return sum;
}

std::vector<double> powerSpectrum(std::span<const std::complex<float>> x, int fftSize) {
    const auto size = static_cast<size_t>(fftSize);
    std::vector<std::complex<double>> buffer(size);
    fftw_plan plan = fftw_plan_dft_1d(fftSize, reinterpret_cast<fftw_complex*>(buffer.data()),
                                      reinterpret_cast<fftw_complex*>(buffer.data()), FFTW_FORWARD,
                                      FFTW_ESTIMATE);
    std::vector<double> sum(size, 0.0);
    double windowPower = 0.0;
    for (size_t n = 0; n < size; ++n) windowPower += hann(n, size) * hann(n, size);
    int segments = 0;
    for (size_t start = 0; start + size <= x.size(); start += size / 2) {
        for (size_t n = 0; n < size; ++n) {
            buffer[n] = hann(n, size) * std::complex<double>(x[start + n]);
        }
        fftw_execute(plan);
        for (size_t k = 0; k < size; ++k) sum[k] += std::norm(buffer[k]);
        ++segments;
    }
    fftw_destroy_plan(plan);
    for (double& v : sum) v /= std::max(segments, 1) * windowPower * static_cast<double>(size);
    return sum;
}

std::vector<std::complex<double>> autocorrelation(std::span<const std::complex<float>> x,
                                                  int maxLag) {
    size_t size = 1;
    while (size < x.size() + static_cast<size_t>(maxLag)) size *= 2;
    std::vector<std::complex<double>> buffer(size);
    std::copy(x.begin(), x.end(), buffer.begin());
    auto* data = reinterpret_cast<fftw_complex*>(buffer.data());
    const int n = static_cast<int>(size);
    fftw_plan forward = fftw_plan_dft_1d(n, data, data, FFTW_FORWARD, FFTW_ESTIMATE);
    fftw_plan backward = fftw_plan_dft_1d(n, data, data, FFTW_BACKWARD, FFTW_ESTIMATE);
    fftw_execute(forward);
    for (auto& v : buffer) v = std::norm(v);
    fftw_execute(backward);
    fftw_destroy_plan(forward);
    fftw_destroy_plan(backward);
    // The inverse transform of |X|^2 is sum x[n] conj(x[n - k]) at k, times the size; the
    // padding keeps the wrapped-around products out for k <= maxLag.
    std::vector<std::complex<double>> r(static_cast<size_t>(maxLag) + 1);
    const double scale = 1.0 / (static_cast<double>(size) * static_cast<double>(x.size()));
    for (size_t k = 0; k < r.size(); ++k) r[k] = buffer[k] * scale;
    return r;
}

std::vector<std::complex<float>> analytic(std::span<const float> x, double sampleRateHz) {
    HilbertTransformer hilbert(sampleRateHz);
    std::vector<std::complex<float>> z(x.size());
    hilbert.process(x, z);
    const auto d = static_cast<size_t>(hilbert.delaySamples());
    if (z.size() <= d) return {};
    z.erase(z.begin(), z.begin() + static_cast<std::ptrdiff_t>(d));
    return z;
}

double toneFrequencyHz(std::span<const float> x, double sampleRateHz) {
    const std::vector<std::complex<float>> z = analytic(x, sampleRateHz);
    constexpr size_t kEdge = 100;
    if (z.size() < 2 * kEdge + 2) return 0.0;
    // Unwrap the phase sample to sample, then fit phase = a + b n.
    double phase = std::arg(z[kEdge]);
    double sn = 0.0, sp = 0.0, snn = 0.0, snp = 0.0;
    size_t count = 0;
    for (size_t n = kEdge; n + kEdge < z.size(); ++n) {
        if (n > kEdge) {
            phase +=
                std::arg(std::complex<double>(z[n]) * std::conj(std::complex<double>(z[n - 1])));
        }
        const auto t = static_cast<double>(n);
        sn += t;
        sp += phase;
        snn += t * t;
        snp += t * phase;
        ++count;
    }
    const auto c = static_cast<double>(count);
    const double slope = (c * snp - sn * sp) / (c * snn - sn * sn);
    return slope * sampleRateHz / kTwoPi;
}

std::complex<double> amplitudeAt(std::span<const float> x, double sampleRateHz,
                                 double frequencyHz) {
    std::complex<double> sum{};
    double windowSum = 0.0;
    for (size_t n = 0; n < x.size(); ++n) {
        double cycles = frequencyHz * static_cast<double>(n) / sampleRateHz;
        cycles -= std::floor(cycles);
        const double w = hann(n, x.size());
        sum += w * static_cast<double>(x[n]) * std::polar(1.0, -kTwoPi * cycles);
        windowSum += w;
    }
    return windowSum > 0.0 ? 2.0 * sum / windowSum : std::complex<double>{};
}

}  // namespace modem::test
