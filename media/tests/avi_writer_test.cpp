#include "media/avi_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "media/movie_source.h"
#include "media/tests/test_movies.h"

namespace media {
namespace {

bool has(AviCodec codec) {
    for (const AviCodecInfo& info : availableAviCodecs()) {
        if (info.codec == codec) return true;
    }
    return false;
}

// Every pixel of every frame different, so a swapped row, column or frame shows.
VideoFrame numberedFrame(int number, int width, int height) {
    VideoFrame frame{width, height, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            frame.pixels.push_back(static_cast<uint32_t>((x * 7 + number * 29) & 0xFF) << 16 |
                                   static_cast<uint32_t>((y * 5 + number * 3) & 0xFF) << 8 |
                                   static_cast<uint32_t>((x * y + number * 101) & 0xFF));
        }
    }
    return frame;
}

MediaResult writeFrames(const std::filesystem::path& path, const AviOptions& options, int frames,
                        int width, int height, bool numbered) {
    AviWriter writer;
    if (MediaResult r = writer.open(path.string(), width, height, options); !r.ok) return r;
    for (int k = 0; k < frames; ++k) {
        const VideoFrame frame =
            numbered ? numberedFrame(k, width, height) : test::patternFrame(k, width, height);
        if (MediaResult r = writer.write(frame); !r.ok) return r;
    }
    return writer.finish();
}

std::string firstDifference(const VideoFrame& want, const VideoFrame& got) {
    if (want.width != got.width || want.height != got.height) {
        return "size " + std::to_string(got.width) + " x " + std::to_string(got.height);
    }
    for (size_t i = 0; i < want.pixels.size(); ++i) {
        if (want.pixels[i] != got.pixels[i]) {
            char text[96];
            std::snprintf(text, sizeof text, "pixel (%zu, %zu): want %06X, got %06X",
                          i % want.width, i / want.width, want.pixels[i], got.pixels[i]);
            return text;
        }
    }
    return {};
}

struct LosslessCase {
    AviCodec codec;
    const char* codecName;  // what FFmpeg reads back
    int width;
    int height;
    int framesPerSecond;
};

class LosslessAvi : public ::testing::TestWithParam<LosslessCase> {};

TEST_P(LosslessAvi, ReadsBackEveryPixelInOrderAtTheRate) {
    const LosslessCase c = GetParam();
    test::TempDir dir;
    const auto path = dir.file("out.avi");
    AviOptions options;
    options.codec = c.codec;
    options.framesPerSecond = c.framesPerSecond;
    const MediaResult written = writeFrames(path, options, 4, c.width, c.height, true);
    ASSERT_TRUE(written.ok) << written.error;

    const test::StreamFacts facts = test::probeMovie(path);
    ASSERT_TRUE(facts.ok);
    EXPECT_EQ(facts.codecName, c.codecName);
    EXPECT_EQ(facts.packets, 4);
    EXPECT_EQ(facts.keyPackets, 4);
    EXPECT_DOUBLE_EQ(facts.realRate, c.framesPerSecond);
    EXPECT_DOUBLE_EQ(facts.averageRate, c.framesPerSecond);

    MovieSource movie;
    ASSERT_TRUE(movie.open(path.string()).ok);
    EXPECT_EQ(movie.frameCount(), 4);
    EXPECT_DOUBLE_EQ(movie.framesPerSecond(), c.framesPerSecond);
    for (int k : {0, 1, 2, 3, 1}) {
        EXPECT_EQ(firstDifference(numberedFrame(k, c.width, c.height), movie.frameAt(k)), "")
            << "frame " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, LosslessAvi,
                         ::testing::Values(LosslessCase{AviCodec::Raw, "rawvideo", 64, 48, 10},
                                           LosslessCase{AviCodec::Raw, "rawvideo", 33, 17, 3},
                                           LosslessCase{AviCodec::Ffv1, "ffv1", 64, 48, 6},
                                           LosslessCase{AviCodec::Ffv1, "ffv1", 33, 17, 1}),
                         [](const auto& info) {
                             return std::string(info.param.codecName) + "_" +
                                    std::to_string(info.param.width) + "x" +
                                    std::to_string(info.param.height) + "_" +
                                    std::to_string(info.param.framesPerSecond) + "fps";
                         });

uint32_t littleEndian32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

TEST(AviWriter, UncompressedFramesAreStoredBottomUpWithAPositiveHeight) {
    // A picture whose top row is white and the rest black: the stored frame ends with the white
    // row, as every AVI reader expects of a bitmap with a positive height.
    constexpr int kWidth = 6;
    constexpr int kHeight = 4;
    VideoFrame picture{kWidth, kHeight, std::vector<uint32_t>(kWidth * kHeight, 0)};
    std::fill_n(picture.pixels.begin(), kWidth, 0xFFFFFFu);
    test::TempDir dir;
    const auto path = dir.file("white-top.avi");
    AviWriter writer;
    ASSERT_TRUE(writer.open(path.string(), kWidth, kHeight, {}).ok);
    ASSERT_TRUE(writer.write(picture).ok);
    ASSERT_TRUE(writer.finish().ok);

    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const size_t format = bytes.find("strf");
    ASSERT_NE(format, std::string::npos);
    // strf holds a 40-byte bitmap header: size, width, height, planes and bit count, ...
    EXPECT_EQ(littleEndian32(bytes, format + 8), 40u);
    EXPECT_EQ(littleEndian32(bytes, format + 12), static_cast<uint32_t>(kWidth));
    EXPECT_EQ(littleEndian32(bytes, format + 16), static_cast<uint32_t>(kHeight));
    EXPECT_EQ(littleEndian32(bytes, format + 20) >> 16, 32u);  // bits per pixel
    const size_t chunk = bytes.find("00dc", bytes.find("movi"));
    ASSERT_NE(chunk, std::string::npos);
    ASSERT_EQ(littleEndian32(bytes, chunk + 4), static_cast<uint32_t>(kWidth * kHeight * 4));
    const std::string frame = bytes.substr(chunk + 8, kWidth * kHeight * 4);
    const std::string whiteRow = [] {
        std::string row;
        for (int x = 0; x < kWidth; ++x) row += std::string("\xFF\xFF\xFF\x00", 4);
        return row;
    }();
    EXPECT_EQ(frame.substr(0, kWidth * 4), std::string(kWidth * 4, '\0'));
    EXPECT_EQ(frame.substr((kHeight - 1) * kWidth * 4), whiteRow);
}

struct LossyCase {
    AviCodec codec;
    const char* codecName;
    int keyFrameInterval;
    int64_t bitRate;
    int quality;
};

class LossyAvi : public ::testing::TestWithParam<LossyCase> {};

TEST_P(LossyAvi, ReadsBackEveryFrameInOrderWithItsColours) {
    const LossyCase c = GetParam();
    if (!has(c.codec)) GTEST_SKIP() << "this FFmpeg has no " << c.codecName << " encoder";
    test::TempDir dir;
    const auto path = dir.file("lossy.avi");
    AviOptions options;
    options.codec = c.codec;
    options.framesPerSecond = 6;
    options.keyFrameInterval = c.keyFrameInterval;
    options.bitRate = c.bitRate;
    options.quality = c.quality;
    constexpr int kFrames = 7;
    const MediaResult written = writeFrames(path, options, kFrames, 64, 48, false);
    ASSERT_TRUE(written.ok) << written.error;

    const test::StreamFacts facts = test::probeMovie(path);
    EXPECT_EQ(facts.codecName, c.codecName);
    EXPECT_EQ(facts.packets, kFrames);
    EXPECT_DOUBLE_EQ(facts.realRate, 6.0);
    // Every frame here is a scene cut, which may bring a key frame before its interval ends.
    if (c.keyFrameInterval == 1) {
        EXPECT_EQ(facts.keyPackets, kFrames);
    }

    MovieSource movie;
    ASSERT_TRUE(movie.open(path.string()).ok);
    EXPECT_EQ(movie.frameCount(), kFrames);
    for (int k : {0, 1, 2, 3, 4, 5, 6, 2, 0}) {
        const VideoFrame got = movie.frameAt(k);
        EXPECT_EQ(test::patternNumber(got), k) << "frame " << k;
        const VideoFrame want = test::patternFrame(k, 64, 48);
        ASSERT_EQ(got.pixels.size(), want.pixels.size());
        // The flat colour away from edges comes back within a few levels.
        const uint32_t a = want.pixels[64 * 8 + 8];
        const uint32_t b = got.pixels[64 * 8 + 8];
        for (int shift : {0, 8, 16}) {
            EXPECT_NEAR(static_cast<int>(a >> shift & 0xFF), static_cast<int>(b >> shift & 0xFF),
                        12)
                << "frame " << k << " byte " << shift / 8;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, LossyAvi,
                         ::testing::Values(LossyCase{AviCodec::Mjpeg, "mjpeg", 1, 0, -1},
                                           LossyCase{AviCodec::Mjpeg, "mjpeg", 1, 0, 5},
                                           LossyCase{AviCodec::Mpeg4, "mpeg4", 1, 0, -1},
                                           LossyCase{AviCodec::Mpeg4, "mpeg4", 3, 800000, -1},
                                           LossyCase{AviCodec::H264, "h264", 1, 0, -1},
                                           LossyCase{AviCodec::H264, "h264", 4, 0, 18}),
                         [](const auto& info) {
                             return std::string(info.param.codecName) + "_key" +
                                    std::to_string(info.param.keyFrameInterval) + "_" +
                                    std::to_string(info.index);
                         });

TEST(AviWriter, KeyFrameIntervalSpacesTheKeyFramesOfAStillPicture) {
    for (AviCodec codec : {AviCodec::Mpeg4, AviCodec::H264}) {
        if (!has(codec)) continue;
        SCOPED_TRACE(static_cast<int>(codec));
        test::TempDir dir;
        const auto path = dir.file("still.avi");
        AviOptions options;
        options.codec = codec;
        options.keyFrameInterval = 4;
        AviWriter writer;
        ASSERT_TRUE(writer.open(path.string(), 64, 48, options).ok);
        for (int k = 0; k < 9; ++k) ASSERT_TRUE(writer.write(test::patternFrame(2, 64, 48)).ok);
        ASSERT_TRUE(writer.finish().ok);
        const test::StreamFacts facts = test::probeMovie(path);
        EXPECT_EQ(facts.packets, 9);
        EXPECT_EQ(facts.keyPackets, 3);  // frames 0, 4 and 8
    }
}

TEST(AviWriter, CodecListStartsWithUncompressedAndKeepsItsOrder) {
    const std::vector<AviCodecInfo> codecs = availableAviCodecs();
    ASSERT_FALSE(codecs.empty());
    EXPECT_EQ(codecs.front().codec, AviCodec::Raw);
    EXPECT_EQ(codecs.front().key, "raw");
    EXPECT_EQ(codecs.front().label, "Uncompressed (32-bit BGRA)");
    for (size_t i = 1; i < codecs.size(); ++i) {
        EXPECT_LT(static_cast<int>(codecs[i - 1].codec), static_cast<int>(codecs[i].codec));
    }
    EXPECT_TRUE(has(AviCodec::Ffv1));  // part of every FFmpeg build
}

TEST(AviWriter, AbandonedAndUnfinishedFilesAreRemoved) {
    test::TempDir dir;
    const auto path = dir.file("gone.avi");
    {
        AviWriter writer;
        ASSERT_TRUE(writer.open(path.string(), 16, 16, {}).ok);
        ASSERT_TRUE(writer.write(test::patternFrame(0, 16, 16)).ok);
        writer.abandon();
        EXPECT_FALSE(std::filesystem::exists(path));
        EXPECT_FALSE(std::filesystem::exists(path.string() + ".part"));
        EXPECT_FALSE(writer.write(test::patternFrame(1, 16, 16)).ok);
    }
    {
        AviWriter writer;
        ASSERT_TRUE(writer.open(path.string(), 16, 16, {}).ok);
        ASSERT_TRUE(writer.write(test::patternFrame(0, 16, 16)).ok);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("")));
}

TEST(AviWriter, AnExistingFileIsReplacedOnlyByAFinishedOne) {
    test::TempDir dir;
    const auto path = dir.file("keep.avi");
    std::ofstream(path) << "earlier export";
    {
        AviWriter writer;
        ASSERT_TRUE(writer.open(path.string(), 16, 16, {}).ok);
        ASSERT_TRUE(writer.write(test::patternFrame(0, 16, 16)).ok);
    }
    std::ifstream kept(path);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), {}), "earlier export");
    ASSERT_TRUE(writeFrames(path, {}, 2, 16, 16, false).ok);
    EXPECT_EQ(test::probeMovie(path).packets, 2);
}

TEST(AviWriter, RefusalsNameTheFileAndLeaveNothing) {
    test::TempDir dir;
    const std::string unwritable = dir.file("no/such/folder/x.avi").string();
    AviWriter writer;
    MediaResult r = writer.open(unwritable, 16, 16, {});
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find(unwritable), std::string::npos) << r.error;

    const std::string path = dir.file("x.avi").string();
    r = writer.open(path, 0, 16, {});
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find(path), std::string::npos) << r.error;
    AviOptions noRate;
    noRate.framesPerSecond = 0;
    EXPECT_FALSE(writer.open(path, 16, 16, noRate).ok);
    r = writer.open(dir.file("").string(), 16, 16, {});
    EXPECT_FALSE(r.ok) << "a folder is no file";
    if (has(AviCodec::H264)) {
        AviOptions h264;
        h264.codec = AviCodec::H264;
        r = writer.open(path, 15, 16, h264);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find("even"), std::string::npos) << r.error;
    }

    ASSERT_TRUE(writer.open(path, 16, 16, {}).ok);
    r = writer.write(test::patternFrame(0, 16, 8));
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("16 x 8"), std::string::npos) << r.error;
    VideoFrame shortFrame = test::patternFrame(0, 16, 16);
    shortFrame.pixels.resize(10);
    EXPECT_FALSE(writer.write(shortFrame).ok);
    writer.abandon();
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("")));
    EXPECT_FALSE(writer.finish().ok);
}

}  // namespace
}  // namespace media
