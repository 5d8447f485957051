// ARITHCODE against a literal linear-scan version of the same coder (the model searched symbol by
// symbol from 0, as first described), on coefficient-like bytes and on random bytes. The two
// must give the same bit stream; that is checked once at start-up.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <span>
#include <vector>

#include "codec/arith.h"
#include "codec/tests/linear_arith.h"

namespace {

constexpr size_t kBytes = 98304;  // coefficient bytes of a 256-pixel frame with 4:1 chroma

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
        const std::vector<uint8_t> plain = encoded(codec::linear::encode, src);
        std::vector<uint8_t> back(src.size() + 1);
        const bool same = !fast.empty() && fast == plain &&
                          arithDecode(fast, back) == static_cast<int32_t>(src.size()) &&
                          std::equal(src.begin(), src.end(), back.begin()) &&
                          codec::linear::decode(fast, back) == static_cast<int32_t>(src.size()) &&
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
    encodeCase(state, codec::linear::encode, coefficients);
}
void BM_ArithDecode(benchmark::State& state, bool coefficients) {
    decodeCase(state, arithDecode, coefficients);
}
void BM_LinearScanDecode(benchmark::State& state, bool coefficients) {
    decodeCase(state, codec::linear::decode, coefficients);
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
