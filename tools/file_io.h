#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tools {

struct FileResult {
    bool ok = false;
    std::string error;  // why it failed, for the user: "cannot open 'x': No such file or directory"
};

// Reads a whole file of bytes; nullopt with error set when it cannot be read.
[[nodiscard]] std::optional<std::vector<uint8_t>> readFile(const std::filesystem::path& path,
                                                           std::string& error);

// Writes bytes to a file next to path and renames it into place, so a failed write never leaves
// a half-written file nor destroys the one that was there.
[[nodiscard]] FileResult writeFileReplacing(const std::filesystem::path& path,
                                            std::span<const uint8_t> bytes);

}  // namespace tools
