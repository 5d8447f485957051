#pragma once

// Small movies made with libavformat and libavcodec for the tests, each frame painted so that
// its number can be read back after lossy coding.

#include <cstdint>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/pixfmt.h>
}

#include <cstdint>
#include <filesystem>
#include <string>

#include "media/tests/temp_dir.h"
#include "media/video_frame.h"

namespace media::test {

struct MovieRecipe {
    std::string container = "avi";  // FFmpeg muxer name: "avi", "matroska"
    AVCodecID codec = AV_CODEC_ID_MPEG4;
    AVPixelFormat pixelFormat = AV_PIX_FMT_YUV420P;
    int frames = 10;
    int width = 64;
    int height = 48;
    int framesPerSecond = 10;
    int gop = 1;           // frames from one key frame to the next
    int bFrames = 0;       // the encoder's max_b_frames
    int64_t firstPts = 0;  // time stamp of frame 0, in frames
};

// Frame number k of the test pattern: a flat colour of its own with a white square whose place
// moves with k.
[[nodiscard]] VideoFrame patternFrame(int number, int width, int height);
// The number of the pattern frame nearest to picture (by the colour away from the square), or
// -1 for an empty picture.
[[nodiscard]] int patternNumber(const VideoFrame& picture);

// Writes a movie of recipe.frames pattern frames; empty on success, else what failed.
[[nodiscard]] std::string writeTestMovie(const std::filesystem::path& path,
                                         const MovieRecipe& recipe);

// What FFmpeg itself reads from a file, for checking written movies without MovieSource.
struct StreamFacts {
    bool ok = false;
    std::string codecName;
    int width = 0;
    int height = 0;
    double realRate = 0.0;     // r_frame_rate
    double averageRate = 0.0;  // avg_frame_rate
    int packets = 0;           // video packets in the file
    int keyPackets = 0;
};
[[nodiscard]] StreamFacts probeMovie(const std::filesystem::path& path);

}  // namespace media::test
