// ARITHCODE on arbitrary bytes. Decoding any stream must end within a bounded dst; encoding any
// input must fit arithEncodeBound, fit exactly its own length and decode back to the input.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "codec/arith.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> input(data, size);

    // As a coded stream. The exact-size vector lets ASan see any write past dst.
    {
        const size_t cap = size == 0 ? 0 : (size_t{data[size - 1]} << 6) + size;
        std::vector<uint8_t> dst(cap);
        const int32_t n = codec::ARITHCODE(input, dst, codec::kArithDecode);
        if (n < 0 || static_cast<size_t>(n) > cap) std::abort();
    }

    // As data: decode(encode(x)) == x.
    std::vector<uint8_t> coded(codec::arithEncodeBound(size));
    const int32_t n = codec::ARITHCODE(input, coded, codec::kArithEncode);
    if (n < 6 || static_cast<size_t>(n) > coded.size()) std::abort();
    coded.resize(static_cast<size_t>(n));

    std::vector<uint8_t> exact(coded.size());
    if (codec::ARITHCODE(input, exact, codec::kArithEncode) != n || exact != coded) std::abort();
    std::vector<uint8_t> shorter(coded.size() - 1);
    if (codec::ARITHCODE(input, shorter, codec::kArithEncode) != codec::kArithOverflow)
        std::abort();

    std::vector<uint8_t> back(size);
    if (codec::ARITHCODE(coded, back, codec::kArithDecode) != static_cast<int32_t>(size)) {
        std::abort();
    }
    if (back != std::vector<uint8_t>(input.begin(), input.end())) std::abort();
    return 0;
}
