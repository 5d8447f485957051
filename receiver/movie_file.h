#pragma once

// The ".tv" movie file: picture records one after the other, nothing else.
//
// record   = width w (int32 LE) | height h (int32 LE) | w*h pixels, rows from the top,
//            each pixel the bytes blue, green, red, 0
// R        = 8 + 4*w*h bytes; every record of a file has the first record's size
// count    = file length / R, rounded to the nearest, half a record counting as one
//
// The recorder is the core of the receiver's Record button and recorder label: it returns every
// text the window shows and never touches a widget. The time of a recording's start comes from
// the caller, so file names are reproducible.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace receiver {

inline constexpr int32_t kRecordWidth = 342;     // the inside of the 344 x 256 picture control
inline constexpr int32_t kRecordHeight = 254;    // with its 1-pixel border
inline constexpr int32_t kMaxRecordSide = 4096;  // larger sides are taken for a damaged header
inline constexpr uint64_t kRecordHeaderBytes = 8;
inline constexpr std::string_view kRecordCaption = "Record";
inline constexpr std::string_view kCloseFileCaption = "Close file";

// Bytes of one record of w x h pixels: 347480 for the receiver's 342 x 254.
[[nodiscard]] constexpr uint64_t recordBytes(int32_t width, int32_t height) {
    return kRecordHeaderBytes + 4 * static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
}

struct MovieResult {
    bool ok = true;
    std::string error;  // for the user, naming the file: "Cannot create x.tv: Permission denied"
};

// Local wall-clock time of a recording's start, as the user's clock shows it.
struct LocalDateTime {
    int year = 2000;  // 4 digits in the file name
    int month = 1;    // 1..12
    int day = 1;      // 1..31
    int hour = 0;     // 0..23
    int minute = 0;   // 0..59
    int second = 0;   // 0..59 (60 for a leap second is written as it comes)
};

// "Vistrel_MM-DD-YYYY_HHMMSS.tv"; copy 2 and up (a second start within the same second) add
// "-2", "-3", ... before the extension.
[[nodiscard]] std::string movieFileName(const LocalDateTime& when, int copy = 1);

// One record's bytes. Pixels are 0x00RRGGBB (encoder::Picture, QImage Format_RGB32); their top
// byte is not written, the fourth byte of each pixel is always 0. pixels holds w*h values.
[[nodiscard]] std::vector<uint8_t> encodeRecord(int32_t width, int32_t height,
                                                std::span<const uint32_t> pixels);

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// What the Record button and the recorder label need. A recording that ends on an error keeps
// every complete record in its file; the label then shows why it ended.
struct RecorderState {
    bool recording = false;         // "Close file" on the button while set
    std::string fileName;           // shown in the label; empty before the first recording
    std::filesystem::path path;     // the directory joined with fileName
    int32_t savedFrames = 0;        // records appended since the start, 0 when stopped
    std::string label;              // recorder label text; kept when recording stops
    FileHandle file;                // open only while recording
    int32_t width = 0, height = 0;  // the first record's size; later records must match
    uint64_t completeBytes = 0;     // file length after the last whole record
};

[[nodiscard]] std::string_view recordButtonCaption(const RecorderState& recorder);

// Creates a new movie file in directory (empty: the current directory). The file is created
// exclusively: an existing file is never opened, and a name that is taken moves on to the next
// copy number, so a recording never overwrites an earlier one. On failure recording stays off
// and the label shows the error. A recording already running is stopped first.
[[nodiscard]] MovieResult startRecording(RecorderState& recorder, const LocalDateTime& when,
                                         const std::filesystem::path& directory = {});

// Appends one record while recording (a no-op otherwise) and hands it to the operating system
// before returning, so a crash of the program keeps every record appended. A record whose size
// differs from the first is refused and nothing is written: it would misplace every later one.
// A failed write ends the recording: the torn record is cut off, the file closed, and the label
// shows the error in place of the count.
[[nodiscard]] MovieResult appendRecord(RecorderState& recorder, int32_t width, int32_t height,
                                       std::span<const uint32_t> pixels);

// Closes the file; the label keeps its last text and the count returns to 0.
[[nodiscard]] MovieResult stopRecording(RecorderState& recorder);

// Record button: starts recording when it is off, stops it when it is on.
[[nodiscard]] MovieResult toggleRecording(RecorderState& recorder, const LocalDateTime& when,
                                          const std::filesystem::path& directory = {});

// Reads records of a movie file in any order; the player keeps one open while it plays.
// Every record is read with the first record's size. Record numbers run from 1 to recordCount().
class MovieReader {
public:
    // Closes any movie open before. Refuses a file that is shorter than a record header, whose
    // first record claims a width or height outside 1..4096, or whose length rounds to no record
    // at all; the reader is then closed.
    [[nodiscard]] MovieResult open(const std::filesystem::path& path);
    void close();

    [[nodiscard]] bool isOpen() const { return file_.is_open(); }
    [[nodiscard]] int32_t width() const { return width_; }
    [[nodiscard]] int32_t height() const { return height_; }
    [[nodiscard]] uint64_t recordSize() const { return recordBytes_; }
    [[nodiscard]] int32_t recordCount() const { return count_; }
    [[nodiscard]] uint64_t fileBytes() const { return fileBytes_; }

    // Pixels of record number (1..recordCount()) as 0x00RRGGBB, width*height of them, rows from
    // the top. The last record may be cut short; its missing pixels, and those lost to a read
    // error, are black. Fails only for a number out of range or a closed reader.
    [[nodiscard]] MovieResult readRecord(int32_t number, std::vector<uint32_t>& pixels);

private:
    std::ifstream file_;  // 64-bit offsets on every platform: long recordings pass 2 GiB
    std::filesystem::path path_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    uint64_t recordBytes_ = 0;
    int32_t count_ = 0;
    uint64_t fileBytes_ = 0;
};

}  // namespace receiver
