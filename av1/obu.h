#pragma once

// The OBU layer of the payload, read by ourselves before any byte reaches dav1d: a stream that
// is not exactly the OBUs we send is refused here, whatever a decoder would make of it.
//
// Each OBU: one header byte (forbidden bit 0, type in bits 6..3, no extension, the size field
// present, reserved bit 0), then the payload size in leb128 (at most 8 bytes, value below
// 2^32), then that many payload bytes, all within the stream.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace av1 {

enum class ObuType : uint8_t {
    SequenceHeader = 1,
    TemporalDelimiter = 2,
    FrameHeader = 3,
    TileGroup = 4,
    Metadata = 5,
    Frame = 6,
    RedundantFrameHeader = 7,
    TileList = 8,
    Padding = 15,
};

struct Obu {
    ObuType type = ObuType::Padding;  // any 4-bit value may appear, named or not
    size_t offset = 0;                // of the header byte, in the stream
    size_t bytes = 0;                 // header, size field and payload
    size_t payloadOffset = 0;         // of the first payload byte, in the stream
    size_t payloadBytes = 0;
};

// Splits the whole stream into OBUs. False, with out holding those read so far, when an OBU
// breaks the rules above or runs past the end.
[[nodiscard]] bool splitObus(std::span<const uint8_t> stream, std::vector<Obu>& out);

// True for the payload's layout: one sequence header, then either one frame OBU or a frame
// header and one or more tile groups, each with a payload, and nothing else (no temporal
// delimiter, metadata or padding).
[[nodiscard]] bool isPayloadLayout(std::span<const Obu> obus);

// The OBU header byte of a type with the size field present, and the two bytes of a temporal
// delimiter (which has an empty payload).
[[nodiscard]] constexpr uint8_t obuHeaderByte(ObuType type) {
    return static_cast<uint8_t>(static_cast<uint8_t>(type) << 3 | 0x02);
}
inline constexpr uint8_t kTemporalDelimiter[2] = {obuHeaderByte(ObuType::TemporalDelimiter), 0};

}  // namespace av1
