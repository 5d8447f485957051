#include "encoder/quantise.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "codec/wavelet.h"

namespace encoder {
namespace {

constexpr int kStep17 = 17;

TEST(QuantiseKnownValues, TableAtStep17) {
    const struct {
        int32_t v;
        uint8_t byte;
        int32_t back;
    } rows[] = {{8, 128, 0},       {9, 129, 17},    {100, 133, 113},
                {-100, 122, -102}, {300, 140, 316}, {5000, 253, 4982}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "v " << row.v);
        const uint8_t byte = quantise(row.v, 0, kStep17);
        EXPECT_EQ(byte, row.byte);
        EXPECT_EQ(dequantise(byte, kStep17), row.back);
    }
}

TEST(QuantiseKnownValues, ThresholdIsStrict) {
    EXPECT_EQ(quantise(29, 30, kStep17), 128);
    EXPECT_EQ(quantise(-29, 30, kStep17), 128);
    EXPECT_EQ(quantise(30, 30, kStep17), 130);  // 30 / 17 -> 2, 2^0.85 = 1.80 -> 2
    EXPECT_EQ(quantise(-30, 30, kStep17), 126);
}

TEST(QuantiseRounding, DivisionTiesGoToEven) {
    // 45 / 18 = 2.5 -> 2 -> 2; rounding away from zero would give 3 -> round(2.54) = 3.
    EXPECT_EQ(quantise(45, 0, 18), 130);
    EXPECT_EQ(quantise(-45, 0, 18), 126);
    // 63 / 18 = 3.5 -> 4 -> round(3.25) = 3.
    EXPECT_EQ(quantise(63, 0, 18), 131);
}

TEST(QuantiseLopsided, NegativeValuesAreOnlyDivided) {
    for (int a = 1; a <= 128; ++a) {
        SCOPED_TRACE(testing::Message() << "a " << a);
        const uint8_t byte = quantise(-a * kStep17, 0, kStep17);
        EXPECT_EQ(byte, 128 - a);
        EXPECT_EQ(dequantise(byte, kStep17), -a * kStep17);
    }
}

// Wrapping the byte would turn -130 into 254, a large positive coefficient: flat cyan came out
// magenta. Values past either end are held there instead.
TEST(QuantiseLopsided, HeldAtTheEndsOfTheByte) {
    EXPECT_EQ(quantise(-128 * kStep17, 0, kStep17), 0);
    EXPECT_EQ(quantise(-130 * kStep17, 0, kStep17), 0);
    EXPECT_EQ(dequantise(0, kStep17), -128 * kStep17);
    EXPECT_EQ(quantise(-5000 * kStep17, 0, kStep17), 0);  // beyond the quotient table
    // 127 is the largest positive w: round(a^0.85) = 128 and more stay at 255.
    EXPECT_EQ(quantise(299 * kStep17, 0, kStep17), 255);  // 299^0.85 = 127.15
    EXPECT_EQ(quantise(300 * kStep17, 0, kStep17), 255);  // 300^0.85 = 127.51 -> 128
    EXPECT_EQ(quantise(2000000000, 0, kStep17), 255);
}

TEST(QuantisePrecision, InverseExponentFromTheSingleFloat) {
    EXPECT_NEAR(static_cast<double>(inverseExponent()), 1.17647055523618375, 1e-16);
    EXPECT_NE(inverseExponent(), 1.0L / 0.85L);
}

// Each of these differs by one when 1/e is the decimal 1/0.85 or a float (values checked with
// 200-bit arithmetic).
TEST(QuantisePrecision, DequantisedValuesThatDependOnTheInverse) {
    EXPECT_EQ(dequantise(128 + 58, 73), 8669);   // float 1/e: 8668
    EXPECT_EQ(dequantise(128 + 67, 74), 10412);  // decimal 1/0.85: 10413
    EXPECT_EQ(dequantise(128 + 106, 22), 5310);  // decimal 1/0.85: 5311
    EXPECT_EQ(dequantise(128 + 116, 19), 5100);  // float 1/e: 5099
}

TEST(QuantisePowerConvention, NegativeBaseRoundsTheExponent) {
    EXPECT_EQ(signedPower(-6, 0.85L), -6);
    EXPECT_EQ(signedPower(-3, 1.6L), 9);
    EXPECT_NEAR(static_cast<double>(signedPower(2, 0.5L)), std::sqrt(2.0), 1e-15);
}

// quantise looks quotients up in a table and divides in double precision; far quotients, odd
// steps and the int32 ends take the extended formula itself. Either way the byte is the
// formula's: round(value / step) in extended precision, then the power law.
TEST(QuantiseRanges, EveryPathGivesTheExtendedFormula) {
    const auto formula = [](int32_t value, int step) {
        const int32_t a = codec::roundToInt(static_cast<long double>(value) / step);
        const int32_t w = a == 0 ? 0 : codec::roundToInt(signedPower(a, kExponent));
        return static_cast<uint8_t>(std::clamp(w, -128, 127) + 128);
    };
    const int32_t values[] = {0,         1,          -1,         8,           9,
                              17 * 1024, 17 * 1025,  -17 * 1024, -17 * 1025,  81 * 1000 + 40,
                              1'000'000, -1'000'000, 2147483647, -2147483647, -2147483647 - 1};
    for (const int step : {1, 2, 17, 18, 81, 255, 65536, 0, -3}) {
        for (const int32_t v : values) {
            EXPECT_EQ(quantise(v, 0, step), formula(v, step)) << "v " << v << ", step " << step;
        }
    }
    // Ties of the division at the table's edge and beyond, both signs.
    for (const int32_t a : {1023, 1024, 1025, 5000}) {
        for (const int sign : {1, -1}) {
            const int32_t v = sign * (18 * a + 9);
            EXPECT_EQ(quantise(v, 0, 18), formula(v, 18)) << "v " << v;
        }
    }
}

TEST(QuantiseSerialisation, PlanesInOrderEachColumnByColumn) {
    // Negative multiples of the step map to distinct bytes 128 - a.
    codec::Plane luma(2, 3);
    codec::Plane red(1, 1);
    codec::Plane blue(2, 2);
    for (int x = 0; x < 2; ++x) {
        for (int y = 0; y < 3; ++y) luma.at(x, y) = -kStep17 * (10 * x + y + 1);
    }
    red.at(0, 0) = -kStep17 * 40;
    blue.at(0, 0) = -kStep17 * 50;
    blue.at(0, 1) = -kStep17 * 51;
    blue.at(1, 0) = -kStep17 * 52;
    blue.at(1, 1) = -kStep17 * 53;
    const std::vector<uint8_t> bytes = serialise(luma, red, blue, 0, kStep17);
    const std::vector<uint8_t> expected = {128 - 1,  128 - 2,  128 - 3,  128 - 11,
                                           128 - 12, 128 - 13, 128 - 40, 128 - 50,
                                           128 - 51, 128 - 52, 128 - 53};
    EXPECT_EQ(bytes, expected);

    codec::Plane l2(2, 3);
    codec::Plane r2(1, 1);
    codec::Plane b2(2, 2);
    EXPECT_TRUE(deserialise(bytes, kStep17, l2, r2, b2));
    EXPECT_EQ(l2.samples, luma.samples);
    EXPECT_EQ(r2.samples, red.samples);
    EXPECT_EQ(b2.samples, blue.samples);
}

// serialise divides a whole frame by one step with a reciprocal and a remainder check instead of
// quantise's division; every byte must still be quantise of its coefficient, ties included.
TEST(QuantiseSerialisation, EveryByteIsQuantiseOfItsCoefficient) {
    constexpr uint32_t kSeed = 8;
    std::mt19937 rng(kSeed);
    for (const int step : {1, 17, 18, 81, 255}) {
        for (const int threshold : {0, 30}) {
            SCOPED_TRACE(testing::Message()
                         << "seed 8, step " << step << ", threshold " << threshold);
            codec::Plane luma(24, 24);
            codec::Plane red(6, 6);
            codec::Plane blue(12, 12);
            int k = 0;
            for (codec::Plane* plane : {&luma, &red, &blue}) {
                for (int32_t& v : plane->samples) {
                    // Exact halves of the step, large values and ordinary ones in turn.
                    switch (k++ % 3) {
                        case 0:
                            v = (static_cast<int32_t>(rng() % 401) - 200) * step + step / 2;
                            break;
                        case 1:
                            v = static_cast<int32_t>(rng());
                            break;
                        default:
                            v = static_cast<int32_t>(rng() % 20001) - 10000;
                    }
                }
            }
            const std::vector<uint8_t> bytes = serialise(luma, red, blue, threshold, step);
            size_t next = 0;
            for (const codec::Plane* plane : {&luma, &red, &blue}) {
                for (int x = 0; x < plane->width; ++x) {
                    for (int y = 0; y < plane->height; ++y) {
                        ASSERT_EQ(bytes[next++], quantise(plane->at(x, y), threshold, step))
                            << "(" << x << ", " << y << ") = " << plane->at(x, y);
                    }
                }
            }
        }
    }
}

TEST(QuantiseSerialisation, MissingBytesReadAsZero) {
    codec::Plane luma(2, 2);
    codec::Plane red(1, 1);
    codec::Plane blue(1, 1);
    const std::vector<uint8_t> bytes = {128, 128, 128};
    EXPECT_FALSE(deserialise(bytes, kStep17, luma, red, blue));
    EXPECT_EQ(luma.at(1, 1), -128 * kStep17);
    EXPECT_EQ(red.at(0, 0), -128 * kStep17);
    EXPECT_EQ(blue.at(0, 0), -128 * kStep17);
    EXPECT_EQ(luma.at(0, 0), 0);
}

}  // namespace
}  // namespace encoder
