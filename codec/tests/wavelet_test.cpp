#include "codec/wavelet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace codec {
namespace {

using Ints = std::vector<int32_t>;
using Doubles = std::vector<double>;

constexpr int kFrameSizes[] = {48, 64, 96, 128, 256};

// ---- Helpers ---------------------------------------------------------------------------------

// An n x n plane whose row k (HAARFWDX's line) or column k (HAARFWDY's line) holds values;
// every other sample holds a marker that no kernel may touch.
constexpr int32_t kMarker = 7777;

Plane planeWithLine(const Ints& values, int k, bool alongX, int side) {
    Plane plane(side, side);
    std::fill(plane.samples.begin(), plane.samples.end(), kMarker);
    for (size_t i = 0; i < values.size(); ++i) {
        if (alongX) {
            plane.at(static_cast<int>(i), k) = values[i];
        } else {
            plane.at(k, static_cast<int>(i)) = values[i];
        }
    }
    return plane;
}

Ints lineOf(const Plane& plane, int k, int n, bool alongX) {
    Ints line(n);
    for (int i = 0; i < n; ++i) line[i] = alongX ? plane.at(i, k) : plane.at(k, i);
    return line;
}

// Every sample outside the first n elements of line k still holds the marker.
testing::AssertionResult onlyLineTouched(const Plane& plane, int k, int n, bool alongX) {
    for (int y = 0; y < plane.height; ++y) {
        for (int x = 0; x < plane.width; ++x) {
            const bool inLine = alongX ? (y == k && x < n) : (x == k && y < n);
            if (!inLine && plane.at(x, y) != kMarker) {
                return testing::AssertionFailure()
                       << "sample (" << x << ", " << y << ") changed to " << plane.at(x, y);
            }
        }
    }
    return testing::AssertionSuccess();
}

// Lists up to eight positions where got and want differ by more than tolerance.
template <typename T>
testing::AssertionResult linesClose(const std::vector<T>& got, const std::vector<T>& want,
                                    double tolerance) {
    if (got.size() != want.size()) {
        return testing::AssertionFailure() << "sizes " << got.size() << " and " << want.size();
    }
    std::ostringstream differences;
    int count = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        const double error = std::abs(static_cast<double>(got[i]) - static_cast<double>(want[i]));
        if (!(error <= tolerance)) {
            if (count < 8) {
                differences << "\n  [" << i << "] got " << got[i] << ", want " << want[i];
            }
            ++count;
        }
    }
    if (count == 0) return testing::AssertionSuccess();
    return testing::AssertionFailure() << count << " of " << got.size() << " positions beyond "
                                       << tolerance << ":" << differences.str();
}

// Samples low..high from mt19937, whose sequence the standard fixes for a given seed (unlike
// the distributions), so a printed seed replays the same lines everywhere. The span may be
// anything short of the whole int32 range.
Ints randomInts(std::mt19937& rng, int n, int low, int high) {
    const auto span = static_cast<uint32_t>(int64_t{high} - low + 1);
    Ints values(n);
    for (auto& v : values) v = static_cast<int32_t>(low + static_cast<int64_t>(rng() % span));
    return values;
}

// -255..255, the range of a colour-difference line before the transform.
Doubles randomLine(std::mt19937& rng, int n) {
    Doubles line(n);
    for (auto& v : line) v = static_cast<int>(rng() % 511) - 255;
    return line;
}

Ints roundAll(const Doubles& line) {
    Ints rounded(line.size());
    for (size_t i = 0; i < line.size(); ++i) rounded[i] = roundToInt(line[i]);
    return rounded;
}

void cdfForward4(Doubles& line, int n) {
    for (int s = n; s > n / 16; s /= 2) CDF97FWD(line, s);
}

void cdfInverse4(Doubles& line, int n) {
    for (int s = n / 8; s <= n; s *= 2) CDF97INV(line, s);
}

// ---- Rounding and constants: ties to even, not away from zero --------------------------------

TEST(RoundToInt, RoundsHalvesToEven) {
    EXPECT_EQ(roundToInt(0.5L), 0);
    EXPECT_EQ(roundToInt(1.5L), 2);
    EXPECT_EQ(roundToInt(2.5L), 2);
    EXPECT_EQ(roundToInt(8.5L), 8);
    EXPECT_EQ(roundToInt(-0.5L), 0);
    EXPECT_EQ(roundToInt(-6.5L), -6);
    EXPECT_EQ(roundToInt(-7.5L), -8);
    EXPECT_EQ(roundToInt(-19.5L), -20);
}

TEST(RoundToInt, RoundsNonTiesToNearest) {
    EXPECT_EQ(roundToInt(2.4999999999999999L), 2);
    EXPECT_EQ(roundToInt(2.5000000000000001L), 3);
    EXPECT_EQ(roundToInt(std::nextafter(-6.5, 0.0)), -6);
    EXPECT_EQ(roundToInt(std::nextafter(-6.5, -7.0)), -7);
    EXPECT_EQ(roundToInt(-0.2L), 0);
    EXPECT_EQ(roundToInt(360.57L), 361);
}

TEST(RoundToInt, SaturatesOutsideInt32AndMapsNanToZero) {
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(roundToInt(2147483646.5L), 2147483646);
    EXPECT_EQ(roundToInt(2147483647.5L), kMax);
    EXPECT_EQ(roundToInt(1e30L), kMax);
    EXPECT_EQ(roundToInt(-2147483648.5L), kMin);
    EXPECT_EQ(roundToInt(-1e30L), kMin);
    EXPECT_EQ(roundToInt(std::numeric_limits<long double>::infinity()), kMax);
    EXPECT_EQ(roundToInt(std::numeric_limits<long double>::quiet_NaN()), 0);
}

// The frame drivers round through roundDoubleToInt; it must give roundToInt's integer for every
// double: the ties, the neighbours of the int32 ends where its fast path hands over, and the
// values no integer represents.
TEST(RoundToInt, DoubleFormAgreesAtTiesLimitsAndSpecials) {
    const double inf = std::numeric_limits<double>::infinity();
    const double specials[] = {0.0,
                               -0.0,
                               0.5,
                               -0.5,
                               1.5,
                               2.5,
                               -6.5,
                               -7.5,
                               4503599627370495.5,
                               -4503599627370495.5,
                               2147483646.5,
                               2147483647.0,
                               2147483647.5,
                               2147483648.0,
                               -2147483647.0,
                               -2147483647.5,
                               -2147483648.0,
                               -2147483648.5,
                               1e300,
                               -1e300,
                               inf,
                               -inf,
                               std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::denorm_min(),
                               std::nextafter(2.5, 3.0),
                               std::nextafter(-6.5, 0.0)};
    for (const double v : specials) {
        EXPECT_EQ(roundDoubleToInt(v), roundToInt(v)) << std::hexfloat << v;
    }
    constexpr uint32_t kSeed = 31;
    std::mt19937 rng(kSeed);
    for (int i = 0; i < 20000; ++i) {
        // Halves, quarters and raw bit patterns across the int32 range and beyond.
        const int32_t whole = static_cast<int32_t>(rng());
        const double near = whole + static_cast<double>(rng() % 4) / 4;
        uint64_t bits = (uint64_t{rng()} << 32) | rng();
        double raw = 0;
        std::memcpy(&raw, &bits, sizeof raw);
        ASSERT_EQ(roundDoubleToInt(near), roundToInt(near)) << "seed 31, " << near;
        ASSERT_EQ(roundDoubleToInt(raw), roundToInt(raw)) << "seed 31, " << std::hexfloat << raw;
    }
}

// The row form works in blocks of four and pairs; a value outside the fast range anywhere in a
// block must not change how its neighbours round, and every length must reach its last entry.
TEST(RoundToInt, RowFormAgreesWhereverTheSpecialsSit) {
    const double specials[] = {2147483647.5, -2147483648.5,
                               std::numeric_limits<double>::quiet_NaN(),
                               -std::numeric_limits<double>::infinity(), 1e300};
    constexpr uint32_t kSeed = 37;
    std::mt19937 rng(kSeed);
    for (int n = 0; n <= 11; ++n) {
        for (int at = -1; at < n; ++at) {
            for (const double special : specials) {
                std::vector<double> from(static_cast<size_t>(n));
                for (double& v : from) {
                    v = static_cast<int32_t>(rng() % 2001) - 1000 + (rng() % 4) * 0.25;
                }
                if (at >= 0) from[static_cast<size_t>(at)] = special;
                std::vector<int32_t> to(static_cast<size_t>(n) + 1, 12345);
                roundDoublesToInt(from.data(), to.data(), n);
                for (int i = 0; i < n; ++i) {
                    ASSERT_EQ(to[static_cast<size_t>(i)], roundToInt(from[static_cast<size_t>(i)]))
                        << "seed 37, n " << n << ", special at " << at << ", entry " << i;
                }
                ASSERT_EQ(to[static_cast<size_t>(n)], 12345) << "wrote past the end, n " << n;
                if (at < 0) break;
            }
        }
    }
}

TEST(WaveletConstants, AreTheRoundedValuesOfTheDesign) {
    EXPECT_EQ(kS2, std::sqrt(2.0));
    EXPECT_EQ(kS3, std::sqrt(3.0));
    // The single-precision 1.414 is 2965373 / 2^21.
    EXPECT_EQ(static_cast<long double>(kHaarFactor), 2965373.0L / 2097152.0L);
    EXPECT_EQ(std::numeric_limits<long double>::digits, 64);
}

// ---- Haar pairs: the rounding of both directions (known values) ------------------------------

// A 16-long line gets exactly one Haar level, so each pair (a[2i], a[2i+1]) becomes the low
// coefficient a[i] and the detail a[8+i].
const Ints kPairs = {10, 6, 10, 7, 0, 1, 255, 255, 3, 3, 2, 2, 6, 10, -3, -3};
// Averages 8, 8 (8.5 to even), 0 (0.5 to even), 255, 3, 2, 8, -3; differences 2, 2, 0, 0, 0,
// 0, -2, 0; each times 1.414 rounded: 8 -> 11.312 -> 11, 255 -> 360.57 -> 361, 2 -> 2.828 -> 3.
const Ints kPairsForward = {11, 11, 0, 361, 4, 3, 11, -4, 3, 3, 0, 0, 0, 0, -3, 0};
// (11, 3): 14 / 1.414 -> 10, 8 / 1.414 -> 6; (361, 0): 255.3 -> 255; (4, 0): 2.83 -> 3.
const Ints kPairsRestored = {10, 6, 10, 6, 0, 0, 255, 255, 3, 3, 2, 2, 6, 10, -3, -3};

TEST(HaarPairs, ForwardAlongXMatchesTheWorkedPairs) {
    Plane plane = planeWithLine(kPairs, 3, true, 20);
    HAARFWDX(plane, 3, 16);
    EXPECT_EQ(lineOf(plane, 3, 16, true), kPairsForward);
    EXPECT_TRUE(onlyLineTouched(plane, 3, 16, true));
}

TEST(HaarPairs, InverseAlongXRestoresLossily) {
    Plane plane = planeWithLine(kPairsForward, 3, true, 20);
    HAARINVX(plane, 3, 16);
    EXPECT_EQ(lineOf(plane, 3, 16, true), kPairsRestored);
    EXPECT_TRUE(onlyLineTouched(plane, 3, 16, true));
}

TEST(HaarPairs, ForwardAndInverseAlongYAddressTheColumn) {
    Plane plane = planeWithLine(kPairs, 5, false, 20);
    HAARFWDY(plane, 5, 16, 0);
    EXPECT_EQ(lineOf(plane, 5, 16, false), kPairsForward);
    EXPECT_TRUE(onlyLineTouched(plane, 5, 16, false));
    HAARINVY(plane, 5, 16);
    EXPECT_EQ(lineOf(plane, 5, 16, false), kPairsRestored);
    EXPECT_TRUE(onlyLineTouched(plane, 5, 16, false));
}

TEST(HaarPairs, RestoredPairsAreAFixedPoint) {
    // 10, 6 -> 11, 3 -> 10, 6 again: a second round trip changes nothing.
    Plane plane = planeWithLine(kPairsRestored, 0, true, 16);
    HAARFWDX(plane, 0, 16);
    EXPECT_EQ(lineOf(plane, 0, 16, true), kPairsForward);
}

TEST(HaarPairs, AverageRoundsHalvesToEvenNotTowardZero) {
    // Averages 3.5 -> 4, -3.5 -> -4, 1.5 -> 2, -0.5 -> 0, 5.5 -> 6: truncation would give 3, -3,
    // 1, 0, 5 and rounding away from zero 4, -4, 2, -1, 6.
    Plane plane = planeWithLine({3, 4, -3, -4, 1, 2, -1, 0, 5, 6, 0, 0, 0, 0, 0, 0}, 0, true, 16);
    HAARFWDX(plane, 0, 16);
    EXPECT_EQ(lineOf(plane, 0, 16, true),
              (Ints{6, -6, 3, 0, 8, 0, 0, 0, -1, 1, -1, -1, -1, 0, 0, 0}));
    HAARINVX(plane, 0, 16);
    EXPECT_EQ(lineOf(plane, 0, 16, true),
              (Ints{4, 5, -4, -5, 1, 3, -1, 1, 5, 6, 0, 0, 0, 0, 0, 0}));
}

TEST(HaarPairs, FactorIsTheSinglePrecision1414) {
    // 1.414 x 750 = 1060.5 is a tie for the decimal factor (to even: 1060); the float factor
    // 1.41400003433 gives 1060.500026 -> 1061. Low-band values of this size are common after a
    // few levels of a bright picture (255 grows by 1.414 per level).
    Plane plane = planeWithLine(Ints(16, 750), 0, true, 16);
    HAARFWDX(plane, 0, 16);
    Ints expected(16, 0);
    std::fill_n(expected.begin(), 8, 1061);
    EXPECT_EQ(lineOf(plane, 0, 16, true), expected);
    HAARINVX(plane, 0, 16);  // 1061 / 1.414 = 750.35
    EXPECT_EQ(lineOf(plane, 0, 16, true), Ints(16, 750));
}

// ---- Haar level rules ------------------------------------------------------------------------

// A constant line of 10 keeps its details 0 and maps its low band v -> round(1.414 v) per
// level: 10 -> 14 -> 20 -> 28 -> 40 -> 57. The band length and value show the level count.
struct HaarLevelCase {
    int n;
    int levels;
    int band;   // low-band length after the last level
    int value;  // low-band value
};

TEST(HaarLevels, ConstantLineShowsTheLevelsOfEachLength) {
    const HaarLevelCase cases[] = {
        {48, 4, 3, 40},   // 48, 24, 12, 6
        {96, 5, 3, 57},   // 96, 48, 24, 12, 6
        {64, 3, 8, 28},   // 64, 32, 16
        {128, 4, 8, 40},  // 128, 64, 32, 16
        {256, 5, 8, 57},  // 256 .. 16
        {32, 2, 8, 20},   // 32, 16
        {24, 1, 12, 14},  // 24 only
        {16, 1, 8, 14},   // 16 only
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("n = " + std::to_string(c.n));
        Ints expected(c.n, 0);
        std::fill_n(expected.begin(), c.band, c.value);
        Plane plane = planeWithLine(Ints(c.n, 10), 1, true, c.n);
        HAARFWDX(plane, 1, c.n);
        EXPECT_EQ(lineOf(plane, 1, c.n, true), expected);
        HAARINVX(plane, 1, c.n);
        EXPECT_EQ(lineOf(plane, 1, c.n, true), Ints(c.n, 10));

        Plane column = planeWithLine(Ints(c.n, 10), 1, false, c.n);
        HAARFWDY(column, 1, c.n, 0);
        EXPECT_EQ(lineOf(column, 1, c.n, false), expected);
        HAARINVY(column, 1, c.n);
        EXPECT_EQ(lineOf(column, 1, c.n, false), Ints(c.n, 10));
    }
}

TEST(HaarLevels, LinesOfTwelveOrLessAreLeftAlone) {
    std::mt19937 rng(12);
    for (int n : {1, 2, 6, 8, 12}) {
        SCOPED_TRACE("n = " + std::to_string(n));
        const Ints values = randomInts(rng, n, -255, 255);
        Plane plane = planeWithLine(values, 0, true, 12);
        HAARFWDX(plane, 0, n);
        EXPECT_EQ(lineOf(plane, 0, n, true), values);
        HAARINVX(plane, 0, n);
        EXPECT_EQ(lineOf(plane, 0, n, true), values);
        Plane column = planeWithLine(values, 0, false, 12);
        HAARFWDY(column, 0, n, 0);
        EXPECT_EQ(lineOf(column, 0, n, false), values);
        HAARINVY(column, 0, n);
        EXPECT_EQ(lineOf(column, 0, n, false), values);
        EXPECT_TRUE(onlyLineTouched(column, 0, n, false));
    }
}

TEST(HaarLevels, ChromaLineOf24GetsOneLevelAndItsInverse) {
    Ints line = kPairs;
    for (int i = 0; i < 4; ++i) line.insert(line.end(), {10, 6});
    const Ints forward = {11, 11, 0, 361, 4, 3, 11, -4, 11, 11, 11, 11,
                          3,  3,  0, 0,   0, 0, -3, 0,  3,  3,  3,  3};
    Ints restored = kPairsRestored;
    for (int i = 0; i < 4; ++i) restored.insert(restored.end(), {10, 6});

    Plane plane = planeWithLine(line, 2, true, 24);
    HAARFWDX(plane, 2, 24);
    EXPECT_EQ(lineOf(plane, 2, 24, true), forward);
    HAARINVX(plane, 2, 24);
    EXPECT_EQ(lineOf(plane, 2, 24, true), restored);
}

TEST(HaarLevels, ShorterLineInALargerPlaneTouchesOnlyItsElements) {
    std::mt19937 rng(7);
    const Ints values = randomInts(rng, 32, 0, 255);
    Plane plane = planeWithLine(values, 4, true, 64);
    HAARFWDX(plane, 4, 32);
    EXPECT_TRUE(onlyLineTouched(plane, 4, 32, true));
    HAARINVX(plane, 4, 32);
    EXPECT_TRUE(onlyLineTouched(plane, 4, 32, true));
    EXPECT_TRUE(linesClose(lineOf(plane, 4, 32, true), values, 4));
}

// ---- HAARFWDY thresholding -------------------------------------------------------------------

TEST(HaarThreshold, ZeroesMagnitudesBelowThresholdIncludingTheLowBand) {
    // Threshold 4: the details 3 and -3 and the low coefficient 3 (index 5) go; 4 and -4 stay.
    const Ints expected = {11, 11, 0, 361, 4, 0, 11, -4, 0, 0, 0, 0, 0, 0, 0, 0};
    Plane plane = planeWithLine(kPairs, 2, false, 16);
    HAARFWDY(plane, 2, 16, 4);
    EXPECT_EQ(lineOf(plane, 2, 16, false), expected);
    EXPECT_TRUE(onlyLineTouched(plane, 2, 16, false));
}

TEST(HaarThreshold, ThresholdEqualToAMagnitudeKeepsIt) {
    Plane plane = planeWithLine(kPairs, 2, false, 16);
    HAARFWDY(plane, 2, 16, 3);
    EXPECT_EQ(lineOf(plane, 2, 16, false), kPairsForward);  // every magnitude is 0 or >= 3
}

TEST(HaarThreshold, ThresholdZeroMatchesTheUnthresholdedTransform) {
    std::mt19937 rng(40);
    for (int n : {16, 24, 48, 64, 96, 128, 256}) {
        SCOPED_TRACE("n = " + std::to_string(n));
        const Ints values = randomInts(rng, n, -255, 255);
        Plane rows = planeWithLine(values, 0, true, n);
        Plane columns = planeWithLine(values, 0, false, n);
        HAARFWDX(rows, 0, n);
        HAARFWDY(columns, 0, n, 0);
        EXPECT_EQ(lineOf(columns, 0, n, false), lineOf(rows, 0, n, true));
    }
}

TEST(HaarThreshold, ActsOnceAfterAllLevels) {
    // Thresholding per level would also remove small low-band values of the first levels and
    // change the coarser coefficients; applied once, it only zeroes entries of the final line.
    constexpr uint32_t kSeed = 4711;
    std::mt19937 rng(kSeed);
    for (int n : {32, 48, 64, 96, 128, 256}) {
        for (int threshold : {1, 2, 5, 9, 20}) {
            SCOPED_TRACE("seed " + std::to_string(kSeed) + ", n " + std::to_string(n) +
                         ", threshold " + std::to_string(threshold));
            const Ints values = randomInts(rng, n, -12, 12);
            Plane plain = planeWithLine(values, 1, false, n);
            Plane cut = planeWithLine(values, 1, false, n);
            HAARFWDY(plain, 1, n, 0);
            HAARFWDY(cut, 1, n, threshold);
            Ints expected = lineOf(plain, 1, n, false);
            for (auto& v : expected) {
                if (std::abs(v) < threshold) v = 0;
            }
            EXPECT_EQ(lineOf(cut, 1, n, false), expected);
        }
    }
}

TEST(HaarThreshold, AppliesEvenWhenTheLineHasNoLevel) {
    Plane plane = planeWithLine({5, -2, 0, 1, 9, -9}, 0, false, 12);
    HAARFWDY(plane, 0, 6, 2);
    EXPECT_EQ(lineOf(plane, 0, 6, false), (Ints{5, -2, 0, 0, 9, -9}));
}

// ---- Haar round trips (seeded properties) ----------------------------------------------------

// The Haar pair is lossy by design. Over many seeds a 1-D line in -255..255 comes back within 4
// (2 for a single level) and a 2-D plane of 0..255 within 7; a level done twice, skipped or in
// the wrong order gives errors in the tens.
TEST(HaarRoundTrip, LinesRestoreWithinFour) {
    constexpr uint32_t kSeed = 20240611;
    std::mt19937 rng(kSeed);
    for (int n : {16, 24, 32, 48, 64, 96, 128, 256}) {
        for (int trial = 0; trial < 50; ++trial) {
            SCOPED_TRACE("seed " + std::to_string(kSeed) + ", n " + std::to_string(n) + ", trial " +
                         std::to_string(trial));
            const Ints values = randomInts(rng, n, -255, 255);
            Plane plane = planeWithLine(values, 0, true, n);
            HAARFWDX(plane, 0, n);
            HAARINVX(plane, 0, n);
            ASSERT_TRUE(linesClose(lineOf(plane, 0, n, true), values, n <= 24 ? 2 : 4));
        }
    }
}

TEST(HaarRoundTrip, PlanesRestoreWithinSevenInTheDriversOrder) {
    constexpr uint32_t kSeed = 99;
    std::mt19937 rng(kSeed);
    for (int n : {12, 24, 48, 64, 96, 128, 256}) {
        SCOPED_TRACE("seed " + std::to_string(kSeed) + ", n " + std::to_string(n));
        Plane plane(n, n);
        for (auto& v : plane.samples) v = static_cast<int32_t>(rng() % 256);
        const Ints original = plane.samples;
        for (int k = 0; k < n; ++k) HAARFWDX(plane, k, n);
        for (int k = 0; k < n; ++k) HAARFWDY(plane, k, n, 0);
        for (int k = 0; k < n; ++k) HAARINVX(plane, k, n);
        for (int k = 0; k < n; ++k) HAARINVY(plane, k, n);
        EXPECT_TRUE(linesClose(plane.samples, original, 7));
    }
}

// ---- D4 split and merge ----------------------------------------------------------------------

TEST(D4Reorder, SplitPutsEvensBeforeOddsAndMergeUndoesIt) {
    for (int L : {2, 4, 6, 12, 16, 48, 256}) {
        SCOPED_TRACE("L = " + std::to_string(L));
        Doubles line(L + 3, -1.0);  // elements past L must stay
        std::iota(line.begin(), line.begin() + L, 0.0);
        const Doubles original = line;
        D4SPLIT(line, L);
        for (int i = 0; i < L / 2; ++i) {
            EXPECT_EQ(line[i], 2 * i);
            EXPECT_EQ(line[L / 2 + i], 2 * i + 1);
        }
        EXPECT_EQ(line[L], -1.0);
        D4MERGE(line, L);
        EXPECT_EQ(line, original);
    }
}

TEST(D4Reorder, OddLengthFollowsTheSwapNetwork) {
    Doubles line = {0, 1, 2, 3, 4};
    D4SPLIT(line, 5);
    EXPECT_EQ(line, (Doubles{0, 2, 4, 1, 3}));
}

// ---- D4 known values -------------------------------------------------------------------------

TEST(D4Values, OneLevelOnAConstantLine) {
    Doubles line(16, 100.0);
    D4FORWARD(line, 16, 1, 64);
    for (int i = 0; i < 8; ++i) EXPECT_NEAR(line[i], 141.421356, 5e-7) << i;
    for (int i = 8; i < 16; ++i) EXPECT_NEAR(line[i], 0.0, 1e-12) << i;
}

TEST(D4Values, OneLevelOnARampHasOnlyTheWrapRoundDetail) {
    Doubles line(16);
    std::iota(line.begin(), line.end(), 0.0);
    D4FORWARD(line, 16, 1, 128);
    EXPECT_NEAR(line[8], 5.6569, 5e-5);  // 4 sqrt(2): the pair (14, 15) predicted from s[0]
    for (int i = 9; i < 16; ++i) EXPECT_NEAR(line[i], 0.0, 1e-12) << i;
}

// Level counts, seen on a constant line of 1: after k levels the low band is n / 2^k long and
// holds sqrt(2)^k, the rest is 0 to rounding noise.
struct D4LevelCase {
    int n;
    int mode;
    int frameSize;
    int levels;
};

TEST(D4Values, ConstantLineShowsTheLevelRule) {
    const D4LevelCase cases[] = {
        {48, 0, 48, 3},   {24, 0, 48, 2},  {12, 0, 48, 1},  // down to 12 for frames of 48
        {96, 0, 96, 4},   {48, 0, 96, 3},  {24, 0, 96, 2},  // and 96: a chroma 48 does 48..12
        {48, 1, 48, 3},                                     // mode 1 too
        {64, 0, 64, 4},   {32, 0, 64, 4},  {16, 0, 64, 4},  // n down to n/8 otherwise
        {128, 0, 128, 4}, {64, 0, 128, 4}, {32, 0, 128, 4}, {256, 0, 256, 4},
        {128, 0, 256, 4}, {64, 0, 256, 4}, {16, 1, 64, 1},  {256, 1, 256, 1},  // mode 1: one level
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("n " + std::to_string(c.n) + ", mode " + std::to_string(c.mode) +
                     ", frame size " + std::to_string(c.frameSize));
        Doubles line(c.n, 1.0);
        D4FORWARD(line, c.n, c.mode, c.frameSize);
        const int band = c.n >> c.levels;
        const double gain = std::pow(std::sqrt(2.0), c.levels);
        Doubles expected(c.n, 0.0);
        std::fill_n(expected.begin(), band, gain);
        EXPECT_TRUE(linesClose(line, expected, 1e-12));

        // The inverse must start at the same smallest level: a band-only line inverts to 1.
        Doubles bandOnly(c.n, 0.0);
        std::fill_n(bandOnly.begin(), band, gain);
        D4INVERSE(bandOnly, c.n, c.mode, c.frameSize);
        EXPECT_TRUE(linesClose(bandOnly, Doubles(c.n, 1.0), 1e-12));
    }
}

// ---- D4 and CDF 9/7: extended precision decides exact ties -----------------------------------
//
// D4 is orthonormal and periodic, so after the four levels of a 16-long chroma line (16, 8, 4,
// 2) the single low coefficient is the projection on the constant vector: sum / 4. A line whose
// sum is 2 mod 4 makes it an exact half in exact arithmetic; S2 and S3 are rounded to double,
// so the computed value lands on the half or a few units of the last place beside it, and only
// the precision of each statement decides which. The expected values below come from an exact
// rational model of the statements (each operation rounded to a 64-bit mantissa, ties to even,
// each store to a 53-bit double), not from this implementation. The same model with 53-bit
// operations (plain doubles) gives -0x1.37ffffffffffep+4 = -19.499999999999993 for the first
// value, which rounds to -19, and differs in 11 of the 16 coefficients.

const Doubles kTieLine = {-100, -85, 67, 16,  -4,   22, -105, 107,
                          -34,  -48, 9,  100, -127, 6,  58,   40};  // sum -78

TEST(D4Precision, DcOfAChromaLineIsAnExactTieAndRoundsToEven) {
    Doubles line = kTieLine;
    D4FORWARD(line, 16, 0, 64);
    EXPECT_EQ(line[0], -19.5);
    EXPECT_EQ(roundAll(line),
              (Ints{-20, -2, 18, -8, 114, 31, 91, 69, 59, -80, 26, 144, 16, 26, 133, -44}));
}

TEST(D4Precision, ForwardBitsMatchTheExtendedModel) {
    const Doubles expected = {
        -0x1.3800000000000p+4, -0x1.c3d626ab5f236p+0, 0x1.24d1f77075454p+4, -0x1.0847b5c5b6549p+3,
        0x1.c91d2c0fc4e07p+6,  0x1.f2fab8b4d4312p+4,  0x1.6a0d9bb1f0263p+6, 0x1.14b4a75e5b50cp+6,
        0x1.d892006120640p+5,  -0x1.413fdd13ad843p+6, 0x1.a3a5d801de4efp+4, 0x1.1fd97b88672c9p+7,
        0x1.f4f389339c624p+3,  0x1.99bdb4f3e3328p+4,  0x1.096dc8881fdd1p+7, -0x1.62510cd3b4d91p+5};
    Doubles line = kTieLine;
    D4FORWARD(line, 16, 0, 128);
    EXPECT_TRUE(linesClose(line, expected, 0.0));
}

// The other way round: a 16-long chroma line holding only its low coefficient -26 inverts to
// -26 / 4 = -6.5 everywhere in exact arithmetic. In the extended model samples 0, 1 and 6 are
// exactly -6.5 (to even: -6) and the rest lie one or a few units of the last place off the half,
// which decides their rounding. With plain doubles samples 1, 5, 6, 9 and 10 round differently.
TEST(D4Precision, DcOnlyChromaLineInvertsToExactTies) {
    Doubles line(16, 0.0);
    line[0] = -26;
    D4INVERSE(line, 16, 0, 64);
    EXPECT_EQ(line[0], -6.5);
    EXPECT_EQ(line[1], -6.5);
    EXPECT_EQ(line[6], -6.5);
    EXPECT_EQ(line[2], -0x1.a000000000001p+2);
    EXPECT_EQ(line[15], -0x1.9fffffffffff8p+2);
    EXPECT_EQ(roundAll(line),
              (Ints{-6, -6, -7, -6, -7, -6, -6, -6, -7, -6, -7, -6, -7, -6, -6, -6}));
}

TEST(CdfPrecision, OneLevelBitsMatchTheExtendedModel) {
    // The plain-double model differs in 11 of these 16 values.
    const Doubles expected = {
        -0x1.f9620033e04c9p+0, 0x1.58211e1a1c783p+4,  0x1.97c0644776321p+3,  -0x1.e5b831dfdf074p+5,
        0x1.41005db93b788p+5,  0x1.467ff8f36b3bep+4,  0x1.572100b3990aap+4,  0x1.1649cb0ed201ap+6,
        0x1.598a18cc0de7ap+4,  0x1.4d71939f584fbp+4,  -0x1.484fdd082e00cp+5, -0x1.f5bbec029ac95p+5,
        0x1.af0ee164e0819p+3,  -0x1.bdac52f6dfcd4p+5, 0x1.7e4109adeb1dcp+5,  0x1.4495ce8daa9cdp+6};
    Doubles line = {12, -7, 33, 0, 5, 5, -90, 41, 17, 3, -2, 64, 8, -8, 100, 1};
    CDF97FWD(line, 16);
    EXPECT_TRUE(linesClose(line, expected, 0.0));
}

// Every double the multi-level kernels leave, hashed (FNV-1a over the bit patterns), for seeded
// lines at every length the frame drivers use, forward and back: pins the extended-precision
// statements, their order and the reordering bit for bit across any rework of the loops.
uint64_t hashLine(uint64_t hash, const Doubles& line) {
    for (const double v : line) {
        uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        for (int i = 0; i < 8; ++i) {
            hash ^= (bits >> (8 * i)) & 0xFF;
            hash *= 0x100000001B3ull;
        }
    }
    return hash;
}

TEST(WaveletPinned, CdfAndD4LinesAtEveryDriverLength) {
    constexpr uint32_t kSeed = 4242;
    std::mt19937 rng(kSeed);
    uint64_t cdf = 0xcbf29ce484222325ull;
    uint64_t d4 = cdf;
    for (int frameSize : kFrameSizes) {
        for (int level = 0; level < 4; ++level) {
            const int n = frameSize >> level;
            Doubles line(n);
            for (auto& v : line) v = static_cast<int>(rng() % 4001) - 2000;
            CDF97FWD(line, n);
            cdf = hashLine(cdf, line);
            CDF97INV(line, n);
            cdf = hashLine(cdf, line);
        }
        for (int n : {frameSize, frameSize / 2, frameSize / 4}) {
            Doubles line = randomLine(rng, n);
            D4FORWARD(line, n, 0, frameSize);
            d4 = hashLine(d4, line);
            D4INVERSE(line, n, 0, frameSize);
            d4 = hashLine(d4, line);
        }
    }
    SCOPED_TRACE("seed " + std::to_string(kSeed));
    EXPECT_EQ(cdf, 0x7ae1f723f1f64be7ull);
    EXPECT_EQ(d4, 0xc22846cac99b6dd5ull);
}

// Every sample the Haar kernels leave, hashed, for seeded planes of every frame size and chroma
// side, along both axes, with and without a threshold, forward and back.
TEST(WaveletPinned, HaarPlanesAtEverySideAndThreshold) {
    constexpr uint32_t kSeed = 4343;
    std::mt19937 rng(kSeed);
    uint64_t hash = 0xcbf29ce484222325ull;
    const auto mix = [&hash](const Plane& plane) {
        for (const int32_t v : plane.samples) {
            for (int i = 0; i < 4; ++i) {
                hash ^= (static_cast<uint32_t>(v) >> (8 * i)) & 0xFF;
                hash *= 0x100000001B3ull;
            }
        }
    };
    for (const int side : {256, 128, 96, 64, 48, 32, 24, 16, 12}) {
        for (const int threshold : {0, 30}) {
            Plane plane(side, side);
            for (int32_t& v : plane.samples) v = static_cast<int32_t>(rng() % 1021) - 510;
            for (int k = 0; k < side; ++k) HAARFWDX(plane, k, side);
            for (int k = 0; k < side; ++k) HAARFWDY(plane, k, side, threshold);
            mix(plane);
            for (int k = 0; k < side; ++k) HAARINVX(plane, k, side);
            for (int k = 0; k < side; ++k) HAARINVY(plane, k, side);
            mix(plane);
        }
    }
    // Values near the int32 ends, where the products and quotients saturate.
    Plane wide(16, 16);
    for (int32_t& v : wide.samples) v = static_cast<int32_t>(rng());
    for (int k = 0; k < 16; ++k) HAARFWDX(wide, k, 16);
    for (int k = 0; k < 16; ++k) HAARFWDY(wide, k, 16, 0);
    mix(wide);
    for (int k = 0; k < 16; ++k) HAARINVX(wide, k, 16);
    for (int k = 0; k < 16; ++k) HAARINVY(wide, k, 16);
    mix(wide);
    SCOPED_TRACE("seed " + std::to_string(kSeed));
    EXPECT_EQ(hash, 0x0c1db41831378307ull);
}

// The frame drivers transform all columns at once, gathered in blocks; every sample must be
// what the kernels give column by column, also for planes wider or taller than n, n not a
// multiple of the block, and planes the kernels refuse in part.
TEST(HaarColumns, BlocksGiveTheKernelsColumnByColumn) {
    constexpr uint32_t kSeed = 515;
    std::mt19937 rng(kSeed);
    struct Shape {
        int width;
        int height;
        int n;
    };
    for (const Shape shape : {Shape{64, 64, 64}, Shape{48, 48, 48}, Shape{40, 30, 27},
                              Shape{30, 40, 27}, Shape{20, 40, 30}, Shape{256, 256, 256}}) {
        for (const int threshold : {0, 40}) {
            SCOPED_TRACE(testing::Message() << "seed 515, " << shape.width << " x " << shape.height
                                            << ", n " << shape.n << ", threshold " << threshold);
            Plane original(shape.width, shape.height);
            for (int32_t& v : original.samples) v = static_cast<int32_t>(rng() % 2001) - 1000;
            Plane blocked = original;
            Plane single = original;
            haarForwardColumns(blocked, shape.n, threshold);
            for (int k = 0; k < shape.n; ++k) HAARFWDY(single, k, shape.n, threshold);
            ASSERT_EQ(blocked.samples, single.samples);
            haarInverseColumns(blocked, shape.n);
            for (int k = 0; k < shape.n; ++k) HAARINVY(single, k, shape.n);
            ASSERT_EQ(blocked.samples, single.samples);
        }
    }
}

// ---- D4 round trips (seeded properties) ------------------------------------------------------

// Without rounding to integers the inverse restores a line of -255..255 to float rounding:
// observed errors stay below 5e-13; the bound leaves room and still catches any wrong constant.
TEST(D4RoundTrip, EveryFrameSizeAndChromaLength) {
    constexpr uint32_t kSeed = 1234;
    std::mt19937 rng(kSeed);
    for (int frameSize : kFrameSizes) {
        for (int n : {frameSize, frameSize / 2, frameSize / 4}) {
            for (int mode : {0, 1}) {
                for (int trial = 0; trial < 5; ++trial) {
                    SCOPED_TRACE("seed " + std::to_string(kSeed) + ", frame size " +
                                 std::to_string(frameSize) + ", n " + std::to_string(n) +
                                 ", mode " + std::to_string(mode) + ", trial " +
                                 std::to_string(trial));
                    const Doubles original = randomLine(rng, n);
                    Doubles line = original;
                    line.push_back(12345.0);  // the frame driver's line is one longer
                    D4FORWARD(line, n, mode, frameSize);
                    D4INVERSE(line, n, mode, frameSize);
                    EXPECT_EQ(line.back(), 12345.0);
                    line.pop_back();
                    ASSERT_TRUE(linesClose(line, original, 1e-9));
                }
            }
        }
    }
}

TEST(D4RoundTrip, SingleStepsInvertEachOther) {
    constexpr uint32_t kSeed = 5;
    std::mt19937 rng(kSeed);
    for (int L : {2, 4, 6, 12, 16, 24, 48, 64, 96, 128, 256}) {
        SCOPED_TRACE("seed " + std::to_string(kSeed) + ", L " + std::to_string(L));
        const Doubles original = randomLine(rng, L);
        Doubles line = original;
        D4LIFT(line, L);
        D4UNLIFT(line, L);
        EXPECT_TRUE(linesClose(line, original, 1e-9));
    }
}

// ---- CDF 9/7 ---------------------------------------------------------------------------------

TEST(CdfValues, ConstantLineGivesSqrt2AndTinyNegativeDetails) {
    for (int n : {16, 256}) {
        SCOPED_TRACE("n = " + std::to_string(n));
        Doubles line(n, 100.0);
        CDF97FWD(line, n);
        for (int i = 0; i < n / 2; ++i) EXPECT_NEAR(line[i], 141.42, 0.005) << i;
        // Not 0: the five constants are rounded decimals. Negative: details leave reversed.
        for (int i = n / 2; i < n; ++i) EXPECT_NEAR(line[i], -0.00023, 0.00001) << i;
        CDF97INV(line, n);
        EXPECT_TRUE(linesClose(line, Doubles(n, 100.0), 1e-12));
    }
}

TEST(CdfValues, DetailsComeOutWithTheirSignReversed) {
    // An odd impulse of +1 is its own detail: 1 - 2BC = 0.9064 after the lifting, divided by
    // -K it leaves as -0.78849 at position h + 3.
    Doubles line(16, 0.0);
    line[7] = 1.0;
    CDF97FWD(line, 16);
    EXPECT_NEAR(line[11], -0.788486, 1e-6);
    EXPECT_NEAR(line[10], 0.040689, 1e-6);
    EXPECT_NEAR(line[3], 0.377403, 1e-6);
}

TEST(CdfRoundTrip, FourLevelsRestoreRandomLines) {
    constexpr uint32_t kSeed = 97;
    std::mt19937 rng(kSeed);
    for (int n : kFrameSizes) {
        for (int trial = 0; trial < 10; ++trial) {
            SCOPED_TRACE("seed " + std::to_string(kSeed) + ", n " + std::to_string(n) + ", trial " +
                         std::to_string(trial));
            const Doubles original = randomLine(rng, n);
            Doubles line = original;
            cdfForward4(line, n);
            cdfInverse4(line, n);
            ASSERT_TRUE(linesClose(line, original, 1e-9));
        }
    }
}

TEST(CdfRoundTrip, ShortestLengths) {
    for (int n : {2, 4, 6}) {
        SCOPED_TRACE("n = " + std::to_string(n));
        std::mt19937 rng(static_cast<uint32_t>(n));
        const Doubles original = randomLine(rng, n);
        Doubles line = original;
        CDF97FWD(line, n);
        CDF97INV(line, n);
        EXPECT_TRUE(linesClose(line, original, 1e-9));
    }
}

// ---- Arguments outside the contract: no access past the caller's array, no endless loop -----
//
// Run under AddressSanitizer: every span below is exactly as long as the kernel may use.

TEST(WaveletContract, D4ShortLinesTerminateAndStayInside) {
    // For n below 8 (mode 0, frames other than 48 and 96) the level rule reaches a level on 1,
    // whose half length 0 would read s[-1], and for n below 4 it would halve 0 for ever.
    for (int n = 0; n < 8; ++n) {
        for (int mode : {0, 1}) {
            SCOPED_TRACE("n " + std::to_string(n) + ", mode " + std::to_string(mode));
            std::mt19937 rng(static_cast<uint32_t>(n));
            Doubles line = randomLine(rng, n);
            const Doubles original = line;
            D4FORWARD(line, n, mode, 64);
            D4INVERSE(line, n, mode, 64);
            // Where the two rules pick the same levels (2, 4 and 2; a single level), the line
            // comes back; for n = 6 they do not (6, 3, 2 against 2, 4), which no caller meets.
            if (n == 2 || n == 4 || (mode == 1 && n % 2 == 0)) {
                EXPECT_TRUE(linesClose(line, original, 1e-9));
            }
        }
    }
}

TEST(WaveletContract, D4OddLengthStepsStayInside) {
    // Sentinels past L show a step that reaches beyond its length without a sanitizer; a
    // constant line stays finite and keeps its sentinels through every step.
    constexpr double kSentinel = -12345.0;
    constexpr int kTail = 5;
    for (int L : {3, 5, 7, 19}) {
        SCOPED_TRACE("L = " + std::to_string(L));
        Doubles line(L + kTail, kSentinel);
        std::fill_n(line.begin(), L, 1.0);
        const auto tailIntact = [&](const char* step) {
            for (int i = L; i < L + kTail; ++i) {
                if (line[i] != kSentinel) {
                    ADD_FAILURE() << step << " wrote line[" << i << "] = " << line[i];
                    return;
                }
            }
            for (int i = 0; i < L; ++i) {
                if (!std::isfinite(line[i])) {
                    ADD_FAILURE() << step << " left line[" << i << "] = " << line[i];
                    return;
                }
            }
        };
        const std::span<double> head(line.data(), static_cast<size_t>(L));
        D4LIFT(head, L);
        tailIntact("D4LIFT");
        D4UNLIFT(head, L);
        tailIntact("D4UNLIFT");
        D4SPLIT(head, L);
        tailIntact("D4SPLIT");
        D4MERGE(head, L);
        tailIntact("D4MERGE");
        D4FORWARD(head, L, 0, 64);
        tailIntact("D4FORWARD");
        D4INVERSE(head, L, 0, 64);
        tailIntact("D4INVERSE");
    }
}

TEST(WaveletContract, LengthsBeyondTheLineLeaveItUntouched) {
    Doubles line(16, 3.0);
    D4FORWARD(line, 17, 0, 64);
    D4INVERSE(line, 32, 0, 64);
    D4FORWARD(line, -4, 0, 64);
    D4SPLIT(line, 17);
    D4LIFT(line, 18);
    CDF97FWD(line, 18);
    CDF97INV(line, 18);
    EXPECT_EQ(line, Doubles(16, 3.0));
}

TEST(WaveletContract, CdfOddOrTooShortLengthsLeaveTheLineUntouched) {
    for (int n : {-2, 0, 1, 3, 7, 15}) {
        Doubles line(std::max(n, 0), 3.0);
        const Doubles original = line;
        CDF97FWD(line, n);
        CDF97INV(line, n);
        EXPECT_EQ(line, original) << n;
    }
}

TEST(WaveletContract, HaarLinesOutsideThePlaneAreIgnored) {
    Plane plane(16, 8);
    std::fill(plane.samples.begin(), plane.samples.end(), kMarker);
    const Ints before = plane.samples;
    HAARFWDX(plane, 8, 16);     // k past the last row
    HAARFWDX(plane, -1, 16);    // negative k
    HAARFWDX(plane, 0, 17);     // longer than a row
    HAARFWDY(plane, 0, 16, 0);  // longer than a column
    HAARINVY(plane, 16, 8);     // k past the last column
    HAARINVX(plane, 0, -3);
    EXPECT_EQ(plane.samples, before);

    Plane huge(300, 1);
    std::fill(huge.samples.begin(), huge.samples.end(), kMarker);
    HAARFWDX(huge, 0, 300);  // the work arrays hold 256
    EXPECT_EQ(huge.samples, Ints(300, kMarker));
}

TEST(WaveletContract, HaarOddLengthWhoseHalfRoundsUpStaysInside) {
    // n = 19: the level's half length round(9.5) = 10 pairs up a[18] with a[19], one past the
    // line; the kernel reads 0 there and writes only the line.
    for (bool alongX : {true, false}) {
        std::mt19937 rng(19);
        const Ints values = randomInts(rng, 19, 0, 255);
        Plane plane = planeWithLine(values, 18, alongX, 19);
        if (alongX) {
            HAARFWDX(plane, 18, 19);
            HAARINVX(plane, 18, 19);
        } else {
            HAARFWDY(plane, 18, 19, 0);
            HAARINVY(plane, 18, 19);
        }
        EXPECT_TRUE(onlyLineTouched(plane, 18, 19, alongX));
    }
}

// ---- CDF 9/7 levels on integer planes --------------------------------------------------------

// A level as its contract states it: each row of the side x side square, then each column,
// widened to doubles, through the kernel and rounded back.
template <typename Kernel>
Plane referenceByLines(Plane plane, int side, Kernel kernel) {
    for (bool alongX : {true, false}) {
        for (int k = 0; k < side; ++k) {
            Doubles line(side);
            for (int i = 0; i < side; ++i) line[i] = alongX ? plane.at(i, k) : plane.at(k, i);
            kernel(line);
            for (int i = 0; i < side; ++i) {
                (alongX ? plane.at(i, k) : plane.at(k, i)) = roundToInt(line[i]);
            }
        }
    }
    return plane;
}

Plane referenceCdfLevel(const Plane& plane, int side, bool forward) {
    return referenceByLines(plane, side, [side, forward](Doubles& line) {
        if (forward) {
            CDF97FWD(line, side);
        } else {
            CDF97INV(line, side);
        }
    });
}

void cdfLevel(Plane& plane, int side, bool forward) {
    if (forward) {
        cdf97ForwardLevel(plane, side);
    } else {
        cdf97InverseLevel(plane, side);
    }
}

// Every side the frame drivers use and a few more, inside larger planes (the samples outside the
// square must stay), at magnitudes from picture data up to where the fast evaluation's margin
// sends many lines to the kernels (2^26) and beyond it (every line), dense and sparse.
TEST(CdfLevels, MatchTheKernelsLineByLine) {
    constexpr uint32_t kSeed = 97;
    std::mt19937 rng(kSeed);
    SCOPED_TRACE("seed " + std::to_string(kSeed));
    const int kMagnitudes[] = {255, 1 << 16, 1 << 26, 1 << 29};
    for (int side : {2, 4, 6, 8, 12, 16, 20, 24, 32, 48, 64, 96, 128, 256}) {
        for (int magnitude : kMagnitudes) {
            for (bool sparse : {false, true}) {
                if (side == 256 && (sparse || magnitude != 255)) continue;  // the sanitizer build
                Plane plane(side + 3, side + 1);
                for (auto& v : plane.samples) {
                    const bool zero = sparse && rng() % 8 != 0;
                    v = zero ? 0 : randomInts(rng, 1, -magnitude, magnitude)[0];
                }
                for (bool forward : {true, false}) {
                    SCOPED_TRACE("side " + std::to_string(side) + ", magnitude " +
                                 std::to_string(magnitude) + (sparse ? ", sparse" : "") +
                                 (forward ? ", forward" : ", inverse"));
                    const Plane want = referenceCdfLevel(plane, side, forward);
                    Plane got = plane;
                    cdfLevel(got, side, forward);
                    ASSERT_TRUE(linesClose(got.samples, want.samples, 0));
                    plane = want;
                }
            }
        }
    }
}

// Lines on which plain double arithmetic rounds a value the other way (found by search): the
// extended value lies a few units of the last place off a half that the double sum meets or
// passes, e.g. 56291353.499999993 against 56291353.5, which goes to even. Each must take the
// extended kernel, as a row, or as a column in a given lane of a block: the column cases have
// rows holding one sample each in that column, which the row pass turns into the line.
TEST(CdfLevels, ValuesThatPlainDoublesRoundTheOtherWayTakeTheKernels) {
    struct Case {
        bool forward;
        int column;  // -1: the values are row 0; else rows 0..3 hold them in this column
        Ints values;
    };
    const Case kCases[] = {
        {false, -1, {-34354016, 20429834, 60085635, 52478886}},
        {true, -1, {66329883, 34404957, 23202263, -35661117}},
        {false, 3, {-27864004, 23435982, 53757810, 39695628}},
        {true, 2, {23643311, 8887397, -30954158, 10513081}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.forward ? "forward" : "inverse") + ", column " +
                     std::to_string(c.column));
        Plane plane(4, 4);
        for (int i = 0; i < 4; ++i) {
            if (c.column < 0) {
                plane.at(i, 0) = c.values[i];
            } else {
                plane.at(c.column, i) = c.values[i];
            }
        }
        const Plane want = referenceCdfLevel(plane, 4, c.forward);
        cdfLevel(plane, 4, c.forward);
        EXPECT_TRUE(linesClose(plane.samples, want.samples, 0));
    }
}

TEST(CdfLevels, SidesBeyondThePlaneLeaveItUntouched) {
    Plane plane(8, 6);
    std::fill(plane.samples.begin(), plane.samples.end(), kMarker);
    for (int side : {-2, 7, 8, 300}) {
        cdf97ForwardLevel(plane, side);
        cdf97InverseLevel(plane, side);
    }
    EXPECT_EQ(plane.samples, Ints(48, kMarker));
}

// ---- D4 on integer planes --------------------------------------------------------------------

// The driver's D4 on the whole n x n plane, with mode 0.
Plane referenceD4Plane(const Plane& plane, int frameSize, bool forward) {
    const int n = plane.width;
    return referenceByLines(plane, n, [n, frameSize, forward](Doubles& line) {
        if (forward) {
            D4FORWARD(line, n, 0, frameSize);
        } else {
            D4INVERSE(line, n, 0, frameSize);
        }
    });
}

void d4Plane(Plane& plane, int frameSize, bool forward) {
    if (forward) {
        d4ForwardPlane(plane, frameSize);
    } else {
        d4InversePlane(plane, frameSize);
    }
}

// Every frame size with the widths its planes have, plus widths whose level rule meets an odd
// length (40 at 64: 40, 20, 10, 5) or that are odd themselves, which go line by line through the
// kernels; magnitudes up to where many lines fall back (2^24) and beyond it; dense, sparse and
// low-band-only planes, whose inverse meets exact ties.
TEST(D4Planes, MatchTheKernelsLineByLine) {
    constexpr uint32_t kSeed = 44;
    std::mt19937 rng(kSeed);
    SCOPED_TRACE("seed " + std::to_string(kSeed));
    struct Shape {
        int frameSize;
        int n;
    };
    std::vector<Shape> shapes;
    for (int frameSize : kFrameSizes) {
        for (int n : {frameSize, frameSize / 2, frameSize / 4}) shapes.push_back({frameSize, n});
    }
    shapes.push_back({64, 40});
    shapes.push_back({128, 23});
    for (const Shape& shape : shapes) {
        for (int magnitude : {255, 1 << 16, 1 << 24, 1 << 28}) {
            for (int kind = 0; kind < 3; ++kind) {  // dense, sparse, low band only
                if (shape.n == 256 && (kind != 0 || magnitude != 255)) continue;  // sanitizer build
                Plane plane(shape.n, shape.n);
                for (int y = 0; y < shape.n; ++y) {
                    for (int x = 0; x < shape.n; ++x) {
                        const bool zero = (kind == 1 && rng() % 8 != 0) ||
                                          (kind == 2 && (x >= shape.n / 8 || y >= shape.n / 8));
                        plane.at(x, y) = zero ? 0 : randomInts(rng, 1, -magnitude, magnitude)[0];
                    }
                }
                for (bool forward : {true, false}) {
                    SCOPED_TRACE("frame " + std::to_string(shape.frameSize) + ", width " +
                                 std::to_string(shape.n) + ", magnitude " +
                                 std::to_string(magnitude) + ", kind " + std::to_string(kind) +
                                 (forward ? ", forward" : ", inverse"));
                    const Plane want = referenceD4Plane(plane, shape.frameSize, forward);
                    Plane got = plane;
                    d4Plane(got, shape.frameSize, forward);
                    ASSERT_TRUE(linesClose(got.samples, want.samples, 0));
                    plane = want;
                }
            }
        }
    }
}

// A DC-only chroma plane: its first row inverts to exact ties (see D4Precision above), which
// plain doubles round otherwise at several samples, and each column then holds only its DC
// again. The fast evaluation must hand those lines to the kernel.
TEST(D4Planes, ExactTiesTakeTheKernel) {
    for (int dc : {-26, -6, 10, 77}) {
        SCOPED_TRACE("dc " + std::to_string(dc));
        Plane plane(16, 16);
        plane.at(0, 0) = dc;
        const Plane want = referenceD4Plane(plane, 64, false);
        d4InversePlane(plane, 64);
        EXPECT_TRUE(linesClose(plane.samples, want.samples, 0));
    }
}

TEST(D4Planes, PlanesShorterThanWideAreLeftUntouched) {
    Plane plane(8, 6);
    std::fill(plane.samples.begin(), plane.samples.end(), kMarker);
    d4ForwardPlane(plane, 64);
    d4InversePlane(plane, 64);
    EXPECT_EQ(plane.samples, Ints(48, kMarker));
}

// ---- Haar levels: the pair statements in exact integers, whatever path the kernels take ------

// One forward (inverse) level on a[0..L-1] as the statements read, for even L: the pair average
// and difference, each times 1.414f = 2965373 / 2^21, rounded ties to even; the inverse divides
// the pair's sum and difference by 1.414f.
constexpr int64_t kHaarTimes = 2965373;

void haarLevelByStatements(Ints& a, int L, bool forward) {
    const int h = L / 2;
    Ints out(a);
    for (int i = 0; i < h; ++i) {
        if (forward) {
            const int64_t average = roundedShift(int64_t{a[2 * i]} + a[2 * i + 1], 1);
            out[i] = saturatedInt32(roundedShift(kHaarTimes * average, 21));
            out[h + i] = saturatedInt32(roundedShift(kHaarTimes * (a[2 * i] - average), 21));
        } else {
            const int64_t sum = int64_t{a[h + i]} + a[i];
            const int64_t difference = int64_t{a[i]} - a[h + i];
            out[2 * i] = saturatedInt32(roundedQuotient(sum << 21, kHaarTimes));
            out[2 * i + 1] = saturatedInt32(roundedQuotient(difference << 21, kHaarTimes));
        }
    }
    a = out;
}

// Random lines of every driver length, at magnitudes on both sides of 2^26 (where the kernels
// leave their double evaluation) and up to 2^30: each level agrees with the statements.
TEST(HaarLevels, AgreeWithTheIntegerStatementsAtEveryMagnitude) {
    constexpr uint32_t kSeed = 1414;
    std::mt19937 rng(kSeed);
    SCOPED_TRACE("seed " + std::to_string(kSeed));
    for (int n : {24, 32, 48, 64, 96, 128, 256}) {
        for (int magnitude : {255, (1 << 26) - 3, (1 << 26) + 5, 1 << 30}) {
            for (bool forward : {true, false}) {
                SCOPED_TRACE("n " + std::to_string(n) + ", magnitude " + std::to_string(magnitude) +
                             (forward ? ", forward" : ", inverse"));
                const Ints values = randomInts(rng, n, -magnitude, magnitude);
                Plane plane = planeWithLine(values, 0, true, n);
                Ints want = values;
                // The levels HAARFWDX runs (see wavelet.h), largest first.
                std::vector<int> levels;
                for (int L = n; L > (n == 48 || n == 96 ? 5 : 15); L /= 2) levels.push_back(L);
                if (forward) {
                    HAARFWDX(plane, 0, n);
                    for (int L : levels) haarLevelByStatements(want, L, true);
                } else {
                    HAARINVX(plane, 0, n);
                    for (auto L = levels.rbegin(); L != levels.rend(); ++L) {
                        haarLevelByStatements(want, *L, false);
                    }
                }
                EXPECT_TRUE(linesClose(lineOf(plane, 0, n, true), want, 0));
            }
        }
    }
}

}  // namespace
}  // namespace codec
