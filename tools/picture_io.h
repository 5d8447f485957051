#pragma once

// Pictures in and out of the command line with Qt's image plugins.

#include <QImage>
#include <filesystem>

#include "encoder/picture.h"
#include "tools/file_io.h"

namespace tools {

// Writes the image as PNG, replacing path only once the whole file is written.
[[nodiscard]] FileResult writePng(const std::filesystem::path& path, const QImage& image);

// The 256 x 256 source picture as an image.
[[nodiscard]] QImage imageFromSource(const encoder::SourcePicture& source);

}  // namespace tools
