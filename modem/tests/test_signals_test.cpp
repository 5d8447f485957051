// The test helpers measure the channel simulator and, later, the modem: check them against
// signals whose answer is known without them.

#include "modem/tests/test_signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace modem::test {
namespace {

TEST(TestSignals, PassbandNoiseHasItsPowerOnlyInItsBand) {
    const std::vector<float> x = passbandNoise(48000, 8000.0, 3, 0.2, 500.0, 2000.0);
    double sum = 0.0;
    for (const float v : x) sum += static_cast<double>(v) * v;
    EXPECT_NEAR(sum / static_cast<double>(x.size()), 0.2, 1e-6);
    EXPECT_NEAR(bandPower(x, 8000.0, 500.0, 2000.1), 0.2, 1e-6);
    EXPECT_LT(bandPower(x, 8000.0, 0.0, 499.0), 1e-9);
    EXPECT_LT(bandPower(x, 8000.0, 2001.0, 4001.0), 1e-9);
}

TEST(TestSignals, ToneFrequencyAndAmplitude) {
    const std::vector<float> x = tone(16000, 8000.0, 1234.567, 0.3, 1.0);
    EXPECT_NEAR(toneFrequencyHz(x, 8000.0), 1234.567, 1e-4);
    EXPECT_NEAR(std::abs(amplitudeAt(x, 8000.0, 1234.567)), 0.3, 1e-4);
    EXPECT_LT(std::abs(amplitudeAt(x, 8000.0, 1300.0)), 1e-3);
}

// Known SNR built by hand: white Gaussian noise of variance s2 over 0 .. fs/2 has density
// s2 / (fs/2), so a reference of power P gives P / (s2 / 4000 x 3000) at 8000 Hz.
TEST(TestSignals, SnrAgainstAReferenceUsesThe3kHzBandwidth) {
    const std::vector<float> reference = tone(80000, 8000.0, 1000.0);  // power 0.5
    std::mt19937 random(8);
    std::normal_distribution<float> gauss(0.0f, 0.1f);
    std::vector<float> received(reference.size());
    for (size_t i = 0; i < received.size(); ++i) received[i] = 0.7f * reference[i] + gauss(random);
    const double expected = 10.0 * std::log10(0.49 * 0.5 / (0.01 / 4000.0 * 3000.0));
    EXPECT_NEAR(snrDbAgainst(received, reference, 8000.0), expected, 0.05);
}

TEST(TestSignals, AutocorrelationOfAComplexTone) {
    std::vector<std::complex<float>> x(4000);
    for (size_t n = 0; n < x.size(); ++n) {
        x[n] = std::polar(2.0f, static_cast<float>(0.3 * static_cast<double>(n)));
    }
    const std::vector<std::complex<double>> r = autocorrelation(x, 5);
    for (int k = 0; k <= 5; ++k) {
        const std::complex<double> expected =
            4.0 * (4000.0 - k) / 4000.0 * std::polar(1.0, 0.3 * k);
        EXPECT_NEAR(std::abs(r[static_cast<size_t>(k)] - expected), 0.0, 1e-4) << k;
    }
}

}  // namespace
}  // namespace modem::test
