#include "media/tests/test_movies.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <gtest/gtest.h>

#include <array>

#include "media/ffmpeg_util.h"

namespace media::test {

namespace {

// Far enough apart that MPEG-4 and MJPEG at small sizes never confuse two of them.
constexpr std::array<uint32_t, 16> kPalette = {
    0xC81E1E, 0x1EC81E, 0x1E1EC8, 0xC8C81E, 0xC81EC8, 0x1EC8C8, 0x783C14, 0x14783C,
    0x3C1478, 0xE68C8C, 0x8CE68C, 0x8C8CE6, 0x5A5A5A, 0x0A0A0A, 0xFAA028, 0xA028FA,
};
constexpr int kSquare = 8;

struct OutputCloser {
    void operator()(AVFormatContext* context) const {
        if (context->pb != nullptr) avio_closep(&context->pb);
        avformat_free_context(context);
    }
};

std::string sendAndWrite(AVCodecContext& codec, AVFormatContext& output, AVStream& stream,
                         const AVFrame* frame) {
    int status = avcodec_send_frame(&codec, frame);
    if (status < 0) return "send_frame: " + ffmpegErrorText(status);
    PacketHandle packet(av_packet_alloc());
    for (;;) {
        status = avcodec_receive_packet(&codec, packet.get());
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return {};
        if (status < 0) return "receive_packet: " + ffmpegErrorText(status);
        av_packet_rescale_ts(packet.get(), codec.time_base, stream.time_base);
        packet->stream_index = stream.index;
        status = av_interleaved_write_frame(&output, packet.get());
        if (status < 0) return "write_frame: " + ffmpegErrorText(status);
    }
}

// x264 and the lavfi parser talk on stderr about every run; the tests want their own output.
class QuietFfmpeg : public ::testing::Environment {
public:
    void SetUp() override { quietFfmpegLog(); }
};
[[maybe_unused]] ::testing::Environment* const kQuiet =
    ::testing::AddGlobalTestEnvironment(new QuietFfmpeg);

}  // namespace

VideoFrame patternFrame(int number, int width, int height) {
    VideoFrame frame{
        width, height,
        std::vector<uint32_t>(static_cast<size_t>(width) * height,
                              kPalette[static_cast<size_t>(number) % kPalette.size()])};
    const int left = (number * 5) % std::max(1, width - kSquare);
    const int top = height / 2;
    for (int y = top; y < std::min(height, top + kSquare); ++y) {
        for (int x = left; x < std::min(width, left + kSquare); ++x) {
            frame.pixels[static_cast<size_t>(y) * width + x] = 0xFFFFFF;
        }
    }
    return frame;
}

int patternNumber(const VideoFrame& picture) {
    if (picture.empty()) return -1;
    std::array<double, 3> sum{};
    int samples = 0;
    for (int y = 0; y < std::max(1, picture.height / 2 - 4); ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const uint32_t p = picture.pixels[static_cast<size_t>(y) * picture.width + x];
            for (int c = 0; c < 3; ++c) sum[c] += (p >> (16 - 8 * c)) & 0xFF;
            ++samples;
        }
    }
    int best = -1;
    double bestDistance = 1e18;
    for (size_t i = 0; i < kPalette.size(); ++i) {
        double distance = 0.0;
        for (int c = 0; c < 3; ++c) {
            const double d = sum[c] / samples - ((kPalette[i] >> (16 - 8 * c)) & 0xFF);
            distance += d * d;
        }
        if (distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<int>(i);
        }
    }
    return best;
}

std::string writeTestMovie(const std::filesystem::path& path, const MovieRecipe& recipe) {
    AVFormatContext* rawOutput = nullptr;
    int status =
        avformat_alloc_output_context2(&rawOutput, nullptr, recipe.container.c_str(), path.c_str());
    if (status < 0) return "output: " + ffmpegErrorText(status);
    std::unique_ptr<AVFormatContext, OutputCloser> output(rawOutput);
    const AVCodec* encoder = avcodec_find_encoder(recipe.codec);
    if (encoder == nullptr) return "no encoder";
    CodecHandle codec(avcodec_alloc_context3(encoder));
    codec->width = recipe.width;
    codec->height = recipe.height;
    codec->pix_fmt = recipe.pixelFormat;
    codec->time_base = {1, recipe.framesPerSecond};
    codec->framerate = {recipe.framesPerSecond, 1};
    codec->gop_size = recipe.gop;
    codec->max_b_frames = recipe.bFrames;
    codec->thread_count = 1;
    codec->flags |= AV_CODEC_FLAG_QSCALE;
    codec->global_quality = FF_QP2LAMBDA * 3;
    if ((output->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    status = avcodec_open2(codec.get(), encoder, nullptr);
    if (status < 0) return "open encoder: " + ffmpegErrorText(status);
    AVStream* stream = avformat_new_stream(output.get(), nullptr);
    avcodec_parameters_from_context(stream->codecpar, codec.get());
    stream->time_base = codec->time_base;
    status = avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (status < 0) return "create: " + ffmpegErrorText(status);
    status = avformat_write_header(output.get(), nullptr);
    if (status < 0) return "header: " + ffmpegErrorText(status);

    ScalerHandle scaler(sws_getContext(recipe.width, recipe.height, AV_PIX_FMT_BGR0, recipe.width,
                                       recipe.height, recipe.pixelFormat, SWS_BICUBIC, nullptr,
                                       nullptr, nullptr));
    FrameHandle frame(av_frame_alloc());
    frame->width = recipe.width;
    frame->height = recipe.height;
    frame->format = recipe.pixelFormat;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return "frame buffer";
    for (int i = 0; i < recipe.frames; ++i) {
        const VideoFrame picture = patternFrame(i, recipe.width, recipe.height);
        const uint8_t* planes[4] = {reinterpret_cast<const uint8_t*>(picture.pixels.data()),
                                    nullptr, nullptr, nullptr};
        const int strides[4] = {recipe.width * 4, 0, 0, 0};
        if (av_frame_make_writable(frame.get()) < 0) return "frame writable";
        sws_scale(scaler.get(), planes, strides, 0, recipe.height, frame->data, frame->linesize);
        frame->pts = recipe.firstPts + i;
        if (std::string e = sendAndWrite(*codec, *output, *stream, frame.get()); !e.empty()) {
            return e;
        }
    }
    if (std::string e = sendAndWrite(*codec, *output, *stream, nullptr); !e.empty()) return e;
    status = av_write_trailer(output.get());
    if (status < 0) return "trailer: " + ffmpegErrorText(status);
    return {};
}

StreamFacts probeMovie(const std::filesystem::path& path) {
    StreamFacts facts;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return facts;
    InputHandle input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) return facts;
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) return facts;
    const AVStream& stream = *input->streams[index];
    facts.codecName = avcodec_get_name(stream.codecpar->codec_id);
    facts.width = stream.codecpar->width;
    facts.height = stream.codecpar->height;
    facts.realRate = av_q2d(stream.r_frame_rate);
    facts.averageRate = av_q2d(stream.avg_frame_rate);
    PacketHandle packet(av_packet_alloc());
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == index) {
            ++facts.packets;
            if ((packet->flags & AV_PKT_FLAG_KEY) != 0) ++facts.keyPackets;
        }
        av_packet_unref(packet.get());
    }
    facts.ok = true;
    return facts;
}

}  // namespace media::test
