#pragma once

// Whole recordings from one sample rate to another (libsoxr, high quality): the modem works at
// 8000 Hz, sound cards and WAV files at 44100, 48000 or anything else.

#include <span>
#include <vector>

namespace modem {

// The samples at toHz; the same samples when the rates are equal. Empty for a rate <= 0.
[[nodiscard]] std::vector<float> resampleAudio(std::span<const float> in, double fromHz,
                                               double toHz);

}  // namespace modem
