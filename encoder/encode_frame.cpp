#include "encoder/encode_frame.h"

#include <algorithm>
#include <memory>

#include "av1/av1_payload.h"
#include "codec/arith.h"
#include "encoder/air_time.h"
#include "encoder/colour.h"
#include "encoder/decode_frame.h"
#include "encoder/quantise.h"
#include "encoder/transform.h"

namespace encoder {
namespace {

constexpr int kMsPerByte = 1000 / kBytesPerSecond;
constexpr int kPeriodMarginMs = 200;

// A name equal to the one the last header carried gets a leading space, and the spaced form is
// what the next run compares with: a file encoded again and again alternates between its two
// spellings, so consecutive labels always differ.
std::string nextSourceName(EncoderState& state, std::string name) {
    if (name == state.previousSourceName) name.insert(name.begin(), ' ');
    state.previousSourceName = name;
    return name;
}

}  // namespace

std::vector<uint8_t> codeCoefficients(std::span<const uint8_t> coefficients) {
    // Sized by the coder's bound, not M + 5: incompressible coefficient bytes code to more than
    // that, and a cut stream would decode to another picture than the preview shows.
    // The bound is four times the input, while picture coefficients code to a fraction of it: a
    // buffer of the input's size is tried first and the bound only when that overflows, and the
    // buffers are left uninitialised since the coder only writes. A stream that fits gives the
    // same bytes in either buffer.
    const auto code = [coefficients](size_t capacity) {
        const std::unique_ptr<uint8_t[]> buffer =
            std::make_unique_for_overwrite<uint8_t[]>(capacity);
        const int32_t length =
            codec::ARITHCODE(coefficients, std::span(buffer.get(), capacity), codec::kArithEncode);
        if (length == codec::kArithOverflow) return std::vector<uint8_t>();
        return std::vector<uint8_t>(buffer.get(), buffer.get() + length);
    };
    const size_t bound = codec::arithEncodeBound(coefficients.size());
    const size_t first = std::min(bound, coefficients.size() + 64);
    std::vector<uint8_t> coded = code(first);
    return coded.empty() && first < bound ? code(bound) : coded;
}

bool isValid(const EncoderSettings& s) {
    return isValid(pictureParams(s)) && s.threshold >= 0 && s.threshold <= 100 &&
           s.quantiser >= 1 && s.quantiser <= 65 && s.syndromes >= 2 && s.syndromes <= 255 &&
           s.av1Speed >= 0 && s.av1Speed <= 9;
}

PictureParams pictureParams(const EncoderSettings& s) {
    if (s.wavelet == Wavelet::Av1) {
        return PictureParams{s.frameSize, s.wavelet, s.av1Chroma, s.av1Chroma,
                             av1Quality(s.quantiser)};
    }
    return PictureParams{s.frameSize, s.wavelet, s.redFactor, s.blueFactor,
                         kBaseStep + s.quantiser};
}

std::vector<uint8_t> codeAv1(const SourcePicture& source, const PictureParams& params, int speed) {
    av1::EncodeSettings settings;
    settings.quality = params.step;
    settings.chroma = params.redFactor == kAv1Chroma444 ? av1::Chroma::Yuv444 : av1::Chroma::Yuv420;
    settings.speed = speed;
    return av1::encodePicture(referencePicture(source, params.frameSize), settings).obus;
}

std::string statusText(int frameSize, Wavelet wavelet, size_t frameBytes) {
    // Tenths of a second, rounded half up; frame lengths are multiples of 41 and never meet a
    // half.
    const size_t tenths = (frameBytes * 10 + kBytesPerSecond / 2) / kBytesPerSecond;
    const std::string n = std::to_string(frameSize);
    return n + "x" + n + " pixels,  " + std::string(waveletName(wavelet)) + " compression,  " +
           std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " seconds/frame";
}

int framePeriodMs(size_t frameBytes) {
    return static_cast<int>(frameBytes) * kMsPerByte + kPeriodMarginMs;
}

int syncedMovieTimerMs(int periodMs) { return (9 * periodMs + 5) / 10; }

std::string fileNamePart(std::string_view path) {
    const size_t cut = path.find_last_of("\\/");
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string plainSourceName(SourceKind kind, std::string_view path) {
    return kind == SourceKind::Webcam ? std::string("Camera") : fileNamePart(path);
}

EncodeResult ENCODEFRAME(const EncoderSettings& settings, const SourcePicture& source,
                         EncoderState& state, int mode) {
    return encodeFrame(settings, source, state, mode, PreviewDecode::Decode);
}

EncodeResult encodeFrame(const EncoderSettings& settings, const SourcePicture& source,
                         EncoderState& state, int mode, PreviewDecode preview) {
    EncodeResult out;
    if (!isValid(settings) || source.bgr.size() != kSourceBytes) {
        out.error = EncodeError::BadSettings;
        return out;
    }
    const PictureParams params = pictureParams(settings);
    const int n = params.frameSize;

    // The coefficient bytes are kept for the preview: ARITHCODE gives them back exactly from
    // the coded stream (which is never cut), so the preview decodes from them and spares the
    // expansion. The planes are let go before the preview decode allocates its own.
    std::vector<uint8_t> coefficients;
    if (isAv1(params)) {
        out.coded = codeAv1(source, params, settings.av1Speed);
        if (out.coded.empty()) {
            out.error = EncodeError::Av1Failed;
            return out;
        }
    } else {
        YccPlanes planes = convertColour(source, params);
        forwardTransform(planes, params.wavelet, n, settings.threshold);
        coefficients =
            serialise(planes.luma, planes.red, planes.blue, settings.threshold, params.step);
        out.coefficientCount = coefficients.size();
        out.coded = codeCoefficients(coefficients);
    }
    if (out.coded.empty()) {
        out.error = EncodeError::CoderOverflow;
        return out;
    }

    const bool sending = mode != kEncodePreview;
    if (sending && settings.transmit) ++state.frameCounter;
    out.fileName = fileNamePart(settings.sourcePath);

    FrameInput input;
    input.coded = out.coded;
    input.counter = state.frameCounter;
    input.params = params;
    input.syndromes = settings.syndromes;
    input.message = settings.message;
    const int t = settings.syndromes / 2;
    if (!passesSizeCheck(static_cast<int>(out.coded.size()) + 4, t)) {
        out.error = EncodeError::TooLarge;
        out.t = t;
        out.failureLines = sizeCheckLines(static_cast<int>(out.coded.size()) + 4, t);
        out.failureInRed = state.sizeCheckFailures % 2 == 0;
        ++state.sizeCheckFailures;
        out.sendTimerMs = kRetryPeriodMs;
        return out;
    }
    out.sourceName =
        nextSourceName(state, plainSourceName(settings.sourceKind, settings.sourcePath));
    out.headerLabel = headerLabel(settings.callsign, out.sourceName);
    input.label = out.headerLabel;

    FrameBuild built = buildFrame(input);
    out.layout = built.layout;
    out.frame = std::move(built.frame);
    out.r = out.layout.r;
    out.t = out.layout.t;
    out.status = statusText(n, params.wavelet, out.frame.size());
    if (sending) {
        out.sendTimerMs = framePeriodMs(out.frame.size());
        out.movieTimerMs = syncedMovieTimerMs(out.sendTimerMs);
        out.send = settings.transmit;
    }
    if (preview == PreviewDecode::Decode) {
        // AV1: the stream through the receivers' own decoder, so the preview is their picture.
        out.preview = isAv1(params) ? decodePayload(out.coded, params).picture
                                    : decodeCoefficients(coefficients, params).picture;
    }
    return out;
}

}  // namespace encoder
