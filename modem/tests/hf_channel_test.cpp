#include "modem/hf_channel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <vector>

#include "modem/tests/test_signals.h"

namespace modem {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

double db(double ratio) { return 10.0 * std::log10(ratio); }

// The whole output of a channel for one signal: process() in chunks of the given sizes (cycled),
// then flush().
std::vector<float> runChannel(HfChannel& channel, std::span<const float> in,
                              std::span<const size_t> chunks = {}) {
    std::vector<float> all;
    std::vector<float> out;
    size_t pos = 0;
    size_t c = 0;
    while (pos < in.size()) {
        const size_t size =
            chunks.empty() ? in.size() : std::min(chunks[c++ % chunks.size()], in.size() - pos);
        channel.process(in.subspan(pos, size), out);
        all.insert(all.end(), out.begin(), out.end());
        pos += size;
    }
    channel.flush(out);
    all.insert(all.end(), out.begin(), out.end());
    return all;
}

std::vector<float> runChannel(const HfChannelConfig& config, std::span<const float> in) {
    HfChannel channel(config);
    return runChannel(channel, in);
}

// First index where two outputs differ, or -1; the sizes must match too.
long firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return static_cast<long>(i);
    }
    return a.size() == b.size() ? -1 : static_cast<long>(n);
}

// 2-sigma Doppler spread from the autocorrelation: a Gaussian spectrum of deviation sigma has
// R(tau) = exp(-2 pi^2 sigma^2 tau^2); least squares for sigma^2 on ln R over the lags where
// R > 0.1 (the tail is all estimation noise).
double spreadFromAutocorrelation(std::span<const std::complex<float>> x, double sampleRateHz,
                                 int lagStep, int lagCount) {
    const std::vector<std::complex<double>> r = test::autocorrelation(x, lagStep * lagCount);
    double num = 0.0;
    double den = 0.0;
    for (int lag = lagStep; lag <= lagStep * lagCount; lag += lagStep) {
        const double rho = std::abs(r[static_cast<size_t>(lag)]) / std::abs(r[0]);
        if (rho < 0.1) break;
        const double tau = lag / sampleRateHz;
        num += tau * tau * -std::log(rho);
        den += std::pow(tau, 4);
    }
    const double sigma2 = num / (2.0 * std::numbers::pi * std::numbers::pi * den);
    return 2.0 * std::sqrt(sigma2);
}

double complexPower(std::span<const std::complex<float>> x) {
    double sum = 0.0;
    for (const auto& v : x) sum += std::norm(std::complex<double>(v));
    return sum / static_cast<double>(x.size());
}

// --- Hilbert transformer: the analytic signal every other stage works on. ---

TEST(HilbertTransformer, RealPartIsTheInputDelayedExactly) {
    for (const double fs : {8000.0, 44100.0, 48000.0}) {
        HilbertTransformer hilbert(fs);
        const int d = hilbert.delaySamples();
        EXPECT_EQ(d % 2, 1) << fs;
        const std::vector<float> x = test::passbandNoise(4096, fs, 7);
        std::vector<std::complex<float>> z(x.size());
        hilbert.process(x, z);
        for (size_t n = 0; n < x.size(); ++n) {
            const float expected = n >= static_cast<size_t>(d) ? x[n - d] : 0.0f;
            ASSERT_EQ(z[n].real(), expected) << "fs " << fs << " n " << n;
        }
    }
    EXPECT_EQ(HilbertTransformer(8000.0).delaySamples(), 29);
    EXPECT_EQ(HilbertTransformer(48000.0).delaySamples(), 173);
}

// A tone at +f must come out as exp(j 2 pi f n / fs): magnitude 1 and nothing at -f. The
// negative-frequency residue is what a frequency shift later turns into an audible image.
TEST(HilbertTransformer, FlatWithNoImageFrom300HzToNyquistLess300Hz) {
    for (const double fs : {8000.0, 48000.0}) {
        double worstGainDb = 0.0;
        double worstImageDb = -200.0;
        for (double f = 300.0; f <= fs / 2.0 - 300.0; f += fs == 8000.0 ? 100.0 : 900.0) {
            const std::vector<float> x = test::tone(8192, fs, f);
            const std::vector<std::complex<float>> z = test::analytic(x, fs);
            // Skip the filter's start-up.
            const std::span<const std::complex<float>> steady(z.begin() + 1000, z.end());
            // Hann-weighted sums: without a window the +f tone's leakage at -f would swamp
            // the image being measured.
            std::complex<double> positive{};
            std::complex<double> negative{};
            double windowSum = 0.0;
            for (size_t n = 0; n < steady.size(); ++n) {
                const double w =
                    0.5 - 0.5 * std::cos(kTwoPi * (n + 0.5) / static_cast<double>(steady.size()));
                const double angle = kTwoPi * f * static_cast<double>(n) / fs;
                positive += w * std::complex<double>(steady[n]) * std::polar(1.0, -angle);
                negative += w * std::complex<double>(steady[n]) * std::polar(1.0, angle);
                windowSum += w;
            }
            // The sine is cos shifted by -90 degrees, so +f carries amplitude 1 in z.
            const double gain = std::abs(positive) / windowSum;
            const double image = std::abs(negative) / std::abs(positive);
            worstGainDb = std::max(worstGainDb, std::abs(20.0 * std::log10(gain)));
            worstImageDb = std::max(worstImageDb, 20.0 * std::log10(image));
        }
        RecordProperty(fs == 8000.0 ? "worst_image_db_8000" : "worst_image_db_48000",
                       std::to_string(worstImageDb));
        std::printf("Hilbert fs %.0f: worst gain error %.5f dB, worst image %.1f dB\n", fs,
                    worstGainDb, worstImageDb);
        EXPECT_LT(worstGainDb, 0.01) << fs;
        EXPECT_LT(worstImageDb, -60.0) << fs;
    }
}

// --- The chain with stages off or undoing each other: the analytic path loses nothing. ---

TEST(HfChannelPassband, AllStagesOffGiveTheInputDelayed) {
    HfChannelConfig config;
    const std::vector<float> x = test::passbandNoise(5000, config.sampleRateHz, 3);
    HfChannel channel(config);
    const std::vector<float> y = runChannel(channel, x, std::vector<size_t>{333});
    const auto d = static_cast<size_t>(channel.delaySamples());
    ASSERT_EQ(y.size(), x.size() + d);
    for (size_t n = 0; n < y.size(); ++n) {
        ASSERT_EQ(y[n], n < d ? 0.0f : x[n - d]) << n;
    }
}

// Up by 37 Hz, then down by 37 Hz: any Hilbert ripple or image leaves a residue. The two
// oscillators both start at their own output's sample 0, D samples apart in signal time, so the
// signal comes back turned by -2 pi 37 Hz D / fs: out[n] = Re(analytic(x)[n - 2D] e^(-j phi)).
TEST(HfChannelPassband, OffsetUpThenDownGivesTheInputBack) {
    for (const double fs : {8000.0, 48000.0}) {
        HfChannelConfig up;
        up.sampleRateHz = fs;
        up.offsetHz = 37.0;
        HfChannelConfig down = up;
        down.offsetHz = -37.0;
        const std::vector<float> x = test::passbandNoise(16384, fs, 11);
        const std::vector<std::complex<float>> xa = test::analytic(x, fs);
        const std::vector<float> y = runChannel(down, runChannel(up, x));
        const double d = HfChannel(up).delaySamples();
        const std::complex<float> turn(std::polar(1.0, -kTwoPi * 37.0 * d / fs));
        double error = 0.0;
        double power = 0.0;
        for (size_t n = 2000; n < x.size() - 2000; ++n) {
            const float expected = (xa[n] * turn).real();
            error += std::pow(y[n + static_cast<size_t>(2 * d)] - expected, 2);
            power += std::pow(expected, 2);
        }
        std::printf("offset up and down, fs %.0f: residue %.1f dB\n", fs, db(error / power));
        EXPECT_LT(db(error / power), -55.0) << fs;
    }
}

// --- Frequency offset. ---

TEST(HfChannelOffset, ToneMovesByTheOffsetWithNoImage) {
    const double fs = 8000.0;
    const double f = 1000.0;
    const std::vector<float> x = test::tone(32000, fs, f);
    for (const double offset : {25.3, -50.0, 1.5, 60.0}) {
        HfChannelConfig config;
        config.offsetHz = offset;
        const std::vector<float> y = runChannel(config, x);
        const std::span<const float> steady(y.begin() + 500, y.end() - 500);
        const double measured = test::toneFrequencyHz(steady, fs);
        const double wanted = std::abs(test::amplitudeAt(steady, fs, f + offset));
        const double image = std::abs(test::amplitudeAt(steady, fs, f - offset));
        std::printf("offset %+.1f Hz: tone at %.5f Hz, amplitude %.5f, image %.1f dB\n", offset,
                    measured, wanted, 20.0 * std::log10(image / wanted));
        EXPECT_NEAR(measured, f + offset, 1e-3) << offset;
        EXPECT_NEAR(wanted, 1.0, 1e-3) << offset;
        EXPECT_LT(20.0 * std::log10(image / wanted), -60.0) << offset;
    }
}

// --- AWGN: SNR = signal power / (noise density x 3000 Hz). ---

TEST(HfChannelNoise, NoisePowerIn3kHzMatchesTheSnr) {
    for (const double fs : {8000.0, 48000.0}) {
        HfChannelConfig config;
        config.sampleRateHz = fs;
        config.noise = true;
        config.snrDb = 10.0;
        config.signalPower = 0.5;
        const std::vector<float> silence(1 << 17, 0.0f);
        const std::vector<float> y = runChannel(config, silence);
        const double expectedIn3k = 0.5 / 10.0;
        // Any 3 kHz: white from 0 to fs/2.
        for (const double low : {0.0, 300.0, fs / 2.0 - 3000.0}) {
            const double p = test::bandPower(y, fs, low, low + 3000.0);
            std::printf("fs %.0f: noise in %.0f-%.0f Hz %.5f (set %.5f, %.3f dB)\n", fs, low,
                        low + 3000.0, p, expectedIn3k, db(p / expectedIn3k));
            EXPECT_NEAR(db(p / expectedIn3k), 0.0, 0.15) << fs << " from " << low;
        }
        EXPECT_NEAR(db(meanPower(y) / (expectedIn3k * fs / 2.0 / 3000.0)), 0.0, 0.1) << fs;
    }
}

// Measured against the noiseless run of the same seed, the SNR is the one set. Also checks
// test::snrDbAgainst for later tests.
TEST(HfChannelNoise, SnrAgainstTheNoiselessRunOfTheSameSeed) {
    for (const double snrDb : {0.0, 5.0, 20.0}) {
        HfChannelConfig config;
        config.noise = true;
        config.snrDb = snrDb;
        config.offsetHz = 20.0;
        config.signalPower = 0.3;
        const std::vector<float> x = test::passbandNoise(80000, config.sampleRateHz, 5, 0.3);
        const std::vector<float> noisy = runChannel(config, x);
        config.noise = false;
        const std::vector<float> clean = runChannel(config, x);
        const double measured = test::snrDbAgainst(noisy, clean, config.sampleRateHz);
        std::printf("set %.1f dB: measured %.3f dB\n", snrDb, measured);
        EXPECT_NEAR(measured, snrDb, 0.1);
    }
}

// Switching noise on must not change the fading: the difference of the two runs of one seed is
// white noise of the set density and nothing of the signal. (The SNR against a faded signal
// itself wanders with the fades: 10 s of CCIR poor carry about +-1 dB of power.)
TEST(HfChannelNoise, NoiseLeavesTheFadingAlone) {
    HfChannelConfig config;
    config.noise = true;
    config.snrDb = 10.0;
    config.fading = true;
    config.watterson = kCcirPoor;
    config.signalPower = 0.3;
    const std::vector<float> x = test::passbandNoise(80000, config.sampleRateHz, 5, 0.3);
    HfChannel channel(config);
    const std::vector<float> noisy = runChannel(channel, x);
    config.noise = false;
    const std::vector<float> clean = runChannel(config, x);
    ASSERT_EQ(noisy.size(), clean.size());
    std::vector<float> difference(noisy.size());
    for (size_t i = 0; i < noisy.size(); ++i) difference[i] = noisy[i] - clean[i];
    const double density = channel.noiseRms() * channel.noiseRms() / 4000.0;
    const double inBand = test::bandPower(difference, 8000.0, 300.0, 2700.0);
    std::printf("noise minus clean in 300-2700 Hz: %.3f dB from the set density\n",
                db(inBand / (density * 2400.0)));
    EXPECT_NEAR(db(inBand / (density * 2400.0)), 0.0, 0.1);
    EXPECT_NEAR(db(0.3 / (density * 3000.0)), 10.0, 1e-9);
}

// A recording's own mean power is the reference when none is given.
TEST(HfChannelNoise, SimulateRecordingMeasuresTheSignalPower) {
    HfChannelConfig config;
    config.noise = true;
    config.snrDb = 3.0;
    config.signalPower = 0.0;
    const std::vector<float> x = test::passbandNoise(80000, config.sampleRateHz, 9, 0.07);
    const std::vector<float> noisy = simulateRecording(config, x);
    config.noise = false;
    const std::vector<float> clean = simulateRecording(config, x);
    ASSERT_EQ(noisy.size(), x.size() + 29);
    EXPECT_NEAR(test::snrDbAgainst(noisy, clean, config.sampleRateHz), 3.0, 0.15);
}

// --- Watterson fading: Gaussian Doppler spectrum of the set 2-sigma spread, power 1. ---

// One path's tap process, at an output rate of 100 x the spread (so the tap-rate samples are
// interpolated 6.25 times) for about 2800 / sigma seconds: the power estimate's standard
// deviation is about 1 %.
TEST(WattersonFading, TapProcessHasTheSetGaussianSpreadAndUnitPower) {
    struct Case {
        double spreadHz;
        double samplesPerSpread;  // output rate / spread: the interpolation ratio is this / 16
        uint32_t seed;
    };
    for (const Case c :
         {Case{0.1, 40.0, 1}, Case{0.5, 25.0, 2}, Case{1.0, 60.0, 3}, Case{10.0, 40.0, 4}}) {
        const double spread = c.spreadHz;
        const double fs = c.samplesPerSpread * spread;
        GaussianTapProcess tap(spread, fs, c.seed);
        // 3000 / sigma seconds.
        std::vector<std::complex<float>> g(static_cast<size_t>(6000.0 * c.samplesPerSpread));
        tap.process(g);
        const double sigmaHz = spread / 2.0;
        const double power = complexPower(g);
        // Lags up to about 0.35 / sigma seconds, where R falls to 0.1.
        const int lagStep = std::max(1, static_cast<int>(0.35 / sigmaHz * fs / 20.0));
        const double measured = spreadFromAutocorrelation(g, fs, lagStep, 22);
        // Spectrum: the share of power within +-sigma and beyond +-3 sigma, against a
        // Gaussian's share over the same whole bins (68.3 % and 0.27 % for exact limits).
        const int size = 1024;
        const double binHz = fs / size;
        const std::vector<double> s = test::powerSpectrum(g, size);
        const int innerBins = static_cast<int>(std::floor(sigmaHz / binHz + 0.5));
        const int tailBins = static_cast<int>(std::floor(3.0 * sigmaHz / binHz + 0.5));
        double total = 0.0;
        double inner = 0.0;
        double tail = 0.0;
        for (int k = 0; k < size; ++k) {
            const int bin = std::abs(k < size / 2 ? k : k - size);
            total += s[static_cast<size_t>(k)];
            if (bin <= innerBins) inner += s[static_cast<size_t>(k)];
            if (bin > tailBins) tail += s[static_cast<size_t>(k)];
        }
        const double edge = binHz / (sigmaHz * std::numbers::sqrt2);
        const double gaussInner = std::erf((innerBins + 0.5) * edge);
        const double gaussTail = std::erfc((tailBins + 0.5) * edge);
        std::printf(
            "spread %.1f Hz at %.0f Hz: power %.4f, 2-sigma spread %.4f Hz (%+.1f %%), "
            "share within sigma %.3f (Gaussian %.3f), beyond 3 sigma %.4f (%.4f)\n",
            spread, fs, power, measured, 100.0 * (measured / spread - 1.0), inner / total,
            gaussInner, tail / total, gaussTail);
        EXPECT_NEAR(power, 1.0, 0.04) << spread;
        EXPECT_NEAR(measured / spread, 1.0, 0.05) << spread;
        EXPECT_NEAR(inner / total, gaussInner, 0.02) << spread;
        EXPECT_LT(tail / total, gaussTail + 0.005) << spread;
    }
}

TEST(WattersonFading, ZeroSpreadFreezesEachPath) {
    std::vector<std::complex<float>> a(1000);
    std::vector<std::complex<float>> b(1000);
    GaussianTapProcess(0.0, 8000.0, 1).process(a);
    GaussianTapProcess(0.0, 8000.0, 2).process(b);
    EXPECT_TRUE(std::all_of(a.begin(), a.end(), [&](auto v) { return v == a[0]; }));
    EXPECT_GT(std::abs(a[0]), 0.0f);
    EXPECT_NE(a[0], b[0]);
}

// Through the whole channel: a tone's complex envelope is the sum of the two paths' taps (at
// delay 0), which must again be Gaussian-Doppler with the set spread and mean power 1.
TEST(WattersonFading, AToneThroughTheChannelFadesWithTheSetSpread) {
    const double fs = 8000.0;
    const double f = 1500.0;
    HfChannelConfig config;
    config.fading = true;
    config.watterson = {0.0, 10.0};
    const std::vector<float> x = test::tone(static_cast<size_t>(60 * fs), fs, f);
    const std::vector<float> y = runChannel(config, x);
    std::vector<std::complex<float>> z = test::analytic(y, fs);
    // Undo the tone: z[n] = g[n] exp(j (2 pi f (n - D) / fs - pi/2)).
    for (size_t n = 0; n < z.size(); ++n) {
        double cycles = f * static_cast<double>(n) / fs;
        cycles -= std::floor(cycles);
        z[n] *= std::complex<float>(std::polar(1.0, -kTwoPi * cycles));
    }
    const std::span<const std::complex<float>> g(z.begin() + 1000, z.end() - 1000);
    const double power = complexPower(g);
    // The half-power lag of 10 Hz is 37 ms, 300 samples.
    const double measured = spreadFromAutocorrelation(g, fs, 25, 30);
    std::printf("flutter through the channel: power %.4f, 2-sigma spread %.3f Hz\n", power,
                measured);
    EXPECT_NEAR(power, 1.0, 0.1);
    EXPECT_NEAR(measured / 10.0, 1.0, 0.15);
}

// Frozen paths (spread 0), averaged over seeds: the cross-correlation of output and input
// envelopes has its two peaks at the channel delay and one path delay later, of similar mean
// power, and nothing else.
TEST(WattersonFading, SecondPathArrivesAtTheSetDelay) {
    const double fs = 8000.0;
    const std::vector<float> x = test::passbandNoise(8192, fs, 21);
    const std::vector<std::complex<float>> xa = test::analytic(x, fs);
    for (const double delayMs : {1.0, 2.0}) {
        const int maxLag = 64;
        std::vector<double> profile(maxLag + 1, 0.0);
        int expectedFirst = 0;
        for (uint32_t seed = 1; seed <= 12; ++seed) {
            HfChannelConfig config;
            config.seed = seed;
            config.fading = true;
            config.watterson = {delayMs, 0.0};
            HfChannel channel(config);
            expectedFirst = static_cast<int>(channel.delaySamples());
            const std::vector<std::complex<float>> ya = test::analytic(runChannel(channel, x), fs);
            for (int k = 0; k <= maxLag; ++k) {
                std::complex<double> c{};
                for (size_t n = 1000; n < 7000; ++n) {
                    c += std::complex<double>(ya[n]) * std::conj(std::complex<double>(xa[n - k]));
                }
                profile[static_cast<size_t>(k)] += std::norm(c);
            }
        }
        const int expectedSecond = expectedFirst + static_cast<int>(std::lround(delayMs * 8.0));
        const double first = profile[static_cast<size_t>(expectedFirst)];
        const double second = profile[static_cast<size_t>(expectedSecond)];
        std::printf("delay %.1f ms: peaks expected at lags %d and %d, their power ratio %.2f dB\n",
                    delayMs, expectedFirst, expectedSecond, db(second / first));
        for (int k = 0; k <= maxLag; ++k) {
            if (std::abs(k - expectedFirst) < 3 || std::abs(k - expectedSecond) < 3) continue;
            EXPECT_LT(profile[static_cast<size_t>(k)], 0.1 * std::max(first, second))
                << "delay " << delayMs << " ms, lag " << k;
        }
        for (const int peak : {expectedFirst, expectedSecond}) {
            for (const int side : {peak - 1, peak + 1}) {
                EXPECT_GT(profile[static_cast<size_t>(peak)], profile[static_cast<size_t>(side)])
                    << "delay " << delayMs << " ms, peak " << peak;
            }
        }
        EXPECT_NEAR(db(second / first), 0.0, 3.0) << delayMs;
    }
}

// --- Sample-clock error: positive ppm, receiver's clock fast, more samples, lower tones. ---

TEST(HfChannelClock, ToneComesOutAtFOverOnePlusPpm) {
    const double fs = 8000.0;
    const double f = 1500.0;
    const std::vector<float> x = test::tone(32000, fs, f);
    for (const double ppm : {100.0, -200.0, 1000.0}) {
        HfChannelConfig config;
        config.clockPpm = ppm;
        HfChannel channel(config);
        const std::vector<float> y = runChannel(channel, x);
        const double ratio = 1.0 + ppm * 1e-6;
        // The held samples all come out at the end: the whole stream, delay included.
        EXPECT_NEAR(static_cast<double>(y.size()), (x.size() + channel.delaySamples()) * ratio, 1.0)
            << ppm;
        const double measured = test::toneFrequencyHz(std::span(y).subspan(500, 30000), fs);
        // Output sample k carries input time k / ratio - D: compare with the tone there.
        double error = 0.0;
        for (size_t k = 1000; k < 30000; ++k) {
            const double t = static_cast<double>(k) / ratio - channel.delaySamples();
            error += std::pow(y[k] - std::sin(kTwoPi * f * t / fs), 2);
        }
        const double rmsError = std::sqrt(error / 29000.0);
        std::printf("clock %+.0f ppm: tone at %.5f Hz (expected %.5f), rms error %.2e\n", ppm,
                    measured, f / ratio, rmsError);
        EXPECT_NEAR(measured, f / ratio, 2e-3) << ppm;
        EXPECT_LT(rmsError, 1e-3) << ppm;
    }
}

// --- Determinism: seeds and chunking. ---

HfChannelConfig everythingOn(uint32_t seed) {
    HfChannelConfig config;
    config.seed = seed;
    config.noise = true;
    config.snrDb = 10.0;
    config.fading = true;
    config.watterson = kCcirPoor;
    config.offsetHz = 13.7;
    config.clockPpm = 150.0;
    return config;
}

TEST(HfChannelDeterminism, AnyChunkingGivesTheSameOutput) {
    const std::vector<float> x = test::passbandNoise(24000, 8000.0, 4);
    HfChannel reference(everythingOn(77));
    const std::vector<float> whole = runChannel(reference, x);
    std::mt19937 random(5);
    std::vector<size_t> randomChunks(64);
    for (auto& c : randomChunks) c = 1 + random() % 3000;
    const std::vector<std::vector<size_t>> chunkings = {
        {1}, {2, 1, 7}, {160}, {4096}, randomChunks};
    for (const auto& chunks : chunkings) {
        HfChannel channel(everythingOn(77));
        const std::vector<float> chunked = runChannel(channel, x, chunks);
        EXPECT_EQ(firstDifference(whole, chunked), -1)
            << "chunks from " << chunks[0] << ", sizes " << whole.size() << " " << chunked.size();
    }
    // reset() starts the same realisation again.
    reference.reset();
    EXPECT_EQ(firstDifference(whole, runChannel(reference, x, randomChunks)), -1);
}

TEST(HfChannelDeterminism, OtherSeedsGiveOtherNoiseAndFading) {
    const std::vector<float> x = test::passbandNoise(16000, 8000.0, 4);
    const std::vector<float> a = runChannel(everythingOn(1), x);
    EXPECT_EQ(firstDifference(a, runChannel(everythingOn(1), x)), -1);
    const std::vector<float> b = runChannel(everythingOn(2), x);
    ASSERT_EQ(a.size(), b.size());
    size_t same = 0;
    for (size_t i = 0; i < a.size(); ++i) same += a[i] == b[i];
    EXPECT_LT(same, a.size() / 100);
    // The fading alone differs too, not only the noise.
    HfChannelConfig quiet1 = everythingOn(1);
    HfChannelConfig quiet2 = everythingOn(2);
    quiet1.noise = quiet2.noise = false;
    const std::vector<float> c = runChannel(quiet1, x);
    const std::vector<float> d = runChannel(quiet2, x);
    double diff = 0.0;
    for (size_t i = 0; i < c.size(); ++i) diff += std::pow(c[i] - d[i], 2);
    EXPECT_GT(diff / static_cast<double>(c.size()), 0.01);
}

TEST(WattersonProfiles, ByName) {
    ASSERT_TRUE(wattersonProfile("poor").has_value());
    EXPECT_EQ(wattersonProfile("poor")->delayMs, 2.0);
    EXPECT_EQ(wattersonProfile("poor")->spreadHz, 1.0);
    EXPECT_EQ(wattersonProfile("flutter")->spreadHz, 10.0);
    EXPECT_EQ(wattersonProfile("good")->delayMs, 0.5);
    EXPECT_EQ(wattersonProfile("moderate")->spreadHz, 0.5);
    EXPECT_FALSE(wattersonProfile("awgn").has_value());
}

}  // namespace
}  // namespace modem
