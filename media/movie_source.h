#pragma once

// Movie files read frame by frame by index with FFmpeg (libavformat, libavcodec, libswscale).
// frameAt(k) gives the k-th picture the movie shows, counted from 0, whatever the order of the
// calls: a seek lands on the key frame at or before k and decodes forward to k.

#include <cstdint>
#include <memory>
#include <string>

#include "media/video_frame.h"

namespace media {

class MovieSource {
public:
    MovieSource();
    ~MovieSource();
    MovieSource(const MovieSource&) = delete;
    MovieSource& operator=(const MovieSource&) = delete;

    // Closes any open movie first. A file FFmpeg cannot open leaves the source closed.
    MediaResult open(const std::string& path);
    void close();
    [[nodiscard]] bool isOpen() const;

    [[nodiscard]] int64_t frameCount() const;      // frames 0..count-1; 0 when closed
    [[nodiscard]] double framesPerSecond() const;  // the movie's rate; 0 when closed or unknown
    [[nodiscard]] int width() const;               // 0 when closed
    [[nodiscard]] int height() const;              // 0 when closed

    // Frame k exactly; an empty frame when closed, k is out of range or decoding fails.
    [[nodiscard]] VideoFrame frameAt(int64_t index);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace media
