#pragma once

// General-purpose LZW compressor for byte strings: 9- to 14-bit codes packed least significant
// bit first, clear code 256 when the 16384-entry dictionary fills, and the four-byte trailer
// 0x5A 0x00 0x9E 0x9B. The picture frames do not use it; the programs export it.

#include <cstdint>
#include <span>
#include <vector>

namespace codec {

// Replaces output with the compressed form of input. An empty input gives just the trailer.
void LZW(std::span<const uint8_t> input, std::vector<uint8_t>& output);

// Replaces output with the decompressed bytes; UNLZW(LZW(x)) == x for every x. An input of more
// than 3 bytes loses its last 4 (the trailer) unchecked. Any input is safe: a code that names an
// entry not yet defined (above the next free code, or above 255 as the first code of a run), or
// a code other than the clear code once all 16384 entries are defined, ends the decoding, and
// output then holds what was decoded before that code. A clear code as the first code of a run
// is skipped. Strings are spelled out on a stack as deep as the dictionary, so no string is too
// long (LZW output of a long run of one byte holds strings longer than 4096 bytes).
void UNLZW(std::span<const uint8_t> input, std::vector<uint8_t>& output);

}  // namespace codec
