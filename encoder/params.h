#pragma once

// Parameters that both ends of the radio path agree on for one frame: what the header block
// carries and what the decoder needs to rebuild the picture.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace encoder {

// Window setting codes; the receiver's own numbering differs and is mapped through the letter.
enum class Wavelet : int { Haar = 0, D4 = 1, Cdf97 = 2 };

inline constexpr int kBaseStep = 16;  // quantiser step = kBaseStep + quantiser setting

[[nodiscard]] bool isFrameSize(int n);                 // 48, 64, 96, 128 or 256
[[nodiscard]] bool isChromaFactor(int f);              // 2 or 4
[[nodiscard]] uint8_t waveletLetter(Wavelet wavelet);  // 'H', 'D', 'S'
[[nodiscard]] std::optional<Wavelet> waveletFromLetter(uint8_t letter);
[[nodiscard]] std::string_view waveletName(Wavelet wavelet);  // as the status line shows it

struct PictureParams {
    int frameSize = 64;                // N, pixels per side: 48, 64, 96, 128 or 256
    Wavelet wavelet = Wavelet::Cdf97;  // transform family
    int redFactor = 4;                 // red chroma subsampling, 2 or 4
    int blueFactor = 4;                // blue chroma subsampling, 2 or 4
    int step = kBaseStep + 1;          // quantiser step, 17..81 from pictx; any 0..255 decodes

    [[nodiscard]] int redSide() const { return frameSize / redFactor; }
    [[nodiscard]] int blueSide() const { return frameSize / blueFactor; }
};

// True when the sizes and factors name planes the transforms can work on. The step is not
// checked: a receiver decodes whatever step byte the header carried.
[[nodiscard]] bool isValid(const PictureParams& params);

// M, the number of coefficient bytes of a frame: N^2 + (N/red factor)^2 + (N/blue factor)^2.
[[nodiscard]] size_t coefficientCount(const PictureParams& params);

}  // namespace encoder
