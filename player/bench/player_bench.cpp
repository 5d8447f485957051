// The player's work per tick and the AVI export, for receiver-sized records (342 x 254).
// Frames per second are the items processed, over wall-clock time: the encoders run threads of
// their own, which the CPU time of the calling thread would leave out.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "encoder/tests/seeded_bytes.h"
#include "player/make_avi.h"
#include "player/picture_adjust.h"
#include "receiver/movie_file.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 342;
constexpr int kHeight = 254;
constexpr int kRecords = 100;

// Smooth pictures with a little noise, closer to received ones than pure noise (which no
// encoder can squeeze and which would make the lossy codecs look slower than they are).
std::vector<uint32_t> record(int number) {
    const std::vector<uint8_t> noise = encoder::testing_support::seededBytes(
        static_cast<uint64_t>(number), static_cast<size_t>(kWidth) * kHeight);
    std::vector<uint32_t> pixels(static_cast<size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const size_t i = static_cast<size_t>(y) * kWidth + static_cast<size_t>(x);
            const uint32_t n = noise[i] & 7;
            const uint32_t r = static_cast<uint32_t>(x + number) & 0xFF;
            const uint32_t g = static_cast<uint32_t>(y * 2 + number) & 0xFF;
            const uint32_t b = static_cast<uint32_t>(x + y) & 0xFF;
            pixels[i] = (r ^ n) << 16 | (g ^ n) << 8 | (b ^ n);
        }
    }
    return pixels;
}

class MovieFixture {
public:
    MovieFixture() {
        dir_ = fs::temp_directory_path() / ("vistrel_player_bench_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        std::ofstream out(movie(), std::ios::binary | std::ios::trunc);
        for (int k = 1; k <= kRecords; ++k) {
            const std::vector<uint8_t> bytes = receiver::encodeRecord(kWidth, kHeight, record(k));
            out.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
        }
    }
    ~MovieFixture() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    [[nodiscard]] fs::path movie() const { return dir_ / "bench.tv"; }
    [[nodiscard]] fs::path avi() const { return dir_ / "bench.avi"; }

private:
    fs::path dir_;
};

const MovieFixture& fixture() {
    static const MovieFixture movie;
    return movie;
}

void BM_MakeAvi(benchmark::State& state, media::AviCodec codec) {
    media::AviOptions options;
    options.codec = codec;
    options.framesPerSecond = 10;
    for (auto _ : state) {
        const player::ExportResult result =
            player::MAKEAVI(fixture().movie(), fixture().avi(), options);
        if (!result.ok()) {
            state.SkipWithError(result.detail.c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
    state.SetBytesProcessed(state.iterations() * kRecords *
                            static_cast<int64_t>(receiver::recordBytes(kWidth, kHeight)));
}
BENCHMARK_CAPTURE(BM_MakeAvi, raw_342x254x100, media::AviCodec::Raw)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MakeAvi, ffv1_342x254x100, media::AviCodec::Ffv1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MakeAvi, mjpeg_342x254x100, media::AviCodec::Mjpeg)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MakeAvi, h264_342x254x100, media::AviCodec::H264)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One tick's conversion: brightness, contrast and colour order over a whole record.
void BM_AdjustPixels(benchmark::State& state) {
    const std::vector<uint32_t> pixels = record(1);
    std::vector<uint32_t> display(pixels.size());
    player::PictureAdjust adjust;
    adjust.brightness = 200;
    adjust.contrast = 7;
    for (auto _ : state) {
        player::adjustPixels(pixels, display, adjust, player::ColourFormat::Rgb);
        benchmark::DoNotOptimize(display.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(pixels.size() * 4));
}
BENCHMARK(BM_AdjustPixels)->Name("BM_AdjustPixels/342x254")->UseRealTime();

// One tick's read: a record from the movie file.
void BM_ReadRecord(benchmark::State& state) {
    receiver::MovieReader reader;
    if (!reader.open(fixture().movie()).ok) {
        state.SkipWithError("cannot open the movie");
        return;
    }
    std::vector<uint32_t> pixels;
    int32_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(reader.readRecord(k % kRecords + 1, pixels));
        ++k;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() *
                            static_cast<int64_t>(receiver::recordBytes(kWidth, kHeight)));
}
BENCHMARK(BM_ReadRecord)->Name("BM_ReadRecord/342x254")->UseRealTime();

}  // namespace
