#pragma once

// Generated source pictures for tests, benchmarks and the demo: no picture files needed.
// Every generator is deterministic (noise from an explicit seed), so a failing case can be
// rebuilt from the name and seed it prints.

#include <cstdint>

#include "encoder/picture.h"

namespace encoder {

// Eight vertical bars: white, yellow, cyan, green, magenta, red, blue, black (75 % grey levels
// are not used: full-scale bars exercise the clamps of the colour conversion).
[[nodiscard]] SourcePicture colourBars();
// Red rising left to right, green top to bottom, blue along the diagonal.
[[nodiscard]] SourcePicture gradient();
// Concentric rings whose frequency rises with the distance from the centre: every band of the
// transforms gets energy, and aliasing of the box scaling shows as moire.
[[nodiscard]] SourcePicture zonePlate();
// Independent uniform bytes: incompressible for the arithmetic coder at a fine step.
[[nodiscard]] SourcePicture noise(uint64_t seed);
// One colour everywhere.
[[nodiscard]] SourcePicture uniform(uint8_t r, uint8_t g, uint8_t b);
// A test card: colour bars, a grey staircase, primary and secondary patches, a checkerboard and
// a ring on mid grey, for the demo and for eyeballing a decoded preview.
[[nodiscard]] SourcePicture testCard();

}  // namespace encoder
