#include "encoder/transform.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/wavelet.h"

namespace encoder {
namespace {

// One coefficient line, as long as the largest side plus the slot the kernels may touch past it.
using Line = std::array<double, 257>;

// int32 samples to doubles, in loops of fixed length that the compiler turns into vector
// conversions.
constexpr int kGroup = 8;

void widen(const int32_t* from, double* to, int n) {
    int x = 0;
    for (; x + kGroup <= n; x += kGroup) {
        for (int k = 0; k < kGroup; ++k) to[x + k] = from[x + k];
    }
    for (; x < n; ++x) to[x] = from[x];
}

template <typename Kernel>
void eachRow(codec::Plane& plane, int side, Line& line, Kernel kernel) {
    for (int y = 0; y < side; ++y) {
        int32_t* const row = plane.samples.data() + static_cast<size_t>(y) * plane.width;
        widen(row, line.data(), side);
        kernel(std::span<double>(line));
        codec::roundDoublesToInt(line.data(), row, side);
    }
}

// Columns are gathered kColumnBlock at a time: a row of the plane is one cache line for all of
// them, where a column alone, 1 KB between samples at 256, keeps hitting the same few cache
// sets. Each column is still transformed on its own, so the order changes nothing.
constexpr int kColumnBlock = kGroup;

template <typename Kernel>
void eachColumn(codec::Plane& plane, int side, Kernel kernel) {
    const ptrdiff_t stride = plane.width;
    // Each column fills its line up to side; the slot past it is set once, since a kernel may
    // read it (an odd level length whose half rounds up, which no frame driver meets).
    std::array<Line, kColumnBlock> lines;
    std::array<double*, kColumnBlock> line{};
    for (int c = 0; c < kColumnBlock; ++c) {
        line[c] = lines[c].data();
        line[c][side] = 0;
    }
    double* const* const l = line.data();
    std::array<double, kColumnBlock> across{};
    double* const a = across.data();
    for (int x0 = 0; x0 < side; x0 += kColumnBlock) {
        const int count = side - x0 < kColumnBlock ? side - x0 : kColumnBlock;
        for (int y = 0; y < side; ++y) {
            widen(plane.samples.data() + y * stride + x0, a, count);
            for (int c = 0; c < count; ++c) l[c][y] = a[c];
        }
        for (int c = 0; c < count; ++c) kernel(std::span<double>(lines[c]));
        for (int y = 0; y < side; ++y) {
            for (int c = 0; c < count; ++c) a[c] = l[c][y];
            codec::roundDoublesToInt(a, plane.samples.data() + y * stride + x0, count);
        }
    }
}

constexpr int kCdf97Levels = 4;

}  // namespace

void forwardHaar(codec::Plane& plane, int threshold) {
    const int n = plane.width;
    for (int k = 0; k < n; ++k) codec::HAARFWDX(plane, k, n);
    codec::haarForwardColumns(plane, n, threshold);
}

void inverseHaar(codec::Plane& plane) {
    // Rows before columns here too: the pairs round in both directions, so this order is part
    // of what every decoder reproduces, not a mirror of the forward order.
    const int n = plane.width;
    for (int k = 0; k < n; ++k) codec::HAARINVX(plane, k, n);
    codec::haarInverseColumns(plane, n);
}

void forwardD4(codec::Plane& plane, int frameSize) {
    const int n = plane.width;
    Line line{};
    const auto kernel = [&](std::span<double> l) { codec::D4FORWARD(l, n, 0, frameSize); };
    eachRow(plane, n, line, kernel);
    eachColumn(plane, n, kernel);
}

void inverseD4(codec::Plane& plane, int frameSize) {
    const int n = plane.width;
    Line line{};
    const auto kernel = [&](std::span<double> l) { codec::D4INVERSE(l, n, 0, frameSize); };
    eachRow(plane, n, line, kernel);
    eachColumn(plane, n, kernel);
}

void forwardCdf97(codec::Plane& plane) {
    for (int level = 0; level < kCdf97Levels; ++level) {
        codec::cdf97ForwardLevel(plane, plane.width >> level);
    }
}

void inverseCdf97(codec::Plane& plane) {
    for (int level = kCdf97Levels - 1; level >= 0; --level) {
        codec::cdf97InverseLevel(plane, plane.width >> level);
    }
}

void forwardTransform(YccPlanes& planes, Wavelet wavelet, int frameSize, int threshold) {
    switch (wavelet) {
        case Wavelet::Haar:
            forwardHaar(planes.luma, threshold);
            forwardHaar(planes.red, threshold);
            forwardHaar(planes.blue, threshold);
            return;
        case Wavelet::D4:
            forwardD4(planes.luma, frameSize);
            break;
        case Wavelet::Cdf97:
            forwardCdf97(planes.luma);
            break;
    }
    forwardD4(planes.red, frameSize);
    forwardD4(planes.blue, frameSize);
}

void inverseTransform(YccPlanes& planes, Wavelet wavelet, int frameSize) {
    switch (wavelet) {
        case Wavelet::Haar:
            inverseHaar(planes.luma);
            inverseHaar(planes.red);
            inverseHaar(planes.blue);
            return;
        case Wavelet::D4:
            inverseD4(planes.luma, frameSize);
            break;
        case Wavelet::Cdf97:
            inverseCdf97(planes.luma);
            break;
    }
    inverseD4(planes.red, frameSize);
    inverseD4(planes.blue, frameSize);
}

}  // namespace encoder
