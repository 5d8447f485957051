#include "codec/wavelet.h"

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

namespace codec {
namespace {

// Every receiver must produce the same integers, and exact .5 ties are common in D4; a wider or
// narrower long double (aarch64 quad, MSVC double) would round some of them the other way.
static_assert(std::numeric_limits<long double>::digits == 64,
              "the wavelet kernels need the x87 80-bit long double (64-bit mantissa)");

using Ext = long double;

// D4 lifting constants, formed in extended precision from the double S2 and S3. S3+1 and the
// divisions by S2 are not exact in double; rounding them to double first would change results.
constexpr Ext kD4Update = kS3;                           // first update: s += S3 * d
constexpr Ext kD4Predict = Ext{kS3} / 4;                 // S3/4
constexpr Ext kD4PredictWrap = (Ext{kS3} - 2) / 4;       // (S3-2)/4, weight of the left neighbour
constexpr Ext kD4LowScale = (Ext{kS3} - 1) / Ext{kS2};   // normalises the low band
constexpr Ext kD4HighScale = (Ext{kS3} + 1) / Ext{kS2};  // normalises the high band

// The same constants rounded to double, for the plain-double evaluation of whole planes.
constexpr double kD4PredictDouble = static_cast<double>(kD4Predict);
constexpr double kD4PredictWrapDouble = static_cast<double>(kD4PredictWrap);
constexpr double kD4LowScaleDouble = static_cast<double>(kD4LowScale);
constexpr double kD4HighScaleDouble = static_cast<double>(kD4HighScale);

// CDF 9/7 lifting constants: exactly these decimals rounded to double, used in extended.
constexpr double kCdfA = 1.58615986717275;
constexpr double kCdfB = 0.05297864003258;
constexpr double kCdfC = 0.88293362717904;
constexpr double kCdfD = 0.44350482244527;
constexpr double kCdfK = 1.14960430535816;
constexpr Ext kNegA = -Ext{kCdfA};
constexpr Ext kNegB = -Ext{kCdfB};
constexpr Ext kC = kCdfC;
constexpr Ext kD = kCdfD;
constexpr Ext kK = kCdfK;
constexpr Ext kNegK = -Ext{kCdfK};

constexpr Ext kHaar = kHaarFactor;  // the float 1.414, widened exactly

// Permutations up to this length use a stack buffer; longer ones (never met by the frame
// drivers) fall back to the in-place swap network, which gives the same order.
constexpr int kScratch = 256;

// L/2 rounded to nearest with ties to even, as every half length of the kernels.
int halfLength(int L) { return static_cast<int>(roundedShift(L, 1)); }

int lineLength(std::span<const double> line) {
    return static_cast<int>(std::min<size_t>(line.size(), std::numeric_limits<int>::max()));
}

// ---- Integer Haar ----------------------------------------------------------------------------

// Level lengths of the forward transform of an n-long line, largest first.
struct HaarLevels {
    std::array<int, 8> length{};  // at most 5 levels for n <= 256 (256 .. 16, 96 .. 6)
    int count = 0;
};

HaarLevels haarLevels(int n) {
    HaarLevels levels;
    const int stop = (n == 48 || n == 96) ? 5 : 15;
    for (int L = n; L > stop && levels.count < static_cast<int>(levels.length.size());
         L = halfLength(L)) {
        levels.length[levels.count++] = L;
    }
    return levels;
}

// A line copied out of the plane, with one zero element past its end so that a level on an
// odd length that rounds its half up reads a defined neighbour instead of leaving the line.
using HaarLine = std::array<int32_t, kHaarMaxLength + 1>;

// The Haar statements in exact integers. The pair average (a sum of two int32 over 2) and the
// products with 1.414f = 2965373 / 2^21 (below 2^54) are exact in extended precision, so
// rounding them is rounding exact rationals. The inverse's quotient t / 1.414f = t 2^21 / 2965373
// is never a tie (2965373 is odd, so a tie would need 2965373 | t, which makes it whole), lies at
// least 1 / 5930746 from any half, and its extended value (below 2^33) is within 2^-31 of it: it
// rounds like the exact one.
constexpr int64_t kHaarNumerator = 2965373;
constexpr int kHaarShift = 21;
static_assert(static_cast<Ext>(kHaarNumerator) / (1 << kHaarShift) == kHaar);

// The same levels in doubles, two pairs per step, where that is exact: with every sample within
// 2^26 in magnitude, pair sums, differences and their products with 1.414f (a 22-bit mantissa)
// are exact doubles, so the conversion's round to nearest, ties to even, is roundedShift's; the
// inverse's quotient is within 2^-25 of the exact one, closer than its 1 / 5930746 to any half,
// so it rounds alike. Every result stays below 2^28. Lengths whose half is odd (6) and lines
// beyond the range take the integer statements.
constexpr double kHaarFastMaxInput = 0x1p26;

// ---- SSE2 pieces of the double evaluations (Haar here, CDF 9/7 and D4 below)

const __m128d kMagnitude = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFF));

[[gnu::always_inline]] inline __m128d widenPair(const int32_t* from) {
    return _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(from)));
}

// top, lane by lane the largest magnitude so far, with those of pair.
[[gnu::always_inline]] inline __m128d withMagnitudes(__m128d top, __m128d pair) {
    return _mm_max_pd(top, _mm_and_pd(pair, kMagnitude));
}

double largestOf(__m128d top) {
    return std::max(_mm_cvtsd_f64(top), _mm_cvtsd_f64(_mm_unpackhi_pd(top, top)));
}
constexpr double kHaarFactorDouble = kHaarFactor;
constexpr double kHaarInverseFactor = static_cast<double>(1 << kHaarShift) / kHaarNumerator;

bool haarFastLevel(const int32_t* a, int L) {
    if (L % 4 != 0) return false;
    __m128d top = _mm_setzero_pd();
    for (int i = 0; i < L; i += 2) top = withMagnitudes(top, widenPair(a + i));
    return largestOf(top) <= kHaarFastMaxInput;
}

void haarForwardLevelFast(int32_t* a, int L) {
    const int h = L / 2;
    std::array<int32_t, kHaarMaxLength / 2> low;
    std::array<int32_t, kHaarMaxLength / 2> high;
    const __m128d half = _mm_set1_pd(0.5);
    const __m128d factor = _mm_set1_pd(kHaarFactorDouble);
    for (int i = 0; i < h; i += 2) {
        // a[2i] a[2i+2] a[2i+1] a[2i+3]: the pairs' first samples, then their second ones.
        const __m128i samples = _mm_shuffle_epi32(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2 * i)), _MM_SHUFFLE(3, 1, 2, 0));
        const __m128d first = _mm_cvtepi32_pd(samples);
        const __m128d second = _mm_cvtepi32_pd(_mm_srli_si128(samples, 8));
        const __m128d average =
            _mm_cvtepi32_pd(_mm_cvtpd_epi32(_mm_mul_pd(_mm_add_pd(first, second), half)));
        const __m128d difference = _mm_sub_pd(first, average);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(&low[i]),
                         _mm_cvtpd_epi32(_mm_mul_pd(average, factor)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(&high[i]),
                         _mm_cvtpd_epi32(_mm_mul_pd(difference, factor)));
    }
    std::copy_n(low.data(), h, a);
    std::copy_n(high.data(), h, a + h);
}

void haarInverseLevelFast(int32_t* a, int L) {
    const int h = L / 2;
    std::array<int32_t, kHaarMaxLength> out;
    const __m128d factor = _mm_set1_pd(kHaarInverseFactor);
    for (int i = 0; i < h; i += 2) {
        const __m128d low =
            _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + i)));
        const __m128d high =
            _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + h + i)));
        const __m128i even = _mm_cvtpd_epi32(_mm_mul_pd(_mm_add_pd(high, low), factor));
        const __m128i odd = _mm_cvtpd_epi32(_mm_mul_pd(_mm_sub_pd(low, high), factor));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(&out[2 * i]), _mm_unpacklo_epi32(even, odd));
    }
    std::copy_n(out.data(), L, a);
}

void haarForwardLevel(HaarLine& line, int L) {
    if (haarFastLevel(line.data(), L)) return haarForwardLevelFast(line.data(), L);
    const int h = halfLength(L);
    std::array<int64_t, kHaarMaxLength / 2 + 1> averages;
    std::array<int64_t, kHaarMaxLength / 2 + 1> differences;
    int32_t* const a = line.data();
    int64_t* const avg = averages.data();
    int64_t* const dif = differences.data();
    for (int i = 0; i < h; ++i) {
        // Ties to even: 10, 7 -> 8.5 -> 8.
        avg[i] = roundedShift(static_cast<int64_t>(a[2 * i + 1]) + a[2 * i], 1);
        dif[i] = a[2 * i] - avg[i];
    }
    for (int i = 0; i < h; ++i) {
        a[i] = saturatedInt32(roundedShift(kHaarNumerator * avg[i], kHaarShift));
        a[h + i] = saturatedInt32(roundedShift(kHaarNumerator * dif[i], kHaarShift));
    }
}

void haarInverseLevel(HaarLine& line, int L) {
    if (haarFastLevel(line.data(), L)) return haarInverseLevelFast(line.data(), L);
    const int h = halfLength(L);
    std::array<int64_t, kHaarMaxLength + 2> sums;
    int32_t* const a = line.data();
    int64_t* const t = sums.data();
    for (int i = 0; i < h; ++i) {
        t[2 * i] = static_cast<int64_t>(a[h + i]) + a[i];
        t[2 * i + 1] = static_cast<int64_t>(a[i]) - a[h + i];
    }
    for (int i = 2 * h; i < L; ++i) t[i] = 0;  // an odd L whose half rounds down
    for (int i = 0; i < L; ++i) {
        a[i] = saturatedInt32(roundedQuotient(t[i] * (int64_t{1} << kHaarShift), kHaarNumerator));
    }
}

// A line of the plane: n elements starting at first, stride elements apart.
struct PlaneLine {
    int32_t* first = nullptr;
    ptrdiff_t stride = 0;
    int n = 0;
};

// The line (0..n-1, k) when alongX, else (k, 0..n-1); first is null when it does not fit.
PlaneLine planeLine(Plane& plane, int k, int n, bool alongX) {
    const int length = alongX ? plane.width : plane.height;
    const int across = alongX ? plane.height : plane.width;
    if (n < 0 || n > kHaarMaxLength || n > length || k < 0 || k >= across ||
        plane.samples.size() < static_cast<size_t>(plane.width) * plane.height) {
        return {};
    }
    if (alongX) {
        return {plane.samples.data() + static_cast<ptrdiff_t>(k) * plane.width, 1, n};
    }
    return {plane.samples.data() + k, plane.width, n};
}

void loadLine(const PlaneLine& line, HaarLine& to) {
    int32_t* const a = to.data();
    for (int i = 0; i < line.n; ++i) a[i] = line.first[i * line.stride];
    a[line.n] = 0;
}

void storeLine(const HaarLine& from, const PlaneLine& line) {
    const int32_t* const a = from.data();
    for (int i = 0; i < line.n; ++i) line.first[i * line.stride] = a[i];
}

// The levels of a line, then the threshold (strictly below it, so threshold 0 or less never
// zeroes anything).
void haarForwardLine(HaarLine& a, int n, int threshold) {
    const HaarLevels levels = haarLevels(n);
    for (int level = 0; level < levels.count; ++level) haarForwardLevel(a, levels.length[level]);
    if (threshold > 0) {
        int32_t* const v = a.data();
        for (int i = 0; i < n; ++i) {
            if (std::abs(static_cast<int64_t>(v[i])) < threshold) v[i] = 0;
        }
    }
}

// Replaying the forward lengths in reverse is "start at the smallest and double until n" for
// every length met (all halvings are exact), and stays the exact inverse order for any n.
void haarInverseLine(HaarLine& a, int n) {
    const HaarLevels levels = haarLevels(n);
    for (int level = levels.count - 1; level >= 0; --level) {
        haarInverseLevel(a, levels.length[level]);
    }
}

void haarForward(Plane& plane, int k, int n, bool alongX, int threshold) {
    const PlaneLine line = planeLine(plane, k, n, alongX);
    if (line.first == nullptr) return;
    HaarLine a;
    loadLine(line, a);
    haarForwardLine(a, n, threshold);
    storeLine(a, line);
}

void haarInverse(Plane& plane, int k, int n, bool alongX) {
    const PlaneLine line = planeLine(plane, k, n, alongX);
    if (line.first == nullptr) return;
    HaarLine a;
    loadLine(line, a);
    haarInverseLine(a, n);
    storeLine(a, line);
}

// Columns 0..n-1, kHaarBlock at a time: a row of the plane is then one cache line for all of
// them, where a column alone (1 KB between samples at 256) keeps hitting the same few cache
// sets. Each column still goes through its own line, so the results are those of the kernels
// column by column. Planes the per-line kernels would refuse in part take them line by line.
constexpr int kHaarBlock = 8;

void haarColumns(Plane& plane, int n, bool forward, int threshold) {
    const int width = plane.width;
    if (n < 0 || n > kHaarMaxLength || n > plane.height || n > width ||
        plane.samples.size() < static_cast<size_t>(width) * plane.height) {
        for (int k = 0; k < n; ++k) {
            if (forward) {
                haarForward(plane, k, n, false, threshold);
            } else {
                haarInverse(plane, k, n, false);
            }
        }
        return;
    }
    std::array<HaarLine, kHaarBlock> lines;
    std::array<int32_t*, kHaarBlock> line{};
    for (int c = 0; c < kHaarBlock; ++c) line[c] = lines[c].data();
    int32_t* const* const l = line.data();
    for (int k0 = 0; k0 < n; k0 += kHaarBlock) {
        const int count = std::min(kHaarBlock, n - k0);
        for (int y = 0; y < n; ++y) {
            const int32_t* row = plane.samples.data() + static_cast<size_t>(y) * width + k0;
            for (int c = 0; c < count; ++c) l[c][y] = row[c];
        }
        for (int c = 0; c < count; ++c) {
            l[c][n] = 0;
            if (forward) {
                haarForwardLine(lines[c], n, threshold);
            } else {
                haarInverseLine(lines[c], n);
            }
        }
        for (int y = 0; y < n; ++y) {
            int32_t* row = plane.samples.data() + static_cast<size_t>(y) * width + k0;
            for (int c = 0; c < count; ++c) row[c] = l[c][y];
        }
    }
}

// ---- Reordering shared by D4 and CDF 9/7 -----------------------------------------------------

// x0 x1 x2 x3 ... -> x0 x2 ... x1 x3 ... by the adjacent swaps that define D4SPLIT. It works
// for every L; the permutation below replaces it where it is known to give the same order.
void splitBySwaps(double* x, int L) {
    for (int lo = 1, hi = L - 1; hi > lo; ++lo, --hi) {
        for (int j = lo; j < hi; j += 2) std::swap(x[j], x[j + 1]);
    }
}

void mergeBySwaps(double* x, int L) {
    for (int lo = halfLength(L) - 1, hi = halfLength(L); lo > 0; --lo, ++hi) {
        for (int j = lo; j < hi; j += 2) std::swap(x[j], x[j + 1]);
    }
}

// For even L the swap networks are exactly "evens then odds" and its inverse: pure data
// movement, so the values are bit-identical, in O(L) instead of O(L^2).
void splitEven(double* x, int L) {
    if (L > 2 * kScratch) return splitBySwaps(x, L);
    const int h = L / 2;
    std::array<double, kScratch> scratch;
    double* const odd = scratch.data();
    for (int i = 0; i < h; ++i) {
        odd[i] = x[2 * i + 1];
        x[i] = x[2 * i];  // i <= 2i: never overwrites an even sample not yet moved
    }
    std::copy_n(odd, h, x + h);
}

void mergeEven(double* x, int L) {
    if (L > 2 * kScratch) return mergeBySwaps(x, L);
    const int h = L / 2;
    std::array<double, kScratch> scratch;
    double* const odd = scratch.data();
    std::copy_n(x + h, h, odd);
    for (int i = h - 1; i >= 0; --i) {  // downwards: x[i] moves to x[2i] >= i
        x[2 * i] = x[i];
        x[2 * i + 1] = odd[i];
    }
}

// ---- D4 --------------------------------------------------------------------------------------

// s and d of a split line of length L, or h = 0 when the step must not run: a level needs two
// elements, and an odd L whose half rounds up reaches one element past L.
struct D4Halves {
    double* s = nullptr;
    double* d = nullptr;
    int h = 0;
};

D4Halves d4Halves(std::span<double> line, int L) {
    if (L < 2 || L > lineLength(line)) return {};
    const int h = halfLength(L);
    if (2 * h > lineLength(line)) return {};
    return {line.data(), line.data() + h, h};
}

// The level lengths D4FORWARD runs on an n-long line, largest first, and those D4INVERSE runs,
// smallest first. The rules (see wavelet.h) reach at most 32 levels for any int n.
struct D4Levels {
    std::array<int, 32> length{};
    int count = 0;
};

D4Levels d4ForwardLevels(int n, int mode, int frameSize) {
    int stop = 0;
    if (frameSize == 48 || frameSize == 96) {
        stop = 11;
    } else if (mode == 1) {
        stop = n - 1;
    } else {
        stop = static_cast<int>(roundedShift(int64_t{n} - 8, 3));  // round(n / 8 - 1)
    }
    // L >= 2: for n below 8 the rule would reach a level on 1 (h = 0, reading s[-1]) and, with
    // stop = -1, halve 0 for ever.
    D4Levels levels;
    for (int L = n; L > stop && L >= 2; L = halfLength(L)) levels.length[levels.count++] = L;
    return levels;
}

D4Levels d4InverseLevels(int n, int mode, int frameSize) {
    int start = 0;
    if (frameSize == 48 || frameSize == 96) {
        start = 12;
    } else if (mode == 1) {
        start = n;
    } else {
        start = static_cast<int>(roundedShift(n, 3));  // round(n / 8)
    }
    // A start of 0 (n below 4) would double 0 for ever. A level on 1 is skipped, as in the
    // forward, by the steps themselves.
    D4Levels levels;
    for (int L = std::max(start, 1); L <= n; L *= 2) {
        levels.length[levels.count++] = L;
        if (L > n / 2) break;  // the next L would pass n (and must not overflow)
    }
    return levels;
}

}  // namespace

void roundDoublesToInt(const double* from, int32_t* to, int n) {
    // cvtpd2dq rounds in the current SSE mode, round to nearest with ties to even unless a
    // caller changes it, like the addition of roundDoubleToInt (which relies on the same mode).
    const __m128d low = _mm_set1_pd(-2147483647.0);
    const __m128d high = _mm_set1_pd(2147483647.0);
    int x = 0;
    for (; x + 4 <= n; x += 4) {
        const __m128d a = _mm_loadu_pd(from + x);
        const __m128d b = _mm_loadu_pd(from + x + 2);
        const __m128d inside = _mm_and_pd(_mm_and_pd(_mm_cmpgt_pd(a, low), _mm_cmplt_pd(a, high)),
                                          _mm_and_pd(_mm_cmpgt_pd(b, low), _mm_cmplt_pd(b, high)));
        if (_mm_movemask_pd(inside) != 3) break;  // the pairs below sort out which one is out
        const __m128i rounded = _mm_unpacklo_epi64(_mm_cvtpd_epi32(a), _mm_cvtpd_epi32(b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + x), rounded);
    }
    for (; x + 2 <= n; x += 2) {
        const __m128d v = _mm_loadu_pd(from + x);
        // Both comparisons fail for NaN, which then takes roundDoubleToInt too.
        const __m128d inside = _mm_and_pd(_mm_cmpgt_pd(v, low), _mm_cmplt_pd(v, high));
        if (_mm_movemask_pd(inside) == 3) {
            const __m128i rounded = _mm_cvtpd_epi32(v);
            to[x] = _mm_cvtsi128_si32(rounded);
            to[x + 1] = _mm_cvtsi128_si32(_mm_srli_si128(rounded, 4));
        } else {
            to[x] = roundDoubleToInt(from[x]);
            to[x + 1] = roundDoubleToInt(from[x + 1]);
        }
    }
    if (x < n) to[x] = roundDoubleToInt(from[x]);
}

void HAARFWDX(Plane& plane, int k, int n) { haarForward(plane, k, n, true, 0); }

void HAARFWDY(Plane& plane, int k, int n, int threshold) {
    haarForward(plane, k, n, false, threshold);
}

void HAARINVX(Plane& plane, int k, int n) { haarInverse(plane, k, n, true); }

void HAARINVY(Plane& plane, int k, int n) { haarInverse(plane, k, n, false); }

void haarForwardColumns(Plane& plane, int n, int threshold) {
    haarColumns(plane, n, true, threshold);
}

void haarInverseColumns(Plane& plane, int n) { haarColumns(plane, n, false, 0); }

void D4SPLIT(std::span<double> line, int L) {
    if (L < 2 || L > lineLength(line)) return;
    if (L % 2 == 0) {
        splitEven(line.data(), L);
    } else {
        splitBySwaps(line.data(), L);
    }
}

void D4MERGE(std::span<double> line, int L) {
    if (L < 2 || L > lineLength(line)) return;
    if (L % 2 == 0) {
        mergeEven(line.data(), L);
    } else {
        mergeBySwaps(line.data(), L);  // not the inverse of the odd split; odd L is never met
    }
}

// Each statement is evaluated in extended precision, left to right as written, and stored to
// double before the next one reads it.
void D4LIFT(std::span<double> line, int L) {
    const auto [s, d, h] = d4Halves(line, L);
    if (h == 0) return;
    for (int i = 0; i < h; ++i) s[i] = static_cast<double>(s[i] + kD4Update * d[i]);
    // The left neighbour of s[0] is s[h-1]: the transform is periodic.
    d[0] = static_cast<double>(d[0] - kD4Predict * s[0] - kD4PredictWrap * s[h - 1]);
    for (int i = 1; i < h; ++i) {
        d[i] = static_cast<double>(d[i] - kD4Predict * s[i] - kD4PredictWrap * s[i - 1]);
    }
    for (int i = 0; i < h - 1; ++i) s[i] = static_cast<double>(static_cast<Ext>(s[i]) - d[i + 1]);
    s[h - 1] = static_cast<double>(static_cast<Ext>(s[h - 1]) - d[0]);
    for (int i = 0; i < h; ++i) {
        s[i] = static_cast<double>(s[i] * kD4LowScale);
        d[i] = static_cast<double>(d[i] * kD4HighScale);
    }
}

void D4UNLIFT(std::span<double> line, int L) {
    const auto [s, d, h] = d4Halves(line, L);
    if (h == 0) return;
    for (int i = 0; i < h; ++i) {
        s[i] = static_cast<double>(s[i] * kD4HighScale);
        d[i] = static_cast<double>(d[i] * kD4LowScale);
    }
    for (int i = 0; i < h - 1; ++i) s[i] = static_cast<double>(static_cast<Ext>(s[i]) + d[i + 1]);
    s[h - 1] = static_cast<double>(static_cast<Ext>(s[h - 1]) + d[0]);
    d[0] = static_cast<double>(d[0] + kD4Predict * s[0] + kD4PredictWrap * s[h - 1]);
    for (int i = 1; i < h; ++i) {
        d[i] = static_cast<double>(d[i] + kD4Predict * s[i] + kD4PredictWrap * s[i - 1]);
    }
    for (int i = 0; i < h; ++i) s[i] = static_cast<double>(s[i] - kD4Update * d[i]);
}

void D4FORWARD(std::span<double> line, int n, int mode, int frameSize) {
    if (n < 0 || n > lineLength(line)) return;
    const D4Levels levels = d4ForwardLevels(n, mode, frameSize);
    for (int level = 0; level < levels.count; ++level) {
        D4SPLIT(line, levels.length[level]);
        D4LIFT(line, levels.length[level]);
    }
}

void D4INVERSE(std::span<double> line, int n, int mode, int frameSize) {
    if (n < 0 || n > lineLength(line)) return;
    const D4Levels levels = d4InverseLevels(n, mode, frameSize);
    for (int level = 0; level < levels.count; ++level) {
        D4UNLIFT(line, levels.length[level]);
        D4MERGE(line, levels.length[level]);
    }
}

// ---- CDF 9/7 ---------------------------------------------------------------------------------

// The boundary statements take the missing neighbour by symmetry (x[n] = x[n-2], x[-1] = x[1]),
// hence the factor 2. Products of constants such as (-A) * 2 are exact.
//
// Each loop below runs one statement on every other element. The neighbour that statements i
// and i + 2 share is carried from one to the next in extended form, exactly the double it was
// loaded from: left to itself, the compiler carries it in an SSE register and passes it to the
// x87 unit through memory on every element. The order of two addends never changes their sum.
void CDF97FWD(std::span<double> line, int n) {
    if (n < 2 || n % 2 != 0 || n > lineLength(line)) return;
    double* x = line.data();
    Ext left = x[0];
    for (int i = 1; i < n - 2; i += 2) {
        const Ext right = x[i + 1];
        x[i] = static_cast<double>(x[i] + (right + left) * kNegA);
        left = right;
    }
    x[n - 1] = static_cast<double>(x[n - 1] + kNegA * 2 * x[n - 2]);
    x[0] = static_cast<double>(x[0] + kNegB * 2 * x[1]);
    left = x[1];
    for (int i = 2; i < n - 1; i += 2) {
        const Ext right = x[i + 1];
        x[i] = static_cast<double>(x[i] + (left + right) * kNegB);
        left = right;
    }
    left = x[0];
    for (int i = 1; i < n - 2; i += 2) {
        const Ext right = x[i + 1];
        x[i] = static_cast<double>(x[i] + (right + left) * kC);
        left = right;
    }
    x[n - 1] = static_cast<double>(x[n - 1] + kC * 2 * x[n - 2]);
    x[0] = static_cast<double>((x[0] + kD * 2 * x[1]) * kK);
    left = x[1];
    for (int i = 2; i < n - 1; i += 2) {
        const Ext right = x[i + 1];
        x[i] = static_cast<double>((x[i] + (left + right) * kD) * kK);
        left = right;
    }
    for (int i = 1; i < n; i += 2) x[i] = static_cast<double>(x[i] / kNegK);
    splitEven(x, n);
}

void CDF97INV(std::span<double> line, int n) {
    if (n < 2 || n % 2 != 0 || n > lineLength(line)) return;
    double* x = line.data();
    mergeEven(x, n);
    for (int i = 1; i < n; i += 2) x[i] = static_cast<double>(x[i] * kNegK);
    x[0] = static_cast<double>(x[0] / kK - kD * 2 * x[1]);
    Ext left = x[1];
    for (int i = 2; i < n - 1; i += 2) {
        const Ext right = x[i + 1];
        x[i] = static_cast<double>(x[i] / kK - (left + right) * kD);
        left = right;
    }
    left = x[0];
    for (int i = 1; i < n - 2; i += 2) {
        const Ext right = x[i + 1];
        x[i] = static_cast<double>(x[i] - (right + left) * kC);
        left = right;
    }
    x[n - 1] = static_cast<double>(x[n - 1] - kC * 2 * x[n - 2]);
    x[0] = static_cast<double>(x[0] - kNegB * 2 * x[1]);
    left = x[1];
    for (int i = 2; i < n - 1; i += 2) {
        const Ext right = x[i + 1];
        x[i] = static_cast<double>(x[i] - (left + right) * kNegB);
        left = right;
    }
    left = x[0];
    for (int i = 1; i < n - 2; i += 2) {
        const Ext right = x[i + 1];
        x[i] = static_cast<double>(x[i] - (right + left) * kNegA);
        left = right;
    }
    x[n - 1] = static_cast<double>(x[n - 1] - kNegA * 2 * x[n - 2]);
}

// ---- CDF 9/7 levels on integer planes ---------------------------------------------------------
//
// The frame driver rounds every CDF 9/7 result to an integer, and the extended-precision
// statements decide the rounding only of a value at a half or very near one: a value clear of
// every half rounds alike under any evaluation close enough to it. So lines are first evaluated
// in plain double arithmetic, two samples per SSE2 instruction (a row along itself, columns eight
// side by side), and their integers are kept when every value lies clear of the halves by a
// margin far wider than the two evaluations can differ. A line with any value inside the margin
// takes the extended kernel.
//
// The margin. With m the largest input magnitude, no value met on the way exceeds 12 m: the
// lifting weights are below 1.59, 0.053, 0.89, 0.45 and 1.15, each applied to a sum of two
// neighbours. Each evaluation, the extended one with its stores to double included, rounds a few
// dozen times by at most 2^-53 of such a value, and the later steps carry each rounding with a
// gain below 30: each stays within 2^-40 m of the exact transform. The margin, (m + 1) 2^-30, is
// over five hundred times their distance, yet for picture coefficients (m near 2^12) meets about
// one value in 10^5 (searching random lines, the two evaluations never differed by more than
// 2^-48 m). Inputs beyond 2^26 in magnitude, which no frame holds, take the extended kernel; below
// that every value stays under 2^30, inside the conversion's range.
namespace {

constexpr int kLevelMaxSide = 256;
constexpr double kFastMaxInput = 0x1p26;
constexpr double kTieMarginPerUnit = 0x1p-30;
constexpr int kBlockLanes = 8;  // columns evaluated side by side

// The even and odd samples of one row (lanes = 1) or of a block of columns (lanes =
// kBlockLanes): sample j of lane c at [j * lanes + c].
struct HalfLines {
    static constexpr size_t kSize = (kLevelMaxSide / 2) * kBlockLanes;
    alignas(16) std::array<double, kSize> even;
    alignas(16) std::array<double, kSize> odd;
};

// to[k] += (from[k] + from[k + shift]) * weight for k = 0 .. count - 1.
[[gnu::always_inline]] inline void liftPairs(double* to, const double* from, int count, int shift,
                                             double weight) {
    const __m128d w = _mm_set1_pd(weight);
    int k = 0;
    for (; k + 2 <= count; k += 2) {
        const __m128d sum = _mm_add_pd(_mm_loadu_pd(from + k), _mm_loadu_pd(from + k + shift));
        _mm_storeu_pd(to + k, _mm_add_pd(_mm_loadu_pd(to + k), _mm_mul_pd(sum, w)));
    }
    for (; k < count; ++k) to[k] += (from[k] + from[k + shift]) * weight;
}

// The odd samples lifted by their even neighbours (the right one mirrored at the end), then the
// even samples by their odd neighbours (the left one mirrored at the start).
void liftOdd(HalfLines& x, int h, int lanes, double weight) {
    liftPairs(x.odd.data(), x.even.data(), (h - 1) * lanes, lanes, weight);
    double* const last = x.odd.data() + (h - 1) * lanes;
    const double* const lastEven = x.even.data() + (h - 1) * lanes;
    for (int c = 0; c < lanes; ++c) last[c] += 2 * weight * lastEven[c];
}

void liftEven(HalfLines& x, int h, int lanes, double weight) {
    liftPairs(x.even.data() + lanes, x.odd.data(), (h - 1) * lanes, lanes, weight);
    for (int c = 0; c < lanes; ++c) x.even[c] += 2 * weight * x.odd[c];
}

void forwardSteps(HalfLines& x, int h, int lanes) {
    liftOdd(x, h, lanes, -kCdfA);
    liftEven(x, h, lanes, -kCdfB);
    liftOdd(x, h, lanes, kCdfC);
    liftEven(x, h, lanes, kCdfD);
}

// The inverse's first statements scale both halves, which the loads do.
void inverseSteps(HalfLines& x, int h, int lanes) {
    liftEven(x, h, lanes, -kCdfD);
    liftOdd(x, h, lanes, -kCdfC);
    liftEven(x, h, lanes, kCdfB);
    liftOdd(x, h, lanes, kCdfA);
}

// Scale factors of the halves: applied after the forward steps, before the inverse steps.
constexpr double kForwardEvenScale = kCdfK;
constexpr double kForwardOddScale = -1 / kCdfK;
constexpr double kInverseEvenScale = 1 / kCdfK;
constexpr double kInverseOddScale = -kCdfK;

// Two values times scale, rounded to integers (ties to even) in the low half of the result; near
// gains ones where a value lies within margin of a half (limit is 0.5 - margin).
[[gnu::always_inline]] inline __m128i roundPair(__m128d value, __m128d scale, __m128d limit,
                                                __m128d& near) {
    const __m128d v = _mm_mul_pd(value, scale);
    const __m128i rounded = _mm_cvtpd_epi32(v);
    const __m128d rest = _mm_and_pd(_mm_sub_pd(v, _mm_cvtepi32_pd(rounded)), kMagnitude);
    near = _mm_or_pd(near, _mm_cmpge_pd(rest, limit));
    return rounded;
}

// One of the extended kernels on an n-long line, as the frame drivers call it.
struct Kernel {
    bool d4 = false;  // D4 (multi-level, the drivers' mode 0), else one CDF 9/7 level
    bool forward = true;
    int frameSize = 0;  // D4's level rule

    void operator()(std::span<double> line, int n) const {
        if (d4) {
            return forward ? D4FORWARD(line, n, 0, frameSize) : D4INVERSE(line, n, 0, frameSize);
        }
        return forward ? CDF97FWD(line, n) : CDF97INV(line, n);
    }
};

constexpr Kernel kCdfForward{false, true, 0};
constexpr Kernel kCdfInverse{false, false, 0};

// Widening, the extended kernel and rounding: the definition every fast result agrees with.
void roundedByKernel(std::span<double> line, int n, const Kernel& kernel, int32_t* to) {
    kernel(line, n);
    roundDoublesToInt(line.data(), to, n);
}

// The margin's limit for inputs of largest magnitude top, or a negative one (every value near)
// when the inputs are beyond maxInput, the fast path's range.
double clearLimit(__m128d top, double maxInput = kFastMaxInput) {
    const double m = largestOf(top);
    return m <= maxInput ? 0.5 - (m + 1) * kTieMarginPerUnit : -1;
}

[[gnu::always_inline]] inline void storePair(int32_t* to, __m128i rounded) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to), rounded);
}

// ---- Rows

// The row through the extended kernel; it has not been written yet.
void rowByKernel(int32_t* row, int n, const Kernel& kernel) {
    std::array<double, kLevelMaxSide> line;
    std::copy_n(row, n, line.data());
    roundedByKernel(line, n, kernel, row);
}

void forwardRow(int32_t* row, int n) {
    const int h = n / 2;
    HalfLines x;
    __m128d top = _mm_setzero_pd();
    for (int j = 0; j < h; ++j) {
        const __m128d pair = widenPair(row + 2 * j);  // samples 2j and 2j + 1
        top = withMagnitudes(top, pair);
        _mm_storel_pd(&x.even[j], pair);
        _mm_storeh_pd(&x.odd[j], pair);
    }
    const double limit = clearLimit(top);
    if (limit < 0) return rowByKernel(row, n, kCdfForward);
    forwardSteps(x, h, 1);
    std::array<int32_t, kLevelMaxSide> rounded;
    const __m128d l = _mm_set1_pd(limit);
    const __m128d evenScale = _mm_set1_pd(kForwardEvenScale);
    const __m128d oddScale = _mm_set1_pd(kForwardOddScale);
    __m128d near = _mm_setzero_pd();
    for (int j = 0; j < h; j += 2) {
        storePair(&rounded[j], roundPair(_mm_load_pd(&x.even[j]), evenScale, l, near));
        storePair(&rounded[h + j], roundPair(_mm_load_pd(&x.odd[j]), oddScale, l, near));
    }
    if (_mm_movemask_pd(near) != 0) return rowByKernel(row, n, kCdfForward);
    std::copy_n(rounded.data(), n, row);
}

void inverseRow(int32_t* row, int n) {
    const int h = n / 2;
    HalfLines x;
    __m128d top = _mm_setzero_pd();
    const __m128d evenScale = _mm_set1_pd(kInverseEvenScale);
    const __m128d oddScale = _mm_set1_pd(kInverseOddScale);
    for (int j = 0; j < h; j += 2) {
        const __m128d even = widenPair(row + j);
        const __m128d odd = widenPair(row + h + j);
        top = withMagnitudes(withMagnitudes(top, even), odd);
        _mm_store_pd(&x.even[j], _mm_mul_pd(even, evenScale));
        _mm_store_pd(&x.odd[j], _mm_mul_pd(odd, oddScale));
    }
    const double limit = clearLimit(top);
    if (limit < 0) return rowByKernel(row, n, kCdfInverse);
    inverseSteps(x, h, 1);
    std::array<int32_t, kLevelMaxSide> rounded;
    const __m128d l = _mm_set1_pd(limit);
    const __m128d one = _mm_set1_pd(1);
    __m128d near = _mm_setzero_pd();
    for (int j = 0; j < h; j += 2) {
        const __m128i even = roundPair(_mm_load_pd(&x.even[j]), one, l, near);
        const __m128i odd = roundPair(_mm_load_pd(&x.odd[j]), one, l, near);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(&rounded[2 * j]),
                         _mm_unpacklo_epi32(even, odd));
    }
    if (_mm_movemask_pd(near) != 0) return rowByKernel(row, n, kCdfInverse);
    std::copy_n(rounded.data(), n, row);
}

// The rows, then the columns, of the side x side square at samples, all through the extended
// kernel: for lengths the fast paths do not take.
void squareByKernel(int32_t* samples, ptrdiff_t stride, int side, const Kernel& kernel) {
    std::vector<double> line(static_cast<size_t>(side));
    std::vector<int32_t> exact(static_cast<size_t>(side));
    for (int y = 0; y < side; ++y) {
        std::copy_n(samples + y * stride, side, line.begin());
        roundedByKernel(line, side, kernel, samples + y * stride);
    }
    for (int x = 0; x < side; ++x) {
        for (int y = 0; y < side; ++y) line[y] = samples[y * stride + x];
        roundedByKernel(line, side, kernel, exact.data());
        for (int y = 0; y < side; ++y) samples[y * stride + x] = exact[y];
    }
}

// ---- Blocks of columns

// Up to kBlockLanes columns of the plane from first, stride samples between rows; lanes past
// count are evaluated on zeros and never stored.
struct ColumnBlock {
    int32_t* first;
    ptrdiff_t stride;
    int count;
};

// Sample y of every lane, times scale, into to[0..kBlockLanes-1]; top gains their magnitudes.
[[gnu::always_inline]] inline void loadLanes(const ColumnBlock& b, int y, double* to, __m128d scale,
                                             __m128d& top) {
    const int32_t* from = b.first + y * b.stride;
    std::array<int32_t, kBlockLanes> padded;
    if (b.count < kBlockLanes) {
        padded.fill(0);
        for (int c = 0; c < b.count; ++c) padded[c] = from[c];
        from = padded.data();
    }
    for (int c = 0; c < kBlockLanes; c += 2) {
        const __m128d pair = widenPair(from + c);
        top = withMagnitudes(top, pair);
        _mm_store_pd(to + c, _mm_mul_pd(pair, scale));
    }
}

// Per lane pair, ones where a value met a half.
struct LaneFlags {
    __m128d pair[kBlockLanes / 2];
};

// The lanes of from[0..kBlockLanes-1] times scale, rounded into to; near.pair[c / 2] gains lane c.
[[gnu::always_inline]] inline void roundLanes(const double* from, int32_t* to, __m128d scale,
                                              __m128d limit, LaneFlags& near) {
    for (int c = 0; c < kBlockLanes; c += 2) {
        storePair(to + c, roundPair(_mm_load_pd(from + c), scale, limit, near.pair[c / 2]));
    }
}

// Rounded results of a block, row y of the level at [y * kBlockLanes + c].
using BlockResult = std::array<int32_t, kLevelMaxSide * kBlockLanes>;

// Stores the block's results. Lanes whose values met a half take the extended kernel first, on
// their column as it still stands in the plane.
void storeBlock(const ColumnBlock& b, int n, BlockResult& result, const LaneFlags& near, bool clear,
                const Kernel& kernel) {
    for (int c = 0; c < b.count; ++c) {
        const bool laneNear = (_mm_movemask_pd(near.pair[c / 2]) >> (c % 2) & 1) != 0;
        if (clear && !laneNear) continue;
        std::array<double, kLevelMaxSide> line;
        std::array<int32_t, kLevelMaxSide> exact;
        for (int y = 0; y < n; ++y) line[y] = b.first[y * b.stride + c];
        roundedByKernel(line, n, kernel, exact.data());
        for (int y = 0; y < n; ++y) result[y * kBlockLanes + c] = exact[y];
    }
    for (int y = 0; y < n; ++y) {
        const int32_t* const from = &result[y * kBlockLanes];
        int32_t* const to = b.first + y * b.stride;
        if (b.count == kBlockLanes) {
            for (int c = 0; c < kBlockLanes; c += 4) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(to + c),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + c)));
            }
        } else {
            for (int c = 0; c < b.count; ++c) to[c] = from[c];
        }
    }
}

void forwardBlock(const ColumnBlock& b, int n) {
    const int h = n / 2;
    HalfLines x;
    __m128d top = _mm_setzero_pd();
    const __m128d one = _mm_set1_pd(1);
    for (int j = 0; j < h; ++j) {
        loadLanes(b, 2 * j, &x.even[j * kBlockLanes], one, top);
        loadLanes(b, 2 * j + 1, &x.odd[j * kBlockLanes], one, top);
    }
    const double limit = clearLimit(top);
    LaneFlags near{};
    BlockResult result;
    if (limit >= 0) {
        forwardSteps(x, h, kBlockLanes);
        const __m128d l = _mm_set1_pd(limit);
        const __m128d evenScale = _mm_set1_pd(kForwardEvenScale);
        const __m128d oddScale = _mm_set1_pd(kForwardOddScale);
        for (int j = 0; j < h; ++j) {
            roundLanes(&x.even[j * kBlockLanes], &result[j * kBlockLanes], evenScale, l, near);
            roundLanes(&x.odd[j * kBlockLanes], &result[(h + j) * kBlockLanes], oddScale, l, near);
        }
    }
    storeBlock(b, n, result, near, limit >= 0, kCdfForward);
}

void inverseBlock(const ColumnBlock& b, int n) {
    const int h = n / 2;
    HalfLines x;
    __m128d top = _mm_setzero_pd();
    const __m128d evenScale = _mm_set1_pd(kInverseEvenScale);
    const __m128d oddScale = _mm_set1_pd(kInverseOddScale);
    for (int j = 0; j < h; ++j) {
        loadLanes(b, j, &x.even[j * kBlockLanes], evenScale, top);
        loadLanes(b, h + j, &x.odd[j * kBlockLanes], oddScale, top);
    }
    const double limit = clearLimit(top);
    LaneFlags near{};
    BlockResult result;
    if (limit >= 0) {
        inverseSteps(x, h, kBlockLanes);
        const __m128d l = _mm_set1_pd(limit);
        const __m128d one = _mm_set1_pd(1);
        for (int j = 0; j < h; ++j) {
            roundLanes(&x.even[j * kBlockLanes], &result[2 * j * kBlockLanes], one, l, near);
            roundLanes(&x.odd[j * kBlockLanes], &result[(2 * j + 1) * kBlockLanes], one, l, near);
        }
    }
    storeBlock(b, n, result, near, limit >= 0, kCdfInverse);
}

// The level on the plane: rows, then columns. Sides the fast path does not take (not a multiple
// of 4, or beyond 256) go line by line through the kernels.
void cdf97Level(Plane& plane, int side, bool forward) {
    if (side < 0 || side > plane.width || side > plane.height ||
        plane.samples.size() < static_cast<size_t>(plane.width) * plane.height) {
        return;
    }
    const Kernel kernel = forward ? kCdfForward : kCdfInverse;
    const ptrdiff_t stride = plane.width;
    int32_t* const samples = plane.samples.data();
    if (side % 4 != 0 || side > kLevelMaxSide) return squareByKernel(samples, stride, side, kernel);
    for (int y = 0; y < side; ++y) {
        if (forward) {
            forwardRow(samples + y * stride, side);
        } else {
            inverseRow(samples + y * stride, side);
        }
    }
    for (int x0 = 0; x0 < side; x0 += kBlockLanes) {
        const ColumnBlock block{samples + x0, stride, std::min(kBlockLanes, side - x0)};
        if (forward) {
            forwardBlock(block, side);
        } else {
            inverseBlock(block, side);
        }
    }
}

// ---- D4 on integer planes
//
// The same scheme for the multi-level D4 of the frame driver: each row, then each column, runs
// every level in plain double arithmetic and is rounded once at the end. Exact ties are common
// here (a chroma line holding only its low band inverts to values such as -6.5), and such lines
// take the extended kernel. The low band can grow by a factor of 2.7 a level, so inputs up to
// 2^24 take the fast path (every value stays under 2^30), and the margin is the one above: the
// two evaluations stay within 2^-40 m of the exact transform for the driver's four levels
// (on random planes of every driver width, they never differed by more than 2^-49 m).
constexpr double kD4FastMaxInput = 0x1p24;

// to[k] += a * x[k] + b * y[k] for k = 0 .. count - 1 (b = 0: y is not read).
[[gnu::always_inline]] inline void addProducts(double* to, const double* x, double a,
                                               const double* y, double b, int count) {
    const __m128d va = _mm_set1_pd(a);
    const __m128d vb = _mm_set1_pd(b);
    int k = 0;
    for (; k + 2 <= count; k += 2) {
        __m128d sum = _mm_mul_pd(_mm_loadu_pd(x + k), va);
        if (b != 0) sum = _mm_add_pd(sum, _mm_mul_pd(_mm_loadu_pd(y + k), vb));
        _mm_storeu_pd(to + k, _mm_add_pd(_mm_loadu_pd(to + k), sum));
    }
    for (; k < count; ++k) to[k] += b != 0 ? a * x[k] + b * y[k] : a * x[k];
}

void scaleHalves(double* s, double sScale, double* d, double dScale, int count) {
    const __m128d vs = _mm_set1_pd(sScale);
    const __m128d vd = _mm_set1_pd(dScale);
    int k = 0;
    for (; k + 2 <= count; k += 2) {
        _mm_storeu_pd(s + k, _mm_mul_pd(_mm_loadu_pd(s + k), vs));
        _mm_storeu_pd(d + k, _mm_mul_pd(_mm_loadu_pd(d + k), vd));
    }
    for (; k < count; ++k) {
        s[k] *= sScale;
        d[k] *= dScale;
    }
}

// One level of D4LIFT (D4UNLIFT) on the split halves: s = even, d = odd, h samples per lane, the
// neighbours wrapping round.
void d4Lift(HalfLines& x, int h, int lanes) {
    double* const s = x.even.data();
    double* const d = x.odd.data();
    const int count = h * lanes;
    const int wrap = (h - 1) * lanes;  // s[h - 1] of lane 0
    addProducts(s, d, kS3, nullptr, 0, count);
    addProducts(d, s, -kD4PredictDouble, s + wrap, -kD4PredictWrapDouble, lanes);
    addProducts(d + lanes, s + lanes, -kD4PredictDouble, s, -kD4PredictWrapDouble, wrap);
    addProducts(s, d + lanes, -1, nullptr, 0, wrap);
    addProducts(s + wrap, d, -1, nullptr, 0, lanes);
    scaleHalves(s, kD4LowScaleDouble, d, kD4HighScaleDouble, count);
}

void d4Unlift(HalfLines& x, int h, int lanes) {
    double* const s = x.even.data();
    double* const d = x.odd.data();
    const int count = h * lanes;
    const int wrap = (h - 1) * lanes;
    scaleHalves(s, kD4HighScaleDouble, d, kD4LowScaleDouble, count);
    addProducts(s, d + lanes, 1, nullptr, 0, wrap);
    addProducts(s + wrap, d, 1, nullptr, 0, lanes);
    addProducts(d, s, kD4PredictDouble, s + wrap, kD4PredictWrapDouble, lanes);
    addProducts(d + lanes, s + lanes, kD4PredictDouble, s, kD4PredictWrapDouble, wrap);
    addProducts(s, d, -kS3, nullptr, 0, count);
}

// Every level on line[0 .. n * lanes): the forward splits and lifts from n down, the inverse
// unlifts and merges from the smallest level up.
void d4Levels(double* line, const D4Levels& levels, int lanes, bool forward, HalfLines& x) {
    for (int level = 0; level < levels.count; ++level) {
        const int h = levels.length[level] / 2;
        const int half = h * lanes;
        double* const s = x.even.data();
        double* const d = x.odd.data();
        if (forward) {
            for (int j = 0; j < h; ++j) {
                for (int c = 0; c < lanes; ++c) {
                    s[j * lanes + c] = line[2 * j * lanes + c];
                    d[j * lanes + c] = line[(2 * j + 1) * lanes + c];
                }
            }
            d4Lift(x, h, lanes);
            std::copy_n(s, half, line);
            std::copy_n(d, half, line + half);
        } else {
            std::copy_n(line, half, s);
            std::copy_n(line + half, half, d);
            d4Unlift(x, h, lanes);
            for (int j = 0; j < h; ++j) {
                for (int c = 0; c < lanes; ++c) {
                    line[2 * j * lanes + c] = s[j * lanes + c];
                    line[(2 * j + 1) * lanes + c] = d[j * lanes + c];
                }
            }
        }
    }
}

// Whether the fast path can run these levels: every length even, at most n.
bool evenLevels(const D4Levels& levels) {
    for (int level = 0; level < levels.count; ++level) {
        if (levels.length[level] % 2 != 0) return false;
    }
    return true;
}

void d4Row(int32_t* row, int n, const D4Levels& levels, const Kernel& kernel) {
    alignas(16) std::array<double, kLevelMaxSide> line;
    __m128d top = _mm_setzero_pd();
    for (int i = 0; i < n; i += 2) {
        const __m128d pair = widenPair(row + i);
        top = withMagnitudes(top, pair);
        _mm_store_pd(&line[i], pair);
    }
    const double limit = clearLimit(top, kD4FastMaxInput);
    if (limit < 0) return rowByKernel(row, n, kernel);
    HalfLines x;
    d4Levels(line.data(), levels, 1, kernel.forward, x);
    std::array<int32_t, kLevelMaxSide> rounded;
    const __m128d l = _mm_set1_pd(limit);
    const __m128d one = _mm_set1_pd(1);
    __m128d near = _mm_setzero_pd();
    for (int i = 0; i < n; i += 2) {
        storePair(&rounded[i], roundPair(_mm_load_pd(&line[i]), one, l, near));
    }
    if (_mm_movemask_pd(near) != 0) return rowByKernel(row, n, kernel);
    std::copy_n(rounded.data(), n, row);
}

void d4Block(const ColumnBlock& b, int n, const D4Levels& levels, const Kernel& kernel) {
    alignas(16) std::array<double, kLevelMaxSide * kBlockLanes> line;
    __m128d top = _mm_setzero_pd();
    const __m128d one = _mm_set1_pd(1);
    for (int y = 0; y < n; ++y) loadLanes(b, y, &line[y * kBlockLanes], one, top);
    const double limit = clearLimit(top, kD4FastMaxInput);
    LaneFlags near{};
    BlockResult result;
    if (limit >= 0) {
        HalfLines x;
        d4Levels(line.data(), levels, kBlockLanes, kernel.forward, x);
        const __m128d l = _mm_set1_pd(limit);
        for (int y = 0; y < n; ++y) {
            roundLanes(&line[y * kBlockLanes], &result[y * kBlockLanes], one, l, near);
        }
    }
    storeBlock(b, n, result, near, limit >= 0, kernel);
}

// The driver's D4 on the whole n x n plane, n its width: rows, then columns.
void d4Plane(Plane& plane, int frameSize, bool forward) {
    const int n = plane.width;
    if (n > plane.height || plane.samples.size() < static_cast<size_t>(n) * plane.height) return;
    const Kernel kernel{true, forward, frameSize};
    const D4Levels levels =
        forward ? d4ForwardLevels(n, 0, frameSize) : d4InverseLevels(n, 0, frameSize);
    const ptrdiff_t stride = plane.width;
    int32_t* const samples = plane.samples.data();
    if (n % 2 != 0 || n > kLevelMaxSide || !evenLevels(levels)) {
        return squareByKernel(samples, stride, n, kernel);
    }
    for (int y = 0; y < n; ++y) d4Row(samples + y * stride, n, levels, kernel);
    for (int x0 = 0; x0 < n; x0 += kBlockLanes) {
        d4Block({samples + x0, stride, std::min(kBlockLanes, n - x0)}, n, levels, kernel);
    }
}

}  // namespace

void cdf97ForwardLevel(Plane& plane, int side) { cdf97Level(plane, side, true); }

void cdf97InverseLevel(Plane& plane, int side) { cdf97Level(plane, side, false); }

void d4ForwardPlane(Plane& plane, int frameSize) { d4Plane(plane, frameSize, true); }

void d4InversePlane(Plane& plane, int frameSize) { d4Plane(plane, frameSize, false); }

}  // namespace codec
