#include "receiver/picture_control.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QRect>
#include <algorithm>
#include <filesystem>

#include "receiver/movie_file.h"

namespace receiver {
namespace {

constexpr uint32_t kRgb = 0x00FFFFFF;
constexpr uint32_t kGrey = kCaptionColour & kRgb;
const int kStretchedSides[] = {32, 48, 64, 96, 128, 256};

encoder::Picture uniformPicture(int side, uint32_t colour) {
    encoder::Picture picture(side);
    std::fill(picture.pixels.begin(), picture.pixels.end(), colour);
    return picture;
}

uint32_t pixelAt(const QImage& image, int x, int y) { return image.pixel(x, y) & kRgb; }

// Bounding box of the caption's light grey pixels; empty when there are none.
QRect captionBox(const QImage& inside) {
    QRect box;
    for (int y = 0; y < inside.height(); ++y) {
        for (int x = 0; x < inside.width(); ++x) {
            if (pixelAt(inside, x, y) == kGrey) {
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    return box;
}

TEST(PictureControl, InsideIsTheRecordSizeAndBlankBeforeAnyPicture) {
    const QImage blank = blankPictureControl();
    EXPECT_EQ(blank.size(), QSize(kInsideWidth, kInsideHeight));
    EXPECT_EQ(blank.format(), QImage::Format_RGB32);
    EXPECT_EQ(kInsideWidth, kRecordWidth);
    EXPECT_EQ(kInsideHeight, kRecordHeight);
    for (int y = 0; y < blank.height(); ++y) {
        for (int x = 0; x < blank.width(); ++x) {
            ASSERT_EQ(blank.pixel(x, y), kBlankColour) << x << ", " << y;
        }
    }
    const QImage drawn = pictureControlImage(uniformPicture(64, 0x00102030), 1234);
    EXPECT_EQ(drawn.size(), blank.size());
    EXPECT_EQ(drawn.format(), QImage::Format_RGB32);
}

TEST(PictureControl, UniformPictureCoversTheWholeInsideButTheCaption) {
    const uint32_t colour = 0x00336699;
    for (int side : kStretchedSides) {
        SCOPED_TRACE(testing::Message() << "N = " << side);
        const QImage inside = pictureControlImage(uniformPicture(side, colour), 777);
        const QRect caption = captionBox(inside);
        ASSERT_FALSE(caption.isEmpty());
        for (int y = 0; y < inside.height(); ++y) {
            for (int x = 0; x < inside.width(); ++x) {
                const uint32_t p = pixelAt(inside, x, y);
                if (p != colour) {
                    ASSERT_EQ(p, kGrey) << x << ", " << y;
                    ASSERT_TRUE(caption.contains(x, y)) << x << ", " << y;
                }
            }
        }
    }
}

TEST(PictureControl, CaptionIsLightGreyTextAtTheLowerLeft) {
    const QImage shortCaption = pictureControlImage(uniformPicture(48, 0), 7);
    const QImage longCaption = pictureControlImage(uniformPicture(256, 0), 12345);
    for (const QImage* inside : {&shortCaption, &longCaption}) {
        const QRect box = captionBox(*inside);
        ASSERT_FALSE(box.isEmpty());
        // Text drawn from its cell's top at (1, 245): the ink starts a pixel or two in.
        EXPECT_GE(box.left(), kCaptionX);
        EXPECT_LE(box.left(), kCaptionX + 2);
        EXPECT_GE(box.top(), kCaptionY);
        EXPECT_LE(box.top(), kCaptionY + 4);
        EXPECT_LE(box.bottom(), kInsideHeight - 1);
        // Not anti-aliased, and over a black picture nothing but the text changed.
        for (int y = 0; y < inside->height(); ++y) {
            for (int x = 0; x < inside->width(); ++x) {
                const uint32_t p = pixelAt(*inside, x, y);
                ASSERT_TRUE(p == 0 || p == kGrey) << x << ", " << y;
            }
        }
    }
    // "256 12345" is nine monospaced cells, "48 7" four.
    const double shortWidth = captionBox(shortCaption).width();
    const double longWidth = captionBox(longCaption).width();
    EXPECT_GT(longWidth / shortWidth, 1.8);
    EXPECT_LT(longWidth, 80);
}

// A 256 x 256 board of 32-pixel squares stretched over 343 x 257: the middle of every square
// that is seen lands where the stretch puts it, in its own colour.
TEST(PictureControl, CheckerboardSquaresLandWhereTheStretchPutsThem) {
    const uint32_t dark = 0x00102030;
    const uint32_t light = 0x00E0D0C0;
    encoder::Picture board(256);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            board.at(x, y) = ((x / 32 + y / 32) % 2 == 0) ? dark : light;
        }
    }
    const QImage inside = pictureControlImage(board, 1);
    const QRect caption = captionBox(inside);
    int checked = 0;
    for (int row = 0; row < 8; ++row) {
        for (int column = 0; column < 8; ++column) {
            const uint32_t expected = ((row + column) % 2 == 0) ? dark : light;
            const int x = (32 * column + 16) * kStretchWidth / 256;
            const int y = (32 * row + 16) * kStretchHeight / 256;
            // The middle is 16 source pixels from each edge: 21 inside pixels across, 16 down.
            for (const QPoint at : {QPoint(x, y), QPoint(x - 18, y - 13), QPoint(x + 18, y + 13)}) {
                if (!inside.rect().contains(at) || caption.adjusted(-2, -2, 2, 2).contains(at)) {
                    continue;  // clipped, or under the caption
                }
                EXPECT_EQ(pixelAt(inside, at.x(), at.y()), expected)
                    << "square " << column << ", " << row << " at " << at.x() << ", " << at.y();
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 3 * 56);
    // The board's edges lie at multiples of 32 * 343 / 256 = 42.875 across.
    for (int edge = 1; edge < 8; ++edge) {
        const double at = edge * 42.875;
        const int before = static_cast<int>(at) - 2;
        const int after = static_cast<int>(at) + 2;
        EXPECT_EQ(pixelAt(inside, before, 16), (edge % 2 == 1) ? dark : light) << "edge " << edge;
        EXPECT_EQ(pixelAt(inside, after, 16), (edge % 2 == 1) ? light : dark) << "edge " << edge;
    }
}

// The stretch is 257 rows tall in a 254-row inside: the picture's bottom rows are clipped away,
// not squeezed in, while its top row is the inside's top row.
TEST(PictureControl, StretchIsClippedByTheControlNotFitted) {
    const uint32_t red = 0x00FF0000;
    encoder::Picture bottomRed(256);
    encoder::Picture topRed(256);
    for (int x = 0; x < 256; ++x) {
        bottomRed.at(x, 255) = red;
        topRed.at(x, 0) = red;
    }
    const QImage bottom = pictureControlImage(bottomRed, 1);
    const QImage top = pictureControlImage(topRed, 1);
    for (int x = 200; x < kInsideWidth; ++x) {  // right of the caption
        EXPECT_EQ(pixelAt(bottom, x, kInsideHeight - 1), 0u) << x;
        EXPECT_EQ(pixelAt(top, x, 0), red) << x;
    }

    // Top half black, bottom half white: the edge falls at row 128 * 257 / 256 = 128.5, where
    // fitting the picture into 254 rows would put it at 127.
    encoder::Picture halves(256);
    for (int y = 128; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            halves.at(x, y) = 0x00FFFFFF;
        }
    }
    const QImage split = pictureControlImage(halves, 1);
    for (int x = 0; x < kInsideWidth; x += 31) {
        EXPECT_EQ(pixelAt(split, x, 127), 0u) << x;
        EXPECT_EQ(pixelAt(split, x, 130), 0x00FFFFFFu) << x;
    }
}

TEST(PictureControl, OtherSizesAreCopiedIntoTheCornerOverTheOldInside) {
    const QImage before = pictureControlImage(uniformPicture(64, 0x00445566), 1);
    QImage inside = before;
    encoder::Picture odd(50);
    for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < 50; ++x) {
            odd.at(x, y) = encoder::packRgb(x * 5, y * 5, 7);
        }
    }
    EXPECT_FALSE(isStretchedSide(50));
    drawPicture(inside, odd, 99);
    for (int y = 0; y < kCaptionY; ++y) {
        for (int x = 0; x < kInsideWidth; ++x) {
            const uint32_t expected = (x < 50 && y < 50) ? odd.at(x, y) : pixelAt(before, x, y);
            ASSERT_EQ(pixelAt(inside, x, y), expected) << x << ", " << y;
        }
    }
}

TEST(PictureControl, RecordPixelsAreTheInsideWithAZeroTopByte) {
    const uint32_t colour = 0x00ABCDEF;
    const QImage inside = pictureControlImage(uniformPicture(128, colour), 42);
    const std::vector<uint32_t> pixels = recordPixels(inside);
    ASSERT_EQ(pixels.size(), static_cast<size_t>(kRecordWidth) * kRecordHeight);
    for (int y = 0; y < kInsideHeight; ++y) {
        for (int x = 0; x < kInsideWidth; ++x) {
            ASSERT_EQ(pixels[static_cast<size_t>(y) * kInsideWidth + x], pixelAt(inside, x, y))
                << x << ", " << y;
        }
    }
    EXPECT_EQ(pixels[0], colour);
}

// What the window shows is what the player reads back.
TEST(PictureControl, RecordedInsideComesBackFromTheMovieFile) {
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::temp_directory_path() / ("vistrel_picture_control_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    encoder::Picture picture(96);
    for (size_t i = 0; i < picture.pixels.size(); ++i) {
        picture.pixels[i] = static_cast<uint32_t>(i * 2654435761u) & kRgb;
    }
    const QImage inside = pictureControlImage(picture, 3000);
    const std::vector<uint32_t> pixels = recordPixels(inside);

    RecorderState recorder;
    ASSERT_TRUE(startRecording(recorder, {2026, 12, 6, 6, 38, 15}, dir).ok);
    ASSERT_TRUE(appendRecord(recorder, kInsideWidth, kInsideHeight, pixels).ok);
    ASSERT_TRUE(stopRecording(recorder).ok);
    MovieReader reader;
    ASSERT_TRUE(reader.open(recorder.path).ok);
    ASSERT_EQ(reader.recordCount(), 1);
    std::vector<uint32_t> back;
    ASSERT_TRUE(reader.readRecord(1, back).ok);
    EXPECT_EQ(back, pixels);
    reader.close();
    fs::remove_all(dir);
}

}  // namespace
}  // namespace receiver
