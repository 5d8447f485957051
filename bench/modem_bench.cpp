// The HF channel simulator's throughput: audio samples per second through each set of stages,
// at the modem's 8000 Hz core rate and at a sound card's 48000 Hz, in 200 ms chunks. Every
// modem sweep passes its audio through this, so it bounds how fast a sweep can run.

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "modem/hf_channel.h"

namespace {

enum Stages { kNoise, kFadingAndNoise, kEverything };

modem::HfChannelConfig configFor(Stages stages, double sampleRateHz) {
    modem::HfChannelConfig config;
    config.sampleRateHz = sampleRateHz;
    config.noise = true;
    config.snrDb = 10.0;
    if (stages != kNoise) {
        config.fading = true;
        config.watterson = modem::kCcirPoor;
    }
    if (stages == kEverything) {
        config.offsetHz = 23.0;
        config.clockPpm = 120.0;
    }
    return config;
}

void BM_HfChannel(benchmark::State& state) {
    const auto stages = static_cast<Stages>(state.range(0));
    const auto sampleRateHz = static_cast<double>(state.range(1));
    modem::HfChannel channel(configFor(stages, sampleRateHz));
    // A 200 ms chunk of a 1 kHz tone: the content does not change the work.
    std::vector<float> chunk(static_cast<size_t>(sampleRateHz / 5));
    for (size_t n = 0; n < chunk.size(); ++n) {
        chunk[n] = 0.5f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 1000.0 *
                                                      static_cast<double>(n) / sampleRateHz));
    }
    std::vector<float> out;
    for (auto _ : state) {
        channel.process(chunk, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(chunk.size()));
    state.counters["x_realtime"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(chunk.size()) / sampleRateHz,
        benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HfChannel)
    ->ArgNames({"stages", "rate"})
    ->ArgsProduct({{kNoise, kFadingAndNoise, kEverything}, {8000, 48000}});

}  // namespace
