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

}  // namespace tools
