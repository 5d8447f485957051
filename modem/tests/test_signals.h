#pragma once

// Test signals and measurements for the modem's tests: passband signals to send through the
// channel simulator, and the SNR, frequency and spectra to check what comes out. The spectra use
// FFTW; the frequency and envelope measurements use the modem's own Hilbert transformer, which
// hf_channel_test.cpp checks on its own first.

#include <complex>
#include <cstdint>
#include <span>
#include <vector>

namespace modem::test {

// A sine: amplitude x sin(2 pi f n / fs + phase), n = 0 .. count - 1.
[[nodiscard]] std::vector<float> tone(size_t count, double sampleRateHz, double frequencyHz,
                                      double amplitude = 1.0, double phaseRadians = 0.0);

// Gaussian noise confined to lowHz .. highHz (every FFT bin of a count-long block outside it is
// zero, so the block repeats seamlessly), scaled to the given mean power. Seeded.
[[nodiscard]] std::vector<float> passbandNoise(size_t count, double sampleRateHz, uint32_t seed,
                                               double power = 0.5, double lowHz = 300.0,
                                               double highHz = 2700.0);

// SNR in dB of received against the clean reference it should equal (same length, aligned),
// quoted in 3000 Hz like the channel simulator: the reference scaled by its least-squares gain
// is the signal, the rest is taken as white noise over 0 .. fs/2.
[[nodiscard]] double snrDbAgainst(std::span<const float> received, std::span<const float> reference,
                                  double sampleRateHz);

// Power of a real signal between lowHz and highHz from one FFT over the whole record (one-sided:
// the band powers of 0 .. fs/2 add up to the mean square).
[[nodiscard]] double bandPower(std::span<const float> x, double sampleRateHz, double lowHz,
                               double highHz);

// Averaged periodogram (Hann window, half overlap) of a complex signal, fftSize bins in FFT
// order (bin k at k fs / fftSize, the upper half negative), scaled so the bins sum to the mean
// power.
[[nodiscard]] std::vector<double> powerSpectrum(std::span<const std::complex<float>> x,
                                                int fftSize);

// Autocorrelation of a complex signal at lags 0 .. maxLag: R[k] = sum x[n + k] conj(x[n]) / N
// (the biased estimate; by FFT of the zero-padded record, so long records are cheap).
[[nodiscard]] std::vector<std::complex<double>> autocorrelation(
    std::span<const std::complex<float>> x, int maxLag);

// Analytic signal of x, with the Hilbert filter's delay removed: out[n] belongs to x[n]; the
// last D samples of x are lost.
[[nodiscard]] std::vector<std::complex<float>> analytic(std::span<const float> x,
                                                        double sampleRateHz);

// Frequency of a single tone from the slope of its unwrapped phase (least squares over the
// analytic signal, the first and last 100 samples left out).
[[nodiscard]] double toneFrequencyHz(std::span<const float> x, double sampleRateHz);

// The complex amplitude of x at one frequency: 2/N sum x[n] exp(-j 2 pi f n / fs) under a
// Hann window (corrected for its gain), so a sine of amplitude A gives magnitude A.
[[nodiscard]] std::complex<double> amplitudeAt(std::span<const float> x, double sampleRateHz,
                                               double frequencyHz);

}  // namespace modem::test
