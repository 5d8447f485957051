#include "encoder/test_pictures.h"

#include <array>
#include <cmath>
#include <numbers>

namespace encoder {
namespace {

struct Rgb {
    uint8_t r, g, b;
};

constexpr std::array<Rgb, 8> kBars{{{255, 255, 255},
                                    {255, 255, 0},
                                    {0, 255, 255},
                                    {0, 255, 0},
                                    {255, 0, 255},
                                    {255, 0, 0},
                                    {0, 0, 255},
                                    {0, 0, 0}}};

uint64_t splitMix64(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void fillRect(SourcePicture& p, int x0, int y0, int w, int h, Rgb c) {
    for (int y = y0; y < y0 + h; ++y) {
        for (int x = x0; x < x0 + w; ++x) p.set(x, y, c.r, c.g, c.b);
    }
}

}  // namespace

SourcePicture colourBars() {
    SourcePicture p;
    constexpr int kBarWidth = kSourceSide / static_cast<int>(kBars.size());
    for (size_t i = 0; i < kBars.size(); ++i) {
        fillRect(p, static_cast<int>(i) * kBarWidth, 0, kBarWidth, kSourceSide, kBars[i]);
    }
    return p;
}

SourcePicture gradient() {
    SourcePicture p;
    for (int y = 0; y < kSourceSide; ++y) {
        for (int x = 0; x < kSourceSide; ++x) {
            p.set(x, y, static_cast<uint8_t>(x), static_cast<uint8_t>(y),
                  static_cast<uint8_t>((x + y) / 2));
        }
    }
    return p;
}

SourcePicture zonePlate() {
    SourcePicture p;
    constexpr double kCentre = 127.5;
    // Phase k r^2 reaches the sampling limit (pi per pixel) at the picture's edge.
    constexpr double kRate = std::numbers::pi / (2 * kSourceSide);
    for (int y = 0; y < kSourceSide; ++y) {
        for (int x = 0; x < kSourceSide; ++x) {
            const double dx = x - kCentre;
            const double dy = y - kCentre;
            const double v = 127.5 + 127.0 * std::cos(kRate * (dx * dx + dy * dy));
            const auto grey = static_cast<uint8_t>(std::lround(v));
            p.set(x, y, grey, static_cast<uint8_t>(255 - grey), grey);
        }
    }
    return p;
}

SourcePicture noise(uint64_t seed) {
    SourcePicture p;
    uint64_t state = seed;
    for (size_t i = 0; i < p.bgr.size(); i += 8) {
        uint64_t bits = splitMix64(state);
        for (size_t j = i; j < i + 8 && j < p.bgr.size(); ++j, bits >>= 8) {
            p.bgr[j] = static_cast<uint8_t>(bits);
        }
    }
    return p;
}

SourcePicture uniform(uint8_t r, uint8_t g, uint8_t b) {
    SourcePicture p;
    fillRect(p, 0, 0, kSourceSide, kSourceSide, {r, g, b});
    return p;
}

SourcePicture testCard() {
    SourcePicture p = uniform(128, 128, 128);
    // Bars across the top third.
    constexpr int kBarWidth = kSourceSide / static_cast<int>(kBars.size());
    for (size_t i = 0; i < kBars.size(); ++i) {
        fillRect(p, static_cast<int>(i) * kBarWidth, 0, kBarWidth, 80, kBars[i]);
    }
    // Grey staircase of 16 steps.
    for (int i = 0; i < 16; ++i) {
        const auto grey = static_cast<uint8_t>(i * 17);
        fillRect(p, i * 16, 80, 16, 24, {grey, grey, grey});
    }
    // Checkerboard of 4-pixel squares in the lower left.
    for (int y = 120; y < 248; ++y) {
        for (int x = 8; x < 104; ++x) {
            const uint8_t v = ((x / 4 + y / 4) % 2) ? 255 : 0;
            p.set(x, y, v, v, v);
        }
    }
    // Ring with colour patches inside it in the lower right.
    constexpr double kCx = 180.0;
    constexpr double kCy = 184.0;
    for (int y = 112; y < 256; ++y) {
        for (int x = 108; x < 252; ++x) {
            const double d = std::hypot(x - kCx, y - kCy);
            if (d >= 60.0 && d < 66.0) p.set(x, y, 255, 255, 255);
        }
    }
    constexpr std::array<Rgb, 6> kPatches{
        {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {0, 255, 255}, {255, 0, 255}, {255, 255, 0}}};
    for (size_t i = 0; i < kPatches.size(); ++i) {
        const int col = static_cast<int>(i % 3);
        const int row = static_cast<int>(i / 3);
        fillRect(p, 144 + col * 24, 160 + row * 24, 24, 24, kPatches[i]);
    }
    return p;
}

}  // namespace encoder
