#include "sender/source_pages.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>

namespace sender {
namespace {

TEST(AreaFromFrame, StretchesOverTheSquareOrShowsBlack) {
    media::VideoFrame frame{4, 2, std::vector<uint32_t>(8, 0x00336699u)};
    const QImage area = areaFromFrame(frame);
    EXPECT_EQ(area.size(), QSize(256, 256));
    EXPECT_EQ(area.pixel(0, 0), qRgb(0x33, 0x66, 0x99));
    EXPECT_EQ(area.pixel(255, 255), qRgb(0x33, 0x66, 0x99));
    EXPECT_EQ(areaFromFrame({}).pixel(128, 128), qRgb(0, 0, 0));
    const media::VideoFrame truncated{4, 4, std::vector<uint32_t>(3, 0)};  // too few pixels
    EXPECT_EQ(areaFromFrame(truncated).pixel(128, 128), qRgb(0, 0, 0));
}

TEST(StillPage, StartsGreyAndFollowsTheAspectSwitch) {
    StillPage page;
    EXPECT_EQ(page.area().size(), QSize(256, 256));
    EXPECT_EQ(page.area().pixel(0, 0), qRgb(240, 240, 240));
    QImage tall(10, 100, QImage::Format_RGB32);
    tall.fill(Qt::blue);
    page.setStill(tall);
    EXPECT_EQ(page.area().pixel(0, 128), qRgb(0, 0, 255));  // stretched
    page.setAspect(Aspect::Preserve);
    EXPECT_EQ(page.area().pixel(0, 128), qRgb(240, 240, 240));
    EXPECT_EQ(page.area().pixel(128, 128), qRgb(0, 0, 255));
}

TEST(WebcamPage, TestSourceFillsTheViewAndRefreshes) {
    WebcamPage page("lavfi:testsrc=size=320x240:rate=5");
    ASSERT_TRUE(page.connected());
    EXPECT_EQ(page.previewTimer().interval(), 1000);
    EXPECT_TRUE(page.previewTimer().isActive());
    page.previewTimerFired();
    const QImage area = page.area();
    ASSERT_EQ(area.size(), QSize(256, 256));
    int coloured = 0;
    for (int x = 0; x < 256; x += 8) coloured += area.pixel(x, 64) != qRgb(0, 0, 0) ? 1 : 0;
    EXPECT_GT(coloured, 16);
}

TEST(WebcamPage, NoDeviceLeavesTheViewEmptyAndTheButtonsHarmless) {
    WebcamPage page("/dev/no-such-camera");
    EXPECT_FALSE(page.connected());
    page.previewTimerFired();
    QTest::mouseClick(page.findChild<QPushButton*>("ctl1301"), Qt::LeftButton);
    EXPECT_EQ(page.area().pixel(128, 128), qRgb(0, 0, 0));
    EXPECT_EQ(page.findChild<QPushButton*>("ctl1300")->text(), "Video &source");
    EXPECT_EQ(page.findChild<QPushButton*>("ctl1301")->text(), "Video &format");
    EXPECT_EQ(page.findChild<QPushButton*>("ctl1301")->geometry(), QRect(128, 258, 128, 24));
}

}  // namespace
}  // namespace sender
