// UNLZW on arbitrary bytes must end in bounds; LZW of arbitrary bytes must come back exactly.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "codec/lzw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> input(data, size);

    std::vector<uint8_t> out;
    codec::UNLZW(input, out);

    std::vector<uint8_t> compressed;
    codec::LZW(input, compressed);
    if (compressed.size() < 4) std::abort();
    codec::UNLZW(compressed, out);
    if (out != std::vector<uint8_t>(input.begin(), input.end())) std::abort();
    return 0;
}
