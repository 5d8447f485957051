#pragma once

// Owning handles for FFmpeg's C objects and the error texts of this library. Internal to media/.

#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

#include "media/video_frame.h"

namespace media {

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecCloser {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScalerFreer {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

using InputHandle = std::unique_ptr<AVFormatContext, InputCloser>;
using CodecHandle = std::unique_ptr<AVCodecContext, CodecCloser>;
using FrameHandle = std::unique_ptr<AVFrame, FrameFreer>;
using PacketHandle = std::unique_ptr<AVPacket, PacketFreer>;
using ScalerHandle = std::unique_ptr<SwsContext, ScalerFreer>;

// FFmpeg's text for an AVERROR code: "No such file or directory", "Invalid data found ...".
[[nodiscard]] std::string ffmpegErrorText(int code);

[[nodiscard]] MediaResult failure(std::string message);

// Opens a decoder for stream; nullptr with error set when there is none or it refuses.
[[nodiscard]] CodecHandle openDecoder(const AVStream& stream, std::string& error);

// Converts a decoded frame of any pixel format to 0x00RRGGBB pixels, rows from the top. scaler
// is kept between calls so a run of frames of one format reuses it.
[[nodiscard]] VideoFrame convertFrame(const AVFrame& frame, ScalerHandle& scaler);

}  // namespace media
