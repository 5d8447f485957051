#pragma once

// The decoding pipeline shared by the sender's preview and the receiver: coded stream ->
// coefficient bytes -> dequantised planes -> inverse transforms -> upsampled, smoothed chroma ->
// pixels. It takes every parameter as an argument, since the receiver decodes with the header
// block's values and the sender with its settings.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "encoder/params.h"
#include "encoder/picture.h"

namespace encoder {

// Expansion buffer of the receiver, in bytes: six bytes per pixel of the largest frame and one
// more. The receiver does not know M beforehand and takes the decoded count plus one.
inline constexpr size_t kReceiverCoefficientCapacity = 0x60001;

enum class DecodeError {
    None,
    BadParameters,
    BadStream,  // an AV1 stream that is not the picture its header promised
};

struct PictureDecode {
    DecodeError error = DecodeError::None;
    Picture picture;           // N x N; empty on error
    bool shortStream = false;  // fewer coefficient bytes than the planes hold; the rest read as 0
};

// The preview's expansion: ARITHCODE into a buffer of count zero bytes, all of which are the
// coefficient bytes (those the stream does not reach stay 0).
[[nodiscard]] std::vector<uint8_t> expandCoefficients(std::span<const uint8_t> coded, size_t count);

// The receiver's expansion: ARITHCODE into kReceiverCoefficientCapacity zero bytes; returns the
// first d + 1 of them, d the decoded count (capped at the capacity).
[[nodiscard]] std::vector<uint8_t> expandReceived(std::span<const uint8_t> coded);

// Dequantisation, inverse transforms, chroma upsampling and smoothing, pixels. The wavelets
// only: AV1 parameters are BadParameters here and in the two below.
[[nodiscard]] PictureDecode decodeCoefficients(std::span<const uint8_t> coefficients,
                                               const PictureParams& params);

// The whole pipeline as the preview runs it: coded is the ARITHCODE output ("ACMC" first, no
// CRC text) and count the number M of coefficient bytes it encodes.
[[nodiscard]] PictureDecode decodePicture(std::span<const uint8_t> coded, size_t count,
                                          const PictureParams& params);

// The whole pipeline as the receiver runs it: its own expansion, then the coefficient bytes.
[[nodiscard]] PictureDecode decodeReceived(std::span<const uint8_t> coded,
                                           const PictureParams& params);

// Any frame's coded stream, as a receiver decodes it: the wavelets as decodePicture with M
// coefficient bytes (which gives the receiver's picture for every stream), an AV1 frame by the
// AV1 decoder, held to the header's N, chroma and 8 bits.
[[nodiscard]] PictureDecode decodePayload(std::span<const uint8_t> coded,
                                          const PictureParams& params);

}  // namespace encoder
