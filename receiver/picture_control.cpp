#include "receiver/picture_control.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <string>

namespace receiver {

namespace {

// Format_RGB32 promises 0xFF in the top byte and some of Qt's drawing paths read it; the decoded
// pixels leave it 0, so they are copied rather than wrapped.
QImage opaqueImage(const encoder::Picture& picture) {
    const int side = picture.size;
    QImage image(side, side, QImage::Format_RGB32);
    for (int y = 0; y < side; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < side; ++x) {
            line[x] = 0xFF000000u | picture.at(x, y);
        }
    }
    return image;
}

}  // namespace

bool isStretchedSide(int side) {
    switch (side) {
        case 32:
        case 48:
        case 64:
        case 96:
        case 128:
        case 256:
            return true;
        default:
            return false;
    }
}

QImage blankPictureControl() {
    QImage inside(kInsideWidth, kInsideHeight, QImage::Format_RGB32);
    inside.fill(kBlankColour);
    return inside;
}

QFont captionFont() {
    QFont font(QString::fromLatin1("Lucida Console"));
    font.setPixelSize(kCaptionPixels);
    if (!QFontInfo(font).exactMatch()) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPixelSize(kCaptionPixels);
    }
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

void drawPicture(QImage& inside, const encoder::Picture& picture, int lengthBytes) {
    QPainter painter(&inside);
    const int side = picture.size;
    if (side > 0 && picture.pixels.size() == static_cast<size_t>(side) * side) {
        const QImage image = opaqueImage(picture);
        if (isStretchedSide(side)) {
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(QRect(0, 0, kStretchWidth, kStretchHeight), image);
        } else {
            painter.drawImage(QPoint(0, 0), image);
        }
    }
    const std::string caption = std::to_string(side) + " " + std::to_string(lengthBytes);
    painter.setFont(captionFont());
    painter.setPen(QColor::fromRgb(kCaptionColour));
    painter.setBackgroundMode(Qt::TransparentMode);
    // The position is the top of the character cell, not the baseline Qt draws text from.
    const int baseline = kCaptionY + QFontMetrics(painter.font()).ascent();
    painter.drawText(QPoint(kCaptionX, baseline), QString::fromStdString(caption));
}

QImage pictureControlImage(const encoder::Picture& picture, int lengthBytes) {
    QImage inside = blankPictureControl();
    drawPicture(inside, picture, lengthBytes);
    return inside;
}

std::vector<uint32_t> recordPixels(const QImage& inside) {
    const QImage image = inside.format() == QImage::Format_RGB32
                             ? inside
                             : inside.convertToFormat(QImage::Format_RGB32);
    const int width = image.width();
    const int height = image.height();
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            pixels[static_cast<size_t>(y) * width + x] = line[x] & 0x00FFFFFFu;
        }
    }
    return pixels;
}

}  // namespace receiver
