#include "encoder/transform.h"

#include <array>
#include <span>

#include "codec/wavelet.h"

namespace encoder {
namespace {

// One coefficient line, as long as the largest side plus the slot the kernels may touch past it.
using Line = std::array<double, 257>;

template <typename Kernel>
void eachRow(codec::Plane& plane, int side, Line& line, Kernel kernel) {
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) line[x] = plane.at(x, y);
        kernel(std::span<double>(line));
        for (int x = 0; x < side; ++x) plane.at(x, y) = codec::roundToInt(line[x]);
    }
}

template <typename Kernel>
void eachColumn(codec::Plane& plane, int side, Line& line, Kernel kernel) {
    for (int x = 0; x < side; ++x) {
        for (int y = 0; y < side; ++y) line[y] = plane.at(x, y);
        kernel(std::span<double>(line));
        for (int y = 0; y < side; ++y) plane.at(x, y) = codec::roundToInt(line[y]);
    }
}

constexpr int kCdf97Levels = 4;

}  // namespace

void forwardHaar(codec::Plane& plane, int threshold) {
    const int n = plane.width;
    for (int k = 0; k < n; ++k) codec::HAARFWDX(plane, k, n);
    for (int k = 0; k < n; ++k) codec::HAARFWDY(plane, k, n, threshold);
}

void inverseHaar(codec::Plane& plane) {
    // Rows before columns here too: the pairs round in both directions, so this order is part
    // of what every decoder reproduces, not a mirror of the forward order.
    const int n = plane.width;
    for (int k = 0; k < n; ++k) codec::HAARINVX(plane, k, n);
    for (int k = 0; k < n; ++k) codec::HAARINVY(plane, k, n);
}

void forwardD4(codec::Plane& plane, int frameSize) {
    const int n = plane.width;
    Line line{};
    const auto kernel = [&](std::span<double> l) { codec::D4FORWARD(l, n, 0, frameSize); };
    eachRow(plane, n, line, kernel);
    eachColumn(plane, n, line, kernel);
}

void inverseD4(codec::Plane& plane, int frameSize) {
    const int n = plane.width;
    Line line{};
    const auto kernel = [&](std::span<double> l) { codec::D4INVERSE(l, n, 0, frameSize); };
    eachRow(plane, n, line, kernel);
    eachColumn(plane, n, line, kernel);
}

void forwardCdf97(codec::Plane& plane) {
    Line line{};
    for (int level = 0; level < kCdf97Levels; ++level) {
        const int s = plane.width >> level;
        const auto kernel = [&](std::span<double> l) { codec::CDF97FWD(l, s); };
        eachRow(plane, s, line, kernel);
        eachColumn(plane, s, line, kernel);
    }
}

void inverseCdf97(codec::Plane& plane) {
    Line line{};
    for (int level = kCdf97Levels - 1; level >= 0; --level) {
        const int s = plane.width >> level;
        const auto kernel = [&](std::span<double> l) { codec::CDF97INV(l, s); };
        eachRow(plane, s, line, kernel);
        eachColumn(plane, s, line, kernel);
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
