// RSDECODE on a whole frame against libfec's decode_rs_char on the same blocks in the same run,
// and RSENCODE for a frame's 39 rows.
//
// The frame is the frame format's worked example: t = 16, k = 223, r = 52 data bytes per row,
// f = 171 fill bytes 0xFF, n' = 84 transmitted positions. 29 of its 84 packets are lost, which
// the receiver hands to RSDECODE as 28 erasures (the same positions in every lane; the lost
// bytes arrive as garbage), and position 0 of every lane carries a header byte in place of the
// first parity byte: one error besides. 2 * 1 + 28 <= 32, so every lane must come back whole;
// the set-up checks that for both decoders before anything is timed.
//
// libfec keeps a block the other way round: data first, highest power first, parity last, so
// its index p is our position 254 - p (the same polynomial; the same code, as fcr = 1 and
// prim = 1 give the roots alpha^1..alpha^32 of our generator). Its pad is 0: our shortened
// words are full-length code words whose top positions hold 0xFF, not the zeros pad stands for.
// Both decoders copy a lane into their work block inside the timed loop; libfec also gets a
// fresh erasure list, since it writes the error positions back into it. A third case decodes the
// lanes from erasures alone.

#include <benchmark/benchmark.h>

extern "C" {
#include <fec.h>
}

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/rs.h"

namespace {

using codec::kRsN;
using Block = std::array<int32_t, kRsN>;

constexpr int kT = 16;
constexpr int kRowBytes = 52;  // r
constexpr int kRows = 39;      // code words per frame
constexpr int kLanes = 40;     // RSDECODE calls per frame
constexpr int kErasures = 28;
constexpr int kNRoots = 2 * kT;
constexpr int kK = kRsN - kNRoots;           // 223
constexpr int kFill = kK - kRowBytes;        // f = 171
constexpr int kLastSent = kRsN - 1 - kFill;  // highest transmitted position, 83
constexpr uint32_t kSeed = 20240607;

struct Frame {
    std::vector<std::array<int32_t, kK>> rows;           // RSENCODE input, fill included
    std::vector<Block> sent;                             // code words
    std::vector<Block> received;                         // as the receiver builds its lanes
    std::vector<int32_t> erasures;                       // block positions
    std::vector<int32_t> erasedWithZero;                 // position 0 erased as well
    std::vector<std::array<uint8_t, kRsN>> libReceived;  // the same lanes in libfec's order
    std::vector<int> libErasures;
    std::string error;  // empty when both decoders check out
};

void* libfecCodec() {
    // fcr 1, prim 1, 32 roots, no pad; made once and kept for the run.
    static void* const rs = init_rs_char(8, 0x11d, 1, 1, kNRoots, 0);
    return rs;
}

codec::RsState makeState() {
    codec::RsState rs;
    rs.t = kT;
    codec::RSGENGF(rs);
    codec::RSGENPOLY(rs);
    return rs;
}

Frame makeFrame() {
    Frame f;
    std::mt19937 rng(kSeed);
    auto byte = [&rng] { return static_cast<int32_t>(rng() & 0xFF); };
    codec::RsState rs = makeState();

    std::vector<int32_t> positions;
    for (int q = 1; q <= kLastSent; ++q) {
        positions.push_back(q);
    }
    std::shuffle(positions.begin(), positions.end(), rng);
    f.erasures.assign(positions.begin(), positions.begin() + kErasures);
    f.erasedWithZero.push_back(0);
    f.erasedWithZero.insert(f.erasedWithZero.end(), f.erasures.begin(), f.erasures.end());

    for (int lane = 0; lane < kLanes; ++lane) {
        std::array<int32_t, kK> row;
        for (int i = 0; i < kK; ++i) {
            row[i] = i < kRowBytes ? byte() : 0xFF;
        }
        std::copy(row.begin(), row.end(), rs.data.begin());
        codec::RSENCODE(rs);
        Block word;
        std::copy_n(rs.parity.begin(), kNRoots, word.begin());
        std::copy(row.begin(), row.end(), word.begin() + kNRoots);
        Block in = word;
        in[0] = byte();  // the header byte
        for (const int32_t q : f.erasures) {
            in[q] = byte();
        }
        if (lane < kRows) {
            f.rows.push_back(row);
        }
        f.sent.push_back(word);
        f.received.push_back(in);
        std::array<uint8_t, kRsN> lib;
        for (int p = 0; p < kRsN; ++p) {
            lib[p] = static_cast<uint8_t>(in[kRsN - 1 - p]);
        }
        f.libReceived.push_back(lib);
    }
    for (const int32_t q : f.erasures) {
        f.libErasures.push_back(kRsN - 1 - q);
    }

    for (int lane = 0; lane < kLanes && f.error.empty(); ++lane) {
        rs.received = f.received[lane];
        codec::RSDECODE(rs, f.erasures);
        if (rs.count == codec::kRsFailed || rs.received != f.sent[lane]) {
            f.error = "RSDECODE did not restore lane " + std::to_string(lane);
        }
        rs.received = f.received[lane];
        codec::RSDECODE(rs, f.erasedWithZero);
        if (rs.count == codec::kRsFailed || rs.received != f.sent[lane]) {
            f.error = "RSDECODE did not restore lane " + std::to_string(lane) + " from erasures";
        }
        std::array<uint8_t, kRsN> lib = f.libReceived[lane];
        std::vector<int> eras = f.libErasures;
        const int count = decode_rs_char(libfecCodec(), lib.data(), eras.data(), kErasures);
        for (int p = 0; p < kRsN && f.error.empty(); ++p) {
            if (count < 0 || lib[p] != f.sent[lane][kRsN - 1 - p]) {
                f.error = "libfec did not restore lane " + std::to_string(lane);
            }
        }
    }
    return f;
}

const Frame& frame() {
    static const Frame f = makeFrame();
    return f;
}

void setFrameCounters(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations());  // frames
    state.SetBytesProcessed(state.iterations() * kLanes * kRsN);
}

// RSDECODE on every lane of the frame, with the given erasure list.
void decodeLanes(benchmark::State& state, const std::vector<int32_t> Frame::*erasures) {
    const Frame& f = frame();
    if (!f.error.empty()) {
        state.SkipWithError(f.error.c_str());
        return;
    }
    codec::RsState rs = makeState();
    for (auto _ : state) {
        for (int lane = 0; lane < kLanes; ++lane) {
            rs.received = f.received[lane];
            codec::RSDECODE(rs, f.*erasures);
            benchmark::DoNotOptimize(rs.count);
            benchmark::DoNotOptimize(rs.received.data());
        }
    }
    setFrameCounters(state);
}

void BM_RsDecodeFrame(benchmark::State& state) { decodeLanes(state, &Frame::erasures); }
BENCHMARK(BM_RsDecodeFrame);

// The same lanes with position 0 erased too: erasures and no error, as the receiver decodes a
// frame when the packet that holds position 0 is lost.
void BM_RsDecodeFrameErasuresOnly(benchmark::State& state) {
    decodeLanes(state, &Frame::erasedWithZero);
}
BENCHMARK(BM_RsDecodeFrameErasuresOnly);

void BM_LibfecDecodeFrame(benchmark::State& state) {
    const Frame& f = frame();
    if (!f.error.empty()) {
        state.SkipWithError(f.error.c_str());
        return;
    }
    void* const rs = libfecCodec();
    std::array<uint8_t, kRsN> block;
    std::array<int, kErasures> eras;
    for (auto _ : state) {
        for (int lane = 0; lane < kLanes; ++lane) {
            block = f.libReceived[lane];
            std::copy(f.libErasures.begin(), f.libErasures.end(), eras.begin());
            int count = decode_rs_char(rs, block.data(), eras.data(), kErasures);
            benchmark::DoNotOptimize(count);
            benchmark::DoNotOptimize(block.data());
        }
    }
    setFrameCounters(state);
}
BENCHMARK(BM_LibfecDecodeFrame);

void BM_RsEncodeFrame(benchmark::State& state) {
    const Frame& f = frame();
    codec::RsState rs = makeState();
    for (auto _ : state) {
        for (const auto& row : f.rows) {
            std::copy(row.begin(), row.end(), rs.data.begin());
            codec::RSENCODE(rs);
            benchmark::DoNotOptimize(rs.parity.data());
        }
    }
    state.SetItemsProcessed(state.iterations());  // frames
    state.SetBytesProcessed(state.iterations() * kRows * kK);
}
BENCHMARK(BM_RsEncodeFrame);

}  // namespace
