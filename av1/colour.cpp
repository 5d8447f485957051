#include "av1/colour.h"

#include <algorithm>
#include <cstddef>

namespace av1 {

namespace {

// The weights of colour.h, times 2^16.
constexpr int kYr = 19595, kYg = 38470, kYb = 7471;
constexpr int kCbR = -11058, kCbG = -21710, kCbB = 32768;
constexpr int kCrR = 32768, kCrG = -27439, kCrB = -5329;
constexpr int kRCr = 91881;
constexpr int kGCb = -22553, kGCr = -46802;
constexpr int kBCb = 116130;
static_assert(kYr + kYg + kYb == 1 << 16);
static_assert(kCbR + kCbG + kCbB == 0 && kCrR + kCrG + kCrB == 0);

constexpr int clampByte(int v) { return std::clamp(v, 0, 255); }

// Weighted sum of r, g, b, each the sum of 2^shift bytes (shift 0 or 2, so every sum of
// products stays below 2^31), rounded half up at 2^(16 + shift).
constexpr int weigh(int wr, int wg, int wb, int r, int g, int b, int shift) {
    const int bits = 16 + shift;
    return (wr * r + wg * g + wb * b + (1 << (bits - 1))) >> bits;
}

}  // namespace

Ycc rgbToYcc(int r, int g, int b) {
    return {weigh(kYr, kYg, kYb, r, g, b, 0), clampByte(128 + weigh(kCbR, kCbG, kCbB, r, g, b, 0)),
            clampByte(128 + weigh(kCrR, kCrG, kCrB, r, g, b, 0))};
}

uint32_t yccToRgb(int y, int cb, int cr) {
    const int d = cb - 128;
    const int e = cr - 128;
    const int r = y + ((kRCr * e + (1 << 15)) >> 16);
    const int g = y + ((kGCb * d + kGCr * e + (1 << 15)) >> 16);
    const int b = y + ((kBCb * d + (1 << 15)) >> 16);
    return encoder::packRgb(clampByte(r), clampByte(g), clampByte(b));
}

YccPlanes::YccPlanes(int n, Chroma c) : size(n), chroma(c) {
    const auto side = static_cast<size_t>(chromaSide());
    y.assign(static_cast<size_t>(n) * n, 0);
    cb.assign(side * side, 128);
    cr.assign(side * side, 128);
}

int YccPlanes::chromaSide() const { return chroma == Chroma::Yuv444 ? size : (size + 1) / 2; }

YccPlanes pictureToYcc(const encoder::Picture& picture, Chroma chroma) {
    const int n = picture.size;
    YccPlanes planes(n, chroma);
    for (int yy = 0; yy < n; ++yy) {
        for (int x = 0; x < n; ++x) {
            const uint32_t p = picture.at(x, yy);
            const size_t i = static_cast<size_t>(yy) * n + x;
            const int r = encoder::redOf(p), g = encoder::greenOf(p), b = encoder::blueOf(p);
            if (chroma == Chroma::Yuv444) {
                const Ycc c = rgbToYcc(r, g, b);
                planes.y[i] = static_cast<uint8_t>(c.y);
                planes.cb[i] = static_cast<uint8_t>(c.cb);
                planes.cr[i] = static_cast<uint8_t>(c.cr);
            } else {
                planes.y[i] = static_cast<uint8_t>(weigh(kYr, kYg, kYb, r, g, b, 0));
            }
        }
    }
    if (chroma == Chroma::Yuv420) {
        const int side = planes.chromaSide();
        for (int j = 0; j < side; ++j) {
            for (int i = 0; i < side; ++i) {
                int r = 0, g = 0, b = 0;
                for (int dy = 0; dy < 2; ++dy) {
                    for (int dx = 0; dx < 2; ++dx) {
                        const uint32_t p =
                            picture.at(std::min(2 * i + dx, n - 1), std::min(2 * j + dy, n - 1));
                        r += encoder::redOf(p);
                        g += encoder::greenOf(p);
                        b += encoder::blueOf(p);
                    }
                }
                const size_t k = static_cast<size_t>(j) * side + i;
                planes.cb[k] =
                    static_cast<uint8_t>(clampByte(128 + weigh(kCbR, kCbG, kCbB, r, g, b, 2)));
                planes.cr[k] =
                    static_cast<uint8_t>(clampByte(128 + weigh(kCrR, kCrG, kCrB, r, g, b, 2)));
            }
        }
    }
    return planes;
}

encoder::Picture yccToPicture(const YccPlanes& planes) {
    const int n = planes.size;
    encoder::Picture picture(n);
    if (planes.chroma == Chroma::Yuv444) {
        for (size_t i = 0; i < picture.pixels.size(); ++i) {
            picture.pixels[i] = yccToRgb(planes.y[i], planes.cb[i], planes.cr[i]);
        }
        return picture;
    }
    const int side = planes.chromaSide();
    // Luma column x lies a quarter of a chroma sample from the centre of sample x / 2, towards
    // sample x / 2 - 1 when x is even and x / 2 + 1 when it is odd.
    const auto interpolate = [side](const std::vector<uint8_t>& plane, int x, int y) {
        const auto at = [&](int i, int j) {
            return static_cast<int>(plane[static_cast<size_t>(j) * side + i]);
        };
        const int xn = x / 2, yn = y / 2;
        const int xf = std::clamp(x % 2 == 0 ? xn - 1 : xn + 1, 0, side - 1);
        const int yf = std::clamp(y % 2 == 0 ? yn - 1 : yn + 1, 0, side - 1);
        return (9 * at(xn, yn) + 3 * at(xf, yn) + 3 * at(xn, yf) + at(xf, yf) + 8) >> 4;
    };
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            picture.at(x, y) = yccToRgb(planes.y[static_cast<size_t>(y) * n + x],
                                        interpolate(planes.cb, x, y), interpolate(planes.cr, x, y));
        }
    }
    return picture;
}

}  // namespace av1
