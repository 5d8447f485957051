#pragma once

// Wavelet kernels shared by the encoder and both decoders: integer Haar on a coefficient plane,
// Daubechies-4 lifting and CDF 9/7 lifting on a coefficient line of doubles.
//
// After a forward level on length L the first L/2 elements hold the low band and the rest the
// detail band; further levels work on the low half only (Mallat order).
//
// Precision: the D4 and CDF 9/7 statements are evaluated in x87 extended precision (long double,
// 64-bit mantissa) and each statement's result is stored into the 64-bit line, in the statement
// order below. Exact ties are common in D4 (a chroma line holding only its low band inverts to
// values such as -6.5), so plain double arithmetic would round some samples differently from
// other receivers and frames would not decode to the same picture. Compile with
// -ffp-contract=off. The codec refuses to build where long double is not the 64-bit-mantissa
// format.
//
// The kernels keep no state and never allocate: work storage lives on the stack.
//
// Arguments outside the contract (a line that does not fit the plane or span, a negative or
// too long n, an odd CDF length) leave the data untouched rather than read or write past the
// caller's array; levels of length below 2 are skipped, so no level rule can loop for ever.

#include <cmath>
#include <cstdint>
#include <limits>
#include <span>

#include "codec/plane.h"

namespace codec {

// sqrt(2) and sqrt(3) rounded to double (the correctly rounded values; rounding the extended
// square root to double gives the same bits). The D4 constants (S3-1)/S2, (S3+1)/S2, S3/4 and
// (S3-2)/4 are formed from these doubles in extended precision.
inline constexpr double kS2 = 1.4142135623730951;  // 0x1.6a09e667f3bcdp+0
inline constexpr double kS3 = 1.7320508075688772;  // 0x1.bb67ae8584caap+0

// The Haar scale factor is the single-precision 1.414 (1.41400003433227539...), multiplied and
// divided in extended precision.
inline constexpr float kHaarFactor = 1.414f;

// Longest line the Haar kernels take (their work arrays hold 256 elements).
inline constexpr int kHaarMaxLength = 256;

// Haar kernels address the plane themselves. HAARFWDX transforms elements (0..n-1, k),
// HAARFWDY elements (k, 0..n-1) and then zeroes every element of that line whose magnitude is
// below threshold (also when n is too short for any level). n is at most 256. Level lengths:
// while L > stop (5 when n is 48 or 96, else 15) do a level on L, then L = round(L/2); so 48:
// 48,24,12,6; 64: 64,32,16; 24: 24 only; a line of 12 or fewer elements is left alone. The
// inverses replay the forward's level lengths from the smallest up. Every rounding is
// ties-to-even, the pair average included (10, 7 -> average 8), so a pair is not exactly
// invertible: 10, 7 -> 11, 3 -> 10, 6.
void HAARFWDX(Plane& plane, int k, int n);
void HAARFWDY(Plane& plane, int k, int n, int threshold);
void HAARINVX(Plane& plane, int k, int n);
void HAARINVY(Plane& plane, int k, int n);

// Multi-level D4 on line[0..n-1]. mode 0 is the multi-level rule every caller uses, mode 1 a
// single level. frameSize (48, 64, 96, 128 or 256) picks the level rule: frames of 48 and 96 go
// down to a level length of 12 whatever n and mode are; other frames with mode 0 do four levels
// (n down to n/8; the low band is n/16 long).
void D4FORWARD(std::span<double> line, int n, int mode, int frameSize);
void D4INVERSE(std::span<double> line, int n, int mode, int frameSize);

// Single-level D4 steps on line[0..L-1]; L is even. SPLIT reorders x0 x1 x2 x3 ... into
// x0 x2 ... x1 x3 ..., MERGE undoes it. LIFT/UNLIFT are periodic (the neighbours wrap round).
void D4SPLIT(std::span<double> line, int L);
void D4LIFT(std::span<double> line, int L);
void D4UNLIFT(std::span<double> line, int L);
void D4MERGE(std::span<double> line, int L);

// One CDF 9/7 level on line[0..n-1] with symmetric extension; n is even and at least 2 (the
// frame driver's lengths go down to 6). The detail coefficients come out with their sign
// reversed. The frame driver runs the levels.
void CDF97FWD(std::span<double> line, int n);
void CDF97INV(std::span<double> line, int n);

// Nearest integer with ties to even, the one rounding rule for every float-to-integer
// conversion of the codec (2.5 -> 2, -6.5 -> -6, 3.5 -> 4). Values beyond the int32 range
// saturate; NaN gives 0. rintl rounds in the current mode, round-to-nearest-even unless a caller
// changes it (std::round would send halves away from zero: -6.5 -> -7). Inline because the frame
// drivers call it once per coefficient: it compiles to one frndint, and the integer it gives is
// in range, so the double in between is exact.
[[nodiscard]] inline int32_t roundToInt(long double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<long double>(std::numeric_limits<int32_t>::max())) {
        return std::numeric_limits<int32_t>::max();
    }
    if (value <= static_cast<long double>(std::numeric_limits<int32_t>::min())) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(static_cast<double>(std::rintl(value)));
}

}  // namespace codec
