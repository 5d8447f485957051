#include "tools/picture_io.h"

#include <QBuffer>
#include <QByteArray>

namespace tools {

FileResult writePng(const std::filesystem::path& path, const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        return {false, "cannot encode '" + path.string() + "' as PNG"};
    }
    return writeFileReplacing(path, std::span(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                              static_cast<size_t>(bytes.size())));
}

QImage imageFromSource(const encoder::SourcePicture& source) {
    QImage image(encoder::kSourceSide, encoder::kSourceSide, QImage::Format_RGB32);
    for (int y = 0; y < encoder::kSourceSide; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < encoder::kSourceSide; ++x) {
            line[x] = qRgb(source.red(x, y), source.green(x, y), source.blue(x, y));
        }
    }
    return image;
}

}  // namespace tools
