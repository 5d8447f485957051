#include "tools/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

namespace tools {

namespace {

std::string describe(const std::string& what, const std::filesystem::path& path, int err) {
    return what + " '" + path.string() + "': " + std::strerror(err);
}

}  // namespace

std::optional<std::vector<uint8_t>> readFile(const std::filesystem::path& path,
                                             std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = describe("cannot read", path, EISDIR);
        return std::nullopt;
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = describe("cannot open", path, errno != 0 ? errno : ENOENT);
        return std::nullopt;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    if (in.bad()) {
        error = describe("cannot read", path, errno != 0 ? errno : EIO);
        return std::nullopt;
    }
    return bytes;
}

FileResult writeFileReplacing(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
    std::filesystem::path temp = path;
    temp += ".part";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr) {
        return {false, describe("cannot create", temp, errno)};
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const int writeErr = errno;
    const bool closed = std::fclose(f) == 0;
    const int closeErr = errno;
    if (!written || !closed) {
        std::remove(temp.c_str());
        return {false, describe("cannot write", path, !written ? writeErr : closeErr)};
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::remove(temp.c_str());
        return {false, "cannot replace '" + path.string() + "': " + ec.message()};
    }
    return {true, {}};
}

}  // namespace tools
