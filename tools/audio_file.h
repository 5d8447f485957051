#pragma once

// WAV files for the modem's command-line tools, through libsndfile: any sample rate, 16-bit,
// 24-bit, 32-bit or float samples, mono or more channels (the first, the left, is taken).

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace tools {

struct Audio {
    std::vector<float> samples;  // the first channel, full scale +-1
    int sampleRate = 0;          // Hz
};

struct AudioRead {
    bool ok = false;
    Audio audio;
    std::string error;  // for the user: what is wrong with which file
};
[[nodiscard]] AudioRead readAudio(const std::filesystem::path& path);

// 16-bit PCM mono WAV, written next to path and renamed into place (see writeFileReplacing).
struct AudioWrite {
    bool ok = false;
    std::string error;
};
[[nodiscard]] AudioWrite writeWav16(const std::filesystem::path& path,
                                    std::span<const float> samples, int sampleRate);

}  // namespace tools
