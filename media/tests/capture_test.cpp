#include "media/capture.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "media/tests/test_movies.h"

namespace media {
namespace {

TEST(Capture, MissingCameraFailsCleanlyAndGrabsNothing) {
    // No camera on a build machine; with one present, a path that is surely free.
    std::string device = kDefaultCaptureDevice;
    if (std::filesystem::exists(device)) device = "/dev/video-none";
    CaptureSource camera;
    const MediaResult opened = camera.open(device);
    EXPECT_FALSE(opened.ok);
    EXPECT_NE(opened.error.find(device), std::string::npos) << opened.error;
    EXPECT_FALSE(camera.isOpen());
    EXPECT_EQ(camera.device(), device);
    EXPECT_TRUE(camera.grab().empty());
    EXPECT_TRUE(camera.grab().empty());
    EXPECT_TRUE(listCaptureFormats(device).empty());
}

TEST(Capture, DeviceListHoldsOnlyVideoNodes) {
    for (const CaptureDevice& device : listCaptureDevices()) {
        EXPECT_EQ(device.path.rfind("/dev/video", 0), 0u) << device.path;
        EXPECT_FALSE(device.name.empty()) << device.path;
    }
    EXPECT_TRUE(listCaptureFormats("lavfi:testsrc").empty());
}

TEST(Capture, GeneratedSourceGivesPicturesOfItsSizeThatMove) {
    CaptureSource camera;
    const MediaResult opened = camera.open("lavfi:testsrc=size=320x240:rate=5");
    ASSERT_TRUE(opened.ok) << opened.error;
    EXPECT_TRUE(camera.isOpen());
    const VideoFrame first = camera.grab();
    ASSERT_EQ(first.width, 320);
    ASSERT_EQ(first.height, 240);
    EXPECT_EQ(first.pixels.size(), 320u * 240u);
    const VideoFrame later = camera.grab();
    EXPECT_EQ(later.width, 320);
    // testsrc draws a running counter, so consecutive pictures differ.
    EXPECT_NE(first.pixels, later.pixels);
    camera.close();
    EXPECT_FALSE(camera.isOpen());
    EXPECT_TRUE(camera.grab().empty());
}

TEST(Capture, BrokenGraphFailsCleanly) {
    CaptureSource camera;
    const MediaResult opened = camera.open("lavfi:nosuchfilter=size=8x8");
    EXPECT_FALSE(opened.ok);
    EXPECT_NE(opened.error.find("lavfi:nosuchfilter"), std::string::npos) << opened.error;
    EXPECT_FALSE(camera.isOpen());
    EXPECT_TRUE(camera.grab().empty());
}

TEST(Capture, MovieFileStandsInForACameraAndStartsAgainAfterItsEnd) {
    test::TempDir dir;
    const auto path = dir.file("camera.avi");
    test::MovieRecipe recipe;
    recipe.frames = 4;
    ASSERT_EQ(test::writeTestMovie(path, recipe), "");
    CaptureSource camera;
    const MediaResult opened = camera.open(path.string());
    ASSERT_TRUE(opened.ok) << opened.error;
    for (int want : {0, 1, 2, 3, 0, 1}) {
        const VideoFrame picture = camera.grab();
        EXPECT_EQ(picture.width, 64);
        EXPECT_EQ(test::patternNumber(picture), want);
    }
    // Opening another device closes this one, also when the other cannot be opened.
    EXPECT_FALSE(camera.open(dir.file("missing.avi").string()).ok);
    EXPECT_FALSE(camera.isOpen());
    EXPECT_TRUE(camera.grab().empty());
}

}  // namespace
}  // namespace media
