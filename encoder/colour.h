#pragma once

// Luma and colour-difference split of the source square, box scaling to the frame size and
// chroma subsampling; and the way back for the decoders: chroma upsampling with smoothing and
// the pixel colour.
//
// The weights and divisors are single-precision constants evaluated in extended precision
// (long double). Narrowing them to float changes rounding: 255 * 0.3f is 76.500003, so pure red
// has luma 77, where the decimal 0.3 would give a tie and 76. Every other receiver rounds the
// same way, so the preview matches what they show.

#include <cstdint>
#include <vector>

#include "codec/plane.h"
#include "encoder/params.h"
#include "encoder/picture.h"

namespace encoder {

inline constexpr float kWeightRed = 0.3f;
inline constexpr float kWeightGreen = 0.6f;
inline constexpr float kWeightBlue = 0.1f;
inline constexpr float kDivisorRed = 1.4f;
inline constexpr float kDivisorBlue = 1.77f;

// Part of the source square averaged into the frame: output pixel (i, j) is the mean of the
// block x = x0 + block*i .., y = y0 + block*j ... Frames of 96 and 48 use a 192 x 192 window;
// the 48 window sits off centre (x 30..221, y 28..219) and receivers see it that way.
struct SourceWindow {
    int block = 1;  // pixels per block side: 1, 2 or 4
    int x0 = 0;     // left column of the window
    int y0 = 0;     // top row of the window
};
[[nodiscard]] SourceWindow sourceWindow(int frameSize);

struct Ycc {
    int y = 0;   // luma 0..255
    int cr = 0;  // red difference, -255..255
    int cb = 0;  // blue difference, -255..255
};

// Luma and full-resolution colour differences of one output pixel from the sums of the red,
// green and blue bytes over its block (block 1, 2 or 4).
[[nodiscard]] Ycc blockColour(int sumRed, int sumGreen, int sumBlue, int block);

// Twice the mean of each factor x factor block (factor 2 or 4), rounded: the subsampled chroma
// keeps one more bit than the full plane, and decoders halve it again.
[[nodiscard]] codec::Plane subsampleChroma(const codec::Plane& full, int factor);

struct YccPlanes {
    codec::Plane luma;  // N x N, 0..255
    codec::Plane red;   // (N / red factor) square, doubled colour difference
    codec::Plane blue;  // (N / blue factor) square, doubled colour difference
};

// Scales, converts and subsamples the source square for params (frame size and factors must be
// valid).
[[nodiscard]] YccPlanes convertColour(const SourcePicture& source, const PictureParams& params);

// Full-size chroma plane with a one-sample border of zeros all round, so that the smoothing
// reads 0 for neighbours outside the frame and pulls the border pixels towards grey.
struct ChromaField {
    int size = 0;                 // N
    std::vector<int32_t> values;  // (N + 2)^2, sample (x, y) at ((y + 1) * (N + 2) + x + 1)

    [[nodiscard]] int32_t at(int x, int y) const {
        return values[static_cast<size_t>(y + 1) * (size + 2) + static_cast<size_t>(x + 1)];
    }
};

// Copies each subsampled value into its factor x factor block of an N x N field.
[[nodiscard]] ChromaField upsampleChroma(const codec::Plane& sub, int factor, int frameSize);

// Weighted mean of (x, y) (weight 2) and its eight neighbours (1/2 each), rounded; the result is
// still doubled.
[[nodiscard]] int smoothedChroma(const ChromaField& field, int x, int y);
// smoothedChroma of every sample of upsampleChroma(sub, factor, frameSize), N x N row by row,
// without building the field.
[[nodiscard]] std::vector<int32_t> smoothChroma(const codec::Plane& sub, int factor, int frameSize);

// Pixel 0x00RRGGBB from luma and the doubled colour differences. Green is solved from the
// rounded red and blue; each channel is clamped to 0..255 only at the end.
[[nodiscard]] uint32_t pixelColour(int luma, int crDoubled, int cbDoubled);

// The decoders' last stage: the N x N picture from the N x N luma and the subsampled chroma
// planes, through upsampling, smoothing and pixelColour. A luma plane of another size gives a
// black picture.
[[nodiscard]] Picture colourPicture(const YccPlanes& planes, int redFactor, int blueFactor,
                                    int frameSize);

}  // namespace encoder
