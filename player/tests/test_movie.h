#pragma once

// ".tv" movies for the player's tests, written with the receiver's record encoder, in a folder
// of their own that is removed afterwards.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "media/tests/temp_dir.h"

namespace player::test {

using media::test::TempDir;

// Runs with the current directory set to dir, restoring the old one afterwards.
class InDirectory {
public:
    explicit InDirectory(const std::filesystem::path& dir);
    ~InDirectory();
    InDirectory(const InDirectory&) = delete;
    InDirectory& operator=(const InDirectory&) = delete;

private:
    std::filesystem::path previous_;
};

// Pixels 0x00RRGGBB of record number k (1..) of a seeded movie: every pixel differs from its
// neighbours and from the same pixel of other records.
[[nodiscard]] std::vector<uint32_t> seededRecord(uint64_t seed, int number, int width, int height);

// Writes records of width x height; returns the pixels of each, in order.
std::vector<std::vector<uint32_t>> writeSeededMovie(const std::filesystem::path& path,
                                                    uint64_t seed, int count, int width,
                                                    int height);
// Writes the given records (each width * height pixels).
void writeMovie(const std::filesystem::path& path, int width, int height,
                const std::vector<std::vector<uint32_t>>& records);
void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
[[nodiscard]] std::vector<uint8_t> readBytes(const std::filesystem::path& path);

// A record of one flat colour.
[[nodiscard]] std::vector<uint32_t> flatRecord(uint32_t pixel, int width, int height);

}  // namespace player::test
