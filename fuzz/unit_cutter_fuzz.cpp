// The demodulator link's stream cutter against a model of the stream: however the reads are
// sized and wherever a connection ends, every unit handed on is exactly 41 consecutive bytes of
// one connection, in order, and every byte is either in a unit, still pending or counted as
// dropped by a reset.
//
// Input, read in order: a control byte, then for a read that many bytes (control % 128, cut
// short at the end of the input); control 0xFF ends the connection instead.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "receiver/unit_cutter.h"

namespace {

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
    std::vector<uint8_t> connection;  // bytes of this connection not yet in a unit
    uint64_t units = 0;
    uint64_t dropped = 0;
    uint64_t total = 0;
    while (!input.empty()) {
        const uint8_t control = input[0];
        input = input.subspan(1);
        if (control == 0xFF) {
            const size_t lost = cutter.reset();
            require(lost == connection.size(), "reset drops exactly the pending bytes");
            dropped += lost;
            connection.clear();
        } else {
            const size_t length = std::min<size_t>(control % 128, input.size());
            const std::span<const uint8_t> read = input.first(length);
            input = input.subspan(length);
            total += length;
            connection.insert(connection.end(), read.begin(), read.end());
            const std::vector<encoder::Unit> cut = cutter.feed(read);
            require(cut.size() == connection.size() / encoder::kUnitBytes,
                    "a unit for every 41 bytes of the connection");
            auto next = connection.begin();
            for (const encoder::Unit& unit : cut) {
                require(std::equal(unit.begin(), unit.end(), next), "units keep stream order");
                next += encoder::kUnitBytes;
            }
            connection.erase(connection.begin(), next);
            units += cut.size();
        }
        require(cutter.pendingBytes() == connection.size(), "pending bytes match the stream");
        require(cutter.pendingBytes() < encoder::kUnitBytes, "never a whole unit pending");
        require(cutter.unitsCut() == units, "units counted");
        require(cutter.bytesDropped() == dropped, "dropped bytes counted");
        require(units * encoder::kUnitBytes + connection.size() + dropped == total,
                "every byte accounted for once");
    }
    return 0;
}
