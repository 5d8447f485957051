#include "receiver/movie_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>

namespace receiver {

namespace {

// Enough for a burst of starts within one second, few enough that a directory where every name
// is taken (or exclusive creation misbehaves) ends the search quickly.
constexpr int kMaxCopies = 999;

MovieResult failure(std::string message) { return {false, std::move(message)}; }

std::string systemError(int err) {
    return err != 0 ? std::string(std::strerror(err)) : std::string("unknown error");
}

// One leading blank for a count of 0 or more, the minus sign in its place otherwise.
std::string blankLed(int64_t value) {
    return value >= 0 ? " " + std::to_string(value) : std::to_string(value);
}

void putLe32(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
}

int32_t getLe32(const uint8_t* in) {
    const uint32_t value = static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
                           (static_cast<uint32_t>(in[2]) << 16) |
                           (static_cast<uint32_t>(in[3]) << 24);
    return static_cast<int32_t>(value);
}

// The recording is over: keep what was complete, drop the file handle, say why.
MovieResult endOnError(RecorderState& recorder, std::string message) {
    recorder.file.reset();
    // A torn record would be counted as a whole one by a reader once half of it is there, and
    // would show as a picture cut off by black; the file is cut back to its last whole record.
    std::error_code ec;
    std::filesystem::resize_file(recorder.path, recorder.completeBytes, ec);
    recorder.recording = false;
    recorder.savedFrames = 0;
    recorder.label = message;
    return failure(std::move(message));
}

}  // namespace

std::string movieFileName(const LocalDateTime& when, int copy) {
    char text[64];
    std::snprintf(text, sizeof text, "Vistrel_%02d-%02d-%04d_%02d%02d%02d", when.month, when.day,
                  when.year, when.hour, when.minute, when.second);
    std::string name = text;
    if (copy > 1) {
        name += "-" + std::to_string(copy);
    }
    return name + ".tv";
}

std::vector<uint8_t> encodeRecord(int32_t width, int32_t height, std::span<const uint32_t> pixels) {
    const int32_t w = std::max(width, 0);
    const int32_t h = std::max(height, 0);
    std::vector<uint8_t> bytes(recordBytes(w, h), 0);
    putLe32(bytes.data(), static_cast<uint32_t>(w));
    putLe32(bytes.data() + 4, static_cast<uint32_t>(h));
    const size_t count = std::min(pixels.size(), static_cast<size_t>(w) * static_cast<size_t>(h));
    uint8_t* out = bytes.data() + kRecordHeaderBytes;
    for (size_t i = 0; i < count; ++i, out += 4) {
        out[0] = static_cast<uint8_t>(pixels[i]);
        out[1] = static_cast<uint8_t>(pixels[i] >> 8);
        out[2] = static_cast<uint8_t>(pixels[i] >> 16);
    }
    return bytes;
}

std::string_view recordButtonCaption(const RecorderState& recorder) {
    return recorder.recording ? kCloseFileCaption : kRecordCaption;
}

MovieResult startRecording(RecorderState& recorder, const LocalDateTime& when,
                           const std::filesystem::path& directory) {
    if (recorder.recording) {
        MovieResult stopped = stopRecording(recorder);
        if (!stopped.ok) {
            return stopped;
        }
    }
    for (int copy = 1; copy <= kMaxCopies; ++copy) {
        const std::string name = movieFileName(when, copy);
        const std::filesystem::path path = directory / name;
        errno = 0;
        // "x": create or fail, never open a file that is there. Checking first and creating
        // after would leave a gap in which another recorder could take the name.
        FileHandle file(std::fopen(path.string().c_str(), "wbx"));
        const int err = errno;
        if (file == nullptr) {
            if (err == EEXIST) {
                continue;
            }
            recorder.label = "Cannot create " + path.string() + ": " + systemError(err);
            return failure(recorder.label);
        }
        recorder.recording = true;
        recorder.fileName = name;
        recorder.path = path;
        recorder.savedFrames = 0;
        recorder.label = "0 frames saved to " + name;
        recorder.file = std::move(file);
        recorder.width = 0;
        recorder.height = 0;
        recorder.completeBytes = 0;
        return {};
    }
    recorder.label = "Cannot create " + (directory / movieFileName(when)).string() +
                     ": every copy number up to " + std::to_string(kMaxCopies) + " is taken";
    return failure(recorder.label);
}

MovieResult appendRecord(RecorderState& recorder, int32_t width, int32_t height,
                         std::span<const uint32_t> pixels) {
    if (!recorder.recording) {
        return {};
    }
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width < 1 || height < 1 || width > kMaxRecordSide || height > kMaxRecordSide ||
        pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height)) {
        recorder.label = "Frame not saved: a " + size + " picture cannot hold " +
                         std::to_string(pixels.size()) + " pixels";
        return failure(recorder.label);
    }
    if (recorder.savedFrames > 0 && (width != recorder.width || height != recorder.height)) {
        recorder.label = "Frame not saved: " + size + " in a movie of " +
                         std::to_string(recorder.width) + " x " + std::to_string(recorder.height) +
                         " pictures";
        return failure(recorder.label);
    }
    const std::vector<uint8_t> bytes = encodeRecord(width, height, pixels);
    errno = 0;
    const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), recorder.file.get());
    int err = errno;
    // fflush hands the record to the operating system: a crash of the program after this loses
    // nothing. Disk full often shows only here, when the buffered tail is written.
    if (written == bytes.size()) {
        errno = 0;
        if (std::fflush(recorder.file.get()) == 0) {
            recorder.completeBytes += bytes.size();
            recorder.width = width;
            recorder.height = height;
            ++recorder.savedFrames;
            recorder.label =
                blankLed(recorder.savedFrames) + " frames saved to " + recorder.fileName;
            return {};
        }
        err = errno;
    }
    return endOnError(
        recorder, "Recording stopped: cannot write " + recorder.fileName + ": " + systemError(err));
}

MovieResult stopRecording(RecorderState& recorder) {
    recorder.savedFrames = 0;
    if (!recorder.recording) {
        return {};
    }
    recorder.recording = false;
    errno = 0;
    const int closed = std::fclose(recorder.file.release());
    if (closed != 0) {
        const int err = errno;
        recorder.label = "Cannot close " + recorder.fileName + ": " + systemError(err);
        return failure(recorder.label);
    }
    return {};
}

MovieResult toggleRecording(RecorderState& recorder, const LocalDateTime& when,
                            const std::filesystem::path& directory) {
    return recorder.recording ? stopRecording(recorder) : startRecording(recorder, when, directory);
}

void MovieReader::close() {
    file_.close();
    file_.clear();
    path_.clear();
    width_ = 0;
    height_ = 0;
    recordBytes_ = 0;
    count_ = 0;
    fileBytes_ = 0;
}

MovieResult MovieReader::open(const std::filesystem::path& path) {
    close();
    const std::string name = path.string();
    std::error_code ec;
    const uintmax_t length = std::filesystem::file_size(path, ec);
    if (ec) {
        return failure("Cannot open " + name + ": " + ec.message());
    }
    errno = 0;
    file_.open(path, std::ios::binary);
    if (!file_.is_open()) {
        const int err = errno;
        close();
        return failure("Cannot open " + name + ": " + systemError(err));
    }
    uint8_t header[kRecordHeaderBytes] = {};
    if (length < kRecordHeaderBytes ||
        !file_.read(reinterpret_cast<char*>(header), sizeof header)) {
        close();
        return failure("Not a movie file: " + name + " is shorter than a picture's size");
    }
    const int32_t width = getLe32(header);
    const int32_t height = getLe32(header + 4);
    if (width < 1 || height < 1 || width > kMaxRecordSide || height > kMaxRecordSide) {
        close();
        return failure("Not a movie file: " + name + " begins with a picture of " +
                       std::to_string(width) + " x " + std::to_string(height) + " pixels");
    }
    const uint64_t record = recordBytes(width, height);
    // R is a multiple of 4, so half a record is exact and "half or more counts" is a plain
    // round-half-up.
    const uint64_t count = (length + record / 2) / record;
    if (count == 0) {
        close();
        return failure("Not a movie file: " + name + " holds less than half a picture of " +
                       std::to_string(width) + " x " + std::to_string(height) + " pixels");
    }
    if (count > static_cast<uint64_t>(INT32_MAX)) {
        close();
        return failure("Cannot open " + name + ": too many pictures");
    }
    path_ = path;
    width_ = width;
    height_ = height;
    recordBytes_ = record;
    count_ = static_cast<int32_t>(count);
    fileBytes_ = length;
    return {};
}

MovieResult MovieReader::readRecord(int32_t number, std::vector<uint32_t>& pixels) {
    if (!isOpen()) {
        return failure("No movie file is open");
    }
    if (number < 1 || number > count_) {
        return failure("Picture " + std::to_string(number) + " is not in " + path_.string() +
                       " (1 to " + std::to_string(count_) + ")");
    }
    const size_t pixelCount = static_cast<size_t>(width_) * static_cast<size_t>(height_);
    const uint64_t start = static_cast<uint64_t>(number - 1) * recordBytes_ + kRecordHeaderBytes;
    const uint64_t present = start < fileBytes_ ? fileBytes_ - start : 0;
    std::vector<uint8_t> bytes(pixelCount * 4, 0);
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(present, bytes.size()));
    file_.clear();
    if (wanted > 0 && file_.seekg(static_cast<std::streamoff>(start))) {
        file_.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(wanted));
    }
    file_.clear();
    pixels.resize(pixelCount);
    const uint8_t* in = bytes.data();
    for (size_t i = 0; i < pixelCount; ++i, in += 4) {
        pixels[i] = static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
                    (static_cast<uint32_t>(in[2]) << 16);
    }
    return {};
}

}  // namespace receiver
