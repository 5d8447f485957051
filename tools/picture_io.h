#pragma once

// Pictures in and out of the command line with Qt's image plugins.

#include <QImage>
#include <filesystem>

#include "tools/file_io.h"

namespace tools {

// Writes the image as PNG, replacing path only once the whole file is written.
[[nodiscard]] FileResult writePng(const std::filesystem::path& path, const QImage& image);

}  // namespace tools
