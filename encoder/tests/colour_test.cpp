#include "encoder/colour.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <limits>
#include <random>
#include <vector>

#include "codec/wavelet.h"
#include "encoder/test_pictures.h"

namespace encoder {
namespace {

struct KnownColour {
    const char* name;
    int r, g, b;
    int y, cr, cb;
};

// Single-precision weights in extended arithmetic: 255 * 0.3f = 76.500003 is no tie, so red has
// luma 77; 255 * 0.1f = 25.5000004 gives blue 26.
constexpr KnownColour kKnown[] = {
    {"white", 255, 255, 255, 255, 0, 0}, {"red", 255, 0, 0, 77, 127, -44},
    {"blue", 0, 0, 255, 26, -19, 129},   {"green", 0, 255, 0, 153, -109, -86},
    {"black", 0, 0, 0, 0, 0, 0},
};

TEST(ColourKnownValues, PrimariesAtEveryBlockSize) {
    for (const KnownColour& c : kKnown) {
        for (const int block : {1, 2, 4}) {
            SCOPED_TRACE(testing::Message() << c.name << " block " << block);
            const int area = block * block;
            const Ycc ycc = blockColour(c.r * area, c.g * area, c.b * area, block);
            EXPECT_EQ(ycc.y, c.y);
            EXPECT_EQ(ycc.cr, c.cr);
            EXPECT_EQ(ycc.cb, c.cb);
        }
    }
}

TEST(ColourKnownValues, BlockMeansRoundHalfToEven) {
    // Blue sum 10 over 2 x 2 has mean 2.5 -> 2, luma 0: Cb = round(2 / 1.77) = 1 (3 would give 2).
    EXPECT_EQ(blockColour(0, 0, 10, 2).cb, 1);
    // Mean 5.5 -> 6, luma 1: Cb = round(5 / 1.77) = 3 (a truncated mean would give 2).
    EXPECT_EQ(blockColour(0, 0, 22, 2).cb, 3);
}

TEST(ColourKnownValues, UniformRedThroughThePlanes) {
    const SourcePicture red = uniform(255, 0, 0);
    for (const int n : {48, 64, 96, 128, 256}) {
        SCOPED_TRACE(testing::Message() << "N " << n);
        const YccPlanes planes = convertColour(red, PictureParams{n, Wavelet::D4, 2, 4, 17});
        ASSERT_EQ(planes.luma.width, n);
        ASSERT_EQ(planes.red.width, n / 2);
        ASSERT_EQ(planes.blue.width, n / 4);
        for (const int32_t v : planes.luma.samples) ASSERT_EQ(v, 77);
        // Subsampled chroma is held doubled.
        for (const int32_t v : planes.red.samples) ASSERT_EQ(v, 254);
        for (const int32_t v : planes.blue.samples) ASSERT_EQ(v, -88);
    }
}

TEST(ColourScalingWindow, WindowsPerFrameSize) {
    const struct {
        int n, block, x0, y0;
    } cases[] = {{256, 1, 0, 0}, {128, 2, 0, 0}, {96, 2, 32, 32}, {64, 4, 0, 0}, {48, 4, 30, 28}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "N " << c.n);
        const SourceWindow w = sourceWindow(c.n);
        EXPECT_EQ(w.block, c.block);
        EXPECT_EQ(w.x0, c.x0);
        EXPECT_EQ(w.y0, c.y0);
        // The window always ends inside the source square.
        EXPECT_LE(w.x0 + w.block * c.n, kSourceSide);
        EXPECT_LE(w.y0 + w.block * c.n, kSourceSide);
    }
}

// White outside the window, black inside, one red block at the window's top-left corner: only
// a correct window gives black luma everywhere except pixel (0, 0).
TEST(ColourScalingWindow, OffCentreWindowsCropExactly) {
    for (const int n : {48, 96}) {
        SCOPED_TRACE(testing::Message() << "N " << n);
        const SourceWindow w = sourceWindow(n);
        SourcePicture p = uniform(255, 255, 255);
        const int side = w.block * n;
        for (int y = w.y0; y < w.y0 + side; ++y) {
            for (int x = w.x0; x < w.x0 + side; ++x) p.set(x, y, 0, 0, 0);
        }
        for (int y = w.y0; y < w.y0 + w.block; ++y) {
            for (int x = w.x0; x < w.x0 + w.block; ++x) p.set(x, y, 255, 0, 0);
        }
        const YccPlanes planes = convertColour(p, PictureParams{n, Wavelet::Haar, 4, 4, 17});
        for (int y = 0; y < n; ++y) {
            for (int x = 0; x < n; ++x) {
                ASSERT_EQ(planes.luma.at(x, y), x == 0 && y == 0 ? 77 : 0) << x << "," << y;
            }
        }
    }
}

TEST(ColourScalingWindow, RowsComeFromTheTop) {
    SourcePicture p = uniform(0, 0, 0);
    for (int x = 0; x < kSourceSide; ++x) p.set(x, 0, 255, 255, 255);
    const YccPlanes planes = convertColour(p, PictureParams{256, Wavelet::Haar, 4, 4, 17});
    EXPECT_EQ(planes.luma.at(10, 0), 255);
    EXPECT_EQ(planes.luma.at(10, 255), 0);
}

TEST(ColourSubsampling, TwiceTheBlockMeanRounded) {
    codec::Plane full(4, 4);
    full.at(0, 0) = 1;
    full.at(1, 0) = 1;
    full.at(0, 1) = 1;  // block (0, 0) holds 1, 1, 1, 0: round(3 * 2 / 4) = round(1.5) = 2
    full.at(2, 0) = 1;  // block (1, 0) holds 1, 0, 0, 0: round(0.5) = 0
    full.at(0, 2) = -3;
    full.at(1, 2) = -2;  // block (0, 1): round(-10 / 4) = round(-2.5) = -2
    const codec::Plane half = subsampleChroma(full, 2);
    ASSERT_EQ(half.width, 2);
    EXPECT_EQ(half.at(0, 0), 2);
    EXPECT_EQ(half.at(1, 0), 0);
    EXPECT_EQ(half.at(0, 1), -2);
    EXPECT_EQ(half.at(1, 1), 0);

    codec::Plane sixteen(4, 4);
    for (int i = 0; i < 12; ++i) sixteen.samples[static_cast<size_t>(i)] = 1;
    const codec::Plane quarter = subsampleChroma(sixteen, 4);  // round(12 * 2 / 16) = round(1.5)
    ASSERT_EQ(quarter.width, 1);
    EXPECT_EQ(quarter.at(0, 0), 2);
}

TEST(ColourPixels, DecodedPureRed) {
    // Luma 77 with doubled chroma 254 and -88: R = round(254.8), B = round(-0.88) = -1 shown
    // as 0, G = round((77 + 0.1 - 76.5) / 0.6) = 1.
    const uint32_t p = pixelColour(77, 254, -88);
    EXPECT_EQ(redOf(p), 255);
    EXPECT_EQ(greenOf(p), 1);
    EXPECT_EQ(blueOf(p), 0);
}

TEST(ColourPixels, GreyStaysGrey) {
    for (int y = 0; y < 256; ++y) {
        const uint32_t p = pixelColour(y, 0, 0);
        ASSERT_EQ(p, packRgb(y, y, y)) << "luma " << y;
    }
}

TEST(ColourPixels, GreenUsesUnclampedRedAndBlue) {
    // R = round(1.4 * 150 + 128) = 338, clamped to 255 only in the pixel; G solved with 338:
    // (128 - 12.8 - 101.4) / 0.6 = 23. Clamping R first would give 64 or 65.
    const uint32_t p = pixelColour(128, 300, 0);
    EXPECT_EQ(redOf(p), 255);
    EXPECT_EQ(greenOf(p), 23);
    EXPECT_EQ(blueOf(p), 128);
}

TEST(ColourChromaSmoothing, InteriorUnchangedBorderPulledToZero) {
    codec::Plane sub(2, 2);
    for (int32_t& v : sub.samples) v = 254;
    const ChromaField field = upsampleChroma(sub, 4, 8);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) ASSERT_EQ(field.at(x, y), 254);
    }
    EXPECT_EQ(smoothedChroma(field, 3, 4), 254);
    // Corner: three neighbours inside, (508 + 3 * 127) / 6 = 148.17.
    EXPECT_EQ(smoothedChroma(field, 0, 0), 148);
    EXPECT_EQ(smoothedChroma(field, 7, 7), 148);
    // Edge: five neighbours inside, (508 + 5 * 127) / 6 = 190.5, a tie that goes to 190.
    EXPECT_EQ(smoothedChroma(field, 0, 3), 190);
    EXPECT_EQ(smoothedChroma(field, 7, 3), 190);
    EXPECT_EQ(smoothedChroma(field, 4, 7), 190);
}

TEST(ColourChromaSmoothing, NeighboursAreHalvedWithoutTruncation) {
    codec::Plane sub(3, 3);
    for (int32_t& v : sub.samples) v = 1;
    sub.at(1, 1) = 0;
    const ChromaField field = upsampleChroma(sub, 1, 3);
    // (2 * 0 + 8 * 0.5) / 6 = 0.67 -> 1; integer halving would make every neighbour 0.
    EXPECT_EQ(smoothedChroma(field, 1, 1), 1);
}

TEST(ColourChromaSmoothing, UpsamplingFillsWholeBlocks) {
    codec::Plane sub(2, 2);
    sub.at(0, 0) = 1;
    sub.at(1, 0) = 2;
    sub.at(0, 1) = 3;
    sub.at(1, 1) = 4;
    const ChromaField field = upsampleChroma(sub, 2, 4);
    EXPECT_EQ(field.at(1, 1), 1);
    EXPECT_EQ(field.at(2, 0), 2);
    EXPECT_EQ(field.at(3, 1), 2);
    EXPECT_EQ(field.at(0, 3), 3);
    EXPECT_EQ(field.at(3, 3), 4);
    EXPECT_EQ(field.at(-1, 0), 0);
    EXPECT_EQ(field.at(4, 4), 0);
}

// ---- integer forms against the extended-precision formulas ----

// The conversions run on exact integer forms of the single-precision weights and divisors; the
// extended formulas below are the definition every receiver rounds by. Seeded values across the
// int range (the decoder sees hostile streams) and the pixel ranges, where ties cluster.
TEST(ColourExactForms, MatchTheExtendedFormulas) {
    using Real = long double;
    const Real red = kWeightRed;
    const Real green = kWeightGreen;
    const Real blue = kWeightBlue;
    const Real divRed = kDivisorRed;
    const Real divBlue = kDivisorBlue;
    const auto pixel = [&](int luma, int cr, int cb) {
        const Real y = luma;
        const int r = codec::roundToInt(divRed * cr / 2 + y);
        const int b = codec::roundToInt(divBlue * cb / 2 + y);
        const int g = codec::roundToInt((y - blue * b - red * r) / green);
        return packRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
    };
    const auto luma = [&](int sr, int sg, int sb, int block) {
        const Real r = sr;
        const Real g = sg;
        const Real b = sb;
        if (block == 4) return codec::roundToInt(red * r / 16 + green * g / 16 + blue * b / 16);
        if (block == 2) return codec::roundToInt((red * r + green * g + blue * b) / 4);
        return codec::roundToInt(red * r + green * g + blue * b);
    };
    constexpr uint32_t kSeed = 77;
    std::mt19937 rng(kSeed);
    const auto any = [&] { return static_cast<int>(static_cast<int32_t>(rng()) >> (rng() % 32)); };
    for (int i = 0; i < 20000; ++i) {
        const int y = i % 2 == 0 ? any() : static_cast<int>(rng() % 600) - 150;
        const int cr = i % 2 == 0 ? any() : static_cast<int>(rng() % 1200) - 600;
        const int cb = i % 2 == 0 ? any() : static_cast<int>(rng() % 1200) - 600;
        ASSERT_EQ(pixelColour(y, cr, cb), pixel(y, cr, cb))
            << "seed 77, luma " << y << ", cr " << cr << ", cb " << cb;
        const int block = 1 << (i % 3);
        const int top = 255 * block * block + 1;
        const int sr = static_cast<int>(rng() % top);
        const int sg = static_cast<int>(rng() % top);
        const int sb = static_cast<int>(rng() % top);
        ASSERT_EQ(blockColour(sr, sg, sb, block).y, std::clamp(luma(sr, sg, sb, block), 0, 255))
            << "seed 77, sums " << sr << " " << sg << " " << sb << ", block " << block;
    }
    // Colour differences over a grid of single pixels, every red and blue byte among them.
    for (int r = 0; r < 256; ++r) {
        for (const int g : {0, 85, 170, 255}) {
            const int b = 255 - r;
            const Ycc c = blockColour(r, g, b, 1);
            const int y = std::clamp(luma(r, g, b, 1), 0, 255);
            ASSERT_EQ(c.y, y);
            const auto difference = [](int d, Real divisor) {
                return std::clamp(codec::roundToInt(d / divisor), -255, 255);
            };
            ASSERT_EQ(c.cr, difference(r - y, divRed)) << r << " " << g;
            ASSERT_EQ(c.cb, difference(b - y, divBlue)) << r << " " << g;
        }
    }
}

// The decoders smooth without building the upsampled field; every sample must be the one
// smoothedChroma reads off the field, for factors that are not powers of two or exceed the
// frame, planes that do not cover the frame or reach past it, and values at the int32 ends.
TEST(ColourChromaSmoothing, WholePlaneMatchesTheFieldSampleBySample) {
    constexpr uint32_t kSeed = 99;
    std::mt19937 rng(kSeed);
    for (int trial = 0; trial < 50; ++trial) {
        const int factor = std::array{1, 2, 4, 3, std::numeric_limits<int>::max()}[trial % 5];
        const int side = 2 + static_cast<int>(rng() % 7);
        const int frame = factor > 4 ? 5 + trial % 3  // one sample covers the frame
                                     : side * factor + std::array{0, 3, 0, 0, -1, 0}[trial % 6];
        codec::Plane sub(side, side - trial % 2);
        for (int32_t& v : sub.samples) {
            v = trial % 7 == 6 ? (rng() % 2 == 0 ? std::numeric_limits<int32_t>::max()
                                                 : std::numeric_limits<int32_t>::min())
                               : static_cast<int32_t>(rng() % 1021) - 510;
        }
        SCOPED_TRACE(testing::Message()
                     << "seed 99, trial " << trial << ", factor " << factor << ", frame " << frame);
        const ChromaField field = upsampleChroma(sub, factor, frame);
        const std::vector<int32_t> smooth = smoothChroma(sub, factor, frame);
        for (int y = 0; y < frame; ++y) {
            for (int x = 0; x < frame; ++x) {
                ASSERT_EQ(smooth[static_cast<size_t>(y) * frame + x], smoothedChroma(field, x, y))
                    << x << ", " << y;
            }
        }
    }
}

// The decoders' last stage, whole pictures against the per-pixel definition: small values
// (the usual frame) and values far beyond any picture (a hostile stream) take different exact
// forms inside, and both must give pixelColour of the smoothed chroma.
TEST(ColourPixels, WholePictureMatchesPixelByPixel) {
    constexpr uint32_t kSeed = 123;
    std::mt19937 rng(kSeed);
    for (const int32_t reach : {300, 1 << 20, (1 << 20) + 1, std::numeric_limits<int32_t>::max()}) {
        SCOPED_TRACE(testing::Message() << "seed 123, reach " << reach);
        // Uniform in -reach..reach; the largest reach takes every int32.
        const auto sample = [&] {
            const uint32_t bits = rng();
            if (reach == std::numeric_limits<int32_t>::max()) return static_cast<int32_t>(bits);
            return static_cast<int32_t>(bits % (2 * static_cast<uint32_t>(reach) + 1)) - reach;
        };
        constexpr int kN = 16;
        YccPlanes planes;
        planes.luma = codec::Plane(kN, kN);
        planes.red = codec::Plane(kN / 2, kN / 2);
        planes.blue = codec::Plane(kN / 4, kN / 4);
        for (codec::Plane* p : {&planes.luma, &planes.red, &planes.blue}) {
            for (int32_t& v : p->samples) v = sample();
        }
        const Picture picture = colourPicture(planes, 2, 4, kN);
        const ChromaField red = upsampleChroma(planes.red, 2, kN);
        const ChromaField blue = upsampleChroma(planes.blue, 4, kN);
        for (int y = 0; y < kN; ++y) {
            for (int x = 0; x < kN; ++x) {
                ASSERT_EQ(picture.at(x, y),
                          pixelColour(planes.luma.at(x, y), smoothedChroma(red, x, y),
                                      smoothedChroma(blue, x, y)))
                    << x << ", " << y;
            }
        }
    }
}

}  // namespace
}  // namespace encoder
