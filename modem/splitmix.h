#pragma once

// splitmix64: a 64-bit generator in fixed integer arithmetic, so it gives the same stream on
// every machine and library (std::uniform_int_distribution and std::normal_distribution leave
// their mappings to the library). The modem's constructions (LDPC code, interleaver) draw from
// it; tests, sweeps and benchmarks draw their noise from it so their figures repeat anywhere.

#include <cmath>
#include <cstdint>
#include <numbers>

namespace modem {

struct SplitMix64 {
    uint64_t state = 0;

    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Below count (> 0); the modulo's bias is immaterial for tie-breaks and shuffles.
    uint32_t below(uint32_t count) { return static_cast<uint32_t>(next() % count); }
    // Uniform in (0, 1].
    double uniform() { return static_cast<double>((next() >> 11) + 1) / 9007199254740993.0; }
    // Standard normal, by Box-Muller, one value per call.
    double gaussian() {
        return std::sqrt(-2.0 * std::log(uniform())) * std::cos(2 * std::numbers::pi * uniform());
    }
};

}  // namespace modem
