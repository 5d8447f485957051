#include "encoder/quantise.h"

#include <array>
#include <cmath>
#include <cstdlib>

#include "codec/wavelet.h"

namespace encoder {
namespace {

using Real = long double;

// Reads bytes in order; past the end gives 0 and remembers that it happened.
struct ByteReader {
    std::span<const uint8_t> bytes;
    size_t next = 0;
    bool overrun = false;

    uint8_t read() {
        if (next < bytes.size()) return bytes[next++];
        overrun = true;
        return 0;
    }
};

}  // namespace

long double inverseExponent() { return 1.0L / static_cast<Real>(kExponent); }

long double signedPower(long double x, long double y) {
    if (x < 0) return std::pow(x, static_cast<Real>(codec::roundToInt(y)));
    return std::pow(x, y);
}

uint8_t quantise(int32_t value, int threshold, int step) {
    if (std::abs(static_cast<int64_t>(value)) < threshold) value = 0;
    const int32_t a = codec::roundToInt(static_cast<Real>(value) / step);
    const int32_t w = a == 0 ? 0 : codec::roundToInt(signedPower(a, static_cast<Real>(kExponent)));
    return static_cast<uint8_t>(static_cast<uint32_t>(w + 128) & 0xFFu);
}

int32_t dequantise(uint8_t byte, int step) {
    const int u = static_cast<int>(byte) - 128;
    if (u == 0) return 0;
    return codec::roundToInt(signedPower(u, inverseExponent()) * step);
}

std::vector<uint8_t> serialise(const codec::Plane& luma, const codec::Plane& red,
                               const codec::Plane& blue, int threshold, int step) {
    std::vector<uint8_t> out;
    out.reserve(luma.samples.size() + red.samples.size() + blue.samples.size());
    for (const codec::Plane* plane : {&luma, &red, &blue}) {
        for (int x = 0; x < plane->width; ++x) {
            for (int y = 0; y < plane->height; ++y) {
                out.push_back(quantise(plane->at(x, y), threshold, step));
            }
        }
    }
    return out;
}

bool deserialise(std::span<const uint8_t> bytes, int step, codec::Plane& luma, codec::Plane& red,
                 codec::Plane& blue) {
    // An extended-precision power per coefficient dominated the decode; a byte has 256 values.
    std::array<int32_t, 256> table{};
    for (int b = 0; b < 256; ++b) table[b] = dequantise(static_cast<uint8_t>(b), step);
    ByteReader reader{bytes};
    for (codec::Plane* plane : {&luma, &red, &blue}) {
        for (int x = 0; x < plane->width; ++x) {
            for (int y = 0; y < plane->height; ++y) plane->at(x, y) = table[reader.read()];
        }
    }
    return !reader.overrun;
}

}  // namespace encoder
