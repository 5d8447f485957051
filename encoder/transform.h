#pragma once

// Frame drivers of the wavelet kernels: which kernel runs on which plane, over which lines and
// levels. Luma and both chroma planes take the chosen wavelet, except that CDF 9/7 is used for
// luma only and its chroma goes through D4. Every line result is rounded back into the plane
// (ties to even) before the next line reads it.

#include "codec/plane.h"
#include "encoder/colour.h"
#include "encoder/params.h"

namespace encoder {

// Forward transform of one plane. frameSize is N (the D4 level rule depends on it); threshold is
// applied by the Haar kernels only, on top of the quantiser's own threshold.
void forwardHaar(codec::Plane& plane, int threshold);
void forwardD4(codec::Plane& plane, int frameSize);
void forwardCdf97(codec::Plane& plane);  // four levels: N, N/2, N/4, N/8

void inverseHaar(codec::Plane& plane);
void inverseD4(codec::Plane& plane, int frameSize);
void inverseCdf97(codec::Plane& plane);

void forwardTransform(YccPlanes& planes, Wavelet wavelet, int frameSize, int threshold);
void inverseTransform(YccPlanes& planes, Wavelet wavelet, int frameSize);

}  // namespace encoder
