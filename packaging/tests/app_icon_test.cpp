#include "packaging/app_icon.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>

namespace {

// The resource must reach the program through the static library, at every size, and be the
// drawn icon rather than an empty placeholder.
TEST(AppIcon, EverySizeComesFromTheResource) {
    const QIcon icon = packaging::vistrelIcon();
    ASSERT_FALSE(icon.isNull());
    for (const int side : {16, 32, 48, 256}) {
        SCOPED_TRACE(side);
        const QImage image = icon.pixmap(side, side).toImage();
        ASSERT_EQ(image.width(), side);
        // The middle of the picture is the light sky of the framed picture, not transparent.
        EXPECT_GT(qAlpha(image.pixel(side / 2, side * 5 / 8)), 200);
    }
    EXPECT_TRUE(icon.availableSizes().contains(QSize(24, 24)));
}

}  // namespace
