#include "media/movie_source.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "media/ffmpeg_util.h"

namespace media {

namespace {

// Stepping forward by up to this many frames decodes on from the current one; further jumps
// seek, since a key frame nearer the target is likely.
constexpr int64_t kForwardDecodeLimit = 24;
// Frame numbers need some rate even when the file states none.
constexpr double kFallbackFramesPerSecond = 25.0;

}  // namespace

struct MovieSource::Impl {
    std::string path;
    InputHandle input;
    CodecHandle codec;
    int stream = -1;
    double secondsPerTick = 0.0;  // the stream's time base
    double rate = 0.0;            // frames per second as stated by the file, 0 if none
    int64_t firstPts = 0;         // time stamp of frame 0, in stream ticks
    int64_t count = 0;
    int width = 0;
    int height = 0;

    PacketHandle packet{av_packet_alloc()};
    FrameHandle current{av_frame_alloc()};  // the frame shown at position
    FrameHandle scratch{av_frame_alloc()};  // the frame decodeNext gave
    int64_t position = -1;                  // index of current; -1 when nothing is decoded
    FrameHandle ahead{av_frame_alloc()};    // decoded past a target, handed out next
    int64_t aheadIndex = -1;                // -1 when ahead is empty
    bool inputDone = false;                 // end of file reached, the decoder is draining
    VideoFrame shown;
    int64_t shownIndex = -1;
    ScalerHandle scaler;

    [[nodiscard]] double indexRate() const { return rate > 0.0 ? rate : kFallbackFramesPerSecond; }

    [[nodiscard]] int64_t indexOf(const AVFrame& frame, int64_t previous) const {
        const int64_t ts = frame.best_effort_timestamp;
        if (ts == AV_NOPTS_VALUE) return previous + 1;
        return std::llround(static_cast<double>(ts - firstPts) * secondsPerTick * indexRate());
    }

    MediaResult openInput() {
        AVFormatContext* raw = nullptr;
        int status = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
        if (status < 0) return failure("Cannot open " + path + ": " + ffmpegErrorText(status));
        input.reset(raw);
        status = avformat_find_stream_info(input.get(), nullptr);
        if (status < 0) {
            return failure("Cannot read " + path + " as a movie: " + ffmpegErrorText(status));
        }
        stream = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (stream < 0) return failure(path + " holds no video");
        AVStream& video = *input->streams[stream];
        // Packets of other streams are of no use; the demuxer may skip them.
        for (unsigned i = 0; i < input->nb_streams; ++i) {
            if (static_cast<int>(i) != stream) input->streams[i]->discard = AVDISCARD_ALL;
        }
        std::string error;
        codec = openDecoder(video, error);
        if (!codec) return failure("Cannot decode " + path + ": " + error);
        secondsPerTick = av_q2d(video.time_base);
        position = -1;
        aheadIndex = -1;
        inputDone = false;
        return {true, {}};
    }

    // The next frame in showing order into scratch, with its number; false at the end or on a
    // lasting error. current stays as it was.
    bool decodeNext(int64_t& index) {
        if (aheadIndex >= 0) {
            av_frame_unref(scratch.get());
            av_frame_move_ref(scratch.get(), ahead.get());
            index = aheadIndex;
            aheadIndex = -1;
            return true;
        }
        for (;;) {
            int status = avcodec_receive_frame(codec.get(), scratch.get());
            if (status == 0) {
                index = indexOf(*scratch, position);
                return true;
            }
            if (status != AVERROR(EAGAIN) || inputDone) return false;
            status = av_read_frame(input.get(), packet.get());
            if (status < 0) {
                inputDone = true;
                avcodec_send_packet(codec.get(), nullptr);
                continue;
            }
            if (packet->stream_index == stream) {
                // A damaged packet costs its picture only; the next key frame recovers.
                avcodec_send_packet(codec.get(), packet.get());
            }
            av_packet_unref(packet.get());
        }
    }

    void take(int64_t index) {
        av_frame_unref(current.get());
        av_frame_move_ref(current.get(), scratch.get());
        position = index;
    }

    void seekTowards(int64_t index) {
        const auto target =
            firstPts + static_cast<int64_t>(
                           std::floor(static_cast<double>(index) / indexRate() / secondsPerTick));
        if (av_seek_frame(input.get(), stream, target, AVSEEK_FLAG_BACKWARD) < 0) {
            restart();
            return;
        }
        avcodec_flush_buffers(codec.get());
        position = -1;
        aheadIndex = -1;
        inputDone = false;
    }

    // Back to the first packet by opening the file again: works for every container, even
    // those that cannot seek.
    void restart() {
        codec.reset();
        input.reset();
        if (!openInput().ok) {
            codec.reset();
            input.reset();
        }
    }

    // Leaves current holding the frame shown at index: the last frame whose number is at most
    // index. False when there is none.
    bool decodeTo(int64_t index) {
        if (!input) return false;
        const bool forward =
            position >= 0 && index >= position && index - position <= kForwardDecodeLimit;
        if (!forward) seekTowards(index);
        bool restarted = false;
        while (input) {
            if (position == index) return true;
            int64_t next = 0;
            if (!decodeNext(next)) return position >= 0 && position <= index;
            if (position < 0 && scratch->best_effort_timestamp == AV_NOPTS_VALUE) {
                // Nothing tells where the seek landed (B-frames in AVI lose their time stamps):
                // count from the start instead.
                if (restarted) return false;
                restarted = true;
                restart();
                continue;
            }
            if (next <= index) {
                take(next);
                continue;
            }
            if (position >= 0) {
                // Past the target with a frame before it: that one is still on the screen.
                av_frame_unref(ahead.get());
                av_frame_move_ref(ahead.get(), scratch.get());
                aheadIndex = next;
                return true;
            }
            // The seek landed after the target (an index that misplaces key frames).
            if (restarted) return false;
            restarted = true;
            restart();
        }
        return false;
    }

    void countFrames() {
        const AVStream& video = *input->streams[stream];
        int64_t estimate = video.nb_frames;
        if (estimate <= 0) {
            double seconds = 0.0;
            if (video.duration != AV_NOPTS_VALUE && video.duration > 0) {
                seconds = static_cast<double>(video.duration) * secondsPerTick;
            } else if (input->duration != AV_NOPTS_VALUE && input->duration > 0) {
                seconds = static_cast<double>(input->duration) / AV_TIME_BASE -
                          static_cast<double>(firstPts) * secondsPerTick;
            }
            estimate = std::max<int64_t>(1, std::llround(seconds * indexRate()));
        }
        // Headers state what the writer meant to write and durations are often the end time
        // rather than the length: the frames at the end tell the truth, also for a file that
        // was cut short.
        seekTowards(estimate - 1);
        int64_t last = -1;
        bool restarted = false;
        for (int64_t next = 0; input && decodeNext(next);) {
            if (position < 0 && scratch->best_effort_timestamp == AV_NOPTS_VALUE && !restarted) {
                restarted = true;  // landed blind, as in decodeTo
                restart();
                continue;
            }
            take(next);
            last = std::max(last, next);
        }
        count = last >= 0 ? last + 1 : estimate;
        seekTowards(0);
    }
};

MovieSource::MovieSource() : impl_(std::make_unique<Impl>()) {}
MovieSource::~MovieSource() = default;

MediaResult MovieSource::open(const std::string& path) {
    close();
    impl_->path = path;
    MediaResult result = impl_->openInput();
    if (result.ok) {
        const AVStream& video = *impl_->input->streams[impl_->stream];
        AVRational rate =
            av_guess_frame_rate(impl_->input.get(), impl_->input->streams[impl_->stream], nullptr);
        if (rate.num <= 0 || rate.den <= 0) rate = video.avg_frame_rate;
        impl_->rate = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0.0;
        impl_->firstPts = 0;
        int64_t first = 0;
        if (!impl_->decodeNext(first)) {
            result = failure("Cannot decode " + path + ": no picture in its video stream");
        } else {
            impl_->take(0);
            const int64_t ts = impl_->current->best_effort_timestamp;
            impl_->firstPts = ts == AV_NOPTS_VALUE ? 0 : ts;
            impl_->width = impl_->current->width;
            impl_->height = impl_->current->height;
            impl_->countFrames();
        }
    }
    if (!result.ok) {
        close();
        impl_->path = path;
    }
    return result;
}

void MovieSource::close() { impl_ = std::make_unique<Impl>(); }

bool MovieSource::isOpen() const { return impl_->input != nullptr; }
int64_t MovieSource::frameCount() const { return isOpen() ? impl_->count : 0; }
double MovieSource::framesPerSecond() const { return isOpen() ? impl_->rate : 0.0; }
int MovieSource::width() const { return isOpen() ? impl_->width : 0; }
int MovieSource::height() const { return isOpen() ? impl_->height : 0; }

VideoFrame MovieSource::frameAt(int64_t index) {
    Impl& m = *impl_;
    if (!isOpen() || index < 0 || index >= m.count) return {};
    if (index == m.shownIndex) return m.shown;
    m.shownIndex = -1;
    if (!m.decodeTo(index)) return {};
    m.shown = convertFrame(*m.current, m.scaler);
    m.shownIndex = m.shown.empty() ? -1 : index;
    return m.shown;
}

}  // namespace media
