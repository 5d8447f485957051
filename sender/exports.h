#pragma once

// The C entry points pictx exports for other programs: the general LZW coder and the picture
// fitting routine, callable by name from a loaded executable (dlsym) or a plug-in.
//
// LZW and UNLZW fill the caller's buffer: they return the full length of their output and
// write as much of it as fits in capacity bytes, so a call with capacity 0 asks for the length.
// A negative length, or a null pointer with a non-zero length or capacity, returns -1 and
// writes nothing. SKICONISE leaves out-pointers that are null unwritten.

#include <cstdint>

extern "C" {
int64_t LZW(const uint8_t* input, int64_t length, uint8_t* output, int64_t capacity);
int64_t UNLZW(const uint8_t* input, int64_t length, uint8_t* output, int64_t capacity);
void SKICONISE(int32_t srcWidth, int32_t srcHeight, int32_t dstWidth, int32_t dstHeight, int32_t* x,
               int32_t* y, int32_t* w, int32_t* h);
}
