#include "encoder/colour.h"

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <span>

#include "codec/wavelet.h"

namespace encoder {
namespace {

using Real = long double;

constexpr Real kRed = kWeightRed;
constexpr Real kGreen = kWeightGreen;
constexpr Real kBlue = kWeightBlue;
constexpr Real kDivRed = kDivisorRed;
constexpr Real kDivBlue = kDivisorBlue;

// The integer forms below give the integers of the extended-precision formulas exactly. Each
// single-precision constant is an integer over a power of two (a float times 2^27 is exact), so
// the extended products and sums of the formulas, all well inside 64 bits, carry no rounding
// error: what they round to an integer is an exact rational, and so is what is rounded here.
// Where a formula divides by a constant that is no power of two, the note at that division says
// why the extended quotient rounds to the same integer as the exact one.
constexpr int kWeightBits = 27;
constexpr int64_t kRed27 = static_cast<int64_t>(kWeightRed * (1 << kWeightBits));
constexpr int64_t kGreen27 = static_cast<int64_t>(kWeightGreen * (1 << kWeightBits));
constexpr int64_t kBlue27 = static_cast<int64_t>(kWeightBlue * (1 << kWeightBits));
constexpr int kDivisorBits = 24;
constexpr int64_t kDivRed24 = static_cast<int64_t>(kDivisorRed * (1 << kDivisorBits));
constexpr int64_t kDivBlue24 = static_cast<int64_t>(kDivisorBlue * (1 << kDivisorBits));
static_assert(kRed27 == 40265320 && Real{kRed27} / (1 << kWeightBits) == kRed);
static_assert(kGreen27 == 80530640 && Real{kGreen27} / (1 << kWeightBits) == kGreen);
static_assert(kBlue27 == 13421773 && Real{kBlue27} / (1 << kWeightBits) == kBlue);
static_assert(kDivRed24 == 23488102 && Real{kDivRed24} / (1 << kDivisorBits) == kDivRed);
static_assert(kDivBlue24 == 29695672 && Real{kDivBlue24} / (1 << kDivisorBits) == kDivBlue);

// 0..255, for luma and the pixel channels.
constexpr int channel(int64_t v) { return static_cast<int>(v < 0 ? 0 : v > 255 ? 255 : v); }

int clampDifference(int value) {
    if (value >= 256) return 255;
    if (value < -255) return -255;
    return value;
}

int differenceFormula(int64_t meanMinusLuma, Real divisor) {
    return clampDifference(codec::roundToInt(static_cast<Real>(meanMinusLuma) / divisor));
}

// A mean and a luma of 0..255 differ by -255..255: the colour difference is a table lookup,
// filled by the formula itself.
constexpr int kDifferenceReach = 255;

struct DifferenceTables {
    std::array<int16_t, 2 * kDifferenceReach + 1> red{};
    std::array<int16_t, 2 * kDifferenceReach + 1> blue{};
};

const DifferenceTables& differenceTables() {
    static const DifferenceTables tables = [] {
        DifferenceTables t;
        for (int d = -kDifferenceReach; d <= kDifferenceReach; ++d) {
            t.red[d + kDifferenceReach] = static_cast<int16_t>(differenceFormula(d, kDivRed));
            t.blue[d + kDifferenceReach] = static_cast<int16_t>(differenceFormula(d, kDivBlue));
        }
        return t;
    }();
    return tables;
}

inline int difference(int64_t meanMinusLuma,
                      const std::array<int16_t, 2 * kDifferenceReach + 1>& table, Real divisor) {
    if (meanMinusLuma >= -kDifferenceReach && meanMinusLuma <= kDifferenceReach) {
        return table[meanMinusLuma + kDifferenceReach];
    }
    return differenceFormula(meanMinusLuma, divisor);
}

// blockColour for a block side known at compile time, the tables passed in. The luma formula
// scales the weighted sum by 1, 1/4 or 1/16 (each term first for blocks of 4), all exact, so luma
// is the weighted sum over 2^27, 2^29 or 2^31 rounded. Sums of any int stay below 2^61.
template <int B>
inline Ycc colourOf(int sumRed, int sumGreen, int sumBlue, const DifferenceTables& tables) {
    constexpr int kAreaBits = B == 4 ? 4 : B == 2 ? 2 : 0;
    const int64_t weighted = kRed27 * sumRed + kGreen27 * sumGreen + kBlue27 * sumBlue;
    // The weights sum to just over 1; white still lands on 255.
    const int64_t y = channel(codec::roundedShift(weighted, kWeightBits + kAreaBits));
    int64_t meanRed = sumRed;
    int64_t meanBlue = sumBlue;
    if constexpr (kAreaBits != 0) {
        meanRed = codec::roundedShift(sumRed, kAreaBits);
        meanBlue = codec::roundedShift(sumBlue, kAreaBits);
    }
    Ycc out;
    out.y = static_cast<int>(y);
    out.cr = difference(meanRed - y, tables.red, kDivRed);
    out.cb = difference(meanBlue - y, tables.blue, kDivBlue);
    return out;
}

// pixelColour. Red and blue: 1.4f * crDoubled / 2 + luma is exact, (kDivRed24 crDoubled +
// 2^25 luma) / 2^25. Green: (luma - 0.1f b - 0.3f r) is M / 2^27 exactly, M below 2^60, and
// dividing by 0.6f gives M / 80530640. That quotient is exact at a tie, and otherwise lies at
// least 1 / 161061280 from a half, while the extended quotient (below 2^34) is within 2^-30 of
// it: both round alike.
inline uint32_t pixelOf(int luma, int crDoubled, int cbDoubled) {
    const int64_t y = luma;
    const int32_t r = codec::saturatedInt32(
        codec::roundedShift(kDivRed24 * crDoubled + y * (int64_t{1} << 25), 25));
    const int32_t b = codec::saturatedInt32(
        codec::roundedShift(kDivBlue24 * cbDoubled + y * (int64_t{1} << 25), 25));
    const int64_t m = y * (int64_t{1} << kWeightBits) - kBlue27 * b - kRed27 * r;
    const int32_t g = codec::saturatedInt32(codec::roundedQuotient(m, kGreen27));
    return packRgb(channel(r), channel(g), channel(b));
}

// Frames of real pictures keep luma and doubled chroma within a few thousand; a decoder fed a
// hostile stream can see anything. Up to this magnitude the two conversions below take shorter
// exact forms.
constexpr int64_t kSmallSample = int64_t{1} << 20;

bool allSmall(std::span<const int32_t> samples) {
    const int32_t* v = samples.data();
    const size_t count = samples.size();
    const __m128i low = _mm_set1_epi32(static_cast<int32_t>(-kSmallSample));
    const __m128i high = _mm_set1_epi32(static_cast<int32_t>(kSmallSample));
    __m128i outside = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i));
        outside =
            _mm_or_si128(outside, _mm_or_si128(_mm_cmpgt_epi32(low, x), _mm_cmpgt_epi32(x, high)));
    }
    if (_mm_movemask_epi8(outside) != 0) return false;
    for (; i < count; ++i) {
        if (v[i] < -kSmallSample || v[i] > kSmallSample) return false;
    }
    return true;
}

// pixelOf for luma and doubled chroma within kSmallSample. 1.4f * crDoubled / 2 is a tie only for
// odd multiples of 2^23 (1.77f: 2^21), so here it is none: adding luma commutes with the
// rounding, and the floor of the value plus a half is the rounding. M stays below 2^48, exact in
// a double, and its correctly rounded double quotient (below 2^22, so within 2^-31 of the true
// one) rounds like the extended one, for the reason given at pixelOf.
inline uint32_t pixelOfSmall(int luma, int crDoubled, int cbDoubled) {
    const int64_t y = luma;
    const int64_t r = y + ((kDivRed24 * crDoubled + (int64_t{1} << 24)) >> 25);
    const int64_t b = y + ((kDivBlue24 * cbDoubled + (int64_t{1} << 24)) >> 25);
    const int64_t m = y * (int64_t{1} << kWeightBits) - kBlue27 * b - kRed27 * r;
    const int32_t g = codec::roundDoubleToInt(static_cast<double>(m) / kGreen27);
    return packRgb(channel(r), channel(g), channel(b));
}

// round(S / 12), ties to even, for |S| <= 12 * 2^26 (sums of samples within 2^26): offset by
// 12 * 2^26, an even multiple of 12 that changes neither the rounding nor the parity, into
// unsigned 32-bit range, where the division is one multiplication.
int32_t roundTwelfthSmall(int64_t sum) {
    constexpr int64_t kOffset = int64_t{12} << 26;
    const auto t = static_cast<uint32_t>(sum + kOffset);
    const uint32_t q = t / 12;
    const uint32_t rest = t - 12 * q;
    return static_cast<int32_t>(q + static_cast<uint32_t>(2 * rest + (q & 1) > 12)) - (1 << 26);
}

// Four rounded twelfths at once, for sums of 12 samples within kSmallSample: |S| < 2^24 is exact
// in a float, and the float quotient (below 2^20, so within 2^-5 of the true one) rounds like
// the exact one, since a quotient that is not a tie lies at least 1/12 from a half and a tie is
// exact. cvtps2dq rounds to nearest, ties to even, in the default mode, which roundToInt relies
// on too.
__m128i roundTwelfths(__m128i sums) {
    return _mm_cvtps_epi32(_mm_div_ps(_mm_cvtepi32_ps(sums), _mm_set1_ps(12.0f)));
}

// Two int32 lanes to doubles, and two doubles back to int32 lanes rounded to nearest (ties to
// even, the default mode), four lanes at a time.
struct DoublePair {
    __m128d low;
    __m128d high;
};

DoublePair toDoubles(__m128i v) {
    return {_mm_cvtepi32_pd(v), _mm_cvtepi32_pd(_mm_shuffle_epi32(v, 0xEE))};
}

__m128i roundToInts(DoublePair d) {
    return _mm_unpacklo_epi64(_mm_cvtpd_epi32(d.low), _mm_cvtpd_epi32(d.high));
}

// pixelOfSmall for four pixels: the same quantities in doubles, where all of them are exact
// (products of a float constant and a sample within 2^21, integers below 2^48), and the same
// roundings, by cvtpd2dq. The clamp to 0..255 is two saturating packs.
__m128i fourPixelsSmall(__m128i luma, __m128i crDoubled, __m128i cbDoubled) {
    const __m128d redHalf = _mm_set1_pd(static_cast<double>(kDivisorRed) / 2);
    const __m128d blueHalf = _mm_set1_pd(static_cast<double>(kDivisorBlue) / 2);
    const DoublePair cr = toDoubles(crDoubled);
    const DoublePair cb = toDoubles(cbDoubled);
    const __m128i r = _mm_add_epi32(
        luma, roundToInts({_mm_mul_pd(cr.low, redHalf), _mm_mul_pd(cr.high, redHalf)}));
    const __m128i b = _mm_add_epi32(
        luma, roundToInts({_mm_mul_pd(cb.low, blueHalf), _mm_mul_pd(cb.high, blueHalf)}));
    const __m128d lumaScale = _mm_set1_pd(static_cast<double>(int64_t{1} << kWeightBits));
    const __m128d blueWeight = _mm_set1_pd(static_cast<double>(kBlue27));
    const __m128d redWeight = _mm_set1_pd(static_cast<double>(kRed27));
    const __m128d greenWeight = _mm_set1_pd(static_cast<double>(kGreen27));
    const DoublePair y = toDoubles(luma);
    const DoublePair rd = toDoubles(r);
    const DoublePair bd = toDoubles(b);
    const auto green = [&](__m128d yv, __m128d bv, __m128d rv) {
        const __m128d m =
            _mm_sub_pd(_mm_sub_pd(_mm_mul_pd(yv, lumaScale), _mm_mul_pd(bv, blueWeight)),
                       _mm_mul_pd(rv, redWeight));
        return _mm_div_pd(m, greenWeight);
    };
    const __m128i g = roundToInts({green(y.low, bd.low, rd.low), green(y.high, bd.high, rd.high)});
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(r, g), _mm_packs_epi32(b, zero));
    // bytes: r0..r3, g0..g3, b0..b3; each pixel is b, g, r, 0 in memory.
    const __m128i blueGreen = _mm_unpacklo_epi8(_mm_srli_si128(bytes, 8), _mm_srli_si128(bytes, 4));
    const __m128i redZero = _mm_unpacklo_epi8(bytes, zero);
    return _mm_unpacklo_epi16(blueGreen, redZero);
}

// One output row of convertColour, for a block side known at compile time. The block's source
// rows are added byte by byte across the whole source row, then neighbours 3 bytes (one pixel)
// and 6 bytes apart: fixed lengths that the compiler turns into vector adds. Position 3 B x + c
// then holds the block sum of channel c (blue, green, red) for the block starting at pixel B x.
template <int B>
void convertRow(const SourcePicture& source, const SourceWindow& window, int j, int n,
                const DifferenceTables& tables, int32_t* luma, int32_t* red, int32_t* blue) {
    constexpr size_t kRowBytes = 3 * kSourceSide;
    constexpr size_t kPad = 16;  // the sums read past the row's last pixels into zeros
    static_assert(B * B * 255 <= std::numeric_limits<uint16_t>::max());
    std::array<uint16_t, kRowBytes + kPad> columns;
    std::array<uint16_t, kRowBytes + kPad> pairs;
    std::fill(columns.begin() + kRowBytes, columns.end(), 0);
    std::fill(pairs.begin() + kRowBytes, pairs.end(), 0);
    uint16_t* column = columns.data();
    const uint8_t* first = source.bgr.data() + SourcePicture::offset(0, window.y0 + B * j);
    for (size_t k = 0; k < kRowBytes; ++k) column[k] = first[k];
    for (int dy = 1; dy < B; ++dy) {
        const uint8_t* next = first + static_cast<size_t>(dy) * kRowBytes;
        for (size_t k = 0; k < kRowBytes; ++k) {
            column[k] = static_cast<uint16_t>(column[k] + next[k]);
        }
    }
    const uint16_t* sums = column;
    if constexpr (B >= 2) {
        uint16_t* pair = pairs.data();
        for (size_t k = 0; k < kRowBytes; ++k)
            pair[k] = static_cast<uint16_t>(column[k] + column[k + 3]);
        sums = pair;
        if constexpr (B == 4) {
            for (size_t k = 0; k < kRowBytes; ++k)
                column[k] = static_cast<uint16_t>(pair[k] + pair[k + 6]);
            sums = column;
        }
    }
    const uint16_t* p = sums + 3 * static_cast<size_t>(window.x0);
    for (int i = 0; i < n; ++i, p += 3 * B) {
        const Ycc c = colourOf<B>(p[2], p[1], p[0], tables);
        luma[i] = c.y;
        red[i] = c.cr;
        blue[i] = c.cb;
    }
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
    const DifferenceTables& tables = differenceTables();
    switch (block) {
        case 4:
            return colourOf<4>(sumRed, sumGreen, sumBlue, tables);
        case 2:
            return colourOf<2>(sumRed, sumGreen, sumBlue, tables);
        default:
            return colourOf<1>(sumRed, sumGreen, sumBlue, tables);
    }
}

namespace {

// Twice the mean of a factor x factor block from its sum. For 4 or 16 samples that is the sum
// over 2 or 8, exact in extended precision, so rounding it is a shift; other factors keep the
// extended division.
int32_t twiceMean(int64_t sum, int factor) {
    if (factor == 2) return codec::saturatedInt32(codec::roundedShift(sum, 1));
    if (factor == 4) return codec::saturatedInt32(codec::roundedShift(sum, 3));
    return codec::roundToInt(static_cast<Real>(sum) * 2 / (static_cast<Real>(factor) * factor));
}

// Block sums of one subsampled chroma plane, added to row by row as convertColour makes the
// full-resolution colour differences, so that no full-resolution plane is kept.
class BlockSums {
public:
    BlockSums(int frameSize, int factor)
        : factor_(factor), side_(frameSize / factor), sums_(static_cast<size_t>(side_) * side_) {}

    void addRow(int y, const int32_t* values) {
        const int j = y / factor_;
        if (j >= side_) return;
        int64_t* const sums = sums_.data() + static_cast<size_t>(j) * side_;
        switch (factor_) {
            case 2:
                addBlocks<2>(sums, values);
                break;
            case 4:
                addBlocks<4>(sums, values);
                break;
            default:
                for (int i = 0; i < side_; ++i) {
                    for (int x = 0; x < factor_; ++x) sums[i] += values[i * factor_ + x];
                }
                break;
        }
    }

    [[nodiscard]] codec::Plane plane() const {
        codec::Plane sub(side_, side_);
        for (size_t k = 0; k < sums_.size(); ++k) sub.samples[k] = twiceMean(sums_[k], factor_);
        return sub;
    }

private:
    template <int F>
    void addBlocks(int64_t* sums, const int32_t* values) const {
        for (int i = 0; i < side_; ++i) {
            int64_t sum = 0;
            for (int x = 0; x < F; ++x) sum += values[i * F + x];
            sums[i] += sum;
        }
    }

    int factor_;
    int side_;
    std::vector<int64_t> sums_;
};

}  // namespace

codec::Plane subsampleChroma(const codec::Plane& full, int factor) {
    const int n = full.width / factor;
    codec::Plane sub(n, n);
    const ptrdiff_t stride = full.width;
    for (int j = 0; j < n; ++j) {
        const int32_t* top = full.samples.data() + static_cast<ptrdiff_t>(factor) * j * stride;
        int32_t* out = sub.samples.data() + static_cast<size_t>(j) * n;
        for (int i = 0; i < n; ++i) {
            int64_t sum = 0;
            for (int y = 0; y < factor; ++y) {
                const int32_t* p = top + y * stride + static_cast<ptrdiff_t>(factor) * i;
                for (int x = 0; x < factor; ++x) sum += p[x];
            }
            out[i] = twiceMean(sum, factor);
        }
    }
    return sub;
}

YccPlanes convertColour(const SourcePicture& source, const PictureParams& params) {
    const int n = params.frameSize;
    const SourceWindow window = sourceWindow(n);
    const DifferenceTables& tables = differenceTables();
    codec::Plane luma(n, n);
    std::vector<int32_t> red(static_cast<size_t>(n));
    std::vector<int32_t> blue(static_cast<size_t>(n));
    BlockSums redSums(n, params.redFactor);
    BlockSums blueSums(n, params.blueFactor);
    for (int j = 0; j < n; ++j) {
        int32_t* const rowLuma = luma.samples.data() + static_cast<size_t>(j) * n;
        switch (window.block) {
            case 4:
                convertRow<4>(source, window, j, n, tables, rowLuma, red.data(), blue.data());
                break;
            case 2:
                convertRow<2>(source, window, j, n, tables, rowLuma, red.data(), blue.data());
                break;
            default:
                convertRow<1>(source, window, j, n, tables, rowLuma, red.data(), blue.data());
                break;
        }
        redSums.addRow(j, red.data());
        blueSums.addRow(j, blue.data());
    }
    YccPlanes out;
    out.luma = std::move(luma);
    out.red = redSums.plane();
    out.blue = blueSums.plane();
    return out;
}

ChromaField upsampleChroma(const codec::Plane& sub, int factor, int frameSize) {
    ChromaField field;
    field.size = frameSize;
    const size_t stride = static_cast<size_t>(frameSize) + 2;
    field.values.assign(stride * stride, 0);
    for (int y = 0; y < frameSize; ++y) {
        const int j = y / factor;
        if (j >= sub.height) continue;
        int32_t* const row = field.values.data() + static_cast<size_t>(y + 1) * stride + 1;
        for (int x = 0; x < frameSize; ++x) {
            const int i = x / factor;
            if (i < sub.width) row[x] = sub.at(i, j);
        }
    }
    return field;
}

// The extended sum is 2c plus half of each neighbour: S / 2 exactly, S = 4c + the neighbours, an
// integer below 2^35 in magnitude. Divided by 6 it is S / 12; a tie (S = 12k + 6) is exact in
// extended precision, and any other S / 12 lies at least 1/12 from a half, far beyond the
// quotient's rounding error (below 2^-32): rounding the extended quotient gives round(S / 12).
int smoothedChroma(const ChromaField& field, int x, int y) {
    int64_t sum = 4 * static_cast<int64_t>(field.at(x, y));
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            if (dx != 0 || dy != 0) sum += field.at(x + dx, y + dy);
        }
    }
    return codec::saturatedInt32(codec::roundedQuotient(sum, 12));
}

namespace {

// Rows of smoothedChroma over the field that upsampleChroma would build, without building it.
// All factor rows of a block share one field row, so each subsampled row is widened and summed
// in threes along x once; a pixel row then adds three such sums (the 3 x 3 box) and three more
// centres (S = 4c + the eight neighbours).
class SmoothedRows {
public:
    SmoothedRows(const codec::Plane& sub, int factor, int frameSize)
        : sub_(sub),
          factor_(factor),
          n_(frameSize),
          width_(static_cast<size_t>(std::max(frameSize, 0))),
          small_(allSmall(sub.samples)) {
        zero_.values.assign(width_ + 2, 0);
        zero_.sums.assign(width_, 0);
        zero_.smallSums.assign(width_, 0);
        for (Slot& slot : slots_) {
            slot.values.assign(width_ + 2, 0);
            slot.sums.assign(width_, 0);
            slot.smallSums.assign(width_, 0);
        }
    }

    void row(int y, int32_t* out) {
        const Slot& above = slot(subRow(y - 1));
        const Slot& level = slot(subRow(y));
        const Slot& below = slot(subRow(y + 1));
        const int32_t* centre = level.values.data() + 1;
        const size_t width = width_;
        if (small_) {
            const int32_t* a32 = above.smallSums.data();
            const int32_t* l32 = level.smallSums.data();
            const int32_t* b32 = below.smallSums.data();
            size_t x = 0;
            for (; x + 4 <= width; x += 4) {
                const __m128i c = load(centre + x);
                const __m128i sum = _mm_add_epi32(
                    _mm_add_epi32(_mm_add_epi32(load(a32 + x), load(l32 + x)), load(b32 + x)),
                    _mm_add_epi32(_mm_add_epi32(c, c), c));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), roundTwelfths(sum));
            }
            for (; x < width; ++x) {
                out[x] =
                    roundTwelfthSmall(int64_t{a32[x]} + l32[x] + b32[x] + 3 * int64_t{centre[x]});
            }
            return;
        }
        const int64_t* a = above.sums.data();
        const int64_t* l = level.sums.data();
        const int64_t* b = below.sums.data();
        for (size_t x = 0; x < width; ++x) {
            out[x] = codec::saturatedInt32(
                codec::roundedQuotient(a[x] + l[x] + b[x] + 3 * int64_t{centre[x]}, 12));
        }
    }

private:
    struct Slot {
        int subRow = -1;                 // subsampled row held; -1 for none yet
        std::vector<int32_t> values;     // the field row with its zero border, N + 2
        std::vector<int64_t> sums;       // values[x] + values[x + 1] + values[x + 2], N
        std::vector<int32_t> smallSums;  // the same sums, kept only when every sample is small
    };

    static __m128i load(const int32_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    }

    // The subsampled row that field row y copies, or -1 outside the frame or the plane.
    [[nodiscard]] int subRow(int y) const {
        if (y < 0 || y >= n_) return -1;
        const int j = y / factor_;
        return j < sub_.height ? j : -1;
    }

    // Rows j - 1, j and j + 1 are asked for together, and j never goes back: three slots
    // chosen by j mod 3 never evict a row still in use.
    const Slot& slot(int j) {
        if (j < 0) return zero_;
        Slot& s = slots_[static_cast<size_t>(j) % slots_.size()];
        if (s.subRow == j) return s;
        s.subRow = j;
        // Each subsampled value fills factor samples; samples past the plane stay 0.
        const int32_t* source = sub_.samples.data() + static_cast<size_t>(j) * sub_.width;
        const int n = n_;
        const int filled =
            static_cast<int>(std::min<int64_t>(n, int64_t{sub_.width} * int64_t{factor_}));
        int32_t* values = s.values.data() + 1;
        for (int x = 0, i = 0; x < filled; ++i) {
            const int32_t value = source[i];
            for (const int end = x + std::min(factor_, filled - x); x < end; ++x) values[x] = value;
        }
        std::fill(values + filled, values + n, 0);
        const int32_t* v = s.values.data();
        if (small_) {
            int32_t* small = s.smallSums.data();
            for (size_t k = 0; k < width_; ++k) small[k] = v[k] + v[k + 1] + v[k + 2];
        } else {
            int64_t* sums = s.sums.data();
            for (size_t k = 0; k < width_; ++k) sums[k] = int64_t{v[k]} + v[k + 1] + v[k + 2];
        }
        return s;
    }

    const codec::Plane& sub_;
    int factor_;
    int n_;
    size_t width_;
    bool small_;  // every sample within kSmallSample, so every sum within 12 * 2^26
    Slot zero_;   // the field's border rows, and rows past the plane
    std::array<Slot, 3> slots_;
};

}  // namespace

std::vector<int32_t> smoothChroma(const codec::Plane& sub, int factor, int frameSize) {
    const size_t n = static_cast<size_t>(std::max(frameSize, 0));
    std::vector<int32_t> out(n * n);
    if (factor < 1) return out;
    SmoothedRows rows(sub, factor, frameSize);
    for (size_t y = 0; y < n; ++y) rows.row(static_cast<int>(y), out.data() + y * n);
    return out;
}

uint32_t pixelColour(int luma, int crDoubled, int cbDoubled) {
    return pixelOf(luma, crDoubled, cbDoubled);
}

Picture colourPicture(const YccPlanes& planes, int redFactor, int blueFactor, int frameSize) {
    Picture picture(std::max(frameSize, 0));
    if (redFactor < 1 || blueFactor < 1 || planes.luma.width != frameSize ||
        planes.luma.height != frameSize) {
        return picture;
    }
    const size_t n = static_cast<size_t>(frameSize);
    // Smoothed chroma stays within the magnitudes of the plane it comes from.
    const bool small = allSmall(planes.luma.samples) && allSmall(planes.red.samples) &&
                       allSmall(planes.blue.samples);
    SmoothedRows redRows(planes.red, redFactor, frameSize);
    SmoothedRows blueRows(planes.blue, blueFactor, frameSize);
    std::vector<int32_t> red(n);
    std::vector<int32_t> blue(n);
    for (size_t y = 0; y < n; ++y) {
        redRows.row(static_cast<int>(y), red.data());
        blueRows.row(static_cast<int>(y), blue.data());
        const int32_t* luma = planes.luma.samples.data() + y * n;
        uint32_t* out = picture.pixels.data() + y * n;
        if (small) {
            size_t x = 0;
            for (; x + 4 <= n; x += 4) {
                const auto in = [x](const int32_t* p) {
                    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + x));
                };
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                                 fourPixelsSmall(in(luma), in(red.data()), in(blue.data())));
            }
            for (; x < n; ++x) out[x] = pixelOfSmall(luma[x], red[x], blue[x]);
        } else {
            for (size_t x = 0; x < n; ++x) out[x] = pixelOf(luma[x], red[x], blue[x]);
        }
    }
    return picture;
}

}  // namespace encoder
