#pragma once

// RECEIVEPACKET: the receiver's core, from the units the demodulator link delivers to the
// window's texts, the block map and progress bar drawings, and decoded pictures. Pure core: it
// returns what changed and the picrx window applies it (labels, paints, picture control, recorder).
//
// A frame is collected in block slots by unit number (header blocks go to slot 255). Once the
// slots filled since the frame began reach r + 4 (the header's slot included), the 39
// codewords are rebuilt with every missing packet as an erasure, corrected, CRC-checked and
// expanded into the picture with the encoder's own decoding pipeline and the header's parameters.
//
// Where this core mends the procedure it was built from (Procedure::Mended, the default):
// - a decode that fails is tried again with every further block of the frame, until a good
//   frame or a new frame counter; a frame that never reached the threshold is tried once more
//   when it ends (the next frame's header, or finishFrame: 2 s without a unit, end of input);
// - each codeword is given the positions that are really missing as erasures, and position 0
//   from the frame's last packet, which carries it for codewords 1..38 (never sent for 0);
// - nothing is decoded before a header block of the frame, nor under a header whose fields no
//   encoder writes (size, factors, t, k, f, wavelet letter);
// - one damaged unit does not cost a frame: the decoder's fields are those most header blocks
//   of the frame agree on (the CRC covers the coded stream only, so a hit step or size would
//   decode a wrong picture), a packet number going back to one of the first 16 starts a new
//   frame whose headers were lost, and a frame begun by a new counter or a number going back is
//   undone, the frame before taken back with every packet since, when a header of the frame before
//   follows at once.
// Procedure::Literal keeps the steps as first written, faults included, so that tests can show
// each fault and check that every frame the literal steps decode decodes here to the same
// picture at the same unit.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "codec/rs.h"
#include "encoder/frame_format.h"
#include "encoder/picture.h"

namespace receiver {

inline constexpr int kSlotBytes = 40;  // a unit's last 40 bytes: what a slot keeps
// Slots 1..256; a unit's number is a byte, so slot 256 stays empty, and 0 has no slot.
inline constexpr int kSlotCount = 256;
inline constexpr int kHeaderSlot = 255;    // header blocks, and packets numbered 255
inline constexpr int kThresholdExtra = 4;  // decode threshold = r + 4 filled slots
inline constexpr int kFrameIdleMs = 2000;  // no unit for this long ends a frame: call finishFrame

inline constexpr int kBlockMapWidth = 256;  // block map graphic, pixels
inline constexpr int kBlockMapHeight = 8;
inline constexpr int kProgressWidth = 256;  // progress bar graphic, pixels
inline constexpr int kProgressHeight = 6;

// Paint colours as 0xRRGGBB, the layout of encoder::Picture pixels (the window's drawing calls
// were written as red + 256 green + 65536 blue, where blue is 0xFF0000; these are converted).
inline constexpr uint32_t kPaintWhite = 0xFFFFFF;
inline constexpr uint32_t kPaintBlue = 0x0000FF;  // block ticks and the received-count bar
inline constexpr uint32_t kPaintRed = 0xFF0000;   // the threshold mark on the progress bar
inline constexpr uint32_t kPaintGrey = 0x808080;  // the n' mark on the block map

inline constexpr std::string_view kNoEndMarkerCaption = "no end-of-file marker yet";
// An AV1 frame whose stream is not the picture its header promised.
inline constexpr std::string_view kAv1RefusedCaption =
    "AV1 picture refused: not as its header says";

enum class Procedure {
    Mended,   // the receiver as shipped
    Literal,  // the first-written steps with their faults, for comparison only
};

// One filled rectangle on the block map or the progress bar, clipped to the graphic. A line of
// the drawing steps becomes the rectangle from its first to its last point, both included, and
// as many rows as the pen is wide, centred on the line.
struct PaintOp {
    int x = 0;  // left column, pixels from the graphic's left
    int y = 0;  // top row
    int width = 0;
    int height = 0;
    uint32_t rgb = 0;         // 0xRRGGBB; unused when background is set
    bool background = false;  // fill with the window's background colour (the block map's clear)
};

// The paints of one call, in order; no call makes more than 5 on one graphic.
struct PaintList {
    std::array<PaintOp, 8> ops{};
    int count = 0;

    [[nodiscard]] const PaintOp* begin() const { return ops.data(); }
    [[nodiscard]] const PaintOp* end() const { return ops.data() + count; }
    [[nodiscard]] bool empty() const { return count == 0; }
};

enum class DecodeOutcome {
    None,    // no decode was tried in this call
    Failed,  // tried: no end marker or a CRC mismatch; nothing is shown
    Good,    // the CRC matched; the frame is counted
};

struct ReceivedPicture {
    encoder::Picture picture;  // N x N, rows from the top, 0x00RRGGBB
    int frameSize = 0;         // N, pixels per side: the header's size (255 read as 256)
    int length = 0;            // L from the header, bytes of CRC text plus coded stream
    std::string caption;       // "N L", both plain, written at (1, 245) over the picture
};

// What one call changed. An empty optional leaves its control as it is.
struct ReceiveUpdate {
    std::optional<std::string> messageLabel;     // a message block's text, 38 bytes
    std::optional<std::string> labelLine;        // the header's label text, 21 bytes
    std::optional<std::string> statusLabel;      // header lines joined by CR LF
    std::optional<std::string> blockCountLabel;  // "104 blocks out of 132"
    std::optional<std::string> percentageLabel;  // "78.8%"
    std::optional<std::string> caption;          // window caption; it stays once set
    PaintList blockMap;                          // 256 x 8, redraw after painting
    PaintList progressBar;                       // 256 x 6, redraw after painting
    DecodeOutcome decode = DecodeOutcome::None;
    // With a good frame whose header names a frame the pipeline can decode (always in Mended):
    // draw it into the picture control with its caption.
    std::optional<ReceivedPicture> picture;
    // A good frame: while recording, append the picture control to the movie file and show
    // the saved-frame count.
    bool record = false;
};

using Slot = std::array<uint8_t, kSlotBytes>;

[[nodiscard]] inline Slot emptySlot() {
    Slot s;
    s.fill(0xFF);
    return s;
}
[[nodiscard]] inline std::array<Slot, kSlotCount + 1> emptySlots() {
    std::array<Slot, kSlotCount + 1> s;
    s.fill(emptySlot());
    return s;
}

// The receiver's state for the whole run; start values as the window's initialisation sets
// them. Change procedure before the first unit only.
struct ReceiverState {
    Procedure procedure = Procedure::Mended;

    // Slot m (1..256) holds the last 40 bytes of the latest unit numbered m; 0xFF when empty.
    std::array<Slot, kSlotCount + 1> blockSlots = emptySlots();
    std::array<bool, kSlotCount + 1> filled{};  // "OK": filled since the last reset
    int received = 0;                           // filled slots, 0..256, slot 255 included
    // Slot 255 is shared by header blocks and a packet numbered 255 (a frame of n' = 255); the
    // packet's bytes are kept here as well, since codewords take position 0 from them.
    Slot packet255 = emptySlot();
    bool packet255Filled = false;

    // From the latest header block.
    int t = 32;                                          // correctable bytes per codeword
    int k = 191;                                         // RS data symbols, 255 - 2t
    std::optional<std::array<uint8_t, 2>> counterBytes;  // frame counter, low byte first
    int frameSize = 64;                                  // N; the byte 255 stands for 256
    uint8_t letter = 0;   // wavelet letter as sent, 0 before a header
    int waveletCode = 0;  // 1 Haar, 0 D4, 2 CDF 9/7, 3 AV1 (mended); kept for other letters
    int redFactor = 4;    // chroma subsampling factors
    int blueFactor = 4;
    int step = 32;      // quantiser step
    int length = 0;     // L = (byte 16 - 1) 256 + byte 17, may be < 0
    int fill = 0;       // f, RS fill symbols not sent
    int threshold = 0;  // k - f + 4; 0 before the first header

    int goodFrames = 0;  // frames whose CRC matched since start
    int done = 0;        // Mended: 1 after a good frame; Literal: 1 once the end marker was found
    int newFrame = -1;   // 1 while a header with a new frame counter is being processed

    // Mended bookkeeping.
    // The latest header block's fields are ones an encoder writes. False before the first
    // header block, so nothing is decoded before one has set the parameters.
    bool headerValid = false;
    bool pendingTry = false;  // packets or parameters changed since the last decode try

    // Header blocks of the current frame an encoder could have written, grouped by their
    // decoder fields (t, k, f, N, letter, factors, step, L); the largest group's fields are the
    // ones decoded with, the latest group winning a tie.
    struct HeaderVote {
        encoder::HeaderFields fields;
        int count = 0;     // header blocks with these fields
        int lastSeen = 0;  // headersSeen when the latest of them arrived
    };
    std::vector<HeaderVote> headerVotes;
    int headersSeen = 0;   // header blocks of the current frame
    int frameHeaders = 0;  // of those, the ones carrying its counter
    int lastPacket = 0;    // number of the frame's latest packet (1..n'), 0 before one
    bool unnamed = false;  // begun by a packet number going back; no header block of it yet
    // The frame before the current one, while the current one may be the doing of one damaged
    // unit (a header with a hit counter, a packet with a hit number): a header block with the
    // earlier frame's counter before a second header of the current one takes it back.
    struct SetAsideFrame {
        std::array<Slot, kSlotCount + 1> blockSlots;
        std::array<bool, kSlotCount + 1> filled{};
        int received = 0;
        Slot packet255;
        bool packet255Filled = false;
        std::optional<std::array<uint8_t, 2>> counterBytes;
        int done = 0;
        std::vector<HeaderVote> headerVotes;
        int headersSeen = 0;
        int frameHeaders = 0;
        int lastPacket = 0;
    };
    std::optional<SetAsideFrame> setAside;

    codec::RsState rs;  // tables and generator for rsT
    int rsT = -1;       // t the generator was built for; -1 before the first decode

    [[nodiscard]] int codewordLength() const { return 2 * t + k - fill; }  // n', blocks 1..n'
};

// One unit from the demodulator link: its first byte is its number and its last 40 bytes its
// contents (a 41-byte unit, or a longer burst read as one). Fewer than 40 bytes change nothing.
[[nodiscard]] ReceiveUpdate RECEIVEPACKET(ReceiverState& state, std::span<const uint8_t> packet);

// The frame has ended without a new header: no unit for kFrameIdleMs, or the input ended. A
// frame that was not decoded yet and got packets since its last try is tried once more, with
// every missing packet as an erasure. The shell calls it from its idle timer (restarted by each
// unit) and at the end of input; calling it again changes nothing. Literal: changes nothing.
[[nodiscard]] ReceiveUpdate finishFrame(ReceiverState& state);

// Header fields an encoder can write: N 48, 64, 96, 128 or 256, factors 2 or 4, t >= 2,
// k = 255 - 2t, f < k (at least one payload byte per codeword), wavelet letter H, D or S (or
// A, an AV1 frame, with both factors 1 or both 2). The
// step and L are not checked: the decoder takes any step, and the end marker, not L, delimits
// the coded stream.
[[nodiscard]] bool isEncoderHeader(const encoder::HeaderFields& header);

}  // namespace receiver
