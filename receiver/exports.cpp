#include "receiver/exports.h"

#include <dlfcn.h>

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace receiver {

namespace {

constexpr size_t kMaxVersionDigits = 9;  // fits in 32 bits; longer is a date or a hash

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
