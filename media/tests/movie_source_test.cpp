#include "media/movie_source.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "media/tests/test_movies.h"

namespace media {
namespace {

using test::MovieRecipe;
using test::patternNumber;

struct MovieCase {
    std::string name;
    std::string file;
    MovieRecipe recipe;
};

std::ostream& operator<<(std::ostream& out, const MovieCase& c) { return out << c.name; }

MovieRecipe recipe(std::string container, AVCodecID codec, AVPixelFormat format, int gop,
                   int bFrames, int64_t firstPts = 0) {
    MovieRecipe s;
    s.container = std::move(container);
    s.codec = codec;
    s.pixelFormat = format;
    s.gop = gop;
    s.bFrames = bFrames;
    s.firstPts = firstPts;
    return s;
}

const MovieCase kCases[] = {
    {"Mpeg4IntraAvi", "intra.avi", recipe("avi", AV_CODEC_ID_MPEG4, AV_PIX_FMT_YUV420P, 1, 0)},
    {"Ffv1Avi", "ffv1.avi", recipe("avi", AV_CODEC_ID_FFV1, AV_PIX_FMT_BGR0, 1, 0)},
    {"Mpeg4Gop5Avi", "gop.avi", recipe("avi", AV_CODEC_ID_MPEG4, AV_PIX_FMT_YUV420P, 5, 0)},
    {"Mpeg4BFramesAvi", "bframes.avi", recipe("avi", AV_CODEC_ID_MPEG4, AV_PIX_FMT_YUV420P, 5, 2)},
    {"Mpeg4BFramesMkv", "bframes.mkv",
     recipe("matroska", AV_CODEC_ID_MPEG4, AV_PIX_FMT_YUV420P, 5, 2)},
    {"LateStartMkv", "late.mkv",
     recipe("matroska", AV_CODEC_ID_MPEG4, AV_PIX_FMT_YUV420P, 5, 2, 7)},
    {"Ffv1Gop4Mkv", "ffv1.mkv", recipe("matroska", AV_CODEC_ID_FFV1, AV_PIX_FMT_BGR0, 4, 0)},
};

class MovieStepping : public ::testing::TestWithParam<MovieCase> {
protected:
    void SetUp() override {
        path_ = dir_.file(GetParam().file);
        const std::string error = test::writeTestMovie(path_, GetParam().recipe);
        ASSERT_EQ(error, "");
        const MediaResult opened = movie_.open(path_.string());
        ASSERT_TRUE(opened.ok) << opened.error;
    }
    // The pattern number frameAt(k) shows.
    int shown(int64_t k) { return patternNumber(movie_.frameAt(k)); }

    test::TempDir dir_;
    std::filesystem::path path_;
    MovieSource movie_;
};

TEST_P(MovieStepping, KnowsItsSizeLengthAndRate) {
    EXPECT_TRUE(movie_.isOpen());
    EXPECT_EQ(movie_.frameCount(), 10);
    EXPECT_DOUBLE_EQ(movie_.framesPerSecond(), 10.0);
    EXPECT_EQ(movie_.width(), 64);
    EXPECT_EQ(movie_.height(), 48);
}

TEST_P(MovieStepping, TimerOrderShowsEachFrameThenWrapsToZero) {
    // The movie page's timer: 1, 2, ..., last, then 0 and 1 again.
    for (int k = 1; k < 10; ++k) EXPECT_EQ(shown(k), k) << "frame " << k;
    EXPECT_EQ(shown(0), 0);
    EXPECT_EQ(shown(1), 1);
    const VideoFrame frame = movie_.frameAt(1);
    EXPECT_EQ(frame.width, 64);
    EXPECT_EQ(frame.height, 48);
    EXPECT_EQ(frame.pixels.size(), 64u * 48u);
}

TEST_P(MovieStepping, BackwardAndRepeatedSeeksLandExactly) {
    for (int k : {9, 8, 7, 3, 3, 0, 9, 5, 4, 6, 2, 1, 0, 0})
        EXPECT_EQ(shown(k), k) << "frame " << k;
}

TEST_P(MovieStepping, RandomOrderLandsExactly) {
    constexpr unsigned kSeed = 20261207;
    SCOPED_TRACE("seed " + std::to_string(kSeed));
    std::mt19937 random(kSeed);
    std::uniform_int_distribution<int> pick(0, 9);
    for (int i = 0; i < 40; ++i) {
        const int k = pick(random);
        ASSERT_EQ(shown(k), k) << "call " << i << ", frame " << k;
    }
}

TEST_P(MovieStepping, OutOfRangeGivesEmptyFramesAndKeepsWorking) {
    EXPECT_TRUE(movie_.frameAt(-1).empty());
    EXPECT_TRUE(movie_.frameAt(10).empty());
    EXPECT_TRUE(movie_.frameAt(1'000'000).empty());
    EXPECT_EQ(shown(4), 4);
    EXPECT_TRUE(movie_.frameAt(10).empty());
    EXPECT_EQ(shown(5), 5);
}

INSTANTIATE_TEST_SUITE_P(Movies, MovieStepping, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

TEST(MovieSource, LosslessMovieGivesThePixelsExactly) {
    test::TempDir dir;
    const auto path = dir.file("exact.mkv");
    ASSERT_EQ(
        test::writeTestMovie(path, recipe("matroska", AV_CODEC_ID_FFV1, AV_PIX_FMT_BGR0, 1, 0)),
        "");
    MovieSource movie;
    ASSERT_TRUE(movie.open(path.string()).ok);
    for (int k : {3, 0, 9}) {
        const VideoFrame want = test::patternFrame(k, 64, 48);
        const VideoFrame got = movie.frameAt(k);
        ASSERT_EQ(got.pixels.size(), want.pixels.size());
        for (size_t i = 0; i < want.pixels.size(); ++i) {
            ASSERT_EQ(got.pixels[i], want.pixels[i])
                << "frame " << k << " pixel (" << i % 64 << ", " << i / 64 << ")";
        }
    }
}

TEST(MovieSource, FileThatIsNoMovieLeavesTheSourceClosedAndHarmless) {
    test::TempDir dir;
    const auto text = dir.file("notes.avi");
    std::ofstream(text) << "These are not the frames you are looking for.\n";
    for (const auto& path : {text, dir.file("missing.mkv")}) {
        SCOPED_TRACE(path.string());
        MovieSource movie;
        const MediaResult result = movie.open(path.string());
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.error.find(path.string()), std::string::npos) << result.error;
        EXPECT_FALSE(movie.isOpen());
        EXPECT_EQ(movie.frameCount(), 0);
        EXPECT_EQ(movie.framesPerSecond(), 0.0);
        EXPECT_EQ(movie.width(), 0);
        for (int k : {1, 0, 1, -1}) EXPECT_TRUE(movie.frameAt(k).empty());
    }
}

TEST(MovieSource, MovieCutShortGivesTheFramesItStillHas) {
    // A copy broken off while it was written: no index, the last frames missing or torn.
    test::TempDir dir;
    const auto whole = dir.file("whole.avi");
    MovieRecipe gop = recipe("avi", AV_CODEC_ID_MPEG4, AV_PIX_FMT_YUV420P, 3, 0);
    ASSERT_EQ(test::writeTestMovie(whole, gop), "");
    const auto cut = dir.file("cut.avi");
    std::filesystem::copy_file(whole, cut);
    std::ifstream in(whole, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const size_t frames = bytes.find("movi");
    const size_t index = bytes.find("idx1");
    ASSERT_LT(frames, index);
    std::filesystem::resize_file(cut, frames + (index - frames) * 6 / 10);
    MovieSource movie;
    const MediaResult opened = movie.open(cut.string());
    ASSERT_TRUE(opened.ok) << opened.error;
    EXPECT_GT(movie.frameCount(), 0);
    EXPECT_LT(movie.frameCount(), 10) << "the header still counts the frames cut off";
    // The last frame may be torn (the decoder conceals what is missing); the others are whole.
    const int64_t last = movie.frameCount() - 1;
    EXPECT_FALSE(movie.frameAt(last).empty());
    EXPECT_TRUE(movie.frameAt(last + 1).empty());
    for (int64_t k = last - 1; k >= 0; --k) EXPECT_EQ(patternNumber(movie.frameAt(k)), k);
}

TEST(MovieSource, FailedOpenClosesTheMovieBefore) {
    test::TempDir dir;
    const auto good = dir.file("good.avi");
    ASSERT_EQ(test::writeTestMovie(good, {}), "");
    MovieSource movie;
    ASSERT_TRUE(movie.open(good.string()).ok);
    EXPECT_EQ(patternNumber(movie.frameAt(2)), 2);
    EXPECT_FALSE(movie.open(dir.file("missing.avi").string()).ok);
    EXPECT_FALSE(movie.isOpen());
    EXPECT_TRUE(movie.frameAt(2).empty());
    ASSERT_TRUE(movie.open(good.string()).ok);
    EXPECT_EQ(patternNumber(movie.frameAt(3)), 3);
    movie.close();
    EXPECT_FALSE(movie.isOpen());
    EXPECT_TRUE(movie.frameAt(3).empty());
}

}  // namespace
}  // namespace media
