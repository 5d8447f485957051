// The ".tv" reader over any file a user can hand the player. Checks properties, not only
// crashes:
// - a file is either refused (reader closed) or opened with sides in 1..4096, at least one
//   record, and a count that agrees with the file's length;
// - every record 1..count reads back with width * height pixels, and a record read twice is
//   the same; numbers outside 1..count fail and leave the reader usable;
// - a whole record reads back exactly as its bytes are in the file (blue, green, red; the
//   fourth byte ignored).
//
// Input: the file's bytes as they are. The file is written to a temporary folder of its own.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "receiver/movie_file.h"

namespace {

void require(bool property, const char* what) {
    if (!property) {
        std::fprintf(stderr, "movie_reader_fuzz: property violated: %s\n", what);
        std::abort();
    }
}

const std::filesystem::path& scratchFile() {
    static const std::filesystem::path path = [] {
        const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                          ("movie_reader_fuzz." + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        return dir / "input.tv";
    }();
    return path;
}

uint32_t pixelAt(const uint8_t* data, size_t size, uint64_t offset) {
    // Bytes past the end read as 0: the reader shows what a cut record lacks as black.
    const auto byte = [&](uint64_t i) -> uint32_t { return i < size ? data[i] : 0; };
    return byte(offset) | byte(offset + 1) << 8 | byte(offset + 2) << 16;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path& path = scratchFile();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        require(out.good(), "cannot write the scratch file");
    }

    receiver::MovieReader reader;
    const receiver::MovieResult opened = reader.open(path);
    if (!opened.ok) {
        require(!reader.isOpen(), "a refused file leaves the reader open");
        require(!opened.error.empty(), "a refusal without a reason");
        return 0;
    }
    const int32_t w = reader.width();
    const int32_t h = reader.height();
    require(w >= 1 && w <= receiver::kMaxRecordSide && h >= 1 && h <= receiver::kMaxRecordSide,
            "sides outside 1..4096");
    require(reader.recordSize() == receiver::recordBytes(w, h), "record size disagrees");
    require(reader.recordCount() >= 1, "an opened movie without records");
    require(reader.fileBytes() == size, "file length disagrees");
    // The count rounds the file's length to the nearest record, half a record counting as one.
    const uint64_t r = reader.recordSize();
    require(static_cast<uint64_t>(reader.recordCount()) == (size + r / 2) / r,
            "count is not the length rounded to records");

    std::vector<uint32_t> pixels;
    std::vector<uint32_t> again;
    const int32_t count = reader.recordCount();
    // Large movies: the first, the last and one in the middle are enough.
    for (const int32_t number : {1, count / 2 + 1, count}) {
        require(reader.readRecord(number, pixels).ok, "a record in range fails");
        require(pixels.size() == static_cast<size_t>(w) * static_cast<size_t>(h),
                "a record with the wrong number of pixels");
        require(reader.readRecord(number, again).ok && again == pixels, "a record reads twice");
        const uint64_t start =
            (static_cast<uint64_t>(number) - 1) * r + receiver::kRecordHeaderBytes;
        for (size_t i = 0; i < pixels.size(); i += 1 + pixels.size() / 64) {
            require((pixels[i] & 0xFF000000u) == 0, "a pixel with a top byte");
            require(pixels[i] == pixelAt(data, size, start + 4 * i),
                    "a pixel differs from the file");
        }
    }
    require(!reader.readRecord(0, pixels).ok, "record 0 reads");
    require(!reader.readRecord(count + 1, pixels).ok, "a record past the end reads");
    require(reader.readRecord(1, pixels).ok, "a failed read leaves the reader unusable");
    return 0;
}
