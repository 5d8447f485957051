// RECEIVEPACKET over unit sequences, then finishFrame, with either procedure. Checks properties,
// not only crashes:
// - a picture comes only with a good frame (which asks to be recorded), is N x N for the N of
//   the header in force, and carries the caption "N L";
// - every paint lies inside its graphic, and the received count stays within 0..256;
// - a frame string from ENCODEFRAME that arrives untouched decodes to its sender's preview.
//
// Input, read in order (bytes past the end read as 0):
//   mode: bit 0 the literal procedure; bit 1 structured (else raw)
//   raw: the rest cut into 41-byte units; a last piece of 40 bytes or more is a unit too
//   structured: a selector (frames[s & 3], then frames[(s >> 2) & 3] when bit 4 is set), then
//     edits of 4 bytes each on the concatenated units: operation, unit index, position, value;
//     operations 0 drop, 1 xor a byte, 2 set a byte, 3 duplicate, 4 swap with unit `position`,
//     5 an idle gap (finishFrame) before the unit, 6 cut the unit to its last 40 bytes.
// The frames are built once with ENCODEFRAME: 48 x 48 Haar t = 16; 48 x 48 D4 t = 2 with a
// message; 64 x 64 CDF 9/7 t = 6 with the counter bytes 0x01 0xFE; and a streamless frame
// (counter 65535, header and message blocks only).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "encoder/encode_frame.h"
#include "encoder/test_pictures.h"
#include "receiver/receive_packet.h"

namespace {

using namespace encoder;
using receiver::ReceiverState;
using receiver::ReceiveUpdate;

void require(bool property, const char* what) {
    if (!property) {
        std::fprintf(stderr, "receive_fuzz: property violated: %s\n", what);
        std::abort();
    }
}

class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    uint8_t byte() { return pos_ < bytes_.size() ? bytes_[pos_++] : 0; }
    [[nodiscard]] std::span<const uint8_t> rest() const { return bytes_.subspan(pos_); }
    [[nodiscard]] bool atEnd() const { return pos_ >= bytes_.size(); }

private:
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
};

struct Sent {
    std::vector<uint8_t> frame;
    Picture preview;
    bool streamless = false;
};

const std::vector<Sent>& frames() {
    static const std::vector<Sent> built = [] {
        struct Recipe {
            int n;
            Wavelet wavelet;
            int syndromes;
            int quantiser;
            const char* message;
            uint16_t counter;
        };
        const Recipe recipes[] = {{48, Wavelet::Haar, 32, 20, "", 1},
                                  {48, Wavelet::D4, 4, 40, "hi", 2},
                                  {64, Wavelet::Cdf97, 12, 60, "", 0xFE01},
                                  {48, Wavelet::Cdf97, 32, 60, "x", 0xFFFF}};
        std::vector<Sent> out;
        for (const Recipe& r : recipes) {
            EncoderSettings s;
            s.frameSize = r.n;
            s.wavelet = r.wavelet;
            s.redFactor = 4;
            s.blueFactor = 2;
            s.syndromes = r.syndromes;
            s.quantiser = r.quantiser;
            s.message = r.message;
            s.callsign = "FUZZ ";
            s.sourcePath = "card";
            s.transmit = true;
            EncoderState state;
            state.frameCounter = static_cast<uint16_t>(r.counter - 1);
            EncodeResult e = ENCODEFRAME(s, gradient(), state, kEncodeSend);
            require(e.error == EncodeError::None, "the built-in frames encode");
            out.push_back({std::move(e.frame), std::move(e.preview), r.counter == 0xFFFF});
        }
        return out;
    }();
    return built;
}

struct Item {
    std::vector<uint8_t> bytes;
    bool idleBefore = false;
};

struct Outcome {
    int pictures = 0;
    encoder::Picture first;
};

// sizes: every N a header block has set so far. A new frame's header may end the previous
// frame with a decode under that frame's own header, and the mended receiver decodes with the
// fields most of the frame's header blocks agree on, which need not be the latest block's.
void check(const ReceiverState& s, const std::set<int>& sizes, const ReceiveUpdate& up,
           Outcome& out) {
    require(s.received >= 0 && s.received <= receiver::kSlotCount, "received count 0..256");
    for (const receiver::PaintOp& op : up.blockMap) {
        require(op.x >= 0 && op.y >= 0 && op.width > 0 && op.height > 0 &&
                    op.x + op.width <= receiver::kBlockMapWidth &&
                    op.y + op.height <= receiver::kBlockMapHeight,
                "block map paint inside the graphic");
    }
    for (const receiver::PaintOp& op : up.progressBar) {
        require(op.x >= 0 && op.y >= 0 && op.width > 0 && op.height > 0 &&
                    op.x + op.width <= receiver::kProgressWidth &&
                    op.y + op.height <= receiver::kProgressHeight,
                "progress paint inside the graphic");
    }
    require(up.record == (up.decode == receiver::DecodeOutcome::Good), "record with a good frame");
    if (!up.picture) return;
    const receiver::ReceivedPicture& p = *up.picture;
    require(up.decode == receiver::DecodeOutcome::Good, "a picture only with a good frame");
    require(sizes.count(p.frameSize) == 1, "the N of a header block received");
    require(isFrameSize(p.frameSize) && p.picture.size == p.frameSize, "picture is N x N");
    require(p.picture.pixels.size() == static_cast<size_t>(p.frameSize) * p.frameSize,
            "N x N pixels");
    require(p.caption == std::to_string(p.frameSize) + " " + std::to_string(p.length), "caption");
    if (out.pictures++ == 0) out.first = p.picture;
}

Outcome run(ReceiverState& s, const std::vector<Item>& items) {
    Outcome out;
    std::set<int> sizes{s.frameSize};
    for (const Item& item : items) {
        if (item.idleBefore) check(s, sizes, receiver::finishFrame(s), out);
        const ReceiveUpdate up = receiver::RECEIVEPACKET(s, item.bytes);
        sizes.insert(s.frameSize);
        check(s, sizes, up, out);
    }
    check(s, sizes, receiver::finishFrame(s), out);
    return out;
}

std::vector<Item> rawItems(std::span<const uint8_t> bytes) {
    std::vector<Item> items;
    while (bytes.size() >= receiver::kSlotBytes) {
        const size_t n = std::min(bytes.size(), kUnitBytes);
        items.push_back({std::vector<uint8_t>(bytes.begin(), bytes.begin() + n), false});
        bytes = bytes.subspan(n);
    }
    return items;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader in({data, size});
    const uint8_t mode = in.byte();
    ReceiverState s;
    s.procedure = (mode & 1) != 0 ? receiver::Procedure::Literal : receiver::Procedure::Mended;
    if ((mode & 2) == 0) {
        (void)run(s, rawItems(in.rest()));
        return 0;
    }

    const uint8_t selector = in.byte();
    std::vector<const Sent*> chosen = {&frames()[selector & 3]};
    if ((selector & 0x10) != 0) chosen.push_back(&frames()[(selector >> 2) & 3]);
    std::vector<Item> items;
    for (const Sent* sent : chosen) {
        for (const Item& item : rawItems(sent->frame)) items.push_back(item);
    }
    const bool untouched = in.atEnd();
    for (int edits = 0; !in.atEnd() && edits < 256 && !items.empty(); ++edits) {
        const uint8_t op = in.byte();
        const size_t index = in.byte() % items.size();
        const uint8_t position = in.byte();
        const uint8_t value = in.byte();
        std::vector<uint8_t>& bytes = items[index].bytes;
        switch (op % 7) {
            case 0:
                items.erase(items.begin() + static_cast<ptrdiff_t>(index));
                break;
            case 1:
                bytes[position % bytes.size()] ^= value;
                break;
            case 2:
                bytes[position % bytes.size()] = value;
                break;
            case 3: {
                Item copy = items[index];
                items.insert(items.begin() + static_cast<ptrdiff_t>(index), std::move(copy));
                break;
            }
            case 4:
                std::swap(items[index], items[position % items.size()]);
                break;
            case 5:
                items[index].idleBefore = true;
                break;
            default:
                if (bytes.size() > receiver::kSlotBytes) bytes.erase(bytes.begin());
                break;
        }
    }
    const Outcome out = run(s, items);
    if (untouched && !chosen.front()->streamless) {
        require(out.pictures >= 1, "an untouched frame decodes");
        require(out.first.pixels == chosen.front()->preview.pixels, "to its sender's preview");
    }
    return 0;
}
