#pragma once

// The still-picture source: fitting a dropped picture into the 256 x 256 picture area and
// rendering the area exactly as the encoder reads it.

#include <QImage>
#include <QString>
#include <cstdint>

#include "encoder/picture.h"

class QIODevice;

namespace sender {

inline constexpr int kPictureArea = 256;              // side of the square the encoder reads
inline constexpr QRgb kStillBackground = 0xFFF0F0F0;  // opaque grey 240 around a fitted picture

// Fits a source rectangle into a destination box keeping its aspect ratio: (x, y, w, h) is the
// fitted rectangle, centred. The scale is a single-precision float, so a 1000 x 10 picture in a
// 256 x 256 box becomes 256 x 3 at y = 126. A zero source side leaves the scale at 0.
void SKICONISE(int32_t srcWidth, int32_t srcHeight, int32_t dstWidth, int32_t dstHeight, int32_t& x,
               int32_t& y, int32_t& w, int32_t& h);

// A picture file as a viewer shows it: decoded by Qt's image plugins and turned upright as its
// EXIF orientation says. A null image comes with Qt's reason.
struct LoadedPicture {
    QImage image;
    QString error;  // empty when the image is not null
};
[[nodiscard]] LoadedPicture loadPicture(QIODevice& device);
[[nodiscard]] LoadedPicture loadPicture(const QString& path);

enum class Aspect { Stretch, Preserve };

// The 256 x 256 picture area with the still picture drawn into it: the grey background, then
// the image stretched over the whole square or fitted into it with SKICONISE. A null image
// (nothing dropped yet) gives the bare background. Smooth scaling; a 256 x 256 image in stretch
// mode comes through pixel for pixel. The result is Format_RGB32.
[[nodiscard]] QImage drawStill(const QImage& image, Aspect aspect);

// The encoder's source picture from the picture area: a straight copy of each pixel's blue,
// green and red bytes. The area must be 256 x 256.
[[nodiscard]] encoder::SourcePicture sourceFromArea(const QImage& area);

// The 256 x 256 source picture as a Format_RGB32 image: sourceFromArea's inverse.
[[nodiscard]] QImage imageFromSource(const encoder::SourcePicture& source);

// The decoded N x N picture as an image with the same pixels.
[[nodiscard]] QImage imageFromPicture(const encoder::Picture& picture);

}  // namespace sender
