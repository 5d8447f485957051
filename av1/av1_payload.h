#pragma once

// The AV1 picture payload: an N x N RGB picture as the OBUs of one AV1 intra frame (a sequence
// header and one frame, nothing else: no temporal delimiter, no container), and back. libaom
// encodes and dav1d decodes; the RGB <-> YCbCr conversion around them is ours, in integers, so
// that the sender's preview (its own stream through decodePicture) is exactly what every
// receiver decodes, on any machine.
//
// 8-bit; 4:4:4 (profile 1) or 4:2:0 (profile 0). The conversion is in av1/colour.h, our own
// checks of the OBU layer in av1/obu.h.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "encoder/picture.h"

namespace av1 {

enum class Chroma { Yuv444, Yuv420 };

inline constexpr int kMinFrameSize = 16;  // N, pixels per side
inline constexpr int kMaxFrameSize = 256;

inline constexpr int kMinQuality = 0;   // libaom's cq-level: the finest quantiser
inline constexpr int kMaxQuality = 63;  // the coarsest
inline constexpr int kDefaultQuality = 32;
inline constexpr int kSendSpeed = 6;   // libaom cpu-used for sending: tens of ms at 256 x 256
inline constexpr int kStillSpeed = 2;  // slower, a little sharper: for stills

struct EncodeSettings {
    int quality = kDefaultQuality;  // kMinQuality..kMaxQuality, lower is sharper
    Chroma chroma = Chroma::Yuv444;
    int speed = kSendSpeed;  // 0..9
};

struct Encoded {
    std::vector<uint8_t> obus;  // sequence header OBU, then the frame's OBU(s); empty on error
    std::string error;          // why nothing was encoded
};

// One intra frame of the picture (N x N, N = picture.size, 16..256), single-threaded.
[[nodiscard]] Encoded encodePicture(const encoder::Picture& picture,
                                    const EncodeSettings& settings);

enum class DecodeError {
    None,
    NotAv1,       // not a sequence header and one frame, each with its size
    WrongSize,    // the stream's frame is not frameSize x frameSize
    WrongChroma,  // another profile or chroma subsampling than promised
    WrongDepth,   // not 8-bit
    Damaged,      // dav1d refused it or gave no picture
};

struct Decoded {
    DecodeError error = DecodeError::None;
    encoder::Picture picture;  // frameSize x frameSize; empty on error
};

// Decodes only what the caller was promised (the frame's header): a frameSize x frameSize,
// 8-bit picture of that chroma. Any other stream is an error, never a picture of another size;
// the work is bounded by frameSize whatever the bytes say. A frameSize outside
// kMinFrameSize..kMaxFrameSize is WrongSize. Damage inside the tile data mostly goes unseen
// (AV1 has no check on it): such a stream decodes to a wrong picture of the promised size.
[[nodiscard]] Decoded decodePicture(std::span<const uint8_t> obus, int frameSize, Chroma chroma);

[[nodiscard]] const char* decodeErrorText(DecodeError error);

}  // namespace av1
