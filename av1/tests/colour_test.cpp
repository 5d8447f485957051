// The payload's own colour conversion, without the codec: known values that pin the weights and
// the rounding, grey that stays grey, the 4:4:4 round trip over the RGB cube, and the 4:2:0
// averaging and interpolation.

#include "av1/colour.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "encoder/air_time.h"
#include "encoder/test_pictures.h"

namespace av1 {
namespace {

using encoder::Picture;

TEST(ColourKnownValues, PrimariesAndClamps) {
    // Black and white, the primaries (red's Cr and blue's Cb round to 256 and clamp), and a
    // value whose Cb is -42.53 before rounding: floor(-42.53 + 0.5) = -43.
    const struct {
        int r, g, b, y, cb, cr;
    } cases[] = {
        {0, 0, 0, 0, 128, 128},        {255, 255, 255, 255, 128, 128}, {255, 0, 0, 76, 85, 255},
        {0, 255, 0, 150, 44, 21},      {0, 0, 255, 29, 255, 107},      {255, 255, 0, 226, 1, 149},
        {100, 150, 200, 141, 161, 99},
    };
    for (const auto& c : cases) {
        const Ycc ycc = rgbToYcc(c.r, c.g, c.b);
        EXPECT_EQ(ycc.y, c.y) << c.r << " " << c.g << " " << c.b;
        EXPECT_EQ(ycc.cb, c.cb) << c.r << " " << c.g << " " << c.b;
        EXPECT_EQ(ycc.cr, c.cr) << c.r << " " << c.g << " " << c.b;
    }
    // Back: the extreme colour differences overshoot and clamp.
    EXPECT_EQ(yccToRgb(128, 255, 128), encoder::packRgb(128, 84, 255));
    EXPECT_EQ(yccToRgb(128, 128, 0), encoder::packRgb(0, 219, 128));
    EXPECT_EQ(yccToRgb(0, 0, 0), encoder::packRgb(0, 135, 0));
    EXPECT_EQ(yccToRgb(255, 255, 255), encoder::packRgb(255, 121, 255));
}

TEST(ColourGrey, StaysGreyBothWays) {
    for (int v = 0; v < 256; ++v) {
        const Ycc c = rgbToYcc(v, v, v);
        EXPECT_EQ(c.y, v);
        EXPECT_EQ(c.cb, 128);
        EXPECT_EQ(c.cr, 128);
        EXPECT_EQ(yccToRgb(v, 128, 128), encoder::packRgb(v, v, v));
    }
    // And through the planes, both chroma formats, at an odd size.
    Picture grey(17);
    for (int y = 0; y < 17; ++y) {
        for (int x = 0; x < 17; ++x) grey.at(x, y) = encoder::packRgb(x * 15, x * 15, x * 15);
    }
    for (const Chroma chroma : {Chroma::Yuv444, Chroma::Yuv420}) {
        const YccPlanes planes = pictureToYcc(grey, chroma);
        for (const uint8_t c : planes.cb) EXPECT_EQ(c, 128);
        for (const uint8_t c : planes.cr) EXPECT_EQ(c, 128);
        EXPECT_EQ(yccToPicture(planes).pixels, grey.pixels);
    }
}

// Rounding Cb and Cr to integers costs up to 1.772 / 2 of a level in blue and 1.402 / 2 in red
// before the final rounding; with these weights every colour of the cube comes back within one
// level, three in four of them one level off in some channel.
TEST(ColourRoundTrip, WholeCubeWithinOneLevel) {
    int worst = 0;
    int64_t total = 0;
    for (int r = 0; r < 256; ++r) {
        for (int g = 0; g < 256; ++g) {
            for (int b = 0; b < 256; ++b) {
                const Ycc c = rgbToYcc(r, g, b);
                const uint32_t back = yccToRgb(c.y, c.cb, c.cr);
                const int d = std::max({std::abs(encoder::redOf(back) - r),
                                        std::abs(encoder::greenOf(back) - g),
                                        std::abs(encoder::blueOf(back) - b)});
                if (d > 2)
                    FAIL() << r << " " << g << " " << b << " comes back " << std::hex << back;
                worst = std::max(worst, d);
                total += d;
            }
        }
    }
    EXPECT_EQ(worst, 1);
    EXPECT_EQ(total, 12777313);  // colours off by one level; pins the weights and rounding
}

TEST(ColourRoundTrip, PicturesIn444) {
    for (const auto& source : {encoder::testCard(), encoder::zonePlate(), encoder::noise(77)}) {
        const Picture p = encoder::referencePicture(source, 256);
        const Picture back = yccToPicture(pictureToYcc(p, Chroma::Yuv444));
        EXPECT_GT(encoder::psnrDb(p, back), 50);
    }
}

TEST(Colour420, BlockAverageRoundsOnce) {
    // One red pixel in a 2 x 2 block of black: Cr = 128 + round(32768 * 255 / 4 / 65536), the
    // sum over the block rounded once, (8355840 + 2^17) >> 18 = 32; Cb = 128 - 10.77 -> 117.
    Picture p(2);
    p.at(0, 0) = encoder::packRgb(255, 0, 0);
    const YccPlanes planes = pictureToYcc(p, Chroma::Yuv420);
    ASSERT_EQ(planes.chromaSide(), 1);
    EXPECT_EQ(planes.cr[0], 160);
    EXPECT_EQ(planes.cb[0], 117);
    EXPECT_EQ(planes.y[0], 76);
    EXPECT_EQ(planes.y[1], 0);

    // At an odd edge the last column and row count twice: a 3 x 3 picture's corner block is
    // its corner pixel alone.
    Picture odd(3);
    odd.at(2, 2) = encoder::packRgb(0, 0, 255);
    const YccPlanes oddPlanes = pictureToYcc(odd, Chroma::Yuv420);
    ASSERT_EQ(oddPlanes.chromaSide(), 2);
    EXPECT_EQ(oddPlanes.cb[3], rgbToYcc(0, 0, 255).cb);
    EXPECT_EQ(oddPlanes.cb[0], 128);
}

TEST(Colour420, InterpolationWeights) {
    // Chroma 2 x 2 with one sample raised: each luma pixel takes 9/16 of its own sample, 3/16 of
    // each of the two nearest neighbours and 1/16 of the diagonal one, edges repeated.
    YccPlanes planes(4, Chroma::Yuv420);
    std::fill(planes.y.begin(), planes.y.end(), 128);
    planes.cb[0] = 192;  // sample (0, 0); the others stay 128
    const Picture p = yccToPicture(planes);
    const auto blueAt = [&](int x, int y) { return encoder::blueOf(p.at(x, y)); };
    const auto blueFor = [](int cb) { return encoder::blueOf(yccToRgb(128, cb, 128)); };
    EXPECT_EQ(blueAt(0, 0), blueFor(192));  // all four taps on the raised sample (edge)
    EXPECT_EQ(blueAt(1, 0), blueFor(176));  // (12 * 192 + 4 * 128 + 8) >> 4
    EXPECT_EQ(blueAt(1, 1), blueFor(164));  // (9 * 192 + 7 * 128 + 8) >> 4
    EXPECT_EQ(blueAt(2, 1), blueFor(140));  // (3 * 192 + 13 * 128 + 8) >> 4 = 140.5 -> 140
    EXPECT_EQ(blueAt(3, 3), blueFor(128));  // out of reach
}

TEST(Colour420, SmoothPicturesSurvive) {
    const Picture p = encoder::referencePicture(encoder::gradient(), 128);
    const Picture back = yccToPicture(pictureToYcc(p, Chroma::Yuv420));
    EXPECT_GT(encoder::psnrDb(p, back), 50);
    // A flat colour comes back as in 4:4:4 at every size, odd ones included.
    for (const int n : {16, 17, 48}) {
        Picture flat(n);
        std::fill(flat.pixels.begin(), flat.pixels.end(), encoder::packRgb(200, 40, 90));
        const Ycc c = rgbToYcc(200, 40, 90);
        const uint32_t expected = yccToRgb(c.y, c.cb, c.cr);
        for (const uint32_t px : yccToPicture(pictureToYcc(flat, Chroma::Yuv420)).pixels) {
            ASSERT_EQ(px, expected) << n;
        }
    }
}

}  // namespace
}  // namespace av1
