#pragma once

// The C entry points pictx exports for other programs: the general LZW coder (codec/lzw_exports)
// and the picture fitting routine, callable by name from a loaded executable (dlsym) or a
// plug-in. SKICONISE leaves out-pointers that are null unwritten.

#include <cstdint>

#include "codec/lzw_exports.h"

extern "C" {
void SKICONISE(int32_t srcWidth, int32_t srcHeight, int32_t dstWidth, int32_t dstHeight, int32_t* x,
               int32_t* y, int32_t* w, int32_t* h);
}
