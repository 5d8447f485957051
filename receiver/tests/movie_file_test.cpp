#include "receiver/movie_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>

#include "encoder/tests/seeded_bytes.h"

namespace receiver {
namespace {

namespace fs = std::filesystem;

const LocalDateTime kStart{2026, 12, 6, 6, 38, 15};
constexpr uint64_t kPicrxRecord = 347480;

std::vector<uint32_t> seededPixels(uint64_t seed, int32_t w, int32_t h) {
    const std::vector<uint8_t> bytes =
        encoder::testing_support::seededBytes(seed, static_cast<size_t>(w) * h * 4);
    std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < pixels.size(); ++i) {
        // The top byte is random too: the file must not carry it.
        pixels[i] = static_cast<uint32_t>(bytes[4 * i]) | bytes[4 * i + 1] << 8 |
                    bytes[4 * i + 2] << 16 | static_cast<uint32_t>(bytes[4 * i + 3]) << 24;
    }
    return pixels;
}

std::vector<uint32_t> withoutTopByte(std::vector<uint32_t> pixels) {
    for (uint32_t& p : pixels) {
        p &= 0x00FFFFFF;
    }
    return pixels;
}

std::vector<uint8_t> fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// A fresh directory per test, removed afterwards.
class MovieDir : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vistrel_movie_" + std::to_string(::getpid()) + "_" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    fs::path dir_;
};

TEST(MovieFileName, MonthDayYearThenTimeThenCopyNumber) {
    EXPECT_EQ(movieFileName(kStart), "Vistrel_12-06-2026_063815.tv");
    EXPECT_EQ(movieFileName({2027, 1, 31, 23, 5, 9}), "Vistrel_01-31-2027_230509.tv");
    EXPECT_EQ(movieFileName(kStart, 2), "Vistrel_12-06-2026_063815-2.tv");
    EXPECT_EQ(movieFileName(kStart, 17), "Vistrel_12-06-2026_063815-17.tv");
}

TEST(MovieRecord, ReceiverRecordHasTheKnownSizeAndHeader) {
    const std::vector<uint32_t> pixels(kRecordWidth * kRecordHeight, 0);
    const std::vector<uint8_t> record = encodeRecord(kRecordWidth, kRecordHeight, pixels);
    ASSERT_EQ(record.size(), kPicrxRecord);
    EXPECT_EQ(recordBytes(kRecordWidth, kRecordHeight), kPicrxRecord);
    const std::vector<uint8_t> header(record.begin(), record.begin() + 8);
    EXPECT_EQ(header, (std::vector<uint8_t>{0x56, 0x01, 0x00, 0x00, 0xFE, 0x00, 0x00, 0x00}));
}

TEST(MovieRecord, PixelsAreBlueGreenRedZeroRowsFromTheTop) {
    // 2 x 2: the order in the file tells rows from columns and top from bottom.
    const std::vector<uint32_t> pixels{0x00112233, 0xFF445566, 0x00778899, 0x80AABBCC};
    const std::vector<uint8_t> record = encodeRecord(2, 2, pixels);
    const std::vector<uint8_t> expected{2,    0,    0,    0, 2,    0,    0,    0,
                                        0x33, 0x22, 0x11, 0, 0x66, 0x55, 0x44, 0,
                                        0x99, 0x88, 0x77, 0, 0xCC, 0xBB, 0xAA, 0};
    EXPECT_EQ(record, expected);
}

TEST_F(MovieDir, RecorderLabelsCountAndButtonFollowARecording) {
    RecorderState recorder;
    EXPECT_EQ(recordButtonCaption(recorder), "Record");
    ASSERT_TRUE(startRecording(recorder, kStart, dir_).ok);
    const std::string name = "Vistrel_12-06-2026_063815.tv";
    EXPECT_TRUE(recorder.recording);
    EXPECT_EQ(recorder.fileName, name);
    EXPECT_EQ(recorder.path, dir_ / name);
    EXPECT_EQ(recorder.label, "0 frames saved to " + name);
    EXPECT_EQ(recordButtonCaption(recorder), "Close file");

    const std::vector<uint32_t> pixels(kRecordWidth * kRecordHeight, 0x00C0FFEE);
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(appendRecord(recorder, kRecordWidth, kRecordHeight, pixels).ok);
    }
    EXPECT_EQ(recorder.savedFrames, 3);
    EXPECT_EQ(recorder.label, " 3 frames saved to " + name);

    ASSERT_TRUE(stopRecording(recorder).ok);
    EXPECT_FALSE(recorder.recording);
    EXPECT_EQ(recorder.savedFrames, 0);
    EXPECT_EQ(recorder.label, " 3 frames saved to " + name);
    EXPECT_EQ(recordButtonCaption(recorder), "Record");
    EXPECT_EQ(fs::file_size(dir_ / name), 3 * kPicrxRecord);
}

TEST_F(MovieDir, StartAndStopWithoutFramesLeaveAnEmptyFile) {
    RecorderState recorder;
    ASSERT_TRUE(toggleRecording(recorder, kStart, dir_).ok);
    EXPECT_TRUE(recorder.recording);
    ASSERT_TRUE(toggleRecording(recorder, kStart, dir_).ok);
    EXPECT_FALSE(recorder.recording);
    EXPECT_EQ(fs::file_size(recorder.path), 0u);
}

TEST_F(MovieDir, AppendWhileNotRecordingWritesNothing) {
    RecorderState recorder;
    const std::vector<uint32_t> pixels(4, 0);
    EXPECT_TRUE(appendRecord(recorder, 2, 2, pixels).ok);
    EXPECT_EQ(recorder.savedFrames, 0);
    EXPECT_TRUE(recorder.label.empty());
    EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(MovieDir, StartsWithinOneSecondGetTheirOwnFiles) {
    const std::vector<uint32_t> pixels(6, 0x00010203);
    RecorderState recorder;
    std::vector<fs::path> paths;
    for (int run = 0; run < 3; ++run) {
        ASSERT_TRUE(startRecording(recorder, kStart, dir_).ok) << recorder.label;
        paths.push_back(recorder.path);
        for (int frame = 0; frame <= run; ++frame) {
            ASSERT_TRUE(appendRecord(recorder, 3, 2, pixels).ok);
        }
        ASSERT_TRUE(stopRecording(recorder).ok);
    }
    EXPECT_EQ(paths[0].filename(), "Vistrel_12-06-2026_063815.tv");
    EXPECT_EQ(paths[1].filename(), "Vistrel_12-06-2026_063815-2.tv");
    EXPECT_EQ(paths[2].filename(), "Vistrel_12-06-2026_063815-3.tv");
    for (int run = 0; run < 3; ++run) {
        EXPECT_EQ(fs::file_size(paths[run]), (run + 1) * recordBytes(3, 2)) << paths[run];
    }
}

TEST_F(MovieDir, AnExistingFileOfTheSameNameIsLeftAlone) {
    const std::vector<uint8_t> earlier{1, 2, 3, 4, 5};
    writeBytes(dir_ / "Vistrel_12-06-2026_063815.tv", earlier);
    RecorderState recorder;
    ASSERT_TRUE(startRecording(recorder, kStart, dir_).ok);
    EXPECT_EQ(recorder.fileName, "Vistrel_12-06-2026_063815-2.tv");
    ASSERT_TRUE(appendRecord(recorder, 1, 1, std::vector<uint32_t>{7}).ok);
    ASSERT_TRUE(stopRecording(recorder).ok);
    EXPECT_EQ(fileBytes(dir_ / "Vistrel_12-06-2026_063815.tv"), earlier);
}

TEST_F(MovieDir, StartingWhileRecordingClosesTheFirstFileIntact) {
    RecorderState recorder;
    ASSERT_TRUE(startRecording(recorder, kStart, dir_).ok);
    const fs::path first = recorder.path;
    ASSERT_TRUE(appendRecord(recorder, 1, 1, std::vector<uint32_t>{7}).ok);
    ASSERT_TRUE(startRecording(recorder, kStart, dir_).ok);
    EXPECT_NE(recorder.path, first);
    EXPECT_EQ(recorder.label, "0 frames saved to " + recorder.fileName);
    EXPECT_EQ(fs::file_size(first), recordBytes(1, 1));
}

TEST_F(MovieDir, EveryAppendedRecordIsInTheFileBeforeTheRecordingEnds) {
    RecorderState recorder;
    ASSERT_TRUE(startRecording(recorder, kStart, dir_).ok);
    const std::vector<uint32_t> pixels = seededPixels(11, 5, 4);
    for (int frame = 1; frame <= 4; ++frame) {
        ASSERT_TRUE(appendRecord(recorder, 5, 4, pixels).ok);
        // Read through a second handle while the recorder still holds its file open: what a
        // crash at this moment would leave behind.
        MovieReader reader;
        ASSERT_TRUE(reader.open(recorder.path).ok);
        EXPECT_EQ(reader.fileBytes(), frame * recordBytes(5, 4));
        std::vector<uint32_t> read;
        ASSERT_TRUE(reader.readRecord(frame, read).ok);
        EXPECT_EQ(read, withoutTopByte(pixels));
    }
}

TEST_F(MovieDir, FailureToCreateIsReportedAndRecordingStaysOff) {
    RecorderState recorder;
    const fs::path missing = dir_ / "no such folder";
    const MovieResult result = startRecording(recorder, kStart, missing);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("Cannot create"), std::string::npos) << result.error;
    EXPECT_NE(result.error.find("no such folder"), std::string::npos) << result.error;
    EXPECT_NE(result.error.find(std::strerror(ENOENT)), std::string::npos) << result.error;
    EXPECT_EQ(recorder.label, result.error);
    EXPECT_FALSE(recorder.recording);
    EXPECT_EQ(recordButtonCaption(recorder), "Record");
    EXPECT_TRUE(appendRecord(recorder, 1, 1, std::vector<uint32_t>{1}).ok);
    // The next start in a usable folder works.
    ASSERT_TRUE(startRecording(recorder, kStart, dir_).ok);
    EXPECT_TRUE(recorder.recording);
}

// Lowers the file-size limit so that writes past it fail as on a full disk, and puts it back.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*oldHandler_)(int) = nullptr;
};

TEST_F(MovieDir, FailedWriteEndsTheRecordingAndKeepsTheWholeRecords) {
    const std::vector<uint32_t> pixels = seededPixels(3, kRecordWidth, kRecordHeight);
    RecorderState recorder;
    ASSERT_TRUE(startRecording(recorder, kStart, dir_).ok);
    MovieResult second;
    {
        // Room for one and a half records: the second is torn part way, like on a full disk.
        const FileSizeLimit limit(kPicrxRecord + kPicrxRecord / 2);
        ASSERT_TRUE(appendRecord(recorder, kRecordWidth, kRecordHeight, pixels).ok);
        second = appendRecord(recorder, kRecordWidth, kRecordHeight, pixels);
    }
    EXPECT_FALSE(second.ok);
    EXPECT_NE(second.error.find("Recording stopped"), std::string::npos) << second.error;
    EXPECT_NE(second.error.find(recorder.fileName), std::string::npos) << second.error;
    EXPECT_EQ(recorder.label, second.error);
    EXPECT_FALSE(recorder.recording);
    EXPECT_EQ(recorder.savedFrames, 0);
    EXPECT_EQ(recordButtonCaption(recorder), "Record");
    // The torn record is gone: a reader would otherwise count it and show it half black.
    EXPECT_EQ(fs::file_size(recorder.path), kPicrxRecord);
    MovieReader reader;
    ASSERT_TRUE(reader.open(recorder.path).ok);
    EXPECT_EQ(reader.recordCount(), 1);

    // Pressing Record again starts a new file.
    const fs::path broken = recorder.path;
    ASSERT_TRUE(startRecording(recorder, kStart, dir_).ok);
    EXPECT_NE(recorder.path, broken);
    EXPECT_TRUE(appendRecord(recorder, kRecordWidth, kRecordHeight, pixels).ok);
    EXPECT_EQ(recorder.label, " 1 frames saved to " + recorder.fileName);
}

TEST_F(MovieDir, RecordOfAnotherSizeIsRefusedAndRecordingGoesOn) {
    RecorderState recorder;
    ASSERT_TRUE(startRecording(recorder, kStart, dir_).ok);
    ASSERT_TRUE(appendRecord(recorder, 2, 2, std::vector<uint32_t>(4, 1)).ok);
    const MovieResult other = appendRecord(recorder, 3, 2, std::vector<uint32_t>(6, 1));
    EXPECT_FALSE(other.ok);
    EXPECT_EQ(recorder.label, other.error);
    const MovieResult mismatch = appendRecord(recorder, 2, 2, std::vector<uint32_t>(3, 1));
    EXPECT_FALSE(mismatch.ok);
    EXPECT_TRUE(recorder.recording);
    EXPECT_EQ(fs::file_size(recorder.path), recordBytes(2, 2));
    ASSERT_TRUE(appendRecord(recorder, 2, 2, std::vector<uint32_t>(4, 1)).ok);
    EXPECT_EQ(recorder.label, " 2 frames saved to " + recorder.fileName);
}

TEST_F(MovieDir, ReaderReturnsEachRecordAsWritten) {
    for (const uint64_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        RecorderState recorder;
        ASSERT_TRUE(startRecording(recorder, {2026, 1, 1, 0, 0, static_cast<int>(seed)}, dir_).ok);
        std::vector<std::vector<uint32_t>> written;
        for (int frame = 0; frame < 5; ++frame) {
            written.push_back(seededPixels(seed * 100 + frame, 7, 3));
            ASSERT_TRUE(appendRecord(recorder, 7, 3, written.back()).ok);
        }
        ASSERT_TRUE(stopRecording(recorder).ok);

        MovieReader reader;
        ASSERT_TRUE(reader.open(recorder.path).ok);
        EXPECT_EQ(reader.width(), 7);
        EXPECT_EQ(reader.height(), 3);
        EXPECT_EQ(reader.recordSize(), recordBytes(7, 3));
        ASSERT_EQ(reader.recordCount(), 5);
        // Backwards: each read seeks on its own.
        for (int number = 5; number >= 1; --number) {
            std::vector<uint32_t> pixels;
            ASSERT_TRUE(reader.readRecord(number, pixels).ok);
            EXPECT_EQ(pixels, withoutTopByte(written[number - 1])) << "record " << number;
        }
    }
}

TEST_F(MovieDir, RecordCountRoundsAndHalfARecordCounts) {
    const std::vector<uint8_t> record = encodeRecord(4, 4, seededPixels(5, 4, 4));
    const uint64_t r = record.size();  // 72
    struct Case {
        uint64_t length;
        int32_t count;
    };
    for (const Case c : {Case{r, 1}, Case{r / 2, 1}, Case{3 * r, 3}, Case{3 * r + r / 2 - 1, 3},
                         Case{3 * r + r / 2, 4}, Case{3 * r + 1, 3}}) {
        SCOPED_TRACE(testing::Message() << "length " << c.length);
        std::vector<uint8_t> bytes;
        while (bytes.size() < c.length) {
            bytes.insert(bytes.end(), record.begin(), record.end());
        }
        bytes.resize(c.length);
        writeBytes(dir_ / "cut.tv", bytes);
        MovieReader reader;
        ASSERT_TRUE(reader.open(dir_ / "cut.tv").ok);
        EXPECT_EQ(reader.recordCount(), c.count);
    }
}

TEST_F(MovieDir, MissingBytesOfACountedLastRecordAreBlack) {
    const std::vector<uint32_t> pixels(4 * 4, 0x00FFFFFF);
    std::vector<uint8_t> bytes = encodeRecord(4, 4, pixels);
    const std::vector<uint8_t> whole = bytes;
    // Second record: header and the first 9 of 16 pixels, plus 2 bytes of the tenth.
    bytes.insert(bytes.end(), whole.begin(), whole.begin() + 8 + 9 * 4 + 2);
    writeBytes(dir_ / "cut.tv", bytes);
    MovieReader reader;
    ASSERT_TRUE(reader.open(dir_ / "cut.tv").ok);
    ASSERT_EQ(reader.recordCount(), 2);
    std::vector<uint32_t> last;
    ASSERT_TRUE(reader.readRecord(2, last).ok);
    ASSERT_EQ(last.size(), 16u);
    for (size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(last[i], 0x00FFFFFFu) << "pixel " << i;
    }
    EXPECT_EQ(last[9], 0x0000FFFFu);  // blue and green arrived, red did not
    for (size_t i = 10; i < 16; ++i) {
        EXPECT_EQ(last[i], 0u) << "pixel " << i;
    }
}

TEST_F(MovieDir, ReaderRefusesFilesThatAreNoMovie) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    const std::vector<uint8_t> receiverHeader = {0x56, 0x01, 0, 0, 0xFE, 0, 0, 0};
    std::vector<uint8_t> lessThanHalf = receiverHeader;
    lessThanHalf.resize(kPicrxRecord / 2 - 1, 0);
    const Case cases[] = {
        {"empty", {}},
        {"shorter than the header", {1, 0, 0, 0, 1, 0, 0}},
        {"zero width", {0, 0, 0, 0, 1, 0, 0, 0, 9, 9, 9, 0}},
        {"negative height", {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 9, 9, 9, 0}},
        {"width above 4096", {0x01, 0x10, 0, 0, 1, 0, 0, 0, 9, 9, 9, 0}},
        {"height above 4096", {1, 0, 0, 0, 0x01, 0x10, 0, 0, 9, 9, 9, 0}},
        {"header alone", receiverHeader},
        {"less than half a record", lessThanHalf},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeBytes(dir_ / "bad.tv", c.bytes);
        MovieReader reader;
        const MovieResult result = reader.open(dir_ / "bad.tv");
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.error.find("bad.tv"), std::string::npos) << result.error;
        EXPECT_FALSE(reader.isOpen());
        EXPECT_EQ(reader.recordCount(), 0);
        std::vector<uint32_t> pixels;
        EXPECT_FALSE(reader.readRecord(1, pixels).ok);
    }
}

TEST_F(MovieDir, LargestSideIsStillAMovie) {
    std::vector<uint8_t> bytes = {0x00, 0x10, 0, 0, 1, 0, 0, 0};  // 4096 x 1
    bytes.resize(recordBytes(4096, 1), 0x40);
    writeBytes(dir_ / "wide.tv", bytes);
    MovieReader reader;
    ASSERT_TRUE(reader.open(dir_ / "wide.tv").ok);
    EXPECT_EQ(reader.width(), 4096);
    EXPECT_EQ(reader.recordCount(), 1);
}

TEST_F(MovieDir, ReaderReportsMissingFilesAndRecordsOutOfRange) {
    MovieReader reader;
    const MovieResult missing = reader.open(dir_ / "absent.tv");
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("absent.tv"), std::string::npos) << missing.error;

    writeBytes(dir_ / "two.tv", [] {
        std::vector<uint8_t> bytes = encodeRecord(1, 1, std::vector<uint32_t>{1});
        bytes.insert(bytes.end(), bytes.begin(), bytes.end());
        return bytes;
    }());
    ASSERT_TRUE(reader.open(dir_ / "two.tv").ok);
    std::vector<uint32_t> pixels;
    EXPECT_FALSE(reader.readRecord(0, pixels).ok);
    EXPECT_FALSE(reader.readRecord(3, pixels).ok);
    EXPECT_TRUE(reader.readRecord(2, pixels).ok);

    // A failed open leaves nothing of the movie before it.
    EXPECT_FALSE(reader.open(dir_ / "absent.tv").ok);
    EXPECT_FALSE(reader.isOpen());
    EXPECT_EQ(reader.width(), 0);
}

}  // namespace
}  // namespace receiver
