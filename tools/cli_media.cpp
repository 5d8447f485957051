// vistrel export-avi: a ".tv" movie written out as an AVI video, as movieplay's "Make AVI" does,
// without a window.

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>

#include "media/avi_writer.h"
#include "player/make_avi.h"
#include "receiver/movie_file.h"
#include "tools/cli.h"

namespace tools {

namespace {

constexpr std::string_view kCommand = "export-avi";
constexpr int kBarWidth = 30;

// The writer's partial file, removed when the user interrupts: the writer's own clean-up never
// runs then. Fixed storage, since the signal handler may only read it.
char partialFile[4096];

extern "C" void removePartialAndExit(int signal) {
    if (partialFile[0] != '\0') ::unlink(partialFile);
    ::_exit(128 + signal);
}

// On a terminal a bar redrawn in place; in a log one line per whole percent.
class ProgressLine {
public:
    ProgressLine() : terminal_(::isatty(STDERR_FILENO) != 0) {}

    void show(int32_t frame, int32_t count) {
        const std::string text = player::writingText(frame, count);
        if (terminal_) {
            const int filled = static_cast<int>(int64_t{kBarWidth} * frame / count);
            std::fprintf(stderr, "\r[%s%s] %s", std::string(filled, '#').c_str(),
                         std::string(kBarWidth - filled, ' ').c_str(), text.c_str());
            std::fflush(stderr);
            return;
        }
        const int percent = static_cast<int>(int64_t{100} * frame / count);
        if (frame == 1 || frame == count || percent != lastPercent_) {
            std::fprintf(stderr, "%s\n", text.c_str());
        }
        lastPercent_ = percent;
    }

    void end(bool finished) const {
        if (terminal_) std::fputc('\n', stderr);
        if (finished) std::fprintf(stderr, "%s\n", std::string(player::kFinishedText).c_str());
    }

private:
    bool terminal_;
    int lastPercent_ = -1;
};

}  // namespace

int runExportAvi(const std::vector<std::string_view>& args) {
    Options opts(kCommand, args, {"codec", "fps", "output", "keyint", "bitrate", "quality"},
                 {"force"});
    const std::vector<media::AviCodecInfo> available = media::availableAviCodecs();
    const std::vector<std::string_view> keys = {"raw", "ffv1", "mjpeg", "mpeg4", "h264"};
    const int codecIndex = opts.choice("codec", keys, 0);
    const std::vector<std::string_view> rates = {"10", "6", "3", "1"};
    const int rateIndex = opts.choice("fps", rates, 0);
    media::AviOptions options;
    options.framesPerSecond = std::stoi(std::string(rates[static_cast<size_t>(rateIndex)]));
    options.keyFrameInterval = opts.integer("keyint", 1, 10000, 1);
    options.bitRate = opts.integer("bitrate", 1000, 1'000'000'000, 0);
    options.quality = opts.integer("quality", 0, 51, -1);
    opts.expectPositional(1, "expected one .tv FILE");

    const media::AviCodecInfo* codec = nullptr;
    for (const media::AviCodecInfo& info : available) {
        if (info.key == keys[static_cast<size_t>(codecIndex)]) codec = &info;
    }
    if (opts.ok() && codec == nullptr) {
        std::string list;
        for (const media::AviCodecInfo& info : available) {
            list += (list.empty() ? "" : ", ") + info.key;
        }
        opts.fail("this FFmpeg cannot encode " +
                  std::string(keys[static_cast<size_t>(codecIndex)]) + "; it can: " + list);
    }
    if (opts.ok()) {
        options.codec = codec->codec;
        const auto refuse = [&](std::string_view option, bool takes) {
            if (!takes && opts.value(option)) {
                opts.fail("--" + std::string(option) + " does not apply to " + codec->key);
            }
        };
        refuse("keyint", codec->keyFrames);
        refuse("bitrate", codec->bitRate);
        refuse("quality", codec->quality);
        if (codec->codec != media::AviCodec::H264 && opts.value("quality") &&
            (options.quality < 1 || options.quality > 31)) {
            opts.fail("--quality must be from 1 to 31 for " + codec->key);
        }
    }
    if (opts.reportIfFailed()) return kExitUsage;
    media::quietFfmpegLog();

    const std::filesystem::path moviePath = opts.positional().front();
    receiver::MovieReader reader;
    if (const receiver::MovieResult r = reader.open(moviePath); !r.ok) {
        reportError(kCommand, r.error);
        return kExitUsage;
    }
    const std::filesystem::path aviPath =
        opts.value("output").value_or(player::aviOutputName(moviePath));
    std::error_code ec;
    if (std::filesystem::equivalent(aviPath, moviePath, ec)) {
        reportError(kCommand, "the AVI file would replace the movie " + moviePath.string());
        return kExitUsage;
    }
    if (std::filesystem::exists(aviPath, ec) && !opts.flag("force")) {
        reportError(kCommand, aviPath.string() + " already exists; --force replaces it");
        return kExitFailure;
    }
    const int32_t width = reader.width();
    const int32_t height = reader.height();
    reader.close();

    const std::string partial = aviPath.string() + ".part";
    if (partial.size() < sizeof partialFile) {
        partial.copy(partialFile, partial.size());
        partialFile[partial.size()] = '\0';
        std::signal(SIGINT, removePartialAndExit);
        std::signal(SIGTERM, removePartialAndExit);
    }
    ProgressLine progress;
    const player::ExportResult result =
        player::MAKEAVI(moviePath, aviPath, options,
                        [&progress](int32_t frame, int32_t count) { progress.show(frame, count); });
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    progress.end(result.ok());
    if (!result.ok()) {
        reportError(kCommand,
                    std::string(player::exportErrorText(result.error)) + ": " + result.detail);
        return kExitFailure;
    }
    std::printf("%d frames of %d x %d pixels, %s at %d frames per second, written to %s\n",
                result.framesWritten, width, height, codec->label.c_str(), options.framesPerSecond,
                aviPath.c_str());
    return kExitOk;
}

}  // namespace tools
