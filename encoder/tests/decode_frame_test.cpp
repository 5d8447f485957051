#include "encoder/decode_frame.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "codec/arith.h"
#include "encoder/colour.h"
#include "encoder/encode_frame.h"
#include "encoder/quantise.h"
#include "encoder/test_pictures.h"
#include "encoder/transform.h"

namespace encoder {
namespace {

// Coefficient bytes of a source picture, as the sender makes them.
std::vector<uint8_t> coefficientsOf(const SourcePicture& source, const PictureParams& params) {
    YccPlanes planes = convertColour(source, params);
    forwardTransform(planes, params.wavelet, params.frameSize, 0);
    return serialise(planes.luma, planes.red, planes.blue, 0, params.step);
}

constexpr Wavelet kWavelets[] = {Wavelet::Haar, Wavelet::D4, Wavelet::Cdf97};

TEST(DecodeEdges, UniformGreyHasNoEdgeEffect) {
    for (const Wavelet w : kWavelets) {
        for (const int n : {48, 64, 96, 128, 256}) {
            SCOPED_TRACE(testing::Message() << waveletName(w) << " N " << n);
            const PictureParams params{n, w, 4, 2, 17};
            const PictureDecode d =
                decodeCoefficients(coefficientsOf(uniform(90, 90, 90), params), params);
            ASSERT_EQ(d.error, DecodeError::None);
            ASSERT_EQ(d.picture.size, n);
            const uint32_t first = d.picture.pixels[0];
            EXPECT_EQ(redOf(first), greenOf(first));
            EXPECT_EQ(blueOf(first), greenOf(first));
            EXPECT_NEAR(redOf(first), 90, 3);
            for (size_t i = 0; i < d.picture.pixels.size(); ++i) {
                ASSERT_EQ(d.picture.pixels[i], first) << "pixel " << i % n << "," << i / n;
            }
        }
    }
}

TEST(DecodeEdges, ChromaFadesOnlyAtTheBorder) {
    const PictureParams params{64, Wavelet::Haar, 4, 4, 17};
    const PictureDecode d = decodeCoefficients(coefficientsOf(uniform(255, 0, 0), params), params);
    ASSERT_EQ(d.error, DecodeError::None);
    const uint32_t centre = d.picture.at(32, 32);
    EXPECT_GE(redOf(centre), 250);
    for (int y = 1; y < 63; ++y) {
        for (int x = 1; x < 63; ++x) ASSERT_EQ(d.picture.at(x, y), centre) << x << "," << y;
    }
    for (int i = 0; i < 64; ++i) {
        EXPECT_LT(redOf(d.picture.at(i, 0)), redOf(centre)) << i;
        EXPECT_LT(redOf(d.picture.at(63, i)), redOf(centre)) << i;
    }
}

TEST(DecodeParameters, RejectsWhatNoSenderMakes) {
    const std::vector<uint8_t> bytes(100, 128);
    EXPECT_EQ(decodeCoefficients(bytes, {32, Wavelet::Haar, 4, 4, 17}).error,
              DecodeError::BadParameters);
    EXPECT_EQ(decodeCoefficients(bytes, {64, Wavelet::Haar, 3, 4, 17}).error,
              DecodeError::BadParameters);
    EXPECT_EQ(decodeCoefficients(bytes, {64, static_cast<Wavelet>(5), 4, 4, 17}).error,
              DecodeError::BadParameters);
    const PictureDecode shortOne = decodeCoefficients(bytes, {64, Wavelet::Haar, 4, 4, 17});
    EXPECT_EQ(shortOne.error, DecodeError::None);
    EXPECT_TRUE(shortOne.shortStream);
}

TEST(DecodeExpansion, PreviewAndReceiverBufferSizes) {
    const std::vector<uint8_t> coefficients = {1, 2, 3, 200, 128, 128, 128};
    const std::vector<uint8_t> coded = codeCoefficients(coefficients);
    ASSERT_FALSE(coded.empty());

    // The preview knows M; a larger count leaves zeros after the decoded bytes.
    EXPECT_EQ(expandCoefficients(coded, coefficients.size()), coefficients);
    std::vector<uint8_t> longer = coefficients;
    longer.resize(10, 0);
    EXPECT_EQ(expandCoefficients(coded, 10), longer);

    // The receiver takes d + 1 bytes of its zero-filled buffer.
    std::vector<uint8_t> received = coefficients;
    received.push_back(0);
    EXPECT_EQ(expandReceived(coded), received);

    // A stream that fills the buffer (no code bits: byte 0 again and again) has no zero after
    // it.
    const std::vector<uint8_t> endless = expandReceived(std::vector<uint8_t>{'A', 'C', 'M', 'C'});
    EXPECT_EQ(endless.size(), kReceiverCoefficientCapacity);
    EXPECT_EQ(std::count(endless.begin(), endless.end(), 0), endless.size());
}

}  // namespace
}  // namespace encoder
