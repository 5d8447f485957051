#pragma once

// The two pictures the core exchanges with its shells: the 256 x 256 source square that the
// sender encodes, and the N x N picture that the decoder rebuilds.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace encoder {

inline constexpr int kSourceSide = 256;  // the source square, pixels per side
inline constexpr size_t kSourceBytes = static_cast<size_t>(kSourceSide) * kSourceSide * 3;

// 24-bit source picture. Rows run from the top (y = 0) to the bottom (y = 255), 768 bytes each
// with no padding; each pixel is the three bytes blue, green, red. A shell holding a bottom-up
// bitmap flips the rows when it fills this; the pixel bytes themselves are copied as they are.
struct SourcePicture {
    std::vector<uint8_t> bgr = std::vector<uint8_t>(kSourceBytes, 0);

    [[nodiscard]] static size_t offset(int x, int y) {
        return (static_cast<size_t>(y) * kSourceSide + static_cast<size_t>(x)) * 3;
    }
    [[nodiscard]] uint8_t red(int x, int y) const { return bgr[offset(x, y) + 2]; }
    [[nodiscard]] uint8_t green(int x, int y) const { return bgr[offset(x, y) + 1]; }
    [[nodiscard]] uint8_t blue(int x, int y) const { return bgr[offset(x, y)]; }
    void set(int x, int y, uint8_t r, uint8_t g, uint8_t b) {
        const size_t o = offset(x, y);
        bgr[o] = b;
        bgr[o + 1] = g;
        bgr[o + 2] = r;
    }
};

[[nodiscard]] constexpr uint32_t packRgb(int r, int g, int b) {
    return (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) |
           static_cast<uint32_t>(b);
}
[[nodiscard]] constexpr int redOf(uint32_t pixel) { return static_cast<int>((pixel >> 16) & 0xFF); }
[[nodiscard]] constexpr int greenOf(uint32_t pixel) {
    return static_cast<int>((pixel >> 8) & 0xFF);
}
[[nodiscard]] constexpr int blueOf(uint32_t pixel) { return static_cast<int>(pixel & 0xFF); }

// Decoded N x N picture. Rows from the top, each pixel 0x00RRGGBB: on a little-endian machine
// the bytes in memory are blue, green, red, 0, the layout of a QImage Format_RGB32 line and of a
// ".tv" picture record, so shells copy rows without converting.
struct Picture {
    int size = 0;  // N, pixels per side; 0 for no picture
    std::vector<uint32_t> pixels;

    Picture() = default;
    explicit Picture(int n) : size(n), pixels(static_cast<size_t>(n) * n, 0) {}

    [[nodiscard]] uint32_t at(int x, int y) const {
        return pixels[static_cast<size_t>(y) * size + x];
    }
    uint32_t& at(int x, int y) { return pixels[static_cast<size_t>(y) * size + x]; }
};

}  // namespace encoder
