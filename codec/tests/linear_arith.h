#pragma once

// ARITHCODE written out literally, one bit and one symbol at a time, with the model searched
// symbol by symbol from 0: the reference the fast coder must match bit for bit, kept for its
// tests and its benchmark.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/arith.h"

namespace codec::linear {

constexpr uint32_t kHalf = 0x40000000;
constexpr uint32_t kQ1 = 0x20000000;
constexpr uint32_t kQ3 = 0x60000000;

struct Coder {
    std::array<uint32_t, 257> freq;
    uint32_t total = 257;
    uint32_t low = 0;
    uint32_t high = 0x7FFFFFFF;
    uint32_t pending = 0;

    Coder() { freq.fill(1); }

    uint32_t cumLow(int s) const {
        if (s == 256) return total - 1;
        uint32_t sum = 0;
        for (int i = 0; i < s; ++i) sum += freq[i];
        return sum;
    }

    void narrow(int s) {
        const uint32_t r = (high - low + 1) / total;
        const uint32_t cumLow = this->cumLow(s);
        const uint32_t cumHigh = s == 256 ? total : cumLow + freq[s];
        high = low + r * cumHigh - 1;
        low = low + r * cumLow;
    }
};

struct BitOut {
    std::span<uint8_t> dst;
    size_t pos = 4;
    uint32_t acc = 0;
    int bits = 0;
    bool overflow = false;

    void put(uint32_t bit) {
        acc = acc << 1 | bit;
        if (++bits == 8) {
            if (pos < dst.size()) {
                dst[pos++] = static_cast<uint8_t>(acc);
            } else {
                overflow = true;
            }
            acc = 0;
            bits = 0;
        }
    }
    void putPending(uint32_t bit, uint32_t& pending) {
        for (; pending > 0; --pending) put(bit);
    }
};

struct BitIn {
    std::span<const uint8_t> code;
    size_t pos = 0;
    uint32_t byte = 0;
    int left = 0;

    uint32_t get() {
        if (left == 0) {
            byte = pos < code.size() ? code[pos++] : 0;
            left = 8;
        }
        --left;
        return (byte >> left) & 1;
    }
};

inline int32_t encode(std::span<const uint8_t> src, std::span<uint8_t> dst) {
    if (dst.size() < 4) return kArithOverflow;
    dst[0] = 'A';
    dst[1] = 'C';
    dst[2] = 'M';
    dst[3] = 'C';
    Coder c;
    BitOut out{dst};
    auto codeSymbol = [&](int s) {
        c.narrow(s);
        for (;;) {
            if (c.high < kHalf) {
                out.put(0);
                c.low = 2 * c.low;
                c.high = 2 * c.high + 1;
                out.putPending(1, c.pending);
            } else if (c.low >= kHalf) {
                out.put(1);
                c.low = 2 * (c.low - kHalf);
                c.high = 2 * (c.high - kHalf) + 1;
                out.putPending(0, c.pending);
            } else {
                while (c.low >= kQ1 && c.high < kQ3) {
                    ++c.pending;
                    c.low = 2 * (c.low - kQ1);
                    c.high = 2 * (c.high - kQ1) + 1;
                }
                break;
            }
        }
    };
    for (const uint8_t b : src) {
        codeSymbol(b);
        ++c.freq[b];
        ++c.total;
    }
    codeSymbol(256);
    if (c.low < kQ1) {
        out.put(0);
        out.putPending(1, c.pending);
        out.put(1);
    } else {
        out.put(1);
    }
    while (out.bits != 0) out.put(0);
    return out.overflow ? kArithOverflow : static_cast<int32_t>(out.pos);
}

inline int32_t decode(std::span<const uint8_t> src, std::span<uint8_t> dst) {
    BitIn in{src.size() > 4 ? src.subspan(4) : std::span<const uint8_t>{}};
    Coder c;
    uint32_t value = 0;
    for (int i = 0; i < 31; ++i) value = 2 * value + in.get();
    size_t n = 0;
    for (;;) {
        const uint32_t r = (c.high - c.low + 1) / c.total;
        const uint32_t target = (value - c.low) / r;
        if (target >= c.total) break;
        int s = 0;
        uint32_t cumHigh = c.freq[0];
        while (cumHigh <= target) cumHigh += c.freq[++s];
        if (s < 256) {
            if (n == dst.size()) break;
            dst[n++] = static_cast<uint8_t>(s);
        }
        c.narrow(s);
        for (;;) {
            if (c.high < kHalf) {
                c.low = 2 * c.low;
                c.high = 2 * c.high + 1;
                value = 2 * value + in.get();
            } else if (c.low >= kHalf) {
                c.low = 2 * (c.low - kHalf);
                c.high = 2 * (c.high - kHalf) + 1;
                value = 2 * (value - kHalf) + in.get();
            } else {
                while (c.low >= kQ1 && c.high < kQ3) {
                    c.low = 2 * (c.low - kQ1);
                    c.high = 2 * (c.high - kQ1) + 1;
                    value = 2 * (value - kQ1) + in.get();
                }
                break;
            }
        }
        if (s == 256) break;
        ++c.freq[s];
        ++c.total;
    }
    return static_cast<int32_t>(n);
}

}  // namespace codec::linear
