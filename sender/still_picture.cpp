#include "sender/still_picture.h"

#include <QImageReader>
#include <QPainter>
#include <algorithm>

#include "codec/wavelet.h"

namespace sender {

namespace {

// Side of the fitted rectangle: the float scale times the side, rounded half to even.
int32_t scaledSide(float scale, int32_t side) {
    return codec::roundToInt(static_cast<long double>(scale) * side);
}

}  // namespace

void SKICONISE(int32_t srcWidth, int32_t srcHeight, int32_t dstWidth, int32_t dstHeight, int32_t& x,
               int32_t& y, int32_t& w, int32_t& h) {
    float scale = 0.0f;
    if (srcWidth != 0) {
        scale = static_cast<float>(dstWidth) / static_cast<float>(srcWidth);
    }
    w = scaledSide(scale, srcWidth);
    h = scaledSide(scale, srcHeight);
    if (dstHeight < h) {
        if (srcHeight != 0) {
            scale = static_cast<float>(dstHeight) / static_cast<float>(srcHeight);
        }
        w = scaledSide(scale, srcWidth);
        h = scaledSide(scale, srcHeight);
    }
    x = (dstWidth - w) / 2;
    y = (dstHeight - h) / 2;
}

namespace {

LoadedPicture readPicture(QImageReader& reader) {
    reader.setAutoTransform(true);
    LoadedPicture loaded{reader.read(), {}};
    if (loaded.image.isNull()) {
        loaded.error = reader.errorString();
        // Qt leaves the reason empty for a few refusals; a caller still needs words to show.
        if (loaded.error.isEmpty()) loaded.error = QStringLiteral("not a picture Qt can read");
    }
    return loaded;
}

}  // namespace

LoadedPicture loadPicture(QIODevice& device) {
    QImageReader reader(&device);
    return readPicture(reader);
}

LoadedPicture loadPicture(const QString& path) {
    QImageReader reader(path);
    return readPicture(reader);
}

QImage drawStill(const QImage& image, Aspect aspect) {
    QImage area(kPictureArea, kPictureArea, QImage::Format_RGB32);
    area.fill(kStillBackground);
    if (image.isNull()) {
        return area;
    }
    QRect target(0, 0, kPictureArea, kPictureArea);
    if (aspect == Aspect::Preserve) {
        int32_t x = 0, y = 0, w = 0, h = 0;
        SKICONISE(image.width(), image.height(), kPictureArea, kPictureArea, x, y, w, h);
        target = QRect(x, y, w, h);
    }
    QPainter painter(&area);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image);
    return area;
}

encoder::SourcePicture sourceFromArea(const QImage& area) {
    const QImage rgb = area.convertToFormat(QImage::Format_RGB32);
    encoder::SourcePicture source;
    const int side = std::min({rgb.width(), rgb.height(), encoder::kSourceSide});
    for (int y = 0; y < side; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < side; ++x) {
            source.set(x, y, static_cast<uint8_t>(qRed(line[x])),
                       static_cast<uint8_t>(qGreen(line[x])), static_cast<uint8_t>(qBlue(line[x])));
        }
    }
    return source;
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

QImage imageFromPicture(const encoder::Picture& picture) {
    QImage image(picture.size, picture.size, QImage::Format_RGB32);
    for (int y = 0; y < picture.size; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < picture.size; ++x) {
            line[x] = 0xFF000000u | picture.at(x, y);
        }
    }
    return image;
}

}  // namespace sender
