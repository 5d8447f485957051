// The demodulator link's stream cutter against a model of the stream: however the writes are
// sized, wherever the stream pauses and wherever a connection ends, every unit handed on is
// exactly 41 consecutive bytes counted from the last alignment point (the connection's start or
// the last pause), in order; so every whole unit written after a pause arrives intact, whatever
// came before it. Every byte is in a unit, still pending, or dropped by a reset or a realign,
// once, and the drops are counted by reason.
//
// Input, read in order: a control byte, then
// - 0xFF: the connection ends (reset);
// - 0xFE: the stream pauses (realign);
// - 0xFD, n, then the next n * 41 bytes (cut short at the end of the input): whole units
//   written after whatever came before, which the model checks arrive intact when they start
//   on an alignment point;
// - anything else: a read of (control % 128) bytes, cut short at the end of the input.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "receiver/unit_cutter.h"

namespace {

constexpr uint8_t kEnd = 0xFF;
constexpr uint8_t kPause = 0xFE;
constexpr uint8_t kWholeUnits = 0xFD;

void require(bool property, const char* what) {
    if (!property) {
        std::fprintf(stderr, "unit_cutter_fuzz: property violated: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> input(data, size);
    receiver::UnitCutter cutter;
    std::vector<uint8_t> segment;  // bytes since the last alignment point not yet in a unit
    uint64_t units = 0;
    uint64_t droppedAtEnd = 0;
    uint64_t droppedAtPause = 0;
    uint64_t realignments = 0;
    uint64_t total = 0;
    while (!input.empty()) {
        const uint8_t control = input[0];
        input = input.subspan(1);
        if (control == kEnd || control == kPause) {
            const size_t lost = control == kEnd ? cutter.reset() : cutter.realign();
            require(lost == segment.size(), "a drop takes exactly the pending bytes");
            (control == kEnd ? droppedAtEnd : droppedAtPause) += lost;
            if (control == kPause && lost > 0) ++realignments;
            segment.clear();
        } else {
            size_t length = control % 128;
            bool whole = false;
            if (control == kWholeUnits && !input.empty()) {
                length = input[0] * encoder::kUnitBytes;
                input = input.subspan(1);
                whole = segment.empty();  // starts on an alignment point
            }
            length = std::min(length, input.size());
            const std::span<const uint8_t> read = input.first(length);
            input = input.subspan(length);
            total += length;
            segment.insert(segment.end(), read.begin(), read.end());
            const std::vector<encoder::Unit> cut = cutter.feed(read);
            require(cut.size() == segment.size() / encoder::kUnitBytes,
                    "a unit for every 41 bytes since the alignment point");
            auto next = segment.begin();
            for (const encoder::Unit& unit : cut) {
                require(std::equal(unit.begin(), unit.end(), next), "units keep stream order");
                next += encoder::kUnitBytes;
            }
            if (whole) {
                // The written units themselves, not only the model's view of them.
                require(cut.size() == length / encoder::kUnitBytes, "every whole unit arrives");
                for (size_t i = 0; i < cut.size(); ++i) {
                    require(std::equal(cut[i].begin(), cut[i].end(),
                                       read.begin() +
                                           static_cast<std::ptrdiff_t>(i * encoder::kUnitBytes)),
                            "a whole unit written after a pause arrives intact");
                }
            }
            segment.erase(segment.begin(), next);
            units += cut.size();
        }
        require(cutter.pendingBytes() == segment.size(), "pending bytes match the stream");
        require(cutter.pendingBytes() < encoder::kUnitBytes, "never a whole unit pending");
        require(cutter.unitsCut() == units, "units counted");
        require(cutter.bytesDropped() == droppedAtEnd + droppedAtPause, "dropped bytes counted");
        require(cutter.bytesDroppedAtPause() == droppedAtPause, "bytes dropped at pauses counted");
        require(cutter.realignments() == realignments, "realignments counted");
        require(cutter.bytesFed() == total, "bytes fed counted");
        require(
            units * encoder::kUnitBytes + segment.size() + droppedAtEnd + droppedAtPause == total,
            "every byte accounted for once");
    }
    return 0;
}
