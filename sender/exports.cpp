#include "sender/exports.h"

#include "sender/still_picture.h"

extern "C" {

void SKICONISE(int32_t srcWidth, int32_t srcHeight, int32_t dstWidth, int32_t dstHeight, int32_t* x,
               int32_t* y, int32_t* w, int32_t* h) {
    int32_t fx = 0, fy = 0, fw = 0, fh = 0;
    sender::SKICONISE(srcWidth, srcHeight, dstWidth, dstHeight, fx, fy, fw, fh);
    if (x != nullptr) *x = fx;
    if (y != nullptr) *y = fy;
    if (w != nullptr) *w = fw;
    if (h != nullptr) *h = fh;
}

}  // extern "C"
