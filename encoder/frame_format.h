#pragma once

// The bytes of one transmitted frame, and the way back for a clean frame string.
//
// payload  = CRC text (4 hex digits) | coded stream | end marker | 0xFF fill to a multiple of 39
// rows     = 39 rows of r payload bytes; each row + f bytes 0xFF is one RS block of k symbols
// codeword = 2t parity bytes then the r row bytes (the fill is not sent); n' = 2t + r bytes
// S        = the 40 x n' matrix (39 codewords and one absent row) read column by column, shifted
//            by one: S[0] = 0x00, S[p] = C[((p-1) mod 40) * n' + (p-1) div 40 + 1], absent -> 0x20
// packets  = CHR(m + 1) + S[40m .. 40m + 39] for m = 0 .. n' - 1
// frame    = H H H, then per packet m: packet, H when m mod 7 = 0, M when a message is sent and
//            m mod 9 = 0
//
// A header block H or message block M is 41 bytes, the same as a packet, so a receiver files
// every unit by its first bytes (0xFF "header", "msg", or the packet number).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "encoder/params.h"

namespace encoder {

inline constexpr size_t kUnitBytes = 41;    // header block, message block or packet
inline constexpr int kCodewords = 39;       // RS codewords per frame
inline constexpr int kInterleaveRows = 40;  // the codewords plus one absent row
inline constexpr std::string_view kEndMarker = "This is the end of the file";
inline constexpr uint8_t kFillByte = 0xFF;       // payload fill and the RS blocks' unsent tail
inline constexpr uint8_t kAbsentByte = 0x20;     // stream positions in the absent row
inline constexpr size_t kLabelBytes = 22;        // header label, offsets 19..40
inline constexpr size_t kMessageTextBytes = 38;  // message block after "msg"
inline constexpr int kSizeLimitBytes = 9945;     // 39 codewords of 255 bytes, shown on rejection
inline constexpr uint16_t kStreamlessCounter = 0xFFFF;  // counter whose frames carry no packets

using Unit = std::array<uint8_t, kUnitBytes>;

// Derived sizes of one frame. r and n' are 0 until the payload length is known.
struct FrameLayout {
    int t = 0;  // correctable bytes per codeword: syndromes setting div 2
    int k = 0;  // RS data symbols per block, 255 - 2t
    int r = 0;  // payload bytes per codeword (row length)
    int f = 0;  // fill symbols per block, k - r, not transmitted
    int n = 0;  // transmitted codeword length n' = 2t + r, also the packet count
    int L = 0;  // CRC text plus coded stream, bytes
};

// The frame is rejected when round(L/39 + 2t) > 255, or when the row length that the end marker
// and fill bring gives r + 2t > 255.
[[nodiscard]] bool passesSizeCheck(int L, int t);
// The five lines shown instead of the preview on rejection.
[[nodiscard]] std::array<std::string, 5> sizeCheckLines(int L, int t);

// The CRC text's initial value. An AV1 frame's starts from another, so that a receiver that
// knows only the wavelets finds its CRC wrong, always, and shows and records nothing: the two
// CRCs of one stream differ by the initial values' difference run through the stream's length,
// which is never 0 (a CRC register of zero input only shifts, and x^8 is a unit modulo the
// generator).
inline constexpr uint16_t kCrcInitial = 0xFFFF;
inline constexpr uint16_t kAv1CrcInitial = 0x0000;
[[nodiscard]] uint16_t crcInitialFor(uint8_t letter);

// CRC-16 of the coded stream as four upper-case hex digits.
[[nodiscard]] std::string crcText(std::span<const uint8_t> coded, uint16_t initial = kCrcInitial);
// CRC text, coded stream, end marker and 1..39 fill bytes.
[[nodiscard]] std::vector<uint8_t> framePayload(std::span<const uint8_t> coded,
                                                uint16_t initial = kCrcInitial);

// The 39 transmitted codewords C (39 n' bytes) of a payload of 39 r bytes, for t (1..127)
// with r + 2t <= 255.
[[nodiscard]] std::vector<uint8_t> encodeCodewords(std::span<const uint8_t> payload, int t);
// S from C, and C back from S (C[0], never sent, comes back as 0).
[[nodiscard]] std::vector<uint8_t> interleave(std::span<const uint8_t> codewords, int n);
[[nodiscard]] std::vector<uint8_t> deinterleave(std::span<const uint8_t> stream, int n);

struct HeaderFields {
    int t = 0;             // offset 7
    int k = 0;             // offset 8, 255 - 2t
    uint16_t counter = 0;  // offsets 9-10, low byte first
    int frameSize = 0;     // offset 11; the byte 255 stands for 256
    uint8_t letter = 0;    // offset 12: 'H', 'D' or 'S'
    int redFactor = 0;     // offset 13
    int blueFactor = 0;    // offset 14
    int step = 0;          // offset 15
    int length = 0;        // L, from offsets 16 ((L div 256) + 1) and 17 (L mod 256)
    int fill = 0;          // offset 18, f = k - r
    std::string label;     // offsets 19..40, 22 bytes

    [[nodiscard]] int r() const { return k - fill; }
    [[nodiscard]] int codewordLength() const { return 2 * t + r(); }
    // Decoder parameters; nullopt for a letter that names no wavelet.
    [[nodiscard]] std::optional<PictureParams> pictureParams() const;
};

[[nodiscard]] Unit makeHeaderBlock(const HeaderFields& fields);
// Fields of a unit that starts with 0xFF "header"; nullopt for any other unit.
[[nodiscard]] std::optional<HeaderFields> parseHeaderBlock(std::span<const uint8_t> unit);
// "msg", the message cut to 38 bytes, spaces.
[[nodiscard]] Unit makeMessageBlock(std::string_view message);

// Callsign followed by the source name, padded with spaces or cut to 22 bytes.
[[nodiscard]] std::string headerLabel(std::string_view callsign, std::string_view sourceName);

// Length of a frame string of n' packets: 41 (3 + n' + ceil(n'/7) + [message] ceil(n'/9)).
// The streamless counter adds one header and one message block per packet slot instead.
[[nodiscard]] size_t frameStringLength(int n, bool message, bool streamless = false);

struct FrameInput {
    std::span<const uint8_t> coded;  // ARITHCODE output, "ACMC" first
    uint16_t counter = 0;            // frame counter, already advanced for a sent frame
    PictureParams params;            // N, wavelet, factors and step for the header
    int syndromes = 32;              // parity setting; t = syndromes div 2, 2..255
    std::string label;               // 22 bytes, from headerLabel
    std::string message;             // short message; empty sends no message block
};

enum class FrameBuildError { None, BadSyndromes, TooLarge };

struct FrameBuild {
    FrameBuildError error = FrameBuildError::None;
    std::vector<uint8_t> frame;  // the frame string; empty on error
    FrameLayout layout;          // t and k always; r, f, n' once the payload was cut
};

[[nodiscard]] FrameBuild buildFrame(const FrameInput& input);

enum class FrameReadError {
    None,
    BadLength,      // not a whole number of 41-byte units
    NoHeader,       // no header block
    BadHeader,      // header fields that describe no frame (t, k, f, L out of range)
    MissingPacket,  // a packet number 1..n' is absent
    NotCodeword,    // an RS block is not a code word
    CrcMismatch,    // CRC text differs from the coded stream's CRC
    NoEndMarker,    // the end marker does not follow the L bytes
};

struct FrameContents {
    FrameReadError error = FrameReadError::None;
    HeaderFields header;                    // the first header block
    std::string message;                    // text of the first message block, 38 bytes
    std::vector<uint8_t> payload;           // 39 r bytes, rebuilt from the codewords
    std::string crcText;                    // payload bytes 0..3
    std::vector<uint8_t> coded;             // payload bytes 4..L - 1
    std::array<int, kCodewords> rsCount{};  // RSDECODE count per codeword
    int badCodeword = -1;                   // first codeword that failed, for NotCodeword
};

// Takes a clean frame string apart by reversing the format: finds the header, de-interleaves the
// packets, rebuilds each 255-symbol block with its 0xFF fill, checks with RSDECODE that it is a
// code word (codeword 0 gets its unsent first byte back as an erasure), checks the CRC and cuts
// out the coded stream with L. It corrects nothing else: a damaged frame is the receiver's job.
[[nodiscard]] FrameContents readFrame(std::span<const uint8_t> frame);

}  // namespace encoder
