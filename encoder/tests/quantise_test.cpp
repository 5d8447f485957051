#include "encoder/quantise.h"

#include <gtest/gtest.h>

#include <cmath>

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

TEST(QuantiseLopsided, WrapsOutsideTheByte) {
    // w = -130 gives byte 254, which decodes as a large positive value.
    const uint8_t byte = quantise(-130 * kStep17, 0, kStep17);
    EXPECT_EQ(byte, 254);
    EXPECT_GT(dequantise(byte, kStep17), 0);
    // 127 is the largest positive w that stays in range: round(a^0.85) = 128 wraps to 0.
    EXPECT_EQ(quantise(299 * kStep17, 0, kStep17), 255);  // 299^0.85 = 127.15
    EXPECT_EQ(quantise(300 * kStep17, 0, kStep17), 0);    // 300^0.85 = 127.51 -> 128
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
