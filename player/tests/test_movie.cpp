#include "player/tests/test_movie.h"

#include <fstream>
#include <iterator>

#include "encoder/tests/seeded_bytes.h"
#include "receiver/movie_file.h"

namespace player::test {

namespace fs = std::filesystem;

InDirectory::InDirectory(const fs::path& dir) : previous_(fs::current_path()) {
    fs::current_path(dir);
}

InDirectory::~InDirectory() {
    std::error_code ec;
    fs::current_path(previous_, ec);
}

std::vector<uint32_t> seededRecord(uint64_t seed, int number, int width, int height) {
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    const std::vector<uint8_t> bytes = encoder::testing_support::seededBytes(
        seed * 1000003u + static_cast<uint64_t>(number), count * 3);
    std::vector<uint32_t> pixels(count);
    for (size_t i = 0; i < count; ++i) {
        pixels[i] = static_cast<uint32_t>(bytes[3 * i]) << 16 |
                    static_cast<uint32_t>(bytes[3 * i + 1]) << 8 | bytes[3 * i + 2];
    }
    return pixels;
}

std::vector<std::vector<uint32_t>> writeSeededMovie(const fs::path& path, uint64_t seed, int count,
                                                    int width, int height) {
    std::vector<std::vector<uint32_t>> records;
    for (int k = 1; k <= count; ++k) {
        records.push_back(seededRecord(seed, k, width, height));
    }
    writeMovie(path, width, height, records);
    return records;
}

void writeMovie(const fs::path& path, int width, int height,
                const std::vector<std::vector<uint32_t>>& records) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const std::vector<uint32_t>& pixels : records) {
        const std::vector<uint8_t> bytes = receiver::encodeRecord(width, height, pixels);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
}

void writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<uint32_t> flatRecord(uint32_t pixel, int width, int height) {
    return std::vector<uint32_t>(static_cast<size_t>(width) * static_cast<size_t>(height), pixel);
}

}  // namespace player::test
