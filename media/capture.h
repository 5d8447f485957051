#pragma once

// Webcam capture with FFmpeg libavdevice: video4linux2 on Linux (device "/dev/video0" by
// default), the platform's own capture input elsewhere. Tests open a movie file or an FFmpeg
// "lavfi" test source in place of a camera.

#include <memory>
#include <string>
#include <vector>

#include "media/video_frame.h"

namespace media {

inline constexpr const char* kDefaultCaptureDevice = "/dev/video0";

struct CaptureDevice {
    std::string path;  // what open() takes: "/dev/video0"
    std::string name;  // for menus: the driver's card name, else the path
};

struct CaptureFormat {
    int width = 0;
    int height = 0;
    std::string pixelFormat;  // FFmpeg's name: "yuyv422", "mjpeg"
};

// The capture devices present now; empty when there are none.
[[nodiscard]] std::vector<CaptureDevice> listCaptureDevices();
// The sizes and pixel formats a device offers; empty when it cannot be asked.
[[nodiscard]] std::vector<CaptureFormat> listCaptureFormats(const std::string& device);

class CaptureSource {
public:
    CaptureSource();
    ~CaptureSource();
    CaptureSource(const CaptureSource&) = delete;
    CaptureSource& operator=(const CaptureSource&) = delete;

    // A device path, or "lavfi:<graph>" / a file path for tests. format may be left default
    // (width 0) for the device's own. Closes what was open first.
    MediaResult open(const std::string& device, const CaptureFormat& format = {});
    void close();
    [[nodiscard]] bool isOpen() const;
    [[nodiscard]] const std::string& device() const;

    // The newest picture the device has; empty when closed or nothing came.
    [[nodiscard]] VideoFrame grab();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace media
