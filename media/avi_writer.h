#pragma once

// AVI files written with FFmpeg's AVI muxer and the video encoders this FFmpeg has. Frames go in
// as VideoFrames (rows from the top) and are stored the right way up for every codec.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/video_frame.h"

namespace media {

enum class AviCodec { Raw, Ffv1, Mjpeg, Mpeg4, H264 };

struct AviCodecInfo {
    AviCodec codec = AviCodec::Raw;
    std::string key;         // the command line's name: "raw", "ffv1", "mjpeg", "mpeg4", "h264"
    std::string label;       // for the dialog: "Uncompressed (32-bit BGRA)", "FFV1 (lossless)"
    bool keyFrames = false;  // takes a key-frame interval
    bool bitRate = false;    // takes a data rate in bits per second
    bool quality = false;    // takes a quality (FFmpeg's qscale or crf, lower is better)
};

// The codecs of the list above that this FFmpeg can encode into AVI, in that order; Raw is
// always present.
[[nodiscard]] std::vector<AviCodecInfo> availableAviCodecs();

struct AviOptions {
    AviCodec codec = AviCodec::Raw;
    int framesPerSecond = 10;  // the stream's rate: 10, 6, 3 or 1
    int keyFrameInterval = 1;  // 1: every frame a key frame
    int64_t bitRate = 0;       // bits per second; 0: the quality decides
    // Lower is better: qscale 1..31, or crf 0..51 for H.264. -1: qscale 3 or crf 23, unless
    // a bit rate is given, which then rules alone.
    int quality = -1;
};

class AviWriter {
public:
    AviWriter();
    ~AviWriter();  // abandons an unfinished file
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Creates (replaces) path for frames of width x height. The frames go to path + ".part"
    // until finish() renames it into place, so a file already at path survives a failed or
    // abandoned export.
    MediaResult open(const std::string& path, int width, int height, const AviOptions& options);
    // Appends one frame of the size given to open().
    MediaResult write(const VideoFrame& frame);
    // Flushes the encoder and writes the index; the file is complete when this returns ok.
    MediaResult finish();
    // Closes and removes the partial file.
    void abandon();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace media
