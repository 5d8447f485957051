#include "encoder/colour.h"

#include <algorithm>

#include "codec/wavelet.h"

namespace encoder {
namespace {

using Real = long double;

constexpr Real kRed = kWeightRed;
constexpr Real kGreen = kWeightGreen;
constexpr Real kBlue = kWeightBlue;
constexpr Real kDivRed = kDivisorRed;
constexpr Real kDivBlue = kDivisorBlue;

int clampDifference(int value) {
    if (value >= 256) return 255;
    if (value < -255) return -255;
    return value;
}

}  // namespace

SourceWindow sourceWindow(int frameSize) {
    switch (frameSize) {
        case 128:
            return {2, 0, 0};
        case 96:
            return {2, 32, 32};
        case 64:
            return {4, 0, 0};
        case 48:
            return {4, 30, 28};
        default:
            return {1, 0, 0};
    }
}

Ycc blockColour(int sumRed, int sumGreen, int sumBlue, int block) {
    const Real r = sumRed;
    const Real g = sumGreen;
    const Real b = sumBlue;
    int y = 0;
    int meanRed = sumRed;
    int meanBlue = sumBlue;
    if (block == 4) {
        // Each term is scaled before the sum, as every receiver's encoder did it; scaling by 16
        // is exact, so this only matters to whoever changes the divisor.
        y = codec::roundToInt(kRed * r / 16 + kGreen * g / 16 + kBlue * b / 16);
        meanRed = codec::roundToInt(r / 16);
        meanBlue = codec::roundToInt(b / 16);
    } else if (block == 2) {
        y = codec::roundToInt((kRed * r + kGreen * g + kBlue * b) / 4);
        meanRed = codec::roundToInt(r / 4);
        meanBlue = codec::roundToInt(b / 4);
    } else {
        y = codec::roundToInt(kRed * r + kGreen * g + kBlue * b);
    }
    y = std::clamp(y, 0, 255);  // the weights sum to just over 1; white still lands on 255
    Ycc out;
    out.y = y;
    out.cr = clampDifference(codec::roundToInt(static_cast<Real>(meanRed - y) / kDivRed));
    out.cb = clampDifference(codec::roundToInt(static_cast<Real>(meanBlue - y) / kDivBlue));
    return out;
}

codec::Plane subsampleChroma(const codec::Plane& full, int factor) {
    const int n = full.width / factor;
    codec::Plane sub(n, n);
    const Real area = static_cast<Real>(factor) * factor;
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            int64_t sum = 0;
            for (int y = factor * j; y < factor * j + factor; ++y) {
                for (int x = factor * i; x < factor * i + factor; ++x) sum += full.at(x, y);
            }
            sub.at(i, j) = codec::roundToInt(static_cast<Real>(sum) * 2 / area);
        }
    }
    return sub;
}

YccPlanes convertColour(const SourcePicture& source, const PictureParams& params) {
    const int n = params.frameSize;
    const SourceWindow window = sourceWindow(n);
    codec::Plane luma(n, n);
    codec::Plane red(n, n);
    codec::Plane blue(n, n);
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            int sumRed = 0;
            int sumGreen = 0;
            int sumBlue = 0;
            const int x0 = window.x0 + window.block * i;
            const int y0 = window.y0 + window.block * j;
            for (int y = y0; y < y0 + window.block; ++y) {
                for (int x = x0; x < x0 + window.block; ++x) {
                    sumRed += source.red(x, y);
                    sumGreen += source.green(x, y);
                    sumBlue += source.blue(x, y);
                }
            }
            const Ycc c = blockColour(sumRed, sumGreen, sumBlue, window.block);
            luma.at(i, j) = c.y;
            red.at(i, j) = c.cr;
            blue.at(i, j) = c.cb;
        }
    }
    YccPlanes out;
    out.luma = std::move(luma);
    out.red = subsampleChroma(red, params.redFactor);
    out.blue = subsampleChroma(blue, params.blueFactor);
    return out;
}

ChromaField upsampleChroma(const codec::Plane& sub, int factor, int frameSize) {
    ChromaField field;
    field.size = frameSize;
    const size_t stride = static_cast<size_t>(frameSize) + 2;
    field.values.assign(stride * stride, 0);
    for (int y = 0; y < frameSize; ++y) {
        for (int x = 0; x < frameSize; ++x) {
            const int i = x / factor;
            const int j = y / factor;
            if (i < sub.width && j < sub.height) {
                field.values[static_cast<size_t>(y + 1) * stride + static_cast<size_t>(x + 1)] =
                    sub.at(i, j);
            }
        }
    }
    return field;
}

int smoothedChroma(const ChromaField& field, int x, int y) {
    // Halving each neighbour in floating point keeps the halves; integer halving would not.
    Real sum = 2 * static_cast<Real>(field.at(x, y));
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            if (dx != 0 || dy != 0) sum += static_cast<Real>(field.at(x + dx, y + dy)) / 2;
        }
    }
    return codec::roundToInt(sum / 6);
}

uint32_t pixelColour(int luma, int crDoubled, int cbDoubled) {
    const Real y = luma;
    const int r = codec::roundToInt(kDivRed * crDoubled / 2 + y);
    const int b = codec::roundToInt(kDivBlue * cbDoubled / 2 + y);
    const int g = codec::roundToInt((y - kBlue * b - kRed * r) / kGreen);
    return packRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
}

}  // namespace encoder
