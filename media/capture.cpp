#include "media/capture.h"

extern "C" {
#include <libavdevice/avdevice.h>
}

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include "media/ffmpeg_util.h"

namespace media {

namespace {

constexpr std::string_view kLavfiPrefix = "lavfi:";
// A live device may have nothing new the moment it is asked; the first picture is waited for
// this long before grab() gives up.
constexpr auto kFirstPictureWait = std::chrono::milliseconds(1500);
// After draining what was queued, the next picture (a camera's frame period) is waited for so
// long at most.
constexpr auto kFreshPictureWait = std::chrono::milliseconds(200);
// Packets drained per grab from a live device: more than its ring of buffers ever holds.
constexpr int kMaxPacketsPerGrab = 64;

void registerDevices() {
    static std::once_flag once;
    std::call_once(once, [] { avdevice_register_all(); });
}

class Descriptor {
public:
    explicit Descriptor(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NONBLOCK)) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    [[nodiscard]] int fd() const { return fd_; }

private:
    int fd_;
};

int xioctl(int fd, unsigned long request, void* argument) {
    int result = 0;
    do {
        result = ::ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result;
}

bool isLiveDevice(const std::string& device) { return device.rfind("/dev/", 0) == 0; }

// FFmpeg's names for the pixel formats cameras offer; others keep their four letters.
std::string pixelFormatName(uint32_t fourcc) {
    struct Name {
        uint32_t fourcc;
        const char* name;
    };
    static constexpr Name kNames[] = {
        {V4L2_PIX_FMT_YUYV, "yuyv422"},    {V4L2_PIX_FMT_UYVY, "uyvy422"},
        {V4L2_PIX_FMT_YVYU, "yvyu422"},    {V4L2_PIX_FMT_YUV420, "yuv420p"},
        {V4L2_PIX_FMT_NV12, "nv12"},       {V4L2_PIX_FMT_NV21, "nv21"},
        {V4L2_PIX_FMT_RGB24, "rgb24"},     {V4L2_PIX_FMT_BGR24, "bgr24"},
        {V4L2_PIX_FMT_GREY, "gray"},       {V4L2_PIX_FMT_MJPEG, "mjpeg"},
        {V4L2_PIX_FMT_JPEG, "mjpeg"},      {V4L2_PIX_FMT_H264, "h264"},
        {V4L2_PIX_FMT_YUV422P, "yuv422p"}, {V4L2_PIX_FMT_RGB565, "rgb565le"},
    };
    for (const Name& n : kNames) {
        if (n.fourcc == fourcc) return n.name;
    }
    std::string text;
    for (int i = 0; i < 4; ++i) text += static_cast<char>((fourcc >> (8 * i)) & 0xFF);
    return text;
}

}  // namespace

std::vector<CaptureDevice> listCaptureDevices() {
    std::vector<CaptureDevice> devices;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("video", 0) != 0) continue;
        const std::string path = entry.path().string();
        Descriptor device(path);
        if (device.fd() < 0) continue;
        v4l2_capability caps{};
        if (xioctl(device.fd(), VIDIOC_QUERYCAP, &caps) < 0) continue;
        const uint32_t what =
            (caps.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? caps.device_caps : caps.capabilities;
        // Drivers add nodes for metadata and output beside each camera; only capture counts.
        if ((what & V4L2_CAP_VIDEO_CAPTURE) == 0) continue;
        std::string card(reinterpret_cast<const char*>(caps.card),
                         strnlen(reinterpret_cast<const char*>(caps.card), sizeof caps.card));
        devices.push_back({path, card.empty() ? path : card});
    }
    // /dev/video2 before /dev/video10.
    std::sort(devices.begin(), devices.end(), [](const CaptureDevice& a, const CaptureDevice& b) {
        return a.path.size() != b.path.size() ? a.path.size() < b.path.size() : a.path < b.path;
    });
    return devices;
}

std::vector<CaptureFormat> listCaptureFormats(const std::string& device) {
    std::vector<CaptureFormat> formats;
    if (!isLiveDevice(device)) return formats;
    Descriptor handle(device);
    if (handle.fd() < 0) return formats;
    v4l2_fmtdesc description{};
    description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (description.index = 0; xioctl(handle.fd(), VIDIOC_ENUM_FMT, &description) == 0;
         ++description.index) {
        const std::string name = pixelFormatName(description.pixelformat);
        v4l2_frmsizeenum size{};
        size.pixel_format = description.pixelformat;
        for (size.index = 0; xioctl(handle.fd(), VIDIOC_ENUM_FRAMESIZES, &size) == 0;
             ++size.index) {
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                formats.push_back({static_cast<int>(size.discrete.width),
                                   static_cast<int>(size.discrete.height), name});
                continue;
            }
            // A continuous or stepped range: its two ends stand for it.
            formats.push_back({static_cast<int>(size.stepwise.min_width),
                               static_cast<int>(size.stepwise.min_height), name});
            formats.push_back({static_cast<int>(size.stepwise.max_width),
                               static_cast<int>(size.stepwise.max_height), name});
            break;
        }
    }
    return formats;
}

struct CaptureSource::Impl {
    std::string device;
    bool live = false;  // a camera: grab() takes everything that has arrived
    InputHandle input;
    CodecHandle codec;
    int stream = -1;
    PacketHandle packet{av_packet_alloc()};
    FrameHandle decoded{av_frame_alloc()};
    ScalerHandle scaler;
    VideoFrame newest;

    uint64_t pictures = 0;  // pictures decoded since open
    bool waitedForFirst = false;

    // Reads one packet and decodes it, keeping the last picture that comes out. False when the
    // input has nothing now (status EAGAIN) or has ended.
    bool readPacket(int& status) {
        status = av_read_frame(input.get(), packet.get());
        if (status < 0) return false;
        if (packet->stream_index == stream) {
            avcodec_send_packet(codec.get(), packet.get());
            takePictures();
        }
        av_packet_unref(packet.get());
        return true;
    }

    void takePictures() {
        while (avcodec_receive_frame(codec.get(), decoded.get()) == 0) {
            VideoFrame converted = convertFrame(*decoded, scaler);
            if (converted.empty()) continue;
            newest = std::move(converted);
            ++pictures;
        }
    }

    // A movie file or a generated source: the next picture at each grab, from the start again
    // after the last, like a camera that never stops.
    void grabNext() {
        const uint64_t mark = pictures;
        for (int rewinds = 0; rewinds < 2; ++rewinds) {
            int status = 0;
            while (readPacket(status)) {
                if (pictures != mark) return;
            }
            if (status != AVERROR_EOF) return;
            avcodec_send_packet(codec.get(), nullptr);
            takePictures();
            const int64_t start = input->streams[stream]->start_time;
            av_seek_frame(input.get(), stream, start == AV_NOPTS_VALUE ? 0 : start,
                          AVSEEK_FLAG_BACKWARD);
            avcodec_flush_buffers(codec.get());
            if (pictures != mark) return;
        }
    }

    // A camera: everything that has arrived since the last grab, then, since a full ring of
    // buffers holds only the oldest pictures, one taken after that.
    void grabNewest() {
        int packets = 0;
        int status = 0;
        while (packets < kMaxPacketsPerGrab && readPacket(status)) ++packets;
        if (status != AVERROR(EAGAIN)) return;
        // The first wait covers a camera's start; one that never delivers costs it only once.
        const bool first = !waitedForFirst;
        waitedForFirst = true;
        const auto wait = first         ? kFirstPictureWait
                          : packets > 0 ? kFreshPictureWait
                                        : std::chrono::milliseconds(0);
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (std::chrono::steady_clock::now() < deadline) {
            if (readPacket(status)) {
                if (!newest.empty()) return;
                continue;
            }
            if (status != AVERROR(EAGAIN)) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
};

CaptureSource::CaptureSource() : impl_(std::make_unique<Impl>()) {}
CaptureSource::~CaptureSource() = default;

MediaResult CaptureSource::open(const std::string& device, const CaptureFormat& format) {
    close();
    registerDevices();
    Impl& c = *impl_;
    c.device = device;
    const AVInputFormat* inputFormat = nullptr;
    std::string url = device;
    AVDictionary* options = nullptr;
    if (device.rfind(kLavfiPrefix, 0) == 0) {
        inputFormat = av_find_input_format("lavfi");
        url = device.substr(kLavfiPrefix.size());
        if (inputFormat == nullptr) return failure("Cannot open " + device + ": no lavfi input");
    } else if (isLiveDevice(device)) {
        c.live = true;
        inputFormat = av_find_input_format("video4linux2");
        if (inputFormat == nullptr) {
            return failure("Cannot open " + device + ": this FFmpeg has no video4linux2 input");
        }
        if (format.width > 0 && format.height > 0) {
            av_dict_set(
                &options, "video_size",
                (std::to_string(format.width) + "x" + std::to_string(format.height)).c_str(), 0);
        }
        if (!format.pixelFormat.empty()) {
            av_dict_set(&options, "input_format", format.pixelFormat.c_str(), 0);
        }
    }
    AVFormatContext* raw = avformat_alloc_context();
    if (raw == nullptr) return failure("Cannot open " + device + ": out of memory");
    if (c.live) raw->flags |= AVFMT_FLAG_NONBLOCK;
    int status = avformat_open_input(&raw, url.c_str(), inputFormat, &options);
    av_dict_free(&options);
    if (status < 0) {
        close();
        impl_->device = device;
        return failure("Cannot open " + device + ": " + ffmpegErrorText(status));
    }
    c.input.reset(raw);
    MediaResult result{true, {}};
    status = avformat_find_stream_info(c.input.get(), nullptr);
    if (status >= 0) {
        c.stream = av_find_best_stream(c.input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    }
    if (status < 0 || c.stream < 0) {
        result = failure("Cannot open " + device + ": it gives no video");
    } else {
        std::string error;
        c.codec = openDecoder(*c.input->streams[c.stream], error);
        if (!c.codec) result = failure("Cannot open " + device + ": " + error);
    }
    if (!result.ok) {
        close();
        impl_->device = device;
    }
    return result;
}

void CaptureSource::close() { impl_ = std::make_unique<Impl>(); }

bool CaptureSource::isOpen() const { return impl_->input != nullptr; }

const std::string& CaptureSource::device() const { return impl_->device; }

VideoFrame CaptureSource::grab() {
    if (!isOpen()) return {};
    if (impl_->live) {
        impl_->grabNewest();
    } else {
        impl_->grabNext();
    }
    return impl_->newest;
}

}  // namespace media
