#include "player/picture_adjust.h"

#include <gtest/gtest.h>

#include <vector>

#include "player/tests/test_movie.h"

namespace player {
namespace {

struct Expected {
    int colour;  // recorded byte
    int shown;   // shown byte
};

void expectTable(int brightness, int contrast, std::initializer_list<Expected> cases) {
    const ColourTable table = colourTable(brightness, contrast);
    for (const Expected& e : cases) {
        EXPECT_EQ(table[static_cast<size_t>(e.colour)], e.shown)
            << "brightness " << brightness << ", contrast " << contrast << ", byte " << e.colour;
    }
}

TEST(ColourTable, DefaultsShowEveryByteAsRecorded) {
    const ColourTable table = colourTable(kDefaultBrightness, kDefaultContrast);
    for (int c = 0; c < 256; ++c) {
        ASSERT_EQ(table[static_cast<size_t>(c)], c) << "byte " << c;
    }
}

TEST(ColourTable, ContrastZeroDoublesAndClipsAt255) {
    expectTable(256, 0, {{0, 0}, {1, 2}, {100, 200}, {127, 254}, {128, 255}, {255, 255}});
}

TEST(ColourTable, ContrastTwentyGivesTheOffsetForEveryByte) {
    for (const auto& [brightness, offset] : {std::pair{256, 0}, {156, 100}, {0, 255}, {512, 0}}) {
        const ColourTable table = colourTable(brightness, 20);
        for (int c = 0; c < 256; ++c) {
            ASSERT_EQ(table[static_cast<size_t>(c)], offset)
                << "brightness " << brightness << ", byte " << c;
        }
    }
}

TEST(ColourTable, BrightnessEndsSaturate) {
    const ColourTable white = colourTable(0, kDefaultContrast);
    const ColourTable black = colourTable(kMaxBrightness, kDefaultContrast);
    for (int c = 0; c < 256; ++c) {
        ASSERT_EQ(white[static_cast<size_t>(c)], 255) << "brightness 0, byte " << c;
        ASSERT_EQ(black[static_cast<size_t>(c)], 0) << "brightness 512, byte " << c;
    }
}

TEST(ColourTable, BrightnessShiftsAndLimits) {
    expectTable(200, 10, {{0, 56}, {100, 156}, {199, 255}, {200, 255}});
    expectTable(300, 10, {{0, 0}, {44, 0}, {45, 1}, {255, 211}});
}

TEST(ColourTable, HalvesRoundToEven) {
    // scale 1.1: 5.5 -> 6, 16.5 -> 16, 27.5 -> 28, 38.5 -> 38
    expectTable(256, 9, {{5, 6}, {15, 16}, {25, 28}, {35, 38}});
    // scale 0.9: 4.5 -> 4, 13.5 -> 14, 22.5 -> 22
    expectTable(256, 11, {{5, 4}, {15, 14}, {25, 22}});
    // scale 0.1: 0.5 -> 0, 1.5 -> 2, 2.5 -> 2, 25.5 -> 26
    expectTable(256, 19, {{5, 0}, {15, 2}, {25, 2}, {255, 26}});
    // scale 0.5 with offset -2: 2.5 -> 2, 3.5 -> 4
    expectTable(258, 15, {{9, 2}, {11, 4}});
}

TEST(ColourTable, ValuesOutsideTheSlidersAreLimitedToThem) {
    EXPECT_EQ(colourTable(-100, 10), colourTable(0, 10));
    EXPECT_EQ(colourTable(9999, 10), colourTable(512, 10));
    EXPECT_EQ(colourTable(256, -3), colourTable(256, 0));
    EXPECT_EQ(colourTable(256, 99), colourTable(256, 20));
}

TEST(AdjustPixels, BgrKeepsTheRecordAndRgbSwapsRedAndBlue) {
    const std::vector<uint32_t> record{0x00FF0000, 0x0000FF00, 0x000000FF, 0x00123456};
    std::vector<uint32_t> shown(record.size(), 0xDEADBEEF);
    const PictureAdjust defaults;
    adjustPixels(record, shown, defaults, ColourFormat::Bgr);
    EXPECT_EQ(shown, record);
    adjustPixels(record, shown, defaults, ColourFormat::Rgb);
    EXPECT_EQ(shown, (std::vector<uint32_t>{0x000000FF, 0x0000FF00, 0x00FF0000, 0x00563412}));
}

TEST(AdjustPixels, AppliesTheTableToEachColourByte) {
    const std::vector<uint32_t> record{0x00806040, 0x00FF0001};
    std::vector<uint32_t> shown(record.size());
    PictureAdjust doubled;
    doubled.contrast = 0;
    adjustPixels(record, shown, doubled, ColourFormat::Bgr);
    EXPECT_EQ(shown, (std::vector<uint32_t>{0x00FFC080, 0x00FF0002}));
    adjustPixels(record, shown, doubled, ColourFormat::Rgb);
    EXPECT_EQ(shown, (std::vector<uint32_t>{0x0080C0FF, 0x000200FF}));
}

TEST(AdjustPixels, DefaultsLeaveASeededRecordUnchangedAndIgnoreItsTopByte) {
    constexpr uint64_t kSeed = 51;
    SCOPED_TRACE(testing::Message() << "seed " << kSeed);
    std::vector<uint32_t> record = test::seededRecord(kSeed, 1, 40, 30);
    const std::vector<uint32_t> expected = record;
    record[7] |= 0xAB000000;
    std::vector<uint32_t> shown(record.size());
    adjustPixels(record, shown, PictureAdjust{}, ColourFormat::Bgr);
    for (size_t i = 0; i < shown.size(); ++i) {
        ASSERT_EQ(shown[i], expected[i]) << "pixel " << i;
    }
}

TEST(AdjustPixels, WritesNoMoreThanTheShorterBuffer) {
    const std::vector<uint32_t> record(10, 0x00010203);
    std::vector<uint32_t> shown(4, 0x00FFFFFF);
    adjustPixels(record, shown, PictureAdjust{}, ColourFormat::Bgr);
    EXPECT_EQ(shown, std::vector<uint32_t>(4, 0x00010203));
    std::vector<uint32_t> wide(12, 0x00FFFFFF);
    adjustPixels(std::span<const uint32_t>(record).first(2), wide, PictureAdjust{},
                 ColourFormat::Bgr);
    EXPECT_EQ(wide[1], 0x00010203u);
    EXPECT_EQ(wide[2], 0x00FFFFFFu);
}

TEST(PictureDialogValues, UndoTakesBackDefaultSettingsButNotASliderMove) {
    PictureAdjust adjust;
    adjustSliderMoved(adjust, AdjustSlider::Brightness, 100);
    adjustSliderMoved(adjust, AdjustSlider::Contrast, 4);
    EXPECT_EQ(adjust.brightness, 100);
    EXPECT_EQ(adjust.contrast, 4);

    adjustDefaults(adjust);
    EXPECT_EQ(adjust.brightness, 256);
    EXPECT_EQ(adjust.contrast, 10);
    EXPECT_EQ(adjust.savedBrightness, 100);
    EXPECT_EQ(adjust.savedContrast, 4);

    adjustUndo(adjust);
    EXPECT_EQ(adjust.brightness, 100);
    EXPECT_EQ(adjust.contrast, 4);

    adjustSliderMoved(adjust, AdjustSlider::Contrast, 15);
    adjustUndo(adjust);
    EXPECT_EQ(adjust.brightness, 100);
    EXPECT_EQ(adjust.contrast, 15);
}

TEST(PictureDialogValues, SliderMovesAreLimitedToTheSliderRanges) {
    PictureAdjust adjust;
    adjustSliderMoved(adjust, AdjustSlider::Brightness, 600);
    adjustSliderMoved(adjust, AdjustSlider::Contrast, -1);
    EXPECT_EQ(adjust.brightness, 512);
    EXPECT_EQ(adjust.contrast, 0);
    EXPECT_EQ(adjust.savedBrightness, 512);
    EXPECT_EQ(adjust.savedContrast, 0);
}

}  // namespace
}  // namespace player
