// The modem's demodulator over any audio at all. Checks properties, not only crashes:
// - however the audio is cut into chunks, the units and the frames' statistics are the same;
// - the samples it holds stay under a fixed bound: the longest modem frame, the search's
//   margin and the chunk just taken, however long it runs;
// - each frame's counts add up (1..12 units, good + dropped = units, the good ones are the
//   units handed out), and a demodulator told to read one mode reads no other;
// - no false unit: every unit handed out is one of a family of 256 units (byte 0 any value,
//   bytes 1..40 a fixed function of it) that the corpus's real modulations carry. Random audio
//   must give no unit at all: a frame whose LDPC decode satisfies every check and whose unit
//   then passes its CRC-16 by chance is astronomically unlikely, and one that also lands on a
//   family member (320 further bits) is out of the question. A mutated modulation can still
//   deliver the family units it carries, so the property holds for every input.
//
// Input: byte 0 picks the chunk lengths (seed of a small generator; 0 feeds one sample at a
// time); byte 1, bits 0-1: the audio is played 1..4 times in a row, bits 2-3: the mode to
// read (0 or 3 any, 1 normal, 2 robust); the rest is 8000 Hz audio, signed 16-bit little
// endian (a last odd byte is ignored).
//
// fuzz/demodulator_seeds.py makes the corpus's real modulations.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

#include "modem/demodulator.h"
#include "modem/waveform.h"

namespace {

using modem::DemodOutput;
using modem::Demodulator;
using modem::FrameStats;
using modem::Mode;

void require(bool property, const char* what) {
    if (!property) {
        std::fprintf(stderr, "demodulator_fuzz: property violated: %s\n", what);
        std::abort();
    }
}

// The family's byte i (1..40) for a unit that starts with k; fuzz/demodulator_seeds.py has the
// same formula.
uint8_t familyByte(uint8_t k, int i) {
    return static_cast<uint8_t>((k * 167 + i * i * 31 + (k ^ i) * 13 + 89) & 0xFF);
}

bool inFamily(const modem::Unit& unit) {
    for (int i = 1; i < modem::kUnitBytes; ++i) {
        if (unit[static_cast<size_t>(i)] != familyByte(unit[0], i)) return false;
    }
    return true;
}

// The most samples the demodulator may hold after taking a chunk of the given length.
size_t heldBound(size_t chunk) {
    int longest = 0;
    for (Mode mode : {Mode::Normal, Mode::Robust}) {
        longest = std::max(longest, modem::frameLayout(mode, modem::kMaxUnitsPerFrame).samples());
    }
    // The frame being read, the dead part trim() lets grow before shifting (8192) and what it
    // keeps behind (512), the search window and a few symbols of margin.
    return static_cast<size_t>(longest) + 16384 + chunk;
}

struct Run {
    DemodOutput out;
    int64_t samplesIn = 0;
};

// Feeds audio in chunks of the given lengths (cycled), then flushes; checks the memory bound
// after every call.
Run demodulate(std::span<const float> audio, std::optional<Mode> only,
               const std::vector<size_t>& lengths) {
    Run run;
    Demodulator demodulator(only);
    size_t at = 0;
    size_t next = 0;
    while (at < audio.size()) {
        const size_t length = std::min(lengths[next], audio.size() - at);
        next = (next + 1) % lengths.size();
        demodulator.process(audio.subspan(at, length), run.out);
        at += length;
        require(demodulator.samplesHeld() <= heldBound(length), "memory beyond its bound");
    }
    require(demodulator.samplesIn() == static_cast<int64_t>(audio.size()),
            "samples taken miscounted");
    demodulator.flush(run.out);
    require(demodulator.samplesHeld() <= heldBound(audio.size()), "memory beyond its bound");
    run.samplesIn = demodulator.samplesIn();
    return run;
}

bool sameFrame(const FrameStats& a, const FrameStats& b) {
    return a.mode == b.mode && a.units == b.units && a.unitsGood == b.unitsGood &&
           a.unitsDropped == b.unitsDropped && a.decoded == b.decoded &&
           a.iterations == b.iterations && a.snrDb == b.snrDb && a.offsetHz == b.offsetHz &&
           a.clockPpm == b.clockPpm && a.startSample == b.startSample && a.endSample == b.endSample;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t chunkSeed = data[0];
    const int plays = 1 + (data[1] & 3);
    const int modeChoice = (data[1] >> 2) & 3;
    std::optional<Mode> only;
    if (modeChoice == 1) only = Mode::Normal;
    if (modeChoice == 2) only = Mode::Robust;

    const size_t samples = (size - 2) / 2;
    std::vector<float> audio;
    audio.reserve(samples * static_cast<size_t>(plays));
    for (int play = 0; play < plays; ++play) {
        for (size_t n = 0; n < samples; ++n) {
            const auto value =
                static_cast<int16_t>(data[2 + 2 * n] | (uint16_t{data[3 + 2 * n]} << 8));
            audio.push_back(static_cast<float>(value) / 32768.0f);
        }
    }

    // Chunk lengths: one sample at a time, or up to about a tenth of a second each.
    std::vector<size_t> lengths;
    if (chunkSeed == 0) {
        lengths = {1};
    } else {
        uint32_t state = chunkSeed;
        for (int i = 0; i < 64; ++i) {
            state = state * 1103515245u + 12345u;
            lengths.push_back(1 + (state >> 16) % 797);
        }
    }

    const Run whole = demodulate(audio, only, {std::max<size_t>(audio.size(), 1)});
    const Run cut = demodulate(audio, only, lengths);

    require(cut.out.units == whole.out.units, "chunking changes the units");
    require(cut.out.frames.size() == whole.out.frames.size(), "chunking changes the frames");
    for (size_t f = 0; f < cut.out.frames.size(); ++f) {
        require(sameFrame(cut.out.frames[f], whole.out.frames[f]),
                "chunking changes a frame's statistics");
    }
    require(cut.samplesIn == whole.samplesIn, "chunking changes the samples taken");

    size_t good = 0;
    // A recording may begin inside a frame's sync burst, so the first frame may start before
    // sample 0, but by less than the burst's length: the search needs most of it.
    int64_t lastStart = -int64_t{modem::kSyncSymbols} * modem::kSymbolSamples - 1;
    for (const FrameStats& f : whole.out.frames) {
        require(f.units >= 1 && f.units <= modem::kMaxUnitsPerFrame,
                "a frame of no or too many units");
        require(f.unitsGood >= 0 && f.unitsDropped >= 0 && f.unitsGood + f.unitsDropped == f.units,
                "a frame's good and dropped units do not add up");
        require(!only || f.mode == *only, "a frame of a mode not asked for");
        require(f.startSample > lastStart && f.endSample > f.startSample,
                "frames out of order or of no length");
        lastStart = f.startSample;
        good += static_cast<size_t>(f.unitsGood);
    }
    require(good == whole.out.units.size(), "units handed out are not the frames' good ones");
    for (const modem::Unit& unit : whole.out.units) {
        require(inFamily(unit), "a unit no modulation carried");
    }
    return 0;
}
