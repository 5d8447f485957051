#include "encoder/air_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "encoder/test_pictures.h"

namespace encoder {
namespace {

EncoderSettings fitBase(int frameSize) {
    EncoderSettings s;
    s.frameSize = frameSize;
    s.callsign = "G0XYZ ";
    s.sourcePath = "card.png";
    return s;
}

struct NamedPicture {
    const char* name;
    SourcePicture picture;
};

std::string describe(const AirTimeFit& f) {
    const EncoderSettings& s = f.settings;
    return std::string(waveletName(s.wavelet)) + " red " + std::to_string(s.redFactor) + " blue " +
           std::to_string(s.blueFactor) + " threshold " + std::to_string(s.threshold) +
           " quantiser " + std::to_string(s.quantiser) + ": " + std::to_string(f.psnrDb) + " dB, " +
           std::to_string(f.frameBytes) + " bytes";
}

// ---- frame length and air time, known values ----

TEST(AirTimeLength, WorkedExampleFrame) {
    // L = 2000 (1996 coded bytes and the CRC text), t = 16: 84 packets, 3 + 12 headers and,
    // with a message, 10 message blocks.
    EXPECT_EQ(frameBytesFor(1996, 32, true), 41u * 109);
    EXPECT_EQ(frameBytesFor(1996, 32, false), 4059u);
    EXPECT_EQ(frameBytesFor(1996, 33, false), 4059u) << "t is the syndromes setting div 2";
}

TEST(AirTimeLength, SizeCheckRejectsWhatENCODEFRAMERejects) {
    // 39 rows of 223 bytes hold at most 223 * 39 - 28 = 8669 bytes of L at t = 16.
    EXPECT_NE(frameBytesFor(8669 - 4, 32, false), 0u);
    EXPECT_EQ(frameBytesFor(8669 - 4 + 1, 32, false), 0u);
    EXPECT_EQ(frameBytesFor(100, 0, false), 0u) << "no parity at all";
}

TEST(AirTimeLength, BudgetInBytes) {
    EXPECT_EQ(frameBytesWithin(17.9), 4475u);
    EXPECT_EQ(frameBytesWithin(0.004), 1u);
    EXPECT_EQ(frameBytesWithin(0.0), 0u);
    EXPECT_EQ(frameBytesWithin(-3.0), 0u);
}

// ---- the quality measure ----

TEST(AirTimeQuality, ReferenceIsTheSourceAt256AndBlockMeansBelow) {
    const SourcePicture card = testCard();
    const Picture full = referencePicture(card, 256);
    ASSERT_EQ(full.size, 256);
    for (const auto& [x, y] : {std::pair{0, 0}, {37, 201}, {255, 255}}) {
        EXPECT_EQ(full.at(x, y), packRgb(card.red(x, y), card.green(x, y), card.blue(x, y)))
            << "at " << x << ", " << y;
    }
    // Gradient: red = x, so a 4-wide block starting at x = 4i has mean 4i + 1.5, rounded to even.
    const Picture small = referencePicture(gradient(), 64);
    EXPECT_EQ(redOf(small.at(0, 0)), 2);
    EXPECT_EQ(redOf(small.at(1, 0)), 6);
    // 96 x 96 starts at the window's corner (32, 32): green = y, mean of 32, 33 is 32.5 -> 32.
    EXPECT_EQ(greenOf(referencePicture(gradient(), 96).at(0, 0)), 32);
    EXPECT_EQ(referencePicture(card, 100).size, 0);
}

TEST(AirTimeQuality, PsnrOfKnownErrors) {
    Picture a(8);
    Picture b(8);
    EXPECT_EQ(psnrDb(a, b), 99.0);
    for (uint32_t& p : b.pixels) p = packRgb(3, 0, 0);
    // Squared error 9 on one channel in three: MSE 3.
    EXPECT_NEAR(psnrDb(a, b), 10.0 * std::log10(255.0 * 255.0 / 3.0), 1e-9);
    EXPECT_NEAR(lumaPsnrDb(a, b), 10.0 * std::log10(255.0 * 255.0 / (0.897 * 0.897)), 1e-9);
    EXPECT_EQ(psnrDb(a, Picture(4)), 0.0);
}

// ---- the fit's answer is what ENCODEFRAME sends ----

// The full grid with the effort of about 60 points at 48 x 48, for tests that check what the fit
// reports rather than how well it searches.
FitGrid quickGrid() {
    FitGrid grid = fullFitGrid();
    grid.effort = 300'000;
    return grid;
}

TEST(AirTimeFitting, ChosenSettingsGiveTheReportedFrameAndPicture) {
    const NamedPicture pictures[] = {{"test card", testCard()}, {"gradient", gradient()}};
    for (const auto& [name, picture] : pictures) {
        for (const double seconds : {12.0, 30.0}) {
            SCOPED_TRACE(testing::Message() << name << ", 48 x 48, " << seconds << " s");
            EncoderSettings base = fitBase(48);
            base.message = "fit test";
            const AirTimeFit fit = fitAirTime(base, picture, seconds, quickGrid());
            ASSERT_TRUE(fit.found);
            SCOPED_TRACE(describe(fit));
            EXPECT_LE(fit.frameBytes, frameBytesWithin(seconds));
            EXPECT_DOUBLE_EQ(fit.airTimeSeconds, fit.frameBytes / 250.0);
            EXPECT_EQ(fit.settings.message, base.message);
            EXPECT_EQ(fit.settings.syndromes, base.syndromes);

            EncoderState state;
            const EncodeResult sent = ENCODEFRAME(fit.settings, picture, state, kEncodePreview);
            ASSERT_EQ(sent.error, EncodeError::None);
            EXPECT_EQ(sent.frame.size(), fit.frameBytes);
            EXPECT_DOUBLE_EQ(psnrDb(sent.preview, referencePicture(picture, 48)), fit.psnrDb);
        }
    }
}

// The fit transforms each plane once for all thresholds; Haar's transform zeroes small
// coefficients itself, so this holds only if that zeroing is the quantiser's own. A grid of one
// point must give what ENCODEFRAME gives, for every wavelet.
TEST(AirTimeFitting, OnePointGridIsENCODEFRAME) {
    const SourcePicture card = testCard();
    for (const Wavelet w : {Wavelet::Haar, Wavelet::D4, Wavelet::Cdf97}) {
        for (const int threshold : {0, 25, 100}) {
            SCOPED_TRACE(testing::Message() << waveletName(w) << ", threshold " << threshold);
            FitGrid grid;
            grid.wavelets = {w};
            grid.factors = {{2, 4}};
            grid.thresholds = {threshold};
            grid.quantisers = {9};
            const AirTimeFit fit = fitAirTime(fitBase(64), card, 60.0, grid);
            const AirTimeFit searched = searchGridExhaustively(fitBase(64), card, 60.0, grid);
            ASSERT_TRUE(fit.found);
            ASSERT_TRUE(searched.found);

            EncoderSettings s = fitBase(64);
            s.wavelet = w;
            s.redFactor = 2;
            s.blueFactor = 4;
            s.threshold = threshold;
            s.quantiser = 9;
            EncoderState state;
            const EncodeResult sent = ENCODEFRAME(s, card, state, kEncodePreview);
            ASSERT_EQ(sent.error, EncodeError::None);
            const double psnr = psnrDb(sent.preview, referencePicture(card, 64));
            EXPECT_EQ(fit.frameBytes, sent.frame.size());
            EXPECT_EQ(searched.frameBytes, sent.frame.size());
            EXPECT_DOUBLE_EQ(fit.psnrDb, psnr);
            EXPECT_DOUBLE_EQ(searched.psnrDb, psnr);
        }
    }
}

TEST(AirTimeFitting, MoreAirNeverGivesAWorsePicture) {
    const SourcePicture card = testCard();
    double previous = 0.0;
    for (const double seconds : {9.0, 10.0, 12.0}) {
        SCOPED_TRACE(testing::Message() << "test card, 48 x 48, " << seconds << " s");
        const AirTimeFit fit = fitAirTime(fitBase(48), card, seconds, quickGrid());
        ASSERT_TRUE(fit.found);
        EXPECT_GE(fit.psnrDb, previous);
        previous = fit.psnrDb;
    }
}

TEST(AirTimeFitting, NothingFitsBelowTheShortestFrame) {
    const AirTimeFit fit = fitAirTime(fitBase(48), testCard(), 1.0, quickGrid());
    EXPECT_FALSE(fit.found);
    EXPECT_GT(fit.smallestFrameBytes, frameBytesWithin(1.0));
    // And that shortest frame fits once the air time allows it.
    const double enough = static_cast<double>(fit.smallestFrameBytes) / 250.0;
    EXPECT_TRUE(fitAirTime(fitBase(48), testCard(), enough, quickGrid()).found);
}

TEST(AirTimeFitting, BadBaseSettingsFindNothing) {
    EncoderSettings base = fitBase(64);
    base.frameSize = 100;
    EXPECT_FALSE(fitAirTime(base, testCard(), 30.0).found);
    base = fitBase(64);
    base.syndromes = 1;
    EXPECT_FALSE(fitAirTime(base, testCard(), 30.0).found);
}

// ---- the AV1 payload's fit: one setting, the quality ----

EncoderSettings av1Base(int frameSize, int chroma) {
    EncoderSettings s = fitBase(frameSize);
    s.wavelet = Wavelet::Av1;
    s.av1Chroma = chroma;
    s.syndromes = 8;  // little parity, so that the quality moves the frame length by packets
    return s;
}

EncodeResult av1Frame(EncoderSettings s, const SourcePicture& picture, int quality) {
    s.wavelet = Wavelet::Av1;
    s.quantiser = quality + 1;
    EncoderState state;
    return ENCODEFRAME(s, picture, state, kEncodePreview);
}

// The air time of each case is that of the frame at a middle quality, so that the answer lies
// inside the range and the bisection has work to do.
TEST(Av1AirTimeFitting, FinestFittingQualityAndWhatENCODEFRAMESends) {
    const NamedPicture pictures[] = {{"test card", testCard()}, {"gradient", gradient()}};
    for (const auto& [name, picture] : pictures) {
        for (const int chroma : {kAv1Chroma444, kAv1Chroma420}) {
            for (const int middle : {12, 40}) {
                SCOPED_TRACE(testing::Message() << name << ", 64 x 64, chroma " << chroma
                                                << ", air time of quality " << middle);
                EncoderSettings base = av1Base(64, chroma);
                base.message = "av1 fit";
                const EncodeResult reference = av1Frame(base, picture, middle);
                ASSERT_EQ(reference.error, EncodeError::None);
                const double seconds = static_cast<double>(reference.frame.size()) / 250.0;
                const AirTimeFit fit = fitAv1AirTime(base, picture, seconds);
                ASSERT_TRUE(fit.found);
                const int quality = av1Quality(fit.settings.quantiser);
                SCOPED_TRACE(testing::Message() << "quality " << quality << ", " << fit.frameBytes
                                                << " bytes, " << fit.psnrDb << " dB");
                EXPECT_EQ(fit.settings.wavelet, Wavelet::Av1);
                EXPECT_EQ(fit.settings.av1Chroma, chroma);
                EXPECT_EQ(fit.settings.message, base.message);
                EXPECT_EQ(fit.settings.syndromes, base.syndromes);
                EXPECT_LE(fit.frameBytes, frameBytesWithin(seconds));
                EXPECT_DOUBLE_EQ(fit.airTimeSeconds, fit.frameBytes / 250.0);
                EXPECT_LT(fit.evaluations, 16) << "a bisection, not a scan";

                const EncodeResult sent = av1Frame(base, picture, quality);
                ASSERT_EQ(sent.error, EncodeError::None);
                EXPECT_EQ(sent.frame.size(), fit.frameBytes);
                EXPECT_DOUBLE_EQ(psnrDb(sent.preview, referencePicture(picture, 64)), fit.psnrDb);
                // Against every quality: within 0.2 dB of the sharpest that fits.
                double sharpest = 0;
                for (int q = 0; q <= kAv1MaxQuality; ++q) {
                    const EncodeResult r = av1Frame(base, picture, q);
                    if (r.frame.size() > frameBytesWithin(seconds)) continue;
                    sharpest = std::max(sharpest, psnrDb(r.preview, referencePicture(picture, 64)));
                }
                EXPECT_GE(fit.psnrDb, sharpest - 0.2);
            }
        }
    }
}

TEST(Av1AirTimeFitting, AmpleAirGivesTheFinestQuality) {
    const AirTimeFit fit = fitAv1AirTime(av1Base(48, kAv1Chroma444), gradient(), 600.0);
    ASSERT_TRUE(fit.found);
    EXPECT_EQ(av1Quality(fit.settings.quantiser), 0);
    EXPECT_EQ(fit.evaluations, 7) << "quality 63, then the bisection";
}

// The encodes guessed ahead on other threads only save time: the path of the search, and so
// its answer and its count of encodes, are those of one encode at a time, right guesses or
// wrong (the test card's length wanders with the quality and defeats many guesses).
TEST(Av1AirTimeFitting, GuessingAheadChangesNeitherTheAnswerNorTheEncodesNeeded) {
    const NamedPicture pictures[] = {
        {"test card", testCard()}, {"zone plate", zonePlate()}, {"gradient", gradient()}};
    for (const auto& [name, picture] : pictures) {
        for (const int middle : {10, 24, 40, 55}) {
            SCOPED_TRACE(testing::Message() << name << ", air time of quality " << middle);
            const EncoderSettings base = av1Base(96, kAv1Chroma444);
            const EncodeResult reference = av1Frame(base, picture, middle);
            ASSERT_EQ(reference.error, EncodeError::None);
            const double seconds = static_cast<double>(reference.frame.size()) / 250.0;
            const AirTimeFit alone = fitAv1AirTime(base, picture, seconds, 1);
            ASSERT_TRUE(alone.found);
            for (const int atOnce : {2, 3}) {
                SCOPED_TRACE(testing::Message() << atOnce << " encodes at once");
                const AirTimeFit fit = fitAv1AirTime(base, picture, seconds, atOnce);
                ASSERT_TRUE(fit.found);
                EXPECT_EQ(fit.settings.quantiser, alone.settings.quantiser);
                EXPECT_EQ(fit.frameBytes, alone.frameBytes);
                EXPECT_EQ(fit.smallestFrameBytes, alone.smallestFrameBytes);
                EXPECT_DOUBLE_EQ(fit.psnrDb, alone.psnrDb);
                EXPECT_EQ(fit.evaluations, alone.evaluations);
            }
        }
    }
}

TEST(Av1AirTimeFitting, NothingFitsBelowQuality63sFrame) {
    const EncoderSettings base = av1Base(64, kAv1Chroma420);
    const AirTimeFit fit = fitAv1AirTime(base, zonePlate(), 1.0);
    EXPECT_FALSE(fit.found);
    const EncodeResult coarsest = av1Frame(base, zonePlate(), kAv1MaxQuality);
    ASSERT_EQ(coarsest.error, EncodeError::None);
    EXPECT_EQ(fit.smallestFrameBytes, coarsest.frame.size());
    EXPECT_GT(fit.smallestFrameBytes, frameBytesWithin(1.0));
    // That frame fits once the air time allows it, and is then the answer or a finer one.
    const AirTimeFit enough =
        fitAv1AirTime(base, zonePlate(), static_cast<double>(fit.smallestFrameBytes) / 250.0);
    ASSERT_TRUE(enough.found);
    EXPECT_LE(enough.frameBytes, fit.smallestFrameBytes);
}

TEST(Av1AirTimeFitting, BadBaseSettingsFindNothing) {
    EncoderSettings base = av1Base(64, kAv1Chroma444);
    base.frameSize = 100;
    EXPECT_FALSE(fitAv1AirTime(base, testCard(), 30.0).found);
    base = av1Base(64, kAv1Chroma444);
    base.av1Chroma = 4;
    EXPECT_FALSE(fitAv1AirTime(base, testCard(), 30.0).found);
    base = av1Base(64, kAv1Chroma444);
    base.av1Speed = 10;
    EXPECT_FALSE(fitAv1AirTime(base, testCard(), 30.0).found);
    base = av1Base(64, kAv1Chroma444);
    base.syndromes = 1;
    EXPECT_FALSE(fitAv1AirTime(base, testCard(), 30.0).found);
}

// ---- against every point of the full grid ----

// An exhaustive search of the full grid at 48 x 48 takes seconds even without sanitizers, so
// this runs on a part of it that keeps the 24 finest quantisers (where the PSNR jumps most),
// with the fit's effort cut to match: under a tenth of the points. At 48 every point fits in 16 s;
// 10 s leaves about half of them. The zone plate and the colour bars saturate colours, where the
// clamping hides errors the estimate counts.
TEST(AirTimeFitting, WithinTwoTenthsOfADecibelOfTheGridsBest) {
    constexpr double kToleranceDb = 0.2;
    FitGrid grid = fullFitGrid();
    grid.factors = {{2, 2}, {4, 4}};
    grid.thresholds = {0, 50};
    grid.quantisers.resize(24);
    grid.effort = 25 * (48 * 48 * 2 + 2 * 24 * 24);
    const struct {
        const char* name;
        SourcePicture picture;
        double seconds;
    } cases[] = {{"zone plate", zonePlate(), 16.0},
                 {"colour bars", colourBars(), 10.0},
                 {"gradient", gradient(), 10.0}};
    for (const auto& [name, picture, seconds] : cases) {
        SCOPED_TRACE(testing::Message() << name << ", 48 x 48, " << seconds << " s");
        const AirTimeFit exhaustive = searchGridExhaustively(fitBase(48), picture, seconds, grid);
        const AirTimeFit fit = fitAirTime(fitBase(48), picture, seconds, grid);
        ASSERT_TRUE(exhaustive.found);
        ASSERT_TRUE(fit.found);
        SCOPED_TRACE("grid's best: " + describe(exhaustive));
        SCOPED_TRACE("fit: " + describe(fit));
        EXPECT_GE(fit.psnrDb, exhaustive.psnrDb - kToleranceDb);
        EXPECT_LE(fit.psnrDb, exhaustive.psnrDb) << "the fit found a point the search missed";
        EXPECT_LE(fit.frameBytes, frameBytesWithin(seconds));
        EXPECT_LT(fit.evaluations, exhaustive.evaluations / 5) << "hardly a search";
    }
}

}  // namespace
}  // namespace encoder
