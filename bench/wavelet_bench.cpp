// Wavelet transforms of a 256 x 256 luma plane as the frame encoder and decoders run them: the
// CDF 9/7 levels and the D4 planes (plain doubles checked against the halves), and Haar on the
// plane itself. The ...Kernels cases are the reference in the same run: the extended-precision
// kernels line by line, each row, then each column, copied into a line of 257 doubles and stored
// back rounded (ties to even), which gives the same integers. Bytes processed are plane bytes
// (256 x 256 x 4) per transform, items are pixels.
//
// Medians: codec_bench --benchmark_filter=Wavelet --benchmark_repetitions=5
//          --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <span>

#include "codec/wavelet.h"

namespace {

using codec::Plane;

constexpr int kSide = 256;
constexpr int kCdfLevels = 4;
constexpr int64_t kPlanePixels = int64_t{kSide} * kSide;

using CoefficientLine = std::array<double, kSide + 1>;  // the frame driver's line

// A deterministic picture: smooth gradients plus a little texture, 0..255.
Plane testPicture() {
    Plane plane(kSide, kSide);
    uint32_t noise = 12345;
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            noise = noise * 1664525u + 1013904223u;
            plane.at(x, y) = static_cast<int32_t>((x + 2 * y) / 3 + (noise >> 28)) & 255;
        }
    }
    return plane;
}

// Rows y = 0..s-1 over x = 0..s-1, then columns, each through kernel(line) and stored rounded.
template <typename Kernel>
void rowsThenColumns(Plane& plane, int s, CoefficientLine& line, Kernel kernel) {
    for (int y = 0; y < s; ++y) {
        for (int x = 0; x < s; ++x) line[x] = plane.at(x, y);
        kernel(std::span<double>(line));
        for (int x = 0; x < s; ++x) plane.at(x, y) = codec::roundToInt(line[x]);
    }
    for (int x = 0; x < s; ++x) {
        for (int y = 0; y < s; ++y) line[y] = plane.at(x, y);
        kernel(std::span<double>(line));
        for (int y = 0; y < s; ++y) plane.at(x, y) = codec::roundToInt(line[y]);
    }
}

void cdfForward(Plane& plane, CoefficientLine& line) {
    for (int level = 0; level < kCdfLevels; ++level) {
        const int s = kSide >> level;
        rowsThenColumns(plane, s, line, [s](std::span<double> l) { codec::CDF97FWD(l, s); });
    }
}

void cdfInverse(Plane& plane, CoefficientLine& line) {
    for (int level = kCdfLevels - 1; level >= 0; --level) {
        const int s = kSide >> level;
        rowsThenColumns(plane, s, line, [s](std::span<double> l) { codec::CDF97INV(l, s); });
    }
}

void d4Forward(Plane& plane, CoefficientLine& line) {
    rowsThenColumns(plane, kSide, line,
                    [](std::span<double> l) { codec::D4FORWARD(l, kSide, 0, kSide); });
}

void d4Inverse(Plane& plane, CoefficientLine& line) {
    rowsThenColumns(plane, kSide, line,
                    [](std::span<double> l) { codec::D4INVERSE(l, kSide, 0, kSide); });
}

void cdfForwardPlanes(Plane& plane, CoefficientLine&) {
    for (int level = 0; level < kCdfLevels; ++level)
        codec::cdf97ForwardLevel(plane, kSide >> level);
}

void cdfInversePlanes(Plane& plane, CoefficientLine&) {
    for (int level = kCdfLevels - 1; level >= 0; --level) {
        codec::cdf97InverseLevel(plane, kSide >> level);
    }
}

void d4ForwardPlanes(Plane& plane, CoefficientLine&) { codec::d4ForwardPlane(plane, kSide); }

void d4InversePlanes(Plane& plane, CoefficientLine&) { codec::d4InversePlane(plane, kSide); }

void haarForward(Plane& plane, CoefficientLine&) {
    for (int k = 0; k < kSide; ++k) codec::HAARFWDX(plane, k, kSide);
    for (int k = 0; k < kSide; ++k) codec::HAARFWDY(plane, k, kSide, 0);
}

void haarInverse(Plane& plane, CoefficientLine&) {
    for (int k = 0; k < kSide; ++k) codec::HAARINVX(plane, k, kSide);
    for (int k = 0; k < kSide; ++k) codec::HAARINVY(plane, k, kSide);
}

// Times transform on a fresh copy of input each iteration (the copy is not timed).
void runTransform(benchmark::State& state, const Plane& input,
                  void (*transform)(Plane&, CoefficientLine&)) {
    Plane plane = input;
    CoefficientLine line{};
    for (auto _ : state) {
        state.PauseTiming();
        plane.samples = input.samples;
        state.ResumeTiming();
        transform(plane, line);
        benchmark::DoNotOptimize(plane.samples.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kPlanePixels *
                            static_cast<int64_t>(sizeof(int32_t)));
    state.SetItemsProcessed(state.iterations() * kPlanePixels);
}

// The inverses start from the forward transform's coefficients, as a decoder does.
Plane transformed(void (*transform)(Plane&, CoefficientLine&)) {
    Plane plane = testPicture();
    CoefficientLine line{};
    transform(plane, line);
    return plane;
}

void BM_WaveletCdf97Forward256(benchmark::State& state) {
    runTransform(state, testPicture(), cdfForwardPlanes);
}
void BM_WaveletCdf97Inverse256(benchmark::State& state) {
    runTransform(state, transformed(cdfForward), cdfInversePlanes);
}
void BM_WaveletD4Forward256(benchmark::State& state) {
    runTransform(state, testPicture(), d4ForwardPlanes);
}
void BM_WaveletD4Inverse256(benchmark::State& state) {
    runTransform(state, transformed(d4Forward), d4InversePlanes);
}
void BM_WaveletCdf97Forward256Kernels(benchmark::State& state) {
    runTransform(state, testPicture(), cdfForward);
}
void BM_WaveletCdf97Inverse256Kernels(benchmark::State& state) {
    runTransform(state, transformed(cdfForward), cdfInverse);
}
void BM_WaveletD4Forward256Kernels(benchmark::State& state) {
    runTransform(state, testPicture(), d4Forward);
}
void BM_WaveletD4Inverse256Kernels(benchmark::State& state) {
    runTransform(state, transformed(d4Forward), d4Inverse);
}
void BM_WaveletHaarForward256(benchmark::State& state) {
    runTransform(state, testPicture(), haarForward);
}
void BM_WaveletHaarInverse256(benchmark::State& state) {
    runTransform(state, transformed(haarForward), haarInverse);
}

BENCHMARK(BM_WaveletCdf97Forward256)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WaveletCdf97Inverse256)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WaveletD4Forward256)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WaveletD4Inverse256)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WaveletCdf97Forward256Kernels)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WaveletCdf97Inverse256Kernels)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WaveletD4Forward256Kernels)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WaveletD4Inverse256Kernels)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WaveletHaarForward256)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WaveletHaarInverse256)->Unit(benchmark::kMicrosecond);

}  // namespace
