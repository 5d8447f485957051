// ARITHCODE against a literal linear-scan version of the same coder (the model searched symbol by
// symbol from 0, as first described), on coefficient-like bytes and on random bytes. The two
// must give the same bit stream; that is checked once at start-up.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <span>
#include <vector>

#include "codec/arith.h"

namespace {

constexpr size_t kBytes = 98304;  // coefficient bytes of a 256-pixel frame with 4:1 chroma

// The coder exactly as described, one bit and one symbol at a time, kept only to compare.
namespace linear {

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

int32_t encode(std::span<const uint8_t> src, std::span<uint8_t> dst) {
    if (dst.size() < 4) return codec::kArithOverflow;
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
    return out.overflow ? codec::kArithOverflow : static_cast<int32_t>(out.pos);
}

int32_t decode(std::span<const uint8_t> src, std::span<uint8_t> dst) {
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

}  // namespace linear

// Quantised wavelet coefficients: mostly the zero coefficient (128), the rest small deviations
// 120..136, fewer the larger they are.
std::vector<uint8_t> coefficientBytes() {
    std::mt19937 rng(20240611);
    std::vector<uint8_t> bytes(kBytes);
    for (uint8_t& b : bytes) {
        if (rng() % 100 < 85) {
            b = 128;
            continue;
        }
        int magnitude = 1;
        while (magnitude < 8 && rng() % 2 == 0) ++magnitude;
        b = static_cast<uint8_t>(rng() % 2 == 0 ? 128 + magnitude : 128 - magnitude);
    }
    return bytes;
}

std::vector<uint8_t> randomBytes() {
    std::mt19937 rng(7);
    std::vector<uint8_t> bytes(kBytes);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

const std::vector<uint8_t>& input(bool coefficients) {
    static const std::vector<uint8_t> coeff = coefficientBytes();
    static const std::vector<uint8_t> random = randomBytes();
    return coefficients ? coeff : random;
}

using Coder = int32_t (*)(std::span<const uint8_t>, std::span<uint8_t>);

int32_t arithEncode(std::span<const uint8_t> src, std::span<uint8_t> dst) {
    return codec::ARITHCODE(src, dst, codec::kArithEncode);
}
int32_t arithDecode(std::span<const uint8_t> src, std::span<uint8_t> dst) {
    return codec::ARITHCODE(src, dst, codec::kArithDecode);
}

std::vector<uint8_t> encoded(Coder encode, const std::vector<uint8_t>& src) {
    std::vector<uint8_t> dst(codec::arithEncodeBound(src.size()));
    const int32_t n = encode(src, dst);
    if (n < 0) return {};
    dst.resize(static_cast<size_t>(n));
    return dst;
}

// Both coders must agree bit for bit before their speeds mean anything.
const bool kCodersAgree = [] {
    for (const bool coefficients : {true, false}) {
        const std::vector<uint8_t>& src = input(coefficients);
        const std::vector<uint8_t> fast = encoded(arithEncode, src);
        const std::vector<uint8_t> plain = encoded(linear::encode, src);
        std::vector<uint8_t> back(src.size() + 1);
        const bool same = !fast.empty() && fast == plain &&
                          arithDecode(fast, back) == static_cast<int32_t>(src.size()) &&
                          std::equal(src.begin(), src.end(), back.begin()) &&
                          linear::decode(fast, back) == static_cast<int32_t>(src.size()) &&
                          std::equal(src.begin(), src.end(), back.begin());
        if (!same) {
            std::fprintf(stderr, "arith_bench: ARITHCODE and the linear coder differ (%s input)\n",
                         coefficients ? "coefficient" : "random");
            std::abort();
        }
    }
    return true;
}();

void encodeCase(benchmark::State& state, Coder encode, bool coefficients) {
    const std::vector<uint8_t>& src = input(coefficients);
    std::vector<uint8_t> dst(codec::arithEncodeBound(src.size()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(encode(src, dst));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
}

void decodeCase(benchmark::State& state, Coder decode, bool coefficients) {
    const std::vector<uint8_t>& src = input(coefficients);
    const std::vector<uint8_t> coded = encoded(arithEncode, src);
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(decode(coded, dst));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
}

void BM_ArithEncode(benchmark::State& state, bool coefficients) {
    encodeCase(state, arithEncode, coefficients);
}
void BM_LinearScanEncode(benchmark::State& state, bool coefficients) {
    encodeCase(state, linear::encode, coefficients);
}
void BM_ArithDecode(benchmark::State& state, bool coefficients) {
    decodeCase(state, arithDecode, coefficients);
}
void BM_LinearScanDecode(benchmark::State& state, bool coefficients) {
    decodeCase(state, linear::decode, coefficients);
}

// 98,304 bytes each (kBytes).
BENCHMARK_CAPTURE(BM_ArithEncode, coefficients, true);
BENCHMARK_CAPTURE(BM_LinearScanEncode, coefficients, true);
BENCHMARK_CAPTURE(BM_ArithDecode, coefficients, true);
BENCHMARK_CAPTURE(BM_LinearScanDecode, coefficients, true);
BENCHMARK_CAPTURE(BM_ArithEncode, random, false);
BENCHMARK_CAPTURE(BM_LinearScanEncode, random, false);
BENCHMARK_CAPTURE(BM_ArithDecode, random, false);
BENCHMARK_CAPTURE(BM_LinearScanDecode, random, false);

}  // namespace
