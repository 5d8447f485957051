// tonebox's stream parser over anything a sender (or a stranger) can write to its port. Checks
// properties, not only crashes:
// - however the stream is cut into chunks, the events are the same, and so is the state left;
// - every byte is accounted for once: in a unit (41), a command (its word) or a skipped run,
//   once the end of the connection has reported what was still held;
// - a unit is passed on only with a kind its first bytes justify, and frames count up from 1;
// - the frame strings made for the modem hold every unit once, in order, one frame each.
//
// Input: the first byte picks the chunk lengths (seed of a small generator; 0 feeds one byte
// at a time), the second byte's bit 0 asks for a reset in the middle; the rest is the stream.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "tools/tonebox.h"

namespace {

using tools::StreamEvent;
using tools::StreamParser;
using tools::ToneboxCommand;
using tools::UnitKind;

void require(bool property, const char* what) {
    if (!property) {
        std::fprintf(stderr, "tonebox_stream_fuzz: property violated: %s\n", what);
        std::abort();
    }
}

bool sameEvent(const StreamEvent& a, const StreamEvent& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
        case StreamEvent::Kind::Command:
            return a.command == b.command;
        case StreamEvent::Kind::Unit:
            return a.unit == b.unit && a.unitKind == b.unitKind && a.frame == b.frame;
        case StreamEvent::Kind::Skipped:
            return a.skipped == b.skipped;
    }
    return false;
}

size_t bytesOf(const StreamEvent& e) {
    switch (e.kind) {
        case StreamEvent::Kind::Command:
            return tools::toneboxCommandText(e.command).size();
        case StreamEvent::Kind::Unit:
            return encoder::kUnitBytes;
        case StreamEvent::Kind::Skipped:
            return e.skipped;
    }
    return 0;
}

void append(std::vector<StreamEvent>& to, std::vector<StreamEvent>&& from) {
    to.insert(to.end(), from.begin(), from.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t seed = data[0];
    const bool resetInMiddle = (data[1] & 1) != 0;
    const std::span<const uint8_t> stream(data + 2, size - 2);
    const size_t middle = stream.size() / 2;

    StreamParser whole;
    std::vector<StreamEvent> expected;
    if (resetInMiddle) {
        append(expected, whole.feed(stream.first(middle)));
        append(expected, whole.reset());
        append(expected, whole.feed(stream.subspan(middle)));
    } else {
        append(expected, whole.feed(stream));
    }

    StreamParser pieces;
    std::vector<StreamEvent> got;
    uint32_t state = seed;
    size_t at = 0;
    bool resetDone = !resetInMiddle;
    while (at < stream.size()) {
        state = state * 1103515245u + 12345u;
        size_t length = seed == 0 ? 1 : 1 + (state >> 16) % 97;
        if (!resetDone) length = std::min(length, middle - at);
        length = std::min(length, stream.size() - at);
        append(got, pieces.feed(stream.subspan(at, length)));
        at += length;
        if (!resetDone && at == middle) {
            append(got, pieces.reset());
            resetDone = true;
        }
    }
    if (!resetDone) append(got, pieces.reset());  // an empty stream with a reset asked for

    require(got.size() == expected.size(), "chunking changes the number of events");
    for (size_t i = 0; i < got.size(); ++i) {
        require(sameEvent(got[i], expected[i]), "chunking changes an event");
    }
    require(pieces.pendingBytes() == whole.pendingBytes(), "chunking changes the pending tail");
    require(pieces.framesSeen() == whole.framesSeen(), "chunking changes the frame count");

    // The end of the connection reports what is still held (a pending message, a skip run).
    append(expected, whole.reset());
    require(whole.pendingBytes() == 0, "a reset keeps bytes pending");
    size_t accounted = 0;
    uint64_t lastFrame = 0;
    for (const StreamEvent& e : expected) {
        accounted += bytesOf(e);
        if (e.kind != StreamEvent::Kind::Unit) continue;
        require(e.frame >= 1 && e.frame >= lastFrame && e.frame <= lastFrame + 1,
                "frames do not count up by one from 1");
        lastFrame = e.frame;
        const encoder::Unit& u = e.unit;
        switch (e.unitKind) {
            case UnitKind::Header:
                require(u[0] == 0xFF && u[1] == 'h', "a header that does not begin like one");
                break;
            case UnitKind::Message:
                require(u[0] == 'm' && u[1] == 's' && u[2] == 'g', "a message that is not one");
                break;
            case UnitKind::Packet:
                require(u[0] != 0 && u[1] == (u[0] == 1 ? 0x00 : 0x20),
                        "a packet without its signature");
                break;
        }
    }
    require(accounted == stream.size(), "bytes lost or counted twice");

    // The modem's queue gets whole frame strings: every unit in exactly one string, in order,
    // a string never mixing two frames, and no string empty.
    tools::FrameStrings strings;
    std::vector<std::vector<encoder::Unit>> made;
    for (const StreamEvent& e : expected) {
        for (auto& s : strings.add(e)) made.push_back(std::move(s));
    }
    if (strings.pendingUnits() > 0) made.push_back(strings.flush());
    size_t next = 0;
    for (const std::vector<encoder::Unit>& s : made) {
        require(!s.empty(), "an empty frame string");
        uint64_t frame = 0;
        for (const encoder::Unit& u : s) {
            while (next < expected.size() && expected[next].kind != StreamEvent::Kind::Unit) {
                ++next;
            }
            require(next < expected.size() && expected[next].unit == u,
                    "a frame string's units are not the stream's, in order");
            require(frame == 0 || expected[next].frame == frame, "a string mixes two frames");
            frame = expected[next].frame;
            ++next;
        }
    }
    while (next < expected.size() && expected[next].kind != StreamEvent::Kind::Unit) ++next;
    require(next == expected.size(), "units left out of every frame string");
    return 0;
}
