// vistrel encode and vistrel info: one frame string from a picture file, and what a frame string
// holds.

#include <QImage>
#include <cstdio>
#include <string>

#include "av1/av1_payload.h"
#include "encoder/air_time.h"
#include "encoder/encode_frame.h"
#include "encoder/frame_format.h"
#include "encoder/test_pictures.h"
#include "sender/still_picture.h"
#include "tools/cli.h"
#include "tools/file_io.h"
#include "tools/picture_io.h"

namespace tools {

namespace {

constexpr int kDefaultThreshold256 = 30;  // what choosing "256 x 256" in the window sets

std::string frameReadProblem(encoder::FrameReadError error, int badCodeword) {
    using encoder::FrameReadError;
    switch (error) {
        case FrameReadError::None:
            return "every codeword and the CRC are good";
        case FrameReadError::BadLength:
            return "not a whole number of 41-byte units";
        case FrameReadError::NoHeader:
            return "no header block";
        case FrameReadError::BadHeader:
            return "the header describes no frame";
        case FrameReadError::MissingPacket:
            return "a packet is missing";
        case FrameReadError::NotCodeword:
            return "codeword " + std::to_string(badCodeword) + " is damaged";
        case FrameReadError::CrcMismatch:
            return "the CRC does not match the coded stream";
        case FrameReadError::NoEndMarker:
            return "the end marker is missing";
    }
    return "unknown problem";
}

const char* av1ChromaName(int chroma) {
    return chroma == encoder::kAv1Chroma444   ? "4:4:4"
           : chroma == encoder::kAv1Chroma420 ? "4:2:0"
                                              : "unknown chroma";
}

std::string fitFailure(const encoder::EncoderSettings& settings, double airTime,
                       size_t smallestFrameBytes) {
    char text[200];
    // The AV1 fit takes quality 63's frame as the shortest.
    const bool av1 = settings.wavelet == encoder::Wavelet::Av1;
    const char* what = av1 ? "AV1 quality fits" : "settings fit";
    if (smallestFrameBytes == 0) {
        std::snprintf(text, sizeof text,
                      "no %s a %d x %d frame with syndromes %d; reduce the parity", what,
                      settings.frameSize, settings.frameSize, settings.syndromes);
    } else {
        std::snprintf(text, sizeof text,
                      "no %s %.1f seconds: the %s%d x %d frame%s with syndromes %d takes %.1f "
                      "seconds",
                      what, airTime, av1 ? "" : "shortest ", settings.frameSize, settings.frameSize,
                      av1 ? " at quality 63" : "", settings.syndromes,
                      static_cast<double>(smallestFrameBytes) / encoder::kBytesPerSecond);
    }
    return text;
}

}  // namespace

const std::vector<std::string_view> kEncodeOptions = {
    "size",     "wavelet", "red",   "blue",    "quantiser", "threshold", "syndromes",
    "callsign", "message", "codec", "quality", "chroma",    "speed"};
const std::vector<std::string_view> kEncodeFlags = {"preserve-aspect"};

encoder::EncoderSettings encoderSettings(Options& opts, std::string_view av1SpeedOption) {
    encoder::EncoderSettings settings;
    const int sizes[] = {48, 64, 96, 128, 256};
    settings.frameSize = sizes[opts.choice("size", {"48", "64", "96", "128", "256"}, 1)];
    const bool av1 = opts.choice("codec", {"wavelet", "av1"}, 0) == 1;
    // Each codec's own settings are refused with the other: a value that would be silently
    // ignored is a mistake the user should hear about.
    const std::vector<std::string_view> waveletOnly = {"wavelet", "red", "blue", "quantiser",
                                                       "threshold"};
    const std::vector<std::string_view> av1Only = {"quality", "chroma", av1SpeedOption};
    for (const std::string_view name : av1 ? waveletOnly : av1Only) {
        if (!opts.value(name)) continue;
        opts.fail(av1 ? "--codec av1 takes no --" + std::string(name) +
                            " (its settings are --quality, --chroma and --" +
                            std::string(av1SpeedOption) + ")"
                      : "--" + std::string(name) + " is an AV1 setting; add --codec av1");
    }
    if (av1) {
        settings.wavelet = encoder::Wavelet::Av1;
        settings.quantiser =
            opts.integer("quality", av1::kMinQuality, av1::kMaxQuality, av1::kDefaultQuality) + 1;
        settings.av1Chroma = opts.choice("chroma", {"444", "420"}, 0) == 0 ? encoder::kAv1Chroma444
                                                                           : encoder::kAv1Chroma420;
        settings.av1Speed = opts.integer(av1SpeedOption, 0, 9, av1::kSendSpeed);
    } else {
        settings.wavelet =
            static_cast<encoder::Wavelet>(opts.choice("wavelet", {"haar", "d4", "cdf97"}, 2));
        settings.redFactor = opts.choice("red", {"2", "4"}, 1) == 0 ? 2 : 4;
        settings.blueFactor = opts.choice("blue", {"2", "4"}, 1) == 0 ? 2 : 4;
        settings.quantiser = opts.integer("quantiser", 1, 65, 1);
        settings.threshold =
            opts.integer("threshold", 0, 100, settings.frameSize == 256 ? kDefaultThreshold256 : 0);
    }
    settings.syndromes = opts.integer("syndromes", 4, 254, 32);
    settings.callsign = opts.value("callsign").value_or("");
    settings.message = opts.value("message").value_or("");
    return settings;
}

std::optional<encoder::SourcePicture> loadSourcePicture(std::string_view command,
                                                        const std::string& path,
                                                        const Options& opts) {
    // The same loader as pictx's dropped files, so a phone's sideways JPEG is upright in both.
    const sender::LoadedPicture loaded = sender::loadPicture(QString::fromStdString(path));
    if (loaded.image.isNull()) {
        reportError(command, "cannot read picture '" + path + "': " + loaded.error.toStdString());
        return std::nullopt;
    }
    const auto aspect =
        opts.flag("preserve-aspect") ? sender::Aspect::Preserve : sender::Aspect::Stretch;
    return sender::sourceFromArea(sender::drawStill(loaded.image, aspect));
}

int runEncode(const std::vector<std::string_view>& args) {
    constexpr std::string_view kCommand = "encode";
    std::vector<std::string_view> valued = kEncodeOptions;
    valued.insert(valued.end(), {"output", "counter", "preview", "air-time"});
    Options opts(kCommand, args, valued, kEncodeFlags);
    encoder::EncoderSettings settings = encoderSettings(opts);
    // The fit chooses these itself; a value given beside it would be silently overruled.
    const bool fit = opts.value("air-time").has_value();
    const double airTime = opts.number("air-time", 0.1, 3600.0, 0.0);
    const bool av1 = settings.wavelet == encoder::Wavelet::Av1;
    for (const char* chosen : {"wavelet", "red", "blue", "quantiser", "threshold", "quality"}) {
        if (fit && opts.value(chosen)) {
            opts.fail(std::string("--air-time chooses --") + chosen + " itself; leave it out");
        }
    }
    encoder::EncoderState state;
    state.frameCounter = static_cast<uint16_t>(opts.integer("counter", 0, 65535, 0));
    const auto output = opts.value("output");
    opts.expectPositional(1, "expected one INPUT picture");
    if (opts.ok() && !output) opts.fail("missing -o FRAME (see vistrel --help)");
    if (opts.reportIfFailed()) return kExitUsage;
    const std::string& input = opts.positional().front();
    const auto source = loadSourcePicture(kCommand, input, opts);
    if (!source) return kExitUsage;
    settings.sourceKind = encoder::SourceKind::Still;
    settings.sourcePath = input;
    if (fit) {
        const encoder::AirTimeFit chosen = av1 ? encoder::fitAv1AirTime(settings, *source, airTime)
                                               : encoder::fitAirTime(settings, *source, airTime);
        if (!chosen.found) {
            reportError(kCommand, fitFailure(settings, airTime, chosen.smallestFrameBytes));
            return kExitRejected;
        }
        settings = chosen.settings;
        if (av1) {
            std::printf("fit:       AV1 %s, quality %d, speed %d\n",
                        av1ChromaName(settings.av1Chroma), encoder::av1Quality(settings.quantiser),
                        settings.av1Speed);
        } else {
            std::printf("fit:       %s, red %d, blue %d, quantiser %d, threshold %d\n",
                        std::string(encoder::waveletName(settings.wavelet)).c_str(),
                        settings.redFactor, settings.blueFactor, settings.quantiser,
                        settings.threshold);
        }
        std::printf("           PSNR %.2f dB, %zu bytes, %.1f of %.1f seconds on air\n",
                    chosen.psnrDb, chosen.frameBytes, chosen.airTimeSeconds, airTime);
    }

    // A preview run: the header carries the counter as given, nothing is counted or sent.
    const encoder::EncodeResult result =
        encoder::ENCODEFRAME(settings, *source, state, encoder::kEncodePreview);
    if (result.error == encoder::EncodeError::TooLarge) {
        for (const std::string& line : result.failureLines) {
            std::fprintf(stderr, "%s\n", line.c_str());
        }
        return kExitRejected;
    }
    if (result.error == encoder::EncodeError::Av1Failed) {
        reportError(kCommand, "the AV1 encoder gave no frame");
        return kExitFailure;
    }
    if (result.error != encoder::EncodeError::None) {
        reportError(kCommand, "the settings describe no frame");
        return kExitUsage;
    }
    if (const FileResult written = writeFileReplacing(*output, result.frame); !written.ok) {
        reportError(kCommand, written.error);
        return kExitFailure;
    }
    if (const auto previewPath = opts.value("preview")) {
        const FileResult written = writePng(*previewPath, sender::imageFromPicture(result.preview));
        if (!written.ok) {
            reportError(kCommand, written.error);
            return kExitFailure;
        }
    }
    std::printf("%s\n", result.status.c_str());
    return kExitOk;
}

int runTestCard(const std::vector<std::string_view>& args) {
    constexpr std::string_view kCommand = "testcard";
    Options opts(kCommand, args, {}, {});
    opts.expectPositional(1, "expected one PNG file to write");
    if (opts.reportIfFailed()) return kExitUsage;
    const FileResult written =
        writePng(opts.positional().front(), sender::imageFromSource(encoder::testCard()));
    if (!written.ok) {
        reportError(kCommand, written.error);
        return kExitFailure;
    }
    return kExitOk;
}

int runInfo(const std::vector<std::string_view>& args) {
    constexpr std::string_view kCommand = "info";
    Options opts(kCommand, args, {}, {});
    opts.expectPositional(1, "expected one FRAME file");
    if (opts.reportIfFailed()) return kExitUsage;
    const std::string& path = opts.positional().front();
    std::string error;
    const auto frame = readFile(path, error);
    if (!frame) {
        reportError(kCommand, error);
        return kExitFailure;
    }

    int packets = 0, headers = 0, messages = 0;
    std::optional<encoder::HeaderFields> header;
    std::string message;
    const size_t units = frame->size() / encoder::kUnitBytes;
    for (size_t u = 0; u < units; ++u) {
        const std::span<const uint8_t> unit(frame->data() + u * encoder::kUnitBytes,
                                            encoder::kUnitBytes);
        if (const auto fields = encoder::parseHeaderBlock(unit)) {
            ++headers;
            if (!header) header = fields;
        } else if (unit[0] == 'm' && unit[1] == 's' && unit[2] == 'g') {
            if (messages++ == 0) message.assign(unit.begin() + 3, unit.end());
        } else {
            ++packets;
        }
    }
    if (!header) {
        reportError(kCommand, "'" + path + "' holds no header block: not a frame string");
        return kExitUsage;
    }
    const auto params = header->pictureParams();
    const char letter = static_cast<char>(header->letter);
    const std::string wavelet =
        params ? std::string(encoder::waveletName(params->wavelet)) : "unknown";
    std::printf("header:    t %d, k %d, frame counter %u\n", header->t, header->k,
                static_cast<unsigned>(header->counter));
    if (params && encoder::isAv1(*params)) {
        // Both factor fields carry the chroma, the step the quality.
        const std::string chroma = header->redFactor == header->blueFactor
                                       ? av1ChromaName(header->redFactor)
                                       : "unknown chroma (factors " +
                                             std::to_string(header->redFactor) + ", " +
                                             std::to_string(header->blueFactor) + ")";
        std::printf("picture:   %d x %d, AV1 (%c), chroma %s, quality %d\n", header->frameSize,
                    header->frameSize, letter, chroma.c_str(), header->step);
    } else {
        std::printf("picture:   %d x %d, %s (%c), red factor %d, blue factor %d, step %d\n",
                    header->frameSize, header->frameSize, wavelet.c_str(), letter,
                    header->redFactor, header->blueFactor, header->step);
    }
    std::printf("payload:   L %d bytes, fill f %d, row r %d, codeword n' %d\n", header->length,
                header->fill, header->r(), header->codewordLength());
    std::printf("label:     \"%s\"\n", header->label.c_str());
    if (messages > 0) std::printf("message:   \"%s\"\n", message.c_str());
    std::printf("units:     %d packets, %d header blocks, %d message blocks (%zu bytes)\n", packets,
                headers, messages, frame->size());
    std::printf("air time:  %.1f seconds at %d bytes/s\n",
                static_cast<double>(frame->size()) / encoder::kBytesPerSecond,
                encoder::kBytesPerSecond);
    const encoder::FrameContents contents = encoder::readFrame(*frame);
    std::printf("check:     %s\n", frameReadProblem(contents.error, contents.badCodeword).c_str());
    return kExitOk;
}

}  // namespace tools
