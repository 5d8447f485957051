#include "encoder/quantise.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "codec/wavelet.h"

namespace encoder {
namespace {

using Real = long double;

// The byte of a quotient a = round(value / step): the power law, then the offset. A companded
// value outside -128..127 is held at the nearest end rather than wrapped: wrapped, a strong
// negative coefficient (the chroma of a flat, saturated colour at the finest steps) turns into a
// large positive one and cyan comes out magenta. Every decoder reads the held byte as it reads
// any other, so the frame format is unchanged.
uint8_t companded(int32_t a) {
    const int32_t w = a == 0 ? 0 : codec::roundToInt(signedPower(a, static_cast<Real>(kExponent)));
    return static_cast<uint8_t>(std::clamp(w, -128, 127) + 128);
}

// An extended-precision power per coefficient dominated the encode. The byte depends on the
// quotient alone, and transformed 8-bit pictures keep it far inside this range (about 500 at
// the finest step); a quotient outside it takes the power itself.
constexpr int kQuotientReach = 1024;

const std::array<uint8_t, 2 * kQuotientReach + 1>& quotientBytes() {
    static const auto table = [] {
        std::array<uint8_t, 2 * kQuotientReach + 1> bytes{};
        for (int a = -kQuotientReach; a <= kQuotientReach; ++a) {
            bytes[a + kQuotientReach] = companded(a);
        }
        return bytes;
    }();
    return table;
}

// round(value / step), ties to even, for step >= 1, without an extended division. The double
// quotient of two int32 is correctly rounded, so it lies within 2^-22 / step of the true one,
// while a true quotient that is not a tie lies at least 1 / (2 step) from the nearest half, and
// a tie is exact: rounding it gives the integer that rounding the extended quotient gives.
int32_t quotient(int32_t value, int step) {
    return codec::roundDoubleToInt(static_cast<double>(value) / static_cast<double>(step));
}

// quotient() for a whole frame at one step, without a division per coefficient: a product with
// the reciprocal lands within one of the rounded quotient, and the exact remainder then moves
// it to round(value / step), ties to even.
struct Divider {
    int64_t step;
    double inverse;

    explicit Divider(int s) : step(s), inverse(1.0 / s) {}

    [[nodiscard]] int32_t rounded(int32_t value) const {
        int64_t q = codec::roundDoubleToInt(value * inverse);
        const int64_t twiceRest = 2 * (value - q * step);
        if (twiceRest > step || (twiceRest == step && (q & 1) != 0)) {
            ++q;
        } else if (twiceRest < -step || (twiceRest == -step && (q & 1) != 0)) {
            --q;
        }
        return static_cast<int32_t>(q);
    }
};

// signedPower(u, inverseExponent()) for u = byte - 128; the step multiplies it afterwards.
const std::array<Real, 256>& expandedMagnitudes() {
    static const auto table = [] {
        std::array<Real, 256> powers{};
        for (int b = 0; b < 256; ++b) powers[b] = signedPower(b - 128, inverseExponent());
        return powers;
    }();
    return table;
}

}  // namespace

long double inverseExponent() { return 1.0L / static_cast<Real>(kExponent); }

long double signedPower(long double x, long double y) {
    if (x < 0) return std::pow(x, static_cast<Real>(codec::roundToInt(y)));
    return std::pow(x, y);
}

uint8_t quantise(int32_t value, int threshold, int step) {
    if (std::abs(static_cast<int64_t>(value)) < threshold) value = 0;
    if (step >= 1) {
        const int32_t a = quotient(value, step);
        if (a >= -kQuotientReach && a <= kQuotientReach) return quotientBytes()[a + kQuotientReach];
        return companded(a);
    }
    return companded(codec::roundToInt(static_cast<Real>(value) / step));
}

int32_t dequantise(uint8_t byte, int step) {
    const int u = static_cast<int>(byte) - 128;
    if (u == 0) return 0;
    return codec::roundToInt(expandedMagnitudes()[byte] * step);
}

// Planes are read out column by column, but in blocks of kColumnBlock columns: a row of the
// plane is then one cache line for all of them, where one column alone (1 KB between samples at
// 256) keeps hitting the same few cache sets. Each byte still goes to its place in the order.
constexpr int kColumnBlock = 8;

std::vector<uint8_t> serialise(const codec::Plane& luma, const codec::Plane& red,
                               const codec::Plane& blue, int threshold, int step) {
    const std::array<const codec::Plane*, 3> planes = {&luma, &red, &blue};
    size_t total = 0;
    for (const codec::Plane* plane : planes) {
        total += static_cast<size_t>(std::max(plane->width, 0)) * std::max(plane->height, 0);
    }
    std::vector<uint8_t> out(total);
    // quantise() inlined for the steps a frame can have, with its table looked up once.
    const uint8_t* const bytes = quotientBytes().data();
    const Divider divider(std::max(step, 1));
    uint8_t* base = out.data();
    for (const codec::Plane* plane : planes) {
        const int w = std::max(plane->width, 0);
        const int h = std::max(plane->height, 0);
        for (int x0 = 0; x0 < w; x0 += kColumnBlock) {
            const int count = std::min(kColumnBlock, w - x0);
            for (int y = 0; y < h; ++y) {
                const int32_t* row = plane->samples.data() + static_cast<size_t>(y) * w + x0;
                uint8_t* column = base + static_cast<size_t>(x0) * h + y;
                for (int c = 0; c < count; ++c) {
                    int32_t value = row[c];
                    uint8_t byte = 0;
                    if (step < 1) {
                        byte = quantise(value, threshold, step);
                    } else {
                        if (std::abs(static_cast<int64_t>(value)) < threshold) value = 0;
                        const int32_t a = divider.rounded(value);
                        byte = a >= -kQuotientReach && a <= kQuotientReach
                                   ? bytes[a + kQuotientReach]
                                   : companded(a);
                    }
                    column[static_cast<size_t>(c) * h] = byte;
                }
            }
        }
        base += static_cast<size_t>(w) * h;
    }
    return out;
}

bool deserialise(std::span<const uint8_t> bytes, int step, codec::Plane& luma, codec::Plane& red,
                 codec::Plane& blue) {
    // A byte has 256 values: the table costs 256 products, not a power per coefficient.
    std::array<int32_t, 256> table{};
    for (int b = 0; b < 256; ++b) table[b] = dequantise(static_cast<uint8_t>(b), step);
    // Bytes past the end read as 0, as from the decoders' zero-filled expansion buffer.
    const auto byteAt = [bytes](size_t k) { return k < bytes.size() ? bytes[k] : uint8_t{0}; };
    size_t base = 0;
    for (codec::Plane* plane : {&luma, &red, &blue}) {
        const int w = std::max(plane->width, 0);
        const int h = std::max(plane->height, 0);
        for (int x0 = 0; x0 < w; x0 += kColumnBlock) {
            const int count = std::min(kColumnBlock, w - x0);
            for (int y = 0; y < h; ++y) {
                int32_t* row = plane->samples.data() + static_cast<size_t>(y) * w + x0;
                const size_t first = base + static_cast<size_t>(x0) * h + y;
                for (int c = 0; c < count; ++c) {
                    row[c] = table[byteAt(first + static_cast<size_t>(c) * h)];
                }
            }
        }
        base += static_cast<size_t>(w) * h;
    }
    return base <= bytes.size();
}

}  // namespace encoder
