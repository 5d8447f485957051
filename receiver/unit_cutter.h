#pragma once

// Cuts the demodulator's TCP byte stream into 41-byte units.
//
// The demodulator writes each unit with a write of its own, but TCP keeps no write boundaries:
// one unit can arrive over two reads, and two units can arrive in one. Cutting per read would
// either drop a unit's head (a short read) or pass two units as one. Counting bytes from the
// start of the connection instead keeps every unit whole whatever the reads look like, because
// TCP neither loses nor reorders bytes within a connection. A new connection starts counting
// afresh, so the bytes of a unit cut short by its connection's end are dropped with it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "encoder/frame_format.h"

namespace receiver {

class UnitCutter {
public:
    // Appends one read's bytes (any length, including 0) and returns the units they complete,
    // in stream order. Each byte ends up in exactly one unit or in the partial tail.
    [[nodiscard]] std::vector<encoder::Unit> feed(std::span<const uint8_t> bytes);

    // Forgets the partial unit; for the end of a connection. Returns the bytes dropped (0..40).
    size_t reset();

    [[nodiscard]] size_t pendingBytes() const { return filled_; }  // 0..40, of the next unit
    [[nodiscard]] uint64_t unitsCut() const { return unitsCut_; }  // since construction
    [[nodiscard]] uint64_t bytesDropped() const { return bytesDropped_; }  // by reset, in total

private:
    encoder::Unit partial_{};
    size_t filled_ = 0;
    uint64_t unitsCut_ = 0;
    uint64_t bytesDropped_ = 0;
};

}  // namespace receiver
