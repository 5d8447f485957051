#pragma once

// ENCODEFRAME: one run of the sender, from the 256 x 256 source square to the frame string and
// the picture a receiver will rebuild from it. Pure core: it returns everything and the window
// applies it (status line, preview, codeword bars, timers, the send over the modulator link).

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "encoder/frame_format.h"
#include "encoder/params.h"
#include "encoder/picture.h"

namespace encoder {

inline constexpr int kEncodeSend = 0;        // ENCODEFRAME mode of the send timer; any value but 1
inline constexpr int kEncodePreview = 1;     // ENCODEFRAME mode after a setting changed
inline constexpr int kRetryPeriodMs = 1000;  // send timer after a rejected frame, any mode
inline constexpr int kProgressPeriodMs = 100;  // progress timer, restarted by every sent frame
inline constexpr int kBytesPerSecond = 250;    // modem rate on the air

enum class SourceKind { Still = 0, Movie = 1, Webcam = 2 };  // the window's source tabs

struct EncoderSettings {
    int frameSize = 64;                // N: 48, 64, 96, 128 or 256
    Wavelet wavelet = Wavelet::Cdf97;  // transform family
    int redFactor = 4;                 // red chroma subsampling, 2 or 4
    int blueFactor = 4;                // blue chroma subsampling, 2 or 4
    int threshold = 0;                 // 0..100; coefficients of smaller magnitude become 0
    int quantiser = 1;                 // 1..65; step = 16 + quantiser
    int syndromes = 32;                // RS syndromes bar, 2..255; t = syndromes div 2
    std::string callsign;              // start of the header label
    std::string message;               // short message, cut to 38 bytes; empty sends none
    SourceKind sourceKind = SourceKind::Still;
    std::string sourcePath;  // last dropped picture or movie file; '\' and '/' both separate
    bool transmit = false;   // "Turn On": whether send-mode frames are counted and sent
    // The AV1 payload (wavelet Av1): its chroma, kAv1Chroma444 or kAv1Chroma420, and libaom's
    // speed (0..9, lower is slower and a little sharper). Its quality is the quantiser setting:
    // 1..64 give AV1's 0..63 (finest to coarsest), 65 gives 63.
    int av1Chroma = kAv1Chroma444;
    int av1Speed = 6;
};

[[nodiscard]] constexpr int av1Quality(int quantiser) {
    return quantiser - 1 < kAv1MaxQuality ? quantiser - 1 : kAv1MaxQuality;
}

struct EncoderState {
    uint16_t frameCounter = 0;       // frames counted so far, wraps at 65536
    std::string previousSourceName;  // source name the last header carried; empty at start
    int sizeCheckFailures = 0;       // rejected frames so far, for the alternating colours
};

enum class EncodeError {
    None,
    BadSettings,    // a setting outside its range; nothing was encoded and the state is unchanged
    TooLarge,       // rejected by the size check: show failureLines and retry after 1000 ms
    CoderOverflow,  // ARITHCODE found its output buffer too small; cannot happen at its bound
    Av1Failed,      // the AV1 encoder gave nothing (out of memory)
};

struct EncodeResult {
    EncodeError error = EncodeError::None;
    std::vector<uint8_t> frame;  // the frame string; empty on error
    int r = 0;  // payload bytes per codeword: the green bar's height, syndromes range 4..255 - r
    int t = 0;  // correctable bytes per codeword: the syndromes bar sits at 2t
    std::string status;  // status line, e.g. "64x64 pixels,  D4 compression,  16.2 seconds/frame"
    Picture preview;     // N x N, as a receiver decodes the frame
    // Send timer period to restart with: 4 ms per frame byte + 200 ms after a send-mode frame
    // (the progress timer then restarts with kProgressPeriodMs too), kRetryPeriodMs after a
    // rejection in either mode, 0 to leave the timers alone (a good preview).
    int sendTimerMs = 0;
    int movieTimerMs = 0;     // 0.9 x the period, for a movie synced with the sender; 0 if none
    bool send = false;        // hand the frame string to the modulator link
    std::string headerLabel;  // 22 bytes, callsign and source name
    std::string sourceName;   // as the label carries it, with the space of a repeated name
    std::string fileName;     // file-name part of sourcePath, the caption under the still view
    std::array<std::string, 5> failureLines;  // TooLarge: drawn in place of the preview
    bool failureInRed = true;                 // TooLarge: red and blue alternate
    std::vector<uint8_t> coded;               // ARITHCODE output the frame carries
    size_t coefficientCount = 0;              // M
    FrameLayout layout;
};

// mode kEncodePreview shows the frame only; any other mode counts (with the transmit switch on),
// times and, with the switch on, sends it. state carries the counter and the remembered source
// name from run to run.
[[nodiscard]] EncodeResult ENCODEFRAME(const EncoderSettings& settings, const SourcePicture& source,
                                       EncoderState& state, int mode);

// Whether encodeFrame decodes the preview. ENCODEFRAME always does; a caller that shows no
// preview (or a benchmark of the encoder alone) can leave it out.
enum class PreviewDecode { Decode, Skip };

// ENCODEFRAME with the preview decode made optional: Skip leaves preview empty and changes
// nothing else in the result or the state.
[[nodiscard]] EncodeResult encodeFrame(const EncoderSettings& settings, const SourcePicture& source,
                                       EncoderState& state, int mode, PreviewDecode preview);

// The AV1 payload of the source: its N x N picture (referencePicture) as one AV1 intra frame
// at the params' quality and chroma; empty when the encoder failed.
[[nodiscard]] std::vector<uint8_t> codeAv1(const SourcePicture& source, const PictureParams& params,
                                           int speed);

// ARITHCODE of the coefficient bytes into a buffer of arithEncodeBound bytes; empty only if the
// coder overflowed even that.
[[nodiscard]] std::vector<uint8_t> codeCoefficients(std::span<const uint8_t> coefficients);

[[nodiscard]] bool isValid(const EncoderSettings& settings);
[[nodiscard]] PictureParams pictureParams(const EncoderSettings& settings);

// Frame size, wavelet name and air time at 250 bytes per second with one decimal.
[[nodiscard]] std::string statusText(int frameSize, Wavelet wavelet, size_t frameBytes);
[[nodiscard]] int framePeriodMs(size_t frameBytes);
[[nodiscard]] int syncedMovieTimerMs(int periodMs);

// Part of a path after its last separator (the whole path if it has none).
[[nodiscard]] std::string fileNamePart(std::string_view path);
// "Camera" for the webcam, else the file name of the source path.
[[nodiscard]] std::string plainSourceName(SourceKind kind, std::string_view path);

}  // namespace encoder
