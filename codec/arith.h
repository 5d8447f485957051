#pragma once

// Adaptive order-0 arithmetic coder with 31-bit registers over 257 symbols (the bytes and an
// end-of-stream symbol). A coded stream is the mark "ACMC" followed by the code bits, most
// significant bit first, the last byte padded with 0 bits.

#include <cstddef>
#include <cstdint>
#include <span>

namespace codec {

inline constexpr int kArithEncode = 0;  // ARITHCODE mode; any other value decodes
inline constexpr int kArithDecode = 1;
inline constexpr int32_t kArithOverflow = -1;  // encode result when dst is too small

// Longest input the coder handles: the model total, 257 + bytes coded, must stay within 2^29 so
// that the coding step (high - low + 1) / total never reaches 0. Frames are far smaller.
inline constexpr size_t kArithMaxBytes = (size_t{1} << 29) - 257;

// Encodes (mode 0) or decodes (mode != 0) src into dst.
//
// Encode: writes the coded stream to dst and returns its length, the four mark bytes included.
// When the stream does not fit in dst.size() bytes, returns kArithOverflow; dst then holds a
// truncated stream that must not be used. arithEncodeBound(src.size()) bytes always suffice;
// incompressible input can need more than src.size() + 5. An input longer than kArithMaxBytes
// also returns kArithOverflow, with dst untouched.
//
// Decode: src is a coded stream (the mark is skipped unchecked); bits past its end read as 0.
// Writes the decoded bytes to dst and returns their number. It never writes beyond dst.size():
// when dst fills before the end-of-stream symbol, or corrupt input leads to a code value
// outside the model (a target at or beyond the total), decoding stops and returns the bytes
// written so far. A src of 4 bytes or fewer has no code bits, and all-0 code bits stand for byte
// 0 again and again: such a call fills dst with zeros. At most kArithMaxBytes bytes are decoded.
[[nodiscard]] int32_t ARITHCODE(std::span<const uint8_t> src, std::span<uint8_t> dst, int mode);

// Capacity that always holds the coded stream of srclen bytes: a symbol never costs more than
// log2 of the model total (under 32 bits for inputs below 2^29 bytes, the design limit), plus the
// mark and the flush.
[[nodiscard]] constexpr size_t arithEncodeBound(size_t srclen) { return 4 * (srclen + 1) + 8; }

}  // namespace codec
