#include "media/avi_writer.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "media/ffmpeg_util.h"

namespace media {

namespace {

// Used when the caller leaves both the data rate and the quality to the encoder: the encoders'
// own default of 200 kbit/s smears a 342 x 254 picture at 10 frames per second.
constexpr int kDefaultQscale = 3;
constexpr int kDefaultCrf = 23;
constexpr int kMaxSide = 16384;

struct CodecEntry {
    AviCodecInfo info;
    const char* encoders[2];  // FFmpeg encoder names, the first one present is used
};

const CodecEntry kCodecs[] = {
    {{AviCodec::Raw, "raw", "Uncompressed (32-bit BGRA)", false, false, false},
     {"rawvideo", nullptr}},
    {{AviCodec::Ffv1, "ffv1", "FFV1 (lossless)", true, false, false}, {"ffv1", nullptr}},
    {{AviCodec::Mjpeg, "mjpeg", "MJPEG", false, true, true}, {"mjpeg", nullptr}},
    {{AviCodec::Mpeg4, "mpeg4", "MPEG-4 Part 2", true, true, true}, {"mpeg4", nullptr}},
    {{AviCodec::H264, "h264", "H.264", true, true, true}, {"libx264", "libopenh264"}},
};

const CodecEntry& entryFor(AviCodec codec) {
    for (const CodecEntry& entry : kCodecs) {
        if (entry.info.codec == codec) return entry;
    }
    return kCodecs[0];
}

const AVCodec* findEncoder(const CodecEntry& entry) {
    for (const char* name : entry.encoders) {
        if (name == nullptr) continue;
        if (const AVCodec* encoder = avcodec_find_encoder_by_name(name)) return encoder;
    }
    return nullptr;
}

struct OutputCloser {
    void operator()(AVFormatContext* context) const {
        if (context->pb != nullptr) avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
using OutputHandle = std::unique_ptr<AVFormatContext, OutputCloser>;

}  // namespace

std::vector<AviCodecInfo> availableAviCodecs() {
    std::vector<AviCodecInfo> codecs;
    for (const CodecEntry& entry : kCodecs) {
        if (entry.info.codec == AviCodec::Raw || findEncoder(entry) != nullptr) {
            codecs.push_back(entry.info);
        }
    }
    return codecs;
}

struct AviWriter::Impl {
    std::string path;
    std::filesystem::path partPath;  // written here, renamed to path by finish()
    AviCodec kind = AviCodec::Raw;
    int width = 0;
    int height = 0;
    int64_t nextPts = 0;
    OutputHandle output;
    CodecHandle codec;
    AVStream* stream = nullptr;
    FrameHandle frame;
    PacketHandle packet;
    ScalerHandle scaler;

    [[nodiscard]] bool isOpen() const { return output != nullptr; }

    void close() {
        codec.reset();
        output.reset();
        stream = nullptr;
        frame.reset();
        packet.reset();
        scaler.reset();
    }

    MediaResult fail(const std::string& what, int status) {
        return failure("Cannot write " + path + ": " + what + ": " + ffmpegErrorText(status));
    }

    MediaResult configure(const AviOptions& options) {
        const CodecEntry& entry = entryFor(options.codec);
        const AVCodec* encoder = findEncoder(entry);
        if (encoder == nullptr) {
            return failure("Cannot write " + path + ": this FFmpeg has no " + entry.info.label +
                           " encoder");
        }
        codec.reset(avcodec_alloc_context3(encoder));
        if (!codec) return failure("Cannot write " + path + ": out of memory");
        codec->width = width;
        codec->height = height;
        codec->time_base = {1, options.framesPerSecond};
        codec->framerate = {options.framesPerSecond, 1};
        codec->gop_size = std::max(1, options.keyFrameInterval);
        // Frames go into AVI in the order they are shown; AVI has no room for reordering.
        codec->max_b_frames = 0;
        const bool rateGiven = options.bitRate > 0;
        const bool qualityGiven = options.quality >= 0;
        switch (options.codec) {
            case AviCodec::Raw:
                codec->pix_fmt = AV_PIX_FMT_BGRA;
                break;
            case AviCodec::Ffv1:
                codec->pix_fmt = AV_PIX_FMT_BGR0;
                break;
            case AviCodec::Mjpeg:
            case AviCodec::Mpeg4:
                codec->pix_fmt = AV_PIX_FMT_YUV420P;
                if (options.codec == AviCodec::Mjpeg) codec->color_range = AVCOL_RANGE_JPEG;
                if (rateGiven) codec->bit_rate = options.bitRate;
                if (qualityGiven || !rateGiven) {
                    codec->flags |= AV_CODEC_FLAG_QSCALE;
                    codec->global_quality =
                        FF_QP2LAMBDA *
                        std::clamp(qualityGiven ? options.quality : kDefaultQscale, 1, 31);
                }
                break;
            case AviCodec::H264:
                codec->pix_fmt = AV_PIX_FMT_YUV420P;
                if (width % 2 != 0 || height % 2 != 0) {
                    return failure("Cannot write " + path + ": H.264 needs an even width and " +
                                   "height, not " + std::to_string(width) + " x " +
                                   std::to_string(height));
                }
                if (rateGiven) codec->bit_rate = options.bitRate;
                if (qualityGiven || !rateGiven) {
                    av_opt_set_int(codec->priv_data, "crf",
                                   std::clamp(qualityGiven ? options.quality : kDefaultCrf, 0, 51),
                                   0);
                }
                break;
        }
        int status = avcodec_open2(codec.get(), encoder, nullptr);
        if (status < 0)
            return fail(std::string("cannot start the ") + encoder->name + " encoder", status);

        stream = avformat_new_stream(output.get(), nullptr);
        if (stream == nullptr) return failure("Cannot write " + path + ": out of memory");
        status = avcodec_parameters_from_context(stream->codecpar, codec.get());
        if (status < 0) return fail("stream", status);
        stream->time_base = codec->time_base;
        stream->avg_frame_rate = codec->framerate;
        stream->r_frame_rate = codec->framerate;
        return {true, {}};
    }

    MediaResult open(const std::string& target, int w, int h, const AviOptions& options) {
        path = target;
        partPath = target + ".part";
        kind = options.codec;
        width = w;
        height = h;
        nextPts = 0;
        if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide) {
            return failure("Cannot write " + path + ": no picture of " + std::to_string(w) + " x " +
                           std::to_string(h) + " pixels");
        }
        if (options.framesPerSecond <= 0) {
            return failure("Cannot write " + path + ": the frame rate must be above 0");
        }
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) {
            return failure("Cannot create " + path + ": it is a folder");
        }
        AVFormatContext* raw = nullptr;
        int status = avformat_alloc_output_context2(&raw, nullptr, "avi", partPath.c_str());
        if (status < 0) return fail("the AVI writer", status);
        output.reset(raw);
        if (MediaResult r = configure(options); !r.ok) return r;

        status = avio_open(&output->pb, partPath.c_str(), AVIO_FLAG_WRITE);
        if (status < 0) {
            return failure("Cannot create " + path + ": " + ffmpegErrorText(status));
        }
        AVDictionary* muxerOptions = nullptr;
        // Uncompressed bitmaps stored bottom-up with a positive height: what every AVI reader
        // expects; write() turns the rows over.
        if (kind == AviCodec::Raw) av_dict_set(&muxerOptions, "flipped_raw_rgb", "1", 0);
        status = avformat_write_header(output.get(), &muxerOptions);
        av_dict_free(&muxerOptions);
        if (status < 0) return fail("header", status);

        frame.reset(av_frame_alloc());
        packet.reset(av_packet_alloc());
        if (!frame || !packet) return failure("Cannot write " + path + ": out of memory");
        frame->format = codec->pix_fmt;
        frame->width = width;
        frame->height = height;
        frame->color_range = codec->color_range;
        status = av_frame_get_buffer(frame.get(), 0);
        if (status < 0) return fail("frame buffer", status);
        return {true, {}};
    }

    // Moves the encoder's finished packets into the file.
    MediaResult drain() {
        for (;;) {
            int status = avcodec_receive_packet(codec.get(), packet.get());
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return {true, {}};
            if (status < 0) return fail("encoding", status);
            av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            status = av_interleaved_write_frame(output.get(), packet.get());
            if (status < 0) return fail("frame", status);
        }
    }

    void fill(const VideoFrame& picture) {
        const auto* source = picture.pixels.data();
        switch (kind) {
            case AviCodec::Raw:
                for (int y = 0; y < height; ++y) {
                    auto* row = reinterpret_cast<uint32_t*>(frame->data[0] +
                                                            static_cast<ptrdiff_t>(height - 1 - y) *
                                                                frame->linesize[0]);
                    const uint32_t* from = source + static_cast<size_t>(y) * width;
                    // The fourth byte of a stored pixel is 0, whatever the caller's top byte.
                    for (int x = 0; x < width; ++x) row[x] = from[x] & 0x00FFFFFFu;
                }
                break;
            case AviCodec::Ffv1:
                for (int y = 0; y < height; ++y) {
                    std::memcpy(frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0],
                                source + static_cast<size_t>(y) * width,
                                static_cast<size_t>(width) * 4);
                }
                break;
            default: {
                scaler.reset(sws_getCachedContext(
                    scaler.release(), width, height, AV_PIX_FMT_BGR0, width, height, codec->pix_fmt,
                    SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
                const int* bt601 = sws_getCoefficients(SWS_CS_ITU601);
                sws_setColorspaceDetails(scaler.get(), bt601, 1, bt601,
                                         codec->color_range == AVCOL_RANGE_JPEG ? 1 : 0, 0, 1 << 16,
                                         1 << 16);
                const uint8_t* planes[4] = {reinterpret_cast<const uint8_t*>(source), nullptr,
                                            nullptr, nullptr};
                const int strides[4] = {width * 4, 0, 0, 0};
                sws_scale(scaler.get(), planes, strides, 0, height, frame->data, frame->linesize);
                break;
            }
        }
    }

    MediaResult write(const VideoFrame& picture) {
        if (!isOpen()) return failure("Cannot write " + path + ": the file is not open");
        if (picture.width != width || picture.height != height ||
            picture.pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height)) {
            return failure("Cannot write " + path + ": a picture of " +
                           std::to_string(picture.width) + " x " + std::to_string(picture.height) +
                           " pixels in a movie of " + std::to_string(width) + " x " +
                           std::to_string(height));
        }
        int status = av_frame_make_writable(frame.get());
        if (status < 0) return fail("frame buffer", status);
        fill(picture);
        frame->pts = nextPts++;
        status = avcodec_send_frame(codec.get(), frame.get());
        if (status < 0) return fail("encoding", status);
        return drain();
    }

    MediaResult finish() {
        if (!isOpen()) return failure("Cannot write " + path + ": the file is not open");
        int status = avcodec_send_frame(codec.get(), nullptr);
        if (status < 0) return fail("encoding", status);
        if (MediaResult r = drain(); !r.ok) return r;
        status = av_write_trailer(output.get());
        if (status < 0) return fail("index", status);
        status = avio_closep(&output->pb);
        if (status < 0) return fail("closing", status);
        close();
        std::error_code ec;
        std::filesystem::rename(partPath, path, ec);
        if (ec) {
            std::error_code ignored;
            std::filesystem::remove(partPath, ignored);
            return failure("Cannot create " + path + ": " + ec.message());
        }
        return {true, {}};
    }

    void abandon() {
        const bool started = output != nullptr;
        close();
        if (started) {
            std::error_code ignored;
            std::filesystem::remove(partPath, ignored);
        }
    }
};

AviWriter::AviWriter() : impl_(std::make_unique<Impl>()) {}

AviWriter::~AviWriter() { impl_->abandon(); }

MediaResult AviWriter::open(const std::string& path, int width, int height,
                            const AviOptions& options) {
    impl_->abandon();
    MediaResult result = impl_->open(path, width, height, options);
    if (!result.ok) impl_->abandon();
    return result;
}

MediaResult AviWriter::write(const VideoFrame& frame) { return impl_->write(frame); }

MediaResult AviWriter::finish() {
    MediaResult result = impl_->finish();
    if (!result.ok) impl_->abandon();
    return result;
}

void AviWriter::abandon() { impl_->abandon(); }

}  // namespace media
