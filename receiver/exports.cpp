#include "receiver/exports.h"

#include <dlfcn.h>

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/lzw.h"

namespace receiver {

namespace {

constexpr size_t kMaxVersionDigits = 9;  // fits in 32 bits; longer is a date or a hash

using Coder = void (*)(std::span<const uint8_t>, std::vector<uint8_t>&);

int64_t runCoder(Coder coder, const uint8_t* input, int64_t length, uint8_t* output,
                 int64_t capacity) {
    if (length < 0 || capacity < 0) return -1;
    if ((input == nullptr && length > 0) || (output == nullptr && capacity > 0)) return -1;
    std::vector<uint8_t> result;
    coder(std::span<const uint8_t>(input, static_cast<size_t>(length)), result);
    const size_t copied = std::min(result.size(), static_cast<size_t>(capacity));
    std::copy_n(result.begin(), copied, output);
    return static_cast<int64_t>(result.size());
}

}  // namespace

int versionSuffix(std::string_view name, std::span<uint32_t> numbers) {
    // Walk the groups from the end back while each is ".digits".
    std::vector<uint32_t> found;
    size_t end = name.size();
    while (end > 0) {
        const size_t dot = name.rfind('.', end - 1);
        if (dot == std::string_view::npos) break;
        const std::string_view group = name.substr(dot + 1, end - dot - 1);
        const bool digits =
            !group.empty() && group.size() <= kMaxVersionDigits &&
            std::all_of(group.begin(), group.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits) break;
        found.push_back(static_cast<uint32_t>(std::stoul(std::string(group))));
        end = dot;
    }
    std::reverse(found.begin(), found.end());
    const size_t count = std::min(found.size(), numbers.size());
    std::copy_n(found.begin(), count, numbers.begin());
    return static_cast<int>(found.size());
}

std::string systemLibraryFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&std::fopen), &info) != 0 && info.dli_fname != nullptr) {
        const std::filesystem::path libc(info.dli_fname);
        if (libc.is_absolute()) return libc.parent_path().string();
    }
    std::error_code ec;
    return std::filesystem::is_directory("/usr/lib", ec) ? "/usr/lib" : "/lib";
}

}  // namespace receiver

extern "C" {

int64_t LZW(const uint8_t* input, int64_t length, uint8_t* output, int64_t capacity) {
    return receiver::runCoder(codec::LZW, input, length, output, capacity);
}

int64_t UNLZW(const uint8_t* input, int64_t length, uint8_t* output, int64_t capacity) {
    return receiver::runCoder(codec::UNLZW, input, length, output, capacity);
}

int INITCOMCTL32(void) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return 0;
    return QApplication::style() != nullptr ? 1 : 0;
}

int GETSYSFILEVER(const char* fileName, uint32_t* numbers, int capacity) {
    if (fileName == nullptr) return -1;
    const std::string_view name(fileName);
    // A bare name only: "../" or a folder would reach outside the system library folder.
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos) {
        return -1;
    }
    std::error_code ec;
    const std::filesystem::path resolved = std::filesystem::canonical(
        std::filesystem::path(receiver::systemLibraryFolder()) / std::string(name), ec);
    if (ec || !std::filesystem::is_regular_file(resolved, ec)) return -1;
    const size_t room = numbers != nullptr && capacity > 0 ? static_cast<size_t>(capacity) : 0;
    return receiver::versionSuffix(resolved.filename().string(),
                                   std::span<uint32_t>(numbers, room));
}
}
