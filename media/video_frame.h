#pragma once

// A decoded picture as the programs show it: rows from the top, each pixel 0x00RRGGBB in a
// uint32_t (in memory the bytes blue, green, red, 0: QImage's Format_RGB32 and the ".tv" pixel).

#include <cstdint>
#include <string>
#include <vector>

namespace media {

struct VideoFrame {
    int width = 0;                 // pixels, 0 for no picture
    int height = 0;                // pixels, 0 for no picture
    std::vector<uint32_t> pixels;  // width * height values, rows from the top

    [[nodiscard]] bool empty() const { return width <= 0 || height <= 0; }
};

// Outcome of opening or finishing a file or device; error is for the user and names the file.
struct MediaResult {
    bool ok = false;
    std::string error;
};

// Passes only FFmpeg's errors to stderr, not its notes and warnings; for command-line programs
// and tests. FFmpeg's log level is one for the whole process.
void quietFfmpegLog();

}  // namespace media
