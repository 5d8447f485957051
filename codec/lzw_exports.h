#pragma once

// LZW and UNLZW as C entry points, which pictx and picrx export by name for other programs
// (dlsym on the executable). Nothing in Vistrel calls them.
//
// They fill the caller's buffer: each returns the full length of its output and writes as much
// of it as fits in capacity bytes, so a call with capacity 0 asks for the length. A negative
// length or capacity, or a null pointer with a non-zero one, returns -1 and writes nothing.

#include <cstdint>

extern "C" {

// The codec's LZW: the compressed length (at least the 4-byte trailer).
int64_t LZW(const uint8_t* input, int64_t length, uint8_t* output, int64_t capacity);

// The codec's UNLZW: the decompressed length. Any input is safe; bytes that are no LZW output
// decode to whatever they spell up to the first code that cannot be.
int64_t UNLZW(const uint8_t* input, int64_t length, uint8_t* output, int64_t capacity);
}
