#pragma once

// Coefficient bytes: the three transformed planes read out column by column (luma, red, blue),
// thresholded, divided by the step, compressed in magnitude by a power law and offset by 128.
// The mapping is lopsided on purpose: only positive values are companded, negative ones are
// just divided, and both ends must agree on that exactly.

#include <cstdint>
#include <span>
#include <vector>

#include "codec/plane.h"

namespace encoder {

// The power-law exponent is the single-precision 0.85f. Its inverse is formed from that float
// in extended precision (1.17647055523618375...): the decimal 1/0.85 or a float 1/e each move
// some dequantised values by one (byte 186 at step 73 is 8669, not 8668).
inline constexpr float kExponent = 0.85f;
[[nodiscard]] long double inverseExponent();

// x^y in extended precision. A negative base takes the exponent rounded to the nearest integer
// first, so that a negative coefficient passes the power law as a plain integer power.
[[nodiscard]] long double signedPower(long double x, long double y);

// One coefficient to its byte. Companded values beyond -128..127 are held at -128 or 127.
[[nodiscard]] uint8_t quantise(int32_t value, int threshold, int step);
// One byte back to a coefficient.
[[nodiscard]] int32_t dequantise(uint8_t byte, int step);

// The coefficient bytes of a frame: luma, then red, then blue; each plane x-major (x outer,
// y inner).
[[nodiscard]] std::vector<uint8_t> serialise(const codec::Plane& luma, const codec::Plane& red,
                                             const codec::Plane& blue, int threshold, int step);

// Refills the three planes (already sized) from coefficient bytes in the same order. Bytes
// missing at the end read as 0, as from the decoders' zero-filled expansion buffer; the result
// is false when that happened.
[[nodiscard]] bool deserialise(std::span<const uint8_t> bytes, int step, codec::Plane& luma,
                               codec::Plane& red, codec::Plane& blue);

}  // namespace encoder
