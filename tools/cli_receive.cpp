// vistrel decode, simulate, tv-info and tv-extract: the receiver without a window, and the
// ".tv" movie files it records.

#include <QImage>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "encoder/encode_frame.h"
#include "receiver/movie_file.h"
#include "receiver/picture_control.h"
#include "receiver/receive_packet.h"
#include "sender/still_picture.h"
#include "tools/channel.h"
#include "tools/cli.h"
#include "tools/file_io.h"
#include "tools/picture_io.h"

namespace tools {

namespace {

// A movie file at a path the user chose: records are appended, each one flushed.
class MovieAppender {
public:
    [[nodiscard]] FileResult open(const std::filesystem::path& path) {
        path_ = path;
        file_.reset(std::fopen(path.c_str(), "ab"));
        if (!file_) return {false, "cannot open '" + path.string() + "': " + std::strerror(errno)};
        return {true, {}};
    }
    [[nodiscard]] bool isOpen() const { return file_ != nullptr; }
    [[nodiscard]] FileResult append(const QImage& inside) {
        const std::vector<uint32_t> pixels = receiver::recordPixels(inside);
        const std::vector<uint8_t> record =
            receiver::encodeRecord(inside.width(), inside.height(), pixels);
        if (std::fwrite(record.data(), 1, record.size(), file_.get()) != record.size() ||
            std::fflush(file_.get()) != 0) {
            return {false, "cannot write '" + path_.string() + "': " + std::strerror(errno)};
        }
        ++records_;
        return {true, {}};
    }
    [[nodiscard]] int records() const { return records_; }

private:
    std::filesystem::path path_;
    receiver::FileHandle file_;
    int records_ = 0;
};

struct FrameTally {
    bool decoded = false;
    int unitsAtDecode = 0;  // units received in this frame when its picture was decoded
    encoder::Picture picture;
};

// Feeds an update's picture to the tally and the recorder; false when the recorder failed.
bool takeUpdate(const receiver::ReceiveUpdate& update, int unitsSoFar, FrameTally& tally,
                MovieAppender& movie, std::string_view command) {
    if (!update.picture) return true;
    if (!tally.decoded) tally.unitsAtDecode = unitsSoFar;
    tally.decoded = true;
    tally.picture = update.picture->picture;
    if (update.record && movie.isOpen()) {
        const QImage inside =
            receiver::pictureControlImage(update.picture->picture, update.picture->length);
        if (const FileResult r = movie.append(inside); !r.ok) {
            reportError(command, r.error);
            return false;
        }
    }
    return true;
}

// Peak signal-to-noise ratio of b against a over the red, green and blue bytes; infinite for
// identical pictures.
double psnrDb(const encoder::Picture& a, const encoder::Picture& b) {
    if (a.size != b.size || a.size == 0) return 0.0;
    double squares = 0.0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        for (int shift : {0, 8, 16}) {
            const int d = static_cast<int>((a.pixels[i] >> shift) & 0xFF) -
                          static_cast<int>((b.pixels[i] >> shift) & 0xFF);
            squares += static_cast<double>(d) * d;
        }
    }
    if (squares == 0.0) return INFINITY;
    const double mse = squares / (3.0 * static_cast<double>(a.pixels.size()));
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::string psnrText(double db) {
    if (std::isinf(db)) return "identical";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dB", db);
    return text;
}

}  // namespace

int runDecode(const std::vector<std::string_view>& args) {
    constexpr std::string_view kCommand = "decode";
    Options opts(kCommand, args, {"output", "record"}, {});
    const auto output = opts.value("output");
    if (opts.ok() && opts.positional().empty()) opts.fail("expected FRAME files (see --help)");
    if (opts.ok() && !output) opts.fail("missing -o PNG (see vistrel --help)");
    if (opts.reportIfFailed()) return kExitUsage;

    MovieAppender movie;
    if (const auto record = opts.value("record")) {
        if (const FileResult r = movie.open(*record); !r.ok) {
            reportError(kCommand, r.error);
            return kExitFailure;
        }
    }
    receiver::ReceiverState state;
    FrameTally last;
    int pictures = 0;
    std::string status;
    const auto apply = [&](const receiver::ReceiveUpdate& update, int units) {
        if (update.statusLabel) status = *update.statusLabel;
        const bool hadPicture = update.picture.has_value();
        const bool ok = takeUpdate(update, units, last, movie, kCommand);
        if (hadPicture) ++pictures;
        return ok;
    };
    for (const std::string& path : opts.positional()) {
        std::string error;
        const auto frame = readFile(path, error);
        if (!frame) {
            reportError(kCommand, error);
            return kExitFailure;
        }
        int units = 0;
        for (size_t at = 0; at + encoder::kUnitBytes <= frame->size(); at += encoder::kUnitBytes) {
            ++units;
            const auto update =
                receiver::RECEIVEPACKET(state, std::span(frame->data() + at, encoder::kUnitBytes));
            if (!apply(update, units)) return kExitFailure;
        }
        if (frame->size() % encoder::kUnitBytes != 0) {
            std::fprintf(stderr, "vistrel decode: '%s' ends with %zu bytes of a cut unit\n",
                         path.c_str(), frame->size() % encoder::kUnitBytes);
        }
    }
    if (!apply(receiver::finishFrame(state), 0)) return kExitFailure;

    if (!status.empty()) printWindowText(status);
    if (pictures == 0) {
        std::fprintf(stderr, "vistrel decode: no frame could be decoded\n");
        return kExitFailure;
    }
    if (const FileResult r = writePng(*output, sender::imageFromPicture(last.picture)); !r.ok) {
        reportError(kCommand, r.error);
        return kExitFailure;
    }
    std::printf("%d picture%s decoded; the last, %d x %d, written to %s\n", pictures,
                pictures == 1 ? "" : "s", last.picture.size, last.picture.size, output->c_str());
    if (movie.isOpen()) {
        std::printf("%d record%s appended to %s\n", movie.records(),
                    movie.records() == 1 ? "" : "s", opts.value("record")->c_str());
    }
    return kExitOk;
}

int runSimulate(const std::vector<std::string_view>& args) {
    constexpr std::string_view kCommand = "simulate";
    std::vector<std::string_view> valued = kEncodeOptions;
    valued.insert(valued.end(), {"frames", "loss", "byte-errors", "burst", "seed", "out"});
    Options opts(kCommand, args, valued, kEncodeFlags);
    encoder::EncoderSettings settings = encoderSettings(opts);
    const int frames = opts.integer("frames", 1, 100000, 1);
    ChannelSettings channel;
    channel.loss = opts.fraction("loss", 0.0);
    channel.byteErrors = opts.fraction("byte-errors", 0.0);
    channel.burstLength = opts.number("burst", 0.0, 1000.0, 0.0);
    channel.seed = static_cast<uint64_t>(opts.integer("seed", 0, 2147483647, 1));
    const auto outDir = opts.value("out");
    opts.expectPositional(1, "expected one INPUT picture");
    if (opts.reportIfFailed()) return kExitUsage;
    const std::string& input = opts.positional().front();
    const auto source = loadSourcePicture(kCommand, input, opts);
    if (!source) return kExitUsage;

    MovieAppender movie;
    if (outDir) {
        std::error_code ec;
        std::filesystem::create_directories(*outDir, ec);
        if (ec) {
            reportError(kCommand, "cannot create '" + *outDir + "': " + ec.message());
            return kExitFailure;
        }
        if (const FileResult r = movie.open(std::filesystem::path(*outDir) / "received.tv");
            !r.ok) {
            reportError(kCommand, r.error);
            return kExitFailure;
        }
    }

    settings.sourceKind = encoder::SourceKind::Still;
    settings.sourcePath = input;
    settings.transmit = true;
    encoder::EncoderState encoderState;
    receiver::ReceiverState receiverState;
    ChannelState air(channel);
    int decodedFrames = 0;
    std::printf("frame  units sent  lost  decoded after   PSNR vs preview\n");
    for (int f = 1; f <= frames; ++f) {
        // A timed send: the counter advances, so the receiver sees a new frame each time.
        const encoder::EncodeResult sent =
            encoder::ENCODEFRAME(settings, *source, encoderState, encoder::kEncodeSend);
        if (sent.error == encoder::EncodeError::TooLarge) {
            for (const std::string& line : sent.failureLines) {
                std::fprintf(stderr, "%s\n", line.c_str());
            }
            return kExitRejected;
        }
        if (sent.error == encoder::EncodeError::Av1Failed) {
            reportError(kCommand, "the AV1 encoder gave no frame");
            return kExitFailure;
        }
        if (sent.error != encoder::EncodeError::None) {
            reportError(kCommand, "the settings describe no frame");
            return kExitUsage;
        }
        const uint64_t lostBefore = air.counters.unitsLost;
        const std::vector<encoder::Unit> arrived = passFrame(air, sent.frame);
        FrameTally tally;
        int units = 0;
        for (const encoder::Unit& unit : arrived) {
            ++units;
            if (!takeUpdate(receiver::RECEIVEPACKET(receiverState, unit), units, tally, movie,
                            kCommand)) {
                return kExitFailure;
            }
        }
        // The frame is over before the next one starts: the receiver's idle timer runs out.
        if (!takeUpdate(receiver::finishFrame(receiverState), units, tally, movie, kCommand)) {
            return kExitFailure;
        }
        const size_t sentUnits = sent.frame.size() / encoder::kUnitBytes;
        const uint64_t lost = air.counters.unitsLost - lostBefore;
        if (tally.decoded) {
            ++decodedFrames;
            std::printf("%5d  %10zu  %4llu  %5d units   %s\n", f, sentUnits,
                        static_cast<unsigned long long>(lost), tally.unitsAtDecode,
                        psnrText(psnrDb(sent.preview, tally.picture)).c_str());
        } else {
            std::printf("%5d  %10zu  %4llu  not decoded\n", f, sentUnits,
                        static_cast<unsigned long long>(lost));
        }
        if (outDir && tally.decoded) {
            char name[32];
            std::snprintf(name, sizeof name, "frame-%04d.png", f);
            const FileResult r = writePng(std::filesystem::path(*outDir) / name,
                                          sender::imageFromPicture(tally.picture));
            if (!r.ok) {
                reportError(kCommand, r.error);
                return kExitFailure;
            }
        }
        std::fflush(stdout);
    }
    const double lossPercent = air.counters.unitsIn == 0
                                   ? 0.0
                                   : 100.0 * static_cast<double>(air.counters.unitsLost) /
                                         static_cast<double>(air.counters.unitsIn);
    std::printf("decoded %d of %d frames; %llu of %llu units lost (%.1f %%), %llu bytes damaged\n",
                decodedFrames, frames, static_cast<unsigned long long>(air.counters.unitsLost),
                static_cast<unsigned long long>(air.counters.unitsIn), lossPercent,
                static_cast<unsigned long long>(air.counters.bytesCorrupted));
    if (outDir) {
        std::printf("pictures in %s, %d good frames in %s\n", outDir->c_str(), movie.records(),
                    (std::filesystem::path(*outDir) / "received.tv").c_str());
    }
    return decodedFrames > 0 ? kExitOk : kExitFailure;
}

int runTvInfo(const std::vector<std::string_view>& args) {
    constexpr std::string_view kCommand = "tv-info";
    Options opts(kCommand, args, {}, {});
    opts.expectPositional(1, "expected one .tv FILE");
    if (opts.reportIfFailed()) return kExitUsage;
    receiver::MovieReader reader;
    if (const receiver::MovieResult r = reader.open(opts.positional().front()); !r.ok) {
        reportError(kCommand, r.error);
        return kExitFailure;
    }
    const uint64_t whole = reader.recordSize() * static_cast<uint64_t>(reader.recordCount());
    std::printf("picture:  %d x %d pixels\n", reader.width(), reader.height());
    std::printf("records:  %d of %llu bytes each\n", reader.recordCount(),
                static_cast<unsigned long long>(reader.recordSize()));
    if (whole == reader.fileBytes()) {
        std::printf("size:     %llu bytes, whole records only\n",
                    static_cast<unsigned long long>(reader.fileBytes()));
    } else if (whole > reader.fileBytes()) {
        std::printf("size:     %llu bytes: the last record lacks %llu bytes (shown black)\n",
                    static_cast<unsigned long long>(reader.fileBytes()),
                    static_cast<unsigned long long>(whole - reader.fileBytes()));
    } else {
        std::printf("size:     %llu bytes: %llu bytes after the last record are ignored\n",
                    static_cast<unsigned long long>(reader.fileBytes()),
                    static_cast<unsigned long long>(reader.fileBytes() - whole));
    }
    return kExitOk;
}

int runTvExtract(const std::vector<std::string_view>& args) {
    constexpr std::string_view kCommand = "tv-extract";
    Options opts(kCommand, args, {"frame", "output"}, {});
    const int number = opts.integer("frame", 1, 1 << 30, 1);
    const auto output = opts.value("output");
    opts.expectPositional(1, "expected one .tv FILE");
    if (opts.ok() && !output) opts.fail("missing -o PNG (see vistrel --help)");
    if (opts.reportIfFailed()) return kExitUsage;
    receiver::MovieReader reader;
    if (const receiver::MovieResult r = reader.open(opts.positional().front()); !r.ok) {
        reportError(kCommand, r.error);
        return kExitFailure;
    }
    if (number > reader.recordCount()) {
        reportError(kCommand, "--frame must be from 1 to " + std::to_string(reader.recordCount()));
        return kExitUsage;
    }
    std::vector<uint32_t> pixels;
    if (const receiver::MovieResult r = reader.readRecord(number, pixels); !r.ok) {
        reportError(kCommand, r.error);
        return kExitFailure;
    }
    QImage image(reader.width(), reader.height(), QImage::Format_RGB32);
    for (int y = 0; y < reader.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < reader.width(); ++x) {
            line[x] = 0xFF000000u | pixels[static_cast<size_t>(y) * reader.width() + x];
        }
    }
    if (const FileResult r = writePng(*output, image); !r.ok) {
        reportError(kCommand, r.error);
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace tools
