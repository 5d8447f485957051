// RECEIVEPACKET on ENCODEFRAME's frame strings of the generated test card, units fed in order.
//
// CompletingUnit: the unit that brings the frame to its threshold, from the state just before it
// (copied outside the timing) to the decoded picture: 39 codewords corrected with the missing
// packets as erasures, the CRC, the expansion and the inverse transforms. Items are frames; bytes
// are frame-string bytes. Settings per size: the sender's defaults (threshold 0, quantiser 1,
// syndromes 32: t = 16) up to 128; 256 x 256 needs threshold 30, quantiser 65 and syndromes 8
// (t = 4) to fit, which makes n' = 234 packets, 5 of them still missing at the threshold.
//
// FailedTryUnit: the same unit when the try fails (two byte errors in one codeword, one past
// what the parity left at the threshold corrects): the cost of each retry with a later block.
//
// CollectingUnit: one unit while a frame comes in, without a decode: the block map and progress
// bar paints, the two labels, and a header's status texts. Items are units; bytes unit bytes.
//
// Medians: receive_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "encoder/encode_frame.h"
#include "encoder/test_pictures.h"
#include "receiver/receive_packet.h"

namespace {

using namespace encoder;
using receiver::DecodeOutcome;
using receiver::ReceiverState;

EncoderSettings settingsFor(int frameSize) {
    EncoderSettings s;
    s.frameSize = frameSize;
    s.callsign = "BENCH ";
    s.sourcePath = "card";
    s.transmit = true;
    if (frameSize == 256) {
        s.threshold = 30;
        s.quantiser = 65;
        s.syndromes = 8;
    }
    return s;
}

struct Frame {
    std::vector<Unit> units;
    size_t completing = 0;  // index of the unit whose decode is tried first
    size_t bytes = 0;
};

// damaged: two byte errors in codeword 7 (packets 2 and 9), one more than the parity left at
// the threshold holds, so the first try fails.
Frame frameFor(int frameSize, bool damaged = false) {
    EncoderState encoder;
    const EncodeResult sent = ENCODEFRAME(settingsFor(frameSize), testCard(), encoder, kEncodeSend);
    Frame f;
    f.bytes = sent.frame.size();
    f.units.resize(sent.frame.size() / kUnitBytes);
    for (size_t i = 0; i < f.units.size(); ++i) {
        std::copy_n(sent.frame.begin() + static_cast<ptrdiff_t>(i * kUnitBytes), kUnitBytes,
                    f.units[i].begin());
    }
    for (Unit& u : f.units) {
        if (damaged && (u[0] == 2 || u[0] == 9)) u[1 + 8] ^= 0x5A;
    }
    ReceiverState probe;
    for (size_t i = 0; i < f.units.size(); ++i) {
        if (receiver::RECEIVEPACKET(probe, f.units[i]).decode != DecodeOutcome::None) {
            f.completing = i;
            break;
        }
    }
    return f;
}

void triedUnit(benchmark::State& state, bool damaged) {
    const Frame f = frameFor(static_cast<int>(state.range(0)), damaged);
    const DecodeOutcome expected = damaged ? DecodeOutcome::Failed : DecodeOutcome::Good;
    ReceiverState before;
    for (size_t i = 0; i < f.completing; ++i) (void)receiver::RECEIVEPACKET(before, f.units[i]);
    if (receiver::ReceiverState probe = before;
        f.completing == 0 ||
        receiver::RECEIVEPACKET(probe, f.units[f.completing]).decode != expected) {
        state.SkipWithError("the first try did not go as planned");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        ReceiverState s = before;
        state.ResumeTiming();
        receiver::ReceiveUpdate up = receiver::RECEIVEPACKET(s, f.units[f.completing]);
        benchmark::DoNotOptimize(up.decode);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.bytes));
}

void completingUnit(benchmark::State& state) { triedUnit(state, false); }
void failedTryUnit(benchmark::State& state) { triedUnit(state, true); }

void collectingUnit(benchmark::State& state) {
    const Frame f = frameFor(static_cast<int>(state.range(0)));
    const ReceiverState fresh;
    ReceiverState s = fresh;
    size_t next = 0;
    for (auto _ : state) {
        if (next == f.completing) {
            state.PauseTiming();
            s = fresh;
            next = 0;
            state.ResumeTiming();
        }
        receiver::ReceiveUpdate up = receiver::RECEIVEPACKET(s, f.units[next++]);
        benchmark::DoNotOptimize(up.blockMap.count);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kUnitBytes));
}

void frameSizes(benchmark::internal::Benchmark* b) {
    for (const int n : {48, 64, 96, 128, 256}) b->Arg(n);
}

}  // namespace

BENCHMARK(completingUnit)->Name("CompletingUnit")->Apply(frameSizes)->Unit(benchmark::kMillisecond);
BENCHMARK(failedTryUnit)->Name("FailedTryUnit")->Arg(64)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK(collectingUnit)->Name("CollectingUnit")->Arg(64)->Arg(256);
