#pragma once

// Parameters that both ends of the radio path agree on for one frame: what the header block
// carries and what the decoder needs to rebuild the picture.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace encoder {

// Window setting codes; the receiver's own numbering differs and is mapped through the letter.
// Av1 is no wavelet: the header's wavelet field names it for frames whose coded stream is an
// AV1 intra frame (letter 'A'), in the same frame format.
enum class Wavelet : int { Haar = 0, D4 = 1, Cdf97 = 2, Av1 = 3 };

// An AV1 frame's header carries its chroma in both factor fields and its quality in the step.
inline constexpr int kAv1Chroma444 = 1;  // 4:4:4, AV1 profile 1
inline constexpr int kAv1Chroma420 = 2;  // 4:2:0, AV1 profile 0
inline constexpr int kAv1MaxQuality = 63;

inline constexpr int kBaseStep = 16;  // quantiser step = kBaseStep + quantiser setting

[[nodiscard]] bool isFrameSize(int n);                 // 48, 64, 96, 128 or 256
[[nodiscard]] bool isChromaFactor(int f);              // 2 or 4
[[nodiscard]] uint8_t waveletLetter(Wavelet wavelet);  // 'H', 'D', 'S'; 'A' for AV1
[[nodiscard]] std::optional<Wavelet> waveletFromLetter(uint8_t letter);
[[nodiscard]] std::string_view waveletName(Wavelet wavelet);  // as the status line shows it

struct PictureParams {
    int frameSize = 64;                // N, pixels per side: 48, 64, 96, 128 or 256
    Wavelet wavelet = Wavelet::Cdf97;  // transform family
    int redFactor = 4;                 // red chroma subsampling, 2 or 4 (AV1: 1 or 2, as blue)
    int blueFactor = 4;                // blue chroma subsampling, 2 or 4
    int step = kBaseStep + 1;          // quantiser step, 17..81 from pictx; any 0..255 decodes
                                       // (AV1: the quality it was encoded at, 0..63)

    [[nodiscard]] int redSide() const { return frameSize / redFactor; }
    [[nodiscard]] int blueSide() const { return frameSize / blueFactor; }
};

// True when the sizes and factors name planes the transforms can work on. The step is not
// checked: a receiver decodes whatever step byte the header carried. For AV1: a frame size,
// both factors 1 (4:4:4) or both 2 (4:2:0), any step.
[[nodiscard]] bool isValid(const PictureParams& params);
[[nodiscard]] inline bool isAv1(const PictureParams& params) {
    return params.wavelet == Wavelet::Av1;
}

// M, the number of coefficient bytes of a frame: N^2 + (N/red factor)^2 + (N/blue factor)^2.
[[nodiscard]] size_t coefficientCount(const PictureParams& params);

}  // namespace encoder
