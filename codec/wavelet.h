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
// format. The plane functions the frame drivers call (cdf97ForwardLevel, d4ForwardPlane and
// their inverses) reach the same integers faster: they evaluate in plain doubles and hand every
// line with a value near a half to these kernels.
//
// The kernels keep no state and never allocate: work storage lives on the stack. The plane
// functions allocate only for sides their fast path does not take.
//
// Arguments outside the contract (a line that does not fit the plane or span, a negative or
// too long n, an odd CDF length) leave the data untouched rather than read or write past the
// caller's array; levels of length below 2 are skipped, so no level rule can loop for ever.

#include <cfloat>
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
// HAARFWDY (HAARINVY) for every column k = 0..n-1, with the same results, the columns gathered a
// block at a time so that each row of the plane is read once per block, not once per column.
void haarForwardColumns(Plane& plane, int n, int threshold);
void haarInverseColumns(Plane& plane, int n);

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

// One level of the frame driver's CDF 9/7 on the top-left side x side square of the plane: every
// row through CDF97FWD (CDF97INV), widened to doubles and rounded back by roundDoublesToInt, then
// every column the same way. The integers are always those; most lines get them several times
// faster, from plain double arithmetic checked against the halves (see the definition). A side
// beyond the plane leaves it untouched.
void cdf97ForwardLevel(Plane& plane, int side);
void cdf97InverseLevel(Plane& plane, int side);

// The frame driver's D4 on a whole plane, n its width: every row of the n x n square through
// D4FORWARD (D4INVERSE) with mode 0, widened and rounded back by roundDoublesToInt, then every
// column. The same integers, by the same scheme as the CDF 9/7 levels. A plane shorter than
// its width is left untouched.
void d4ForwardPlane(Plane& plane, int frameSize);
void d4InversePlane(Plane& plane, int frameSize);

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

// Exact integer forms of roundToInt, for the many formulas whose extended-precision value is an
// exact rational (a single-precision constant is an integer over a power of two): n / 2^shift
// and n / d to the nearest integer, ties to even, with no branch (remainders of picture data
// fall either way at random). shift >= 1, d > 0, and n + 2^shift and 2d must not overflow.
// saturatedInt32 then gives roundToInt's saturation, since rounding and clamping commute.
[[nodiscard]] constexpr int64_t roundedShift(int64_t n, int shift) {
    // Half - 1 plus the low bit of the floor carries into the quotient exactly when the
    // remainder passes the half, or meets it with an odd floor.
    return (n + ((int64_t{1} << (shift - 1)) - 1) + ((n >> shift) & 1)) >> shift;
}

[[nodiscard]] constexpr int64_t roundedQuotient(int64_t n, int64_t d) {
    int64_t q = n / d;
    int64_t rest = n - q * d;
    const int64_t below = rest >> 63;  // all ones when truncation left the floor one too high
    q += below;
    rest += d & below;
    return q + static_cast<int64_t>(2 * rest + (q & 1) > d);
}

[[nodiscard]] constexpr int32_t saturatedInt32(int64_t v) {
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(v < kMin ? kMin : v > kMax ? kMax : v);
}

// roundToInt of a double, the same integer for every double, without the round trip through
// the x87 unit that the frame drivers would pay once per coefficient. Below 2^31 in magnitude,
// adding 1.5 * 2^52 leaves a sum whose last place is 1, so the addition itself rounds to the
// nearest integer, ties to even (the offset is even), in the same rounding mode as rintl, and
// the subtraction is exact. Anything else, NaN included, takes roundToInt.
[[nodiscard]] inline int32_t roundDoubleToInt(double value) {
    constexpr double kLimit = 2147483647.0;        // the rounded sum stays inside int32 below this
    constexpr double kShift = 6755399441055744.0;  // 1.5 * 2^52
    static_assert(FLT_EVAL_METHOD == 0, "double sums must round to double, not wider");
    if (value > -kLimit && value < kLimit) {
        return static_cast<int32_t>((value + kShift) - kShift);
    }
    return roundToInt(value);
}

// roundDoubleToInt of from[0..n-1] into to[0..n-1], two at a time with SSE2 where both lie
// inside the fast path's range.
void roundDoublesToInt(const double* from, int32_t* to, int n);

}  // namespace codec
