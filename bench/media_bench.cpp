// AVI export and movie stepping with FFmpeg, on movies of the receiver's record size.
//
// ExportAvi/<codec>: AviWriter writes a movie of 100 records of 342 x 254 pixels, from opening
// the file to the finished index. Items are frames, bytes the records' pixel bytes. The pictures
// are smooth shaded like the receiver's stretched decodes, with a shape that moves and light
// seeded noise, so the lossy encoders see work like a real recording's.
//
// FrameAt/<codec>/<step>: MovieSource::frameAt on an AVI of those 100 frames written with the
// codec; step 1 is the movie page's timer (frame k + 1 from frame k, no seek), step 37 jumps
// (a seek to the key frame before and decoding forward, on MPEG-4 with a key frame every 12).
//
// Medians: media_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "media/avi_writer.h"
#include "media/movie_source.h"

namespace {

using media::AviCodec;

constexpr int kWidth = 342;
constexpr int kHeight = 254;
constexpr int kRecords = 100;

const std::vector<media::VideoFrame>& records() {
    static const std::vector<media::VideoFrame> frames = [] {
        std::vector<media::VideoFrame> made;
        std::mt19937 random(7);
        std::uniform_int_distribution<int> noise(-6, 6);
        for (int k = 0; k < kRecords; ++k) {
            media::VideoFrame f{kWidth, kHeight, {}};
            f.pixels.reserve(static_cast<size_t>(kWidth) * kHeight);
            const int cx = 40 + (k * 3) % (kWidth - 80);
            const int cy = kHeight / 2;
            for (int y = 0; y < kHeight; ++y) {
                for (int x = 0; x < kWidth; ++x) {
                    const bool inside = (x - cx) * (x - cx) + (y - cy) * (y - cy) < 900;
                    const auto clamp = [](int v) {
                        return static_cast<uint32_t>(v < 0 ? 0 : v > 255 ? 255 : v);
                    };
                    const int n = noise(random);
                    const uint32_t r = clamp((inside ? 230 : x * 200 / kWidth) + n);
                    const uint32_t g = clamp((inside ? 60 : y * 200 / kHeight) + n);
                    const uint32_t b = clamp((inside ? 40 : 120 + k) + n);
                    f.pixels.push_back(r << 16 | g << 8 | b);
                }
            }
            made.push_back(std::move(f));
        }
        return made;
    }();
    return frames;
}

bool available(AviCodec codec) {
    for (const media::AviCodecInfo& info : media::availableAviCodecs()) {
        if (info.codec == codec) return true;
    }
    return false;
}

std::string scratchPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("media-bench-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

bool writeMovie(const std::string& path, const media::AviOptions& options) {
    media::AviWriter writer;
    if (!writer.open(path, kWidth, kHeight, options).ok) return false;
    for (const media::VideoFrame& f : records()) {
        if (!writer.write(f).ok) return false;
    }
    return writer.finish().ok;
}

void ExportAvi(benchmark::State& state, AviCodec codec) {
    if (!available(codec)) {
        state.SkipWithError("this FFmpeg lacks the encoder");
        return;
    }
    media::quietFfmpegLog();
    records();
    const std::string path = scratchPath("export.avi");
    media::AviOptions options;
    options.codec = codec;
    for (auto _ : state) {
        if (!writeMovie(path, options)) {
            state.SkipWithError("export failed");
            break;
        }
    }
    state.counters["file_bytes"] = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove(path);
    state.SetItemsProcessed(state.iterations() * kRecords);
    state.SetBytesProcessed(state.iterations() * kRecords * int64_t{kWidth} * kHeight * 4);
}

void FrameAt(benchmark::State& state, AviCodec codec) {
    if (!available(codec)) {
        state.SkipWithError("this FFmpeg lacks the encoder");
        return;
    }
    media::quietFfmpegLog();
    const int64_t step = state.range(0);
    const std::string path = scratchPath("stepping.avi");
    media::AviOptions options;
    options.codec = codec;
    options.keyFrameInterval = 12;
    if (!writeMovie(path, options)) {
        state.SkipWithError("movie not written");
        return;
    }
    media::MovieSource movie;
    if (!movie.open(path).ok) {
        state.SkipWithError("movie not opened");
        return;
    }
    int64_t k = 0;
    for (auto _ : state) {
        k = (k + step) % kRecords;
        benchmark::DoNotOptimize(movie.frameAt(k));
    }
    std::filesystem::remove(path);
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(ExportAvi, raw, AviCodec::Raw)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(ExportAvi, ffv1, AviCodec::Ffv1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(ExportAvi, mjpeg, AviCodec::Mjpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(ExportAvi, mpeg4, AviCodec::Mpeg4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(ExportAvi, h264, AviCodec::H264)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(FrameAt, ffv1, AviCodec::Ffv1)
    ->Arg(1)
    ->Arg(37)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(FrameAt, mpeg4, AviCodec::Mpeg4)
    ->Arg(1)
    ->Arg(37)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace
