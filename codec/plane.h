#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace codec {

// One colour component of a frame: 32-bit signed samples or coefficients indexed (x, y), x the
// column from the left (first index), y the row from the top. Stored row by row.
struct Plane {
    int width = 0;   // samples per row, 0..256
    int height = 0;  // rows, 0..256
    std::vector<int32_t> samples;

    Plane() = default;
    Plane(int w, int h) : width(w), height(h), samples(static_cast<size_t>(w) * h, 0) {}

    int32_t& at(int x, int y) { return samples[static_cast<size_t>(y) * width + x]; }
    int32_t at(int x, int y) const { return samples[static_cast<size_t>(y) * width + x]; }
};

}  // namespace codec
