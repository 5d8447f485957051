#include "encoder/params.h"

namespace encoder {

bool isFrameSize(int n) { return n == 48 || n == 64 || n == 96 || n == 128 || n == 256; }

bool isChromaFactor(int f) { return f == 2 || f == 4; }

uint8_t waveletLetter(Wavelet wavelet) {
    switch (wavelet) {
        case Wavelet::Haar:
            return 'H';
        case Wavelet::D4:
            return 'D';
        case Wavelet::Av1:
            return 'A';
        case Wavelet::Cdf97:
            break;
    }
    return 'S';
}

std::optional<Wavelet> waveletFromLetter(uint8_t letter) {
    switch (letter) {
        case 'H':
            return Wavelet::Haar;
        case 'D':
            return Wavelet::D4;
        case 'S':
            return Wavelet::Cdf97;
        case 'A':
            return Wavelet::Av1;
        default:
            return std::nullopt;
    }
}

std::string_view waveletName(Wavelet wavelet) {
    switch (wavelet) {
        case Wavelet::Haar:
            return "Haar";
        case Wavelet::D4:
            return "D4";
        case Wavelet::Av1:
            return "AV1";
        case Wavelet::Cdf97:
            break;
    }
    return "CDF97 subband";
}

bool isValid(const PictureParams& params) {
    if (isAv1(params)) {
        return isFrameSize(params.frameSize) && params.redFactor == params.blueFactor &&
               (params.redFactor == kAv1Chroma444 || params.redFactor == kAv1Chroma420);
    }
    const int w = static_cast<int>(params.wavelet);
    return isFrameSize(params.frameSize) && isChromaFactor(params.redFactor) &&
           isChromaFactor(params.blueFactor) && w >= 0 && w <= 2;
}

size_t coefficientCount(const PictureParams& params) {
    const auto square = [](int n) { return static_cast<size_t>(n) * static_cast<size_t>(n); };
    return square(params.frameSize) + square(params.redSide()) + square(params.blueSide());
}

}  // namespace encoder
