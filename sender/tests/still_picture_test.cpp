#include "sender/still_picture.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>

namespace sender {
namespace {

struct Fit {
    int32_t x, y, w, h;
    bool operator==(const Fit&) const = default;
};

Fit fit(int32_t srcW, int32_t srcH, int32_t dstW = 256, int32_t dstH = 256) {
    Fit f{};
    SKICONISE(srcW, srcH, dstW, dstH, f.x, f.y, f.w, f.h);
    return f;
}

void PrintTo(const Fit& f, std::ostream* os) {
    *os << "(" << f.x << ", " << f.y << ", " << f.w << " x " << f.h << ")";
}

TEST(Skiconise, FitsLandscapeAndPortraitIntoTheBox) {
    EXPECT_EQ(fit(640, 480), (Fit{0, 32, 256, 192}));
    EXPECT_EQ(fit(480, 640), (Fit{32, 0, 192, 256}));
    EXPECT_EQ(fit(256, 256), (Fit{0, 0, 256, 256}));
    EXPECT_EQ(fit(100, 100), (Fit{0, 0, 256, 256}));
}

TEST(Skiconise, RoundsTheScaledSideHalfToEven) {
    // 0.256 * 10 = 2.56 rounds to 3 and the strip is centred at (256 - 3) / 2 = 126.
    EXPECT_EQ(fit(1000, 10), (Fit{0, 126, 256, 3}));
    // A side that scales to an exact half: 256 / 512 * 5 = 2.5 rounds to the even 2.
    EXPECT_EQ(fit(512, 5), (Fit{0, 127, 256, 2}));
}

TEST(Skiconise, ZeroSidesGiveAnEmptyRectangleInsteadOfDividingByZero) {
    EXPECT_EQ(fit(0, 0), (Fit{128, 128, 0, 0}));
    EXPECT_EQ(fit(0, 100), (Fit{128, 128, 0, 0}));
    // Zero height: the width scale stands, the height is 0.
    EXPECT_EQ(fit(100, 0), (Fit{0, 128, 256, 0}));
}

QImage testPattern(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            image.setPixel(x, y, qRgb((x * 7) & 255, (y * 13) & 255, (x ^ y) & 255));
        }
    }
    return image;
}

TEST(DrawStill, SquarePictureOfTheAreaSizeComesThroughPixelForPixel) {
    const QImage image = testPattern(256, 256);
    for (Aspect aspect : {Aspect::Stretch, Aspect::Preserve}) {
        const QImage area = drawStill(image, aspect);
        ASSERT_EQ(area.size(), QSize(256, 256));
        for (int y = 0; y < 256; ++y) {
            for (int x = 0; x < 256; ++x) {
                ASSERT_EQ(area.pixel(x, y), image.pixel(x, y)) << "at " << x << ", " << y;
            }
        }
    }
}

TEST(DrawStill, NothingDroppedShowsTheGreyBackground) {
    const QImage area = drawStill(QImage(), Aspect::Stretch);
    EXPECT_EQ(area.format(), QImage::Format_RGB32);
    EXPECT_EQ(area.pixel(0, 0), kStillBackground);
    EXPECT_EQ(area.pixel(255, 255), kStillBackground);
}

TEST(DrawStill, PreserveLetterboxesAndStretchFills) {
    QImage wide(1000, 10, QImage::Format_RGB32);
    wide.fill(qRgb(200, 0, 0));
    const QImage kept = drawStill(wide, Aspect::Preserve);
    EXPECT_EQ(kept.pixel(128, 125), kStillBackground);
    EXPECT_EQ(kept.pixel(128, 127), qRgb(200, 0, 0));
    EXPECT_EQ(kept.pixel(128, 129), kStillBackground);

    const QImage stretched = drawStill(wide, Aspect::Stretch);
    EXPECT_EQ(stretched.pixel(0, 0), qRgb(200, 0, 0));
    EXPECT_EQ(stretched.pixel(255, 255), qRgb(200, 0, 0));
}

TEST(DrawStill, TransparentPixelsShowTheBackground) {
    QImage clear(256, 256, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    EXPECT_EQ(drawStill(clear, Aspect::Stretch).pixel(10, 10), kStillBackground);
}

TEST(SourceFromArea, CopiesEveryPixelsBytesInPlace) {
    const QImage area = testPattern(256, 256);
    const encoder::SourcePicture source = sourceFromArea(area);
    for (int y = 0; y < 256; y += 17) {
        for (int x = 0; x < 256; x += 13) {
            const QRgb p = area.pixel(x, y);
            ASSERT_EQ(source.red(x, y), qRed(p)) << x << ", " << y;
            ASSERT_EQ(source.green(x, y), qGreen(p)) << x << ", " << y;
            ASSERT_EQ(source.blue(x, y), qBlue(p)) << x << ", " << y;
        }
    }
}

TEST(ImageFromPicture, KeepsTheDecodedPixels) {
    encoder::Picture picture(48);
    picture.at(0, 0) = encoder::packRgb(255, 0, 0);
    picture.at(47, 1) = encoder::packRgb(1, 2, 3);
    const QImage image = imageFromPicture(picture);
    ASSERT_EQ(image.size(), QSize(48, 48));
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(47, 1), qRgb(1, 2, 3));
    EXPECT_EQ(image.pixel(5, 5), qRgb(0, 0, 0));
}

// ---- loading picture files ----

QByteArray encodedImage(
    const QImage& image, const char* format,
    QImageIOHandler::Transformations turn = QImageIOHandler::TransformationNone) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setTransformation(turn);
    EXPECT_TRUE(writer.write(image)) << format << ": " << writer.errorString().toStdString();
    return bytes;
}

LoadedPicture loadBytes(QByteArray bytes) {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return loadPicture(buffer);
}

TEST(LoadPicture, ReadsTheCommonFormatsByTheirContent) {
    QImage image(24, 16, QImage::Format_RGB32);
    image.fill(qRgb(200, 40, 40));
    for (const char* format : {"png", "bmp", "ppm", "jpg", "webp", "tiff"}) {
        SCOPED_TRACE(format);
        const LoadedPicture loaded = loadBytes(encodedImage(image, format));
        ASSERT_FALSE(loaded.image.isNull()) << loaded.error.toStdString();
        EXPECT_EQ(loaded.image.size(), QSize(24, 16));
        EXPECT_TRUE(loaded.error.isEmpty());
    }
}

// A JPEG with an EXIF block holding only the orientation tag, as a camera writes it: 6 is
// "turn 90 degrees clockwise to show".
QByteArray withOrientation(const QByteArray& jpeg, uint8_t orientation) {
    const QByteArray tiff = QByteArray::fromHex(
                                "4d4d002a00000008"     // big-endian, IFD at 8
                                "0001"                 // one entry
                                "011200030000000100")  // orientation, SHORT, 1
                            + QByteArray(1, static_cast<char>(orientation)) +
                            QByteArray::fromHex(
                                "0000"
                                "00000000");  // padding, no next IFD
    const QByteArray exif = QByteArray("Exif", 4) + QByteArray(2, '\0') + tiff;
    const int length = static_cast<int>(exif.size()) + 2;
    QByteArray segment = QByteArray::fromHex("ffe1");
    segment += static_cast<char>(length >> 8);
    segment += static_cast<char>(length & 0xFF);
    return jpeg.left(2) + segment + exif + jpeg.mid(2);  // right after the start-of-image mark
}

TEST(LoadPicture, TurnsAPictureUprightAsItsOrientationSays) {
    // A phone held sideways stores its picture on its side with an orientation tag; the tag is
    // what a viewer follows, so the picture sent must follow it too.
    QImage image(32, 16, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < 16; ++y) image.setPixel(0, y, qRgb(0, 0, 0));  // a dark left edge
    const QByteArray plain = encodedImage(image, "jpg");
    ASSERT_EQ(loadBytes(plain).image.size(), QSize(32, 16));
    const LoadedPicture loaded = loadBytes(withOrientation(plain, 6));
    ASSERT_FALSE(loaded.image.isNull()) << loaded.error.toStdString();
    ASSERT_EQ(loaded.image.size(), QSize(16, 32));
    EXPECT_LT(qGray(loaded.image.pixel(8, 0)), 60);  // the left edge turned to the top
    EXPECT_GT(qGray(loaded.image.pixel(8, 31)), 200);
}

TEST(LoadPicture, RefusesWhatIsNotAPictureWithAReason) {
    QImage image(40, 40, QImage::Format_RGB32);
    image.fill(Qt::blue);
    const QByteArray png = encodedImage(image, "png");
    const QByteArray inputs[] = {
        QByteArray(),
        QByteArray("not a picture"),
        png.left(png.size() / 2),
        // A header that claims 100000 x 100000 pixels must be refused, not allocated.
        QByteArray::fromHex("424d"
                            "00000000"
                            "00000000"
                            "36000000"
                            "28000000"
                            "a0860100"
                            "a0860100"
                            "0100"
                            "1800"
                            "00000000"
                            "00000000"
                            "00000000"
                            "00000000"
                            "00000000"
                            "00000000"),
    };
    for (const QByteArray& bytes : inputs) {
        SCOPED_TRACE(bytes.left(16).toHex().toStdString());
        const LoadedPicture loaded = loadBytes(bytes);
        EXPECT_TRUE(loaded.image.isNull());
        EXPECT_FALSE(loaded.error.isEmpty());
    }
    const LoadedPicture missing = loadPicture(QStringLiteral("/nonexistent/picture.png"));
    EXPECT_TRUE(missing.image.isNull());
    EXPECT_FALSE(missing.error.isEmpty());
}

}  // namespace
}  // namespace sender
