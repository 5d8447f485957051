#pragma once

// Cuts the demodulator's TCP byte stream into 41-byte units. A pure core: the link that owns it
// decides when the stream has paused and says so (realign); the cutter keeps no clock.
//
// The demodulator writes each unit with a write of its own, but TCP keeps no write boundaries:
// one unit can arrive over two reads, and two units can arrive in one. Cutting per read would
// either drop a unit's head (a short read) or pass two units as one. Counting bytes instead
// keeps every unit whole whatever the reads look like, because TCP neither loses nor reorders
// bytes within a connection.
//
// Counting alone never recovers from a write that is not whole units (42 bytes, or 40): every
// unit after it would come out shifted. So the count starts afresh at two points where the
// stream itself marks a unit's start:
// - a new connection: the bytes of a unit cut short by its connection's end are dropped;
// - a pause: a demodulator that writes whole units leaves a partial unit pending only for the
//   moment TCP takes to deliver the rest of the write, so a partial unit still pending when the
//   stream goes quiet is the tail of an odd write. It is dropped, and the next read starts a
//   unit. Between pauses the count rules: an odd write without a pause after it shifts the
//   units that follow until the next pause.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "encoder/frame_format.h"

namespace receiver {

class UnitCutter {
public:
    // Appends one read's bytes (any length, including 0) and returns the units they complete,
    // in stream order. Each byte ends up in exactly one unit, in the partial tail, or dropped
    // later by reset or realign.
    [[nodiscard]] std::vector<encoder::Unit> feed(std::span<const uint8_t> bytes);

    // Forgets the partial unit; for the end of a connection. Returns the bytes dropped (0..40).
    size_t reset();
    // Forgets the partial unit because the stream paused in the middle of it, so that the next
    // read starts a unit. Returns the bytes dropped (0..40); a pause with nothing pending is
    // no realignment and is not counted.
    size_t realign();

    [[nodiscard]] size_t pendingBytes() const { return filled_; }  // 0..40, of the next unit
    [[nodiscard]] uint64_t unitsCut() const { return unitsCut_; }  // since construction
    [[nodiscard]] uint64_t bytesFed() const { return bytesFed_; }  // since construction
    // Dropped bytes in total, by reset and by realign; bytesFed = 41 unitsCut + pending + this.
    [[nodiscard]] uint64_t bytesDropped() const { return droppedAtEnd_ + droppedAtPause_; }
    [[nodiscard]] uint64_t bytesDroppedAtPause() const { return droppedAtPause_; }  // realign
    [[nodiscard]] uint64_t realignments() const { return realignments_; }  // that dropped bytes

private:
    encoder::Unit partial_{};
    size_t filled_ = 0;
    uint64_t unitsCut_ = 0;
    uint64_t bytesFed_ = 0;
    uint64_t droppedAtEnd_ = 0;
    uint64_t droppedAtPause_ = 0;
    uint64_t realignments_ = 0;
};

}  // namespace receiver
