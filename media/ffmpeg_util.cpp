#include "media/ffmpeg_util.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace media {

std::string ffmpegErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

MediaResult failure(std::string message) { return {false, std::move(message)}; }

void quietFfmpegLog() { av_log_set_level(AV_LOG_ERROR); }

CodecHandle openDecoder(const AVStream& stream, std::string& error) {
    const AVCodec* decoder = avcodec_find_decoder(stream.codecpar->codec_id);
    if (decoder == nullptr) {
        error = std::string("no decoder for ") + avcodec_get_name(stream.codecpar->codec_id);
        return nullptr;
    }
    CodecHandle codec(avcodec_alloc_context3(decoder));
    if (!codec) {
        error = "out of memory";
        return nullptr;
    }
    int status = avcodec_parameters_to_context(codec.get(), stream.codecpar);
    if (status >= 0) {
        codec->pkt_timebase = stream.time_base;
        // One thread: frame threading holds frames back, and these pictures are small.
        codec->thread_count = 1;
        status = avcodec_open2(codec.get(), decoder, nullptr);
    }
    if (status < 0) {
        error = std::string("cannot decode ") + decoder->name + ": " + ffmpegErrorText(status);
        return nullptr;
    }
    return codec;
}

VideoFrame convertFrame(const AVFrame& frame, ScalerHandle& scaler) {
    VideoFrame out;
    if (frame.width <= 0 || frame.height <= 0 || frame.format < 0) return out;
    // MJPEG decodes to full-range YUV; taken as studio range its pictures would lose contrast.
    // The scaler is told the range itself and given the plain formats, which it prefers to the
    // old full-range ones.
    auto format = static_cast<AVPixelFormat>(frame.format);
    bool fullRange = frame.color_range == AVCOL_RANGE_JPEG;
    for (const auto& [old, plain] : {std::pair{AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV420P},
                                     std::pair{AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUV422P},
                                     std::pair{AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_YUV444P},
                                     std::pair{AV_PIX_FMT_YUVJ440P, AV_PIX_FMT_YUV440P}}) {
        if (format == old) {
            format = plain;
            fullRange = true;
        }
    }
    scaler.reset(sws_getCachedContext(scaler.release(), frame.width, frame.height, format,
                                      frame.width, frame.height, AV_PIX_FMT_BGR0,
                                      SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
    if (!scaler) return out;
    const int colorspace = frame.colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    const int* coefficients = sws_getCoefficients(colorspace);
    sws_setColorspaceDetails(scaler.get(), coefficients, fullRange ? 1 : 0, coefficients, 1, 0,
                             1 << 16, 1 << 16);

    out.width = frame.width;
    out.height = frame.height;
    out.pixels.assign(static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height), 0);
    uint8_t* planes[4] = {reinterpret_cast<uint8_t*>(out.pixels.data()), nullptr, nullptr, nullptr};
    int strides[4] = {frame.width * 4, 0, 0, 0};
    const int rows =
        sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
    if (rows != frame.height) return {};
    // BGR0 leaves the fourth byte as the scaler likes; the pixel's top byte is always 0.
    for (uint32_t& p : out.pixels) p &= 0x00FFFFFFu;
    return out;
}

}  // namespace media
