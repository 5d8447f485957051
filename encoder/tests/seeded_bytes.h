#pragma once

#include <cstdint>
#include <vector>

namespace encoder::testing_support {

// Reproducible bytes from a seed (splitmix64): tests print the seed, never a clock.
inline std::vector<uint8_t> seededBytes(uint64_t seed, size_t count) {
    std::vector<uint8_t> out(count);
    uint64_t state = seed;
    for (uint8_t& b : out) {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        b = static_cast<uint8_t>((z ^ (z >> 31)) >> 24);
    }
    return out;
}

}  // namespace encoder::testing_support
