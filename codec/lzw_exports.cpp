#include "codec/lzw_exports.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "codec/lzw.h"

namespace {

using Coder = void (*)(std::span<const uint8_t>, std::vector<uint8_t>&);

int64_t runCoder(Coder coder, const uint8_t* input, int64_t length, uint8_t* output,
                 int64_t capacity) {
    if (length < 0 || capacity < 0) return -1;
    if ((input == nullptr && length > 0) || (output == nullptr && capacity > 0)) return -1;
    std::vector<uint8_t> result;
    coder(std::span<const uint8_t>(input, static_cast<size_t>(length)), result);
    const size_t copied = std::min(result.size(), static_cast<size_t>(capacity));
    if (copied > 0) std::memcpy(output, result.data(), copied);
    return static_cast<int64_t>(result.size());
}

}  // namespace

extern "C" {

int64_t LZW(const uint8_t* input, int64_t length, uint8_t* output, int64_t capacity) {
    return runCoder(codec::LZW, input, length, output, capacity);
}

int64_t UNLZW(const uint8_t* input, int64_t length, uint8_t* output, int64_t capacity) {
    return runCoder(codec::UNLZW, input, length, output, capacity);
}

}  // extern "C"
