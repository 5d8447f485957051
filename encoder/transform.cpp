#include "encoder/transform.h"

#include "codec/wavelet.h"

namespace encoder {
namespace {

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

void forwardD4(codec::Plane& plane, int frameSize) { codec::d4ForwardPlane(plane, frameSize); }

void inverseD4(codec::Plane& plane, int frameSize) { codec::d4InversePlane(plane, frameSize); }

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
        case Wavelet::Av1:
            return;  // no planes: the AV1 payload is coded whole (codeAv1)
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
        case Wavelet::Av1:
            return;
    }
    inverseD4(planes.red, frameSize);
    inverseD4(planes.blue, frameSize);
}

}  // namespace encoder
