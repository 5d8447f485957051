#include "av1/obu.h"

namespace av1 {

namespace {

constexpr uint8_t kForbiddenBit = 0x80;
constexpr uint8_t kExtensionFlag = 0x04;
constexpr uint8_t kHasSizeField = 0x02;
constexpr uint8_t kReservedBit = 0x01;
constexpr int kMaxLeb128Bytes = 8;

}  // namespace

bool splitObus(std::span<const uint8_t> stream, std::vector<Obu>& out) {
    out.clear();
    size_t pos = 0;
    while (pos < stream.size()) {
        Obu obu;
        obu.offset = pos;
        const uint8_t header = stream[pos++];
        if ((header & (kForbiddenBit | kExtensionFlag | kReservedBit)) != 0 ||
            (header & kHasSizeField) == 0) {
            return false;
        }
        obu.type = static_cast<ObuType>((header >> 3) & 0x0F);

        // leb128: seven bits a byte, least significant first, the top bit set on all but the
        // last. Eight bytes carry 56 bits; anything from 2^32 up is refused, so the sum below
        // cannot wrap.
        uint64_t size = 0;
        bool last = false;
        for (int i = 0; i < kMaxLeb128Bytes && pos < stream.size(); ++i) {
            const uint8_t b = stream[pos++];
            size |= static_cast<uint64_t>(b & 0x7F) << (7 * i);
            if ((b & 0x80) == 0) {
                last = true;
                break;
            }
        }
        if (!last || size > UINT32_MAX || size > stream.size() - pos) {
            return false;
        }
        obu.payloadOffset = pos;
        obu.payloadBytes = static_cast<size_t>(size);
        pos += obu.payloadBytes;
        obu.bytes = pos - obu.offset;
        out.push_back(obu);
    }
    return true;
}

bool isPayloadLayout(std::span<const Obu> obus) {
    if (obus.size() < 2 || obus[0].type != ObuType::SequenceHeader) return false;
    for (const Obu& obu : obus) {
        if (obu.payloadBytes == 0) return false;
    }
    if (obus[1].type == ObuType::Frame) return obus.size() == 2;
    if (obus[1].type != ObuType::FrameHeader || obus.size() < 3) return false;
    for (size_t i = 2; i < obus.size(); ++i) {
        if (obus[i].type != ObuType::TileGroup) return false;
    }
    return true;
}

}  // namespace av1
