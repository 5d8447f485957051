#include "player/make_avi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "media/movie_source.h"
#include "player/tests/test_movie.h"

namespace player {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 34;
constexpr int kHeight = 26;

bool available(media::AviCodec codec) {
    const std::vector<media::AviCodecInfo> codecs = media::availableAviCodecs();
    return std::any_of(codecs.begin(), codecs.end(),
                       [codec](const media::AviCodecInfo& info) { return info.codec == codec; });
}

media::AviOptions optionsFor(media::AviCodec codec, int framesPerSecond) {
    media::AviOptions options;
    options.codec = codec;
    options.framesPerSecond = framesPerSecond;
    return options;
}

// The first pixel that differs, as "frame k pixel (x, y): 0x.. instead of 0x..".
std::string firstDifference(int frame, const std::vector<uint32_t>& got,
                            const std::vector<uint32_t>& want) {
    if (got.size() != want.size()) {
        return "frame " + std::to_string(frame) + ": " + std::to_string(got.size()) +
               " pixels instead of " + std::to_string(want.size());
    }
    for (size_t i = 0; i < got.size(); ++i) {
        if ((got[i] & 0xFFFFFF) != (want[i] & 0xFFFFFF)) {
            char text[128];
            std::snprintf(text, sizeof text, "frame %d pixel (%zu, %zu): 0x%06X instead of 0x%06X",
                          frame, i % kWidth, i / kWidth, got[i] & 0xFFFFFF, want[i] & 0xFFFFFF);
            return text;
        }
    }
    return {};
}

TEST(AviName, MovieEndingReplacedInTheLastPathPart) {
    EXPECT_EQ(aviOutputName("/home/op/rx/Vistrel_12-06-2026_063815.tv"),
              "Vistrel_12-06-2026_063815.avi");
    EXPECT_EQ(aviOutputName("a.tv"), "a.avi");
    EXPECT_EQ(aviOutputName("/x/B.TV"), "B.avi");
    EXPECT_EQ(aviOutputName("/x.tv/movie.bin"), "movie.bin.avi");
    EXPECT_EQ(aviOutputName("ab"), "ab.avi");
    EXPECT_EQ(aviOutputName(".tv"), ".tv.avi");
}

TEST(AviTexts, ProgressAndErrors) {
    EXPECT_EQ(writingText(3, 25), "Writing  3 of 25 frames");
    EXPECT_EQ(writingText(25, 25), "Writing  25 of 25 frames");
    EXPECT_EQ(kFinishedText, "Finished!");
    EXPECT_EQ(exportErrorText(ExportError::CreatingOutput), "error creating output file");
    EXPECT_EQ(exportErrorText(ExportError::None), "");
}

// Lossless codecs give back every pixel of every record, rows the right way up, at the rate of
// the replay speed.
class LosslessExport : public testing::TestWithParam<media::AviCodec> {};

TEST_P(LosslessExport, EveryRecordComesBackAsItsFrame) {
    if (!available(GetParam())) {
        GTEST_SKIP() << "encoder not in this FFmpeg";
    }
    constexpr uint64_t kSeed = 8;
    SCOPED_TRACE(testing::Message() << "seed " << kSeed);
    test::TempDir dir;
    const fs::path movie = dir.file("a.tv");
    const auto records = test::writeSeededMovie(movie, kSeed, 4, kWidth, kHeight);

    std::vector<std::pair<int32_t, int32_t>> progress;
    const ExportResult result = MAKEAVI(movie, dir.file("a.avi"), optionsFor(GetParam(), 3),
                                        [&](int32_t k, int32_t n) { progress.emplace_back(k, n); });
    ASSERT_TRUE(result.ok()) << exportErrorText(result.error) << ": " << result.detail;
    EXPECT_EQ(result.framesWritten, 4);
    EXPECT_EQ(progress, (std::vector<std::pair<int32_t, int32_t>>{{1, 4}, {2, 4}, {3, 4}, {4, 4}}));

    media::MovieSource source;
    const media::MediaResult opened = source.open(dir.file("a.avi").string());
    ASSERT_TRUE(opened.ok) << opened.error;
    EXPECT_EQ(source.frameCount(), 4);
    EXPECT_DOUBLE_EQ(source.framesPerSecond(), 3.0);
    EXPECT_EQ(source.width(), kWidth);
    EXPECT_EQ(source.height(), kHeight);
    for (int k = 0; k < 4; ++k) {
        const media::VideoFrame frame = source.frameAt(k);
        EXPECT_EQ(firstDifference(k + 1, frame.pixels, records[static_cast<size_t>(k)]), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, LosslessExport,
                         testing::Values(media::AviCodec::Raw, media::AviCodec::Ffv1),
                         [](const testing::TestParamInfo<media::AviCodec>& info) {
                             return info.param == media::AviCodec::Raw ? "Raw" : "Ffv1";
                         });

TEST(MakeAvi, AWhiteTopRowStaysOnTop) {
    std::vector<uint32_t> record = test::flatRecord(0, kWidth, kHeight);
    std::fill(record.begin(), record.begin() + kWidth, 0x00FFFFFF);
    test::TempDir dir;
    test::writeMovie(dir.file("top.tv"), kWidth, kHeight, {record});
    const ExportResult result =
        MAKEAVI(dir.file("top.tv"), dir.file("top.avi"), optionsFor(media::AviCodec::Raw, 10));
    ASSERT_TRUE(result.ok()) << result.detail;

    media::MovieSource source;
    ASSERT_TRUE(source.open(dir.file("top.avi").string()).ok);
    const media::VideoFrame frame = source.frameAt(0);
    ASSERT_EQ(frame.pixels.size(), record.size());
    EXPECT_EQ(frame.pixels[0] & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(frame.pixels[kWidth - 1] & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(frame.pixels[kWidth] & 0xFFFFFF, 0u);
    EXPECT_EQ(frame.pixels.back() & 0xFFFFFF, 0u);
}

TEST(MakeAvi, LossyCodecsKeepTheFrameCountAndRate) {
    constexpr uint64_t kSeed = 9;
    SCOPED_TRACE(testing::Message() << "seed " << kSeed);
    test::TempDir dir;
    const fs::path movie = dir.file("m.tv");
    test::writeSeededMovie(movie, kSeed, 5, 64, 48);
    for (const media::AviCodec codec :
         {media::AviCodec::Mjpeg, media::AviCodec::Mpeg4, media::AviCodec::H264}) {
        if (!available(codec)) {
            continue;
        }
        SCOPED_TRACE(testing::Message() << "codec " << static_cast<int>(codec));
        const fs::path avi = dir.file("m" + std::to_string(static_cast<int>(codec)) + ".avi");
        const ExportResult result = MAKEAVI(movie, avi, optionsFor(codec, 6));
        ASSERT_TRUE(result.ok()) << exportErrorText(result.error) << ": " << result.detail;
        media::MovieSource source;
        ASSERT_TRUE(source.open(avi.string()).ok);
        EXPECT_EQ(source.frameCount(), 5);
        EXPECT_DOUBLE_EQ(source.framesPerSecond(), 6.0);
        EXPECT_FALSE(source.frameAt(4).empty());
    }
}

TEST(MakeAvi, ReplacesAnExistingFile) {
    test::TempDir dir;
    test::writeSeededMovie(dir.file("a.tv"), 3, 2, kWidth, kHeight);
    test::writeBytes(dir.file("a.avi"), std::vector<uint8_t>(5, 'x'));
    ASSERT_TRUE(
        MAKEAVI(dir.file("a.tv"), dir.file("a.avi"), optionsFor(media::AviCodec::Raw, 1)).ok());
    media::MovieSource source;
    ASSERT_TRUE(source.open(dir.file("a.avi").string()).ok);
    EXPECT_EQ(source.frameCount(), 2);
}

TEST(MakeAvi, RefusedMovieWritesNothing) {
    test::TempDir dir;
    test::writeBytes(dir.file("short.tv"), {0x56, 0x01, 0x00, 0x00});
    bool called = false;
    const ExportResult result =
        MAKEAVI(dir.file("short.tv"), dir.file("short.avi"), optionsFor(media::AviCodec::Raw, 10),
                [&](int32_t, int32_t) { called = true; });
    EXPECT_EQ(result.error, ExportError::ReadingMovie);
    EXPECT_NE(result.detail.find("short.tv"), std::string::npos) << result.detail;
    EXPECT_FALSE(called);
    EXPECT_FALSE(fs::exists(dir.file("short.avi")));

    const ExportResult missing =
        MAKEAVI(dir.file("none.tv"), dir.file("none.avi"), optionsFor(media::AviCodec::Raw, 10));
    EXPECT_EQ(missing.error, ExportError::ReadingMovie);
    EXPECT_FALSE(fs::exists(dir.file("none.avi")));
}

TEST(MakeAvi, OutputThatCannotBeCreatedIsReported) {
    test::TempDir dir;
    test::writeSeededMovie(dir.file("a.tv"), 4, 1, kWidth, kHeight);
    const fs::path avi = dir.file("no such folder") / "a.avi";
    const ExportResult result =
        MAKEAVI(dir.file("a.tv"), avi, optionsFor(media::AviCodec::Raw, 10));
    EXPECT_EQ(result.error, ExportError::CreatingOutput);
    EXPECT_EQ(exportErrorText(result.error), "error creating output file");
    EXPECT_FALSE(result.detail.empty());
    EXPECT_FALSE(fs::exists(avi));
}

}  // namespace
}  // namespace player
