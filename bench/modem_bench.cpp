// The modem's speed: the modulator (units to audio) and the demodulator at the operating point
// (audio of 20 normal-mode frames through the simulated channel, prepared once, fed in 100 ms
// chunks as tonebox hands them over), both as seconds of audio per second of CPU; the HF
// channel simulator's throughput (audio samples per second through
// each set of stages, at the modem's 8000 Hz core rate and at a sound card's 48000 Hz, in 200 ms
// chunks; every sweep passes its audio through it), and its LDPC codes: decoding a noisy word at
// the operating point (about a quarter dB above the Eb/N0 where the frame error rate is 1e-2, as
// bench/ldpc_sweep.cpp measures it), decoding a hopeless word (every iteration spent: the worst
// case per modem frame), encoding, and building a code. Items are samples or codeword bits.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <numbers>
#include <optional>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include "modem/demodulator.h"
#include "modem/hf_channel.h"
#include "modem/ldpc.h"
#include "modem/modulator.h"
#include "modem/splitmix.h"

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

constexpr int kBenchFrames = 20;

std::vector<modem::Unit> randomUnits(int count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<modem::Unit> units(static_cast<size_t>(count));
    for (modem::Unit& unit : units) {
        for (uint8_t& byte : unit) byte = static_cast<uint8_t>(rng());
    }
    return units;
}

// Seconds of audio per second of CPU.
benchmark::Counter realtime(const benchmark::State& state, size_t samples) {
    return benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(samples) / modem::kSampleRate,
        benchmark::Counter::kIsRate);
}

// Argument: the mode. Items are units.
void BM_Modulate(benchmark::State& state) {
    const auto mode = static_cast<modem::Mode>(state.range(0));
    const std::vector<modem::Unit> units = randomUnits(kBenchFrames * modem::kMaxUnitsPerFrame, 3);
    modem::Modulator modulator(mode);
    std::vector<float> audio;
    modulator.modulate(units, audio);  // builds the codes outside the timed loop
    const size_t samples = audio.size();
    for (auto _ : state) {
        audio.clear();
        modulator.modulate(units, audio);
        benchmark::DoNotOptimize(audio.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(units.size()));
    state.counters["x_realtime"] = realtime(state, samples);
}
BENCHMARK(BM_Modulate)
    ->ArgNames({"mode"})
    ->Arg(static_cast<int>(modem::Mode::Normal))
    ->Arg(static_cast<int>(modem::Mode::Robust))
    ->Unit(benchmark::kMillisecond);

enum BenchChannel { kAwgn8dB, kPoor14dB };

// 20 normal-mode frames with half a second of silence either side, through the channel; made
// once per channel for the whole run.
const std::vector<float>& receivedAudio(BenchChannel which) {
    static std::map<BenchChannel, std::vector<float>> cache;
    auto found = cache.find(which);
    if (found != cache.end()) return found->second;
    const std::vector<modem::Unit> units = randomUnits(kBenchFrames * modem::kMaxUnitsPerFrame, 4);
    std::vector<float> audio(modem::kSampleRate / 2, 0.0f);
    modem::Modulator(modem::Mode::Normal).modulate(units, audio);
    audio.resize(audio.size() + modem::kSampleRate / 2, 0.0f);
    modem::HfChannelConfig config;
    config.seed = 7;
    config.noise = true;
    config.signalPower = double(modem::kTxRms) * modem::kTxRms;
    if (which == kAwgn8dB) {
        config.snrDb = 8.0;
    } else {
        config.snrDb = 14.0;
        config.fading = true;
        config.watterson = modem::kCcirPoor;
    }
    return cache.emplace(which, modem::simulateRecording(config, audio)).first->second;
}

// Argument: the channel (0: AWGN 8 dB, 1: CCIR poor 14 dB). Items are units handed out;
// the counter units_good is per pass, out of 240.
void BM_Demodulate(benchmark::State& state) {
    const std::vector<float>& audio = receivedAudio(static_cast<BenchChannel>(state.range(0)));
    constexpr size_t kChunk = modem::kSampleRate / 10;
    modem::Demodulator demodulator;
    modem::DemodOutput out;
    const auto pass = [&] {
        demodulator.reset();
        out.units.clear();
        out.frames.clear();
        for (size_t at = 0; at < audio.size(); at += kChunk) {
            demodulator.process(std::span(audio).subspan(at, std::min(kChunk, audio.size() - at)),
                                out);
        }
        demodulator.flush(out);
    };
    pass();  // builds the decoders outside the timed loop
    int64_t units = 0;
    for (auto _ : state) {
        pass();
        benchmark::DoNotOptimize(out.units.data());
        units += static_cast<int64_t>(out.units.size());
    }
    state.SetItemsProcessed(units);
    state.counters["units_good"] =
        static_cast<double>(units) / static_cast<double>(state.iterations());
    state.counters["x_realtime"] = realtime(state, audio.size());
}
BENCHMARK(BM_Demodulate)
    ->ArgNames({"channel"})
    ->Arg(kAwgn8dB)
    ->Arg(kPoor14dB)
    ->Unit(benchmark::kMillisecond);

constexpr int kWords = 32;  // noisy words per case, decoded in turn

const modem::LdpcCode& modemCode(int k, int n) { return *modem::sharedLdpcCode(k, n); }

// BPSK over AWGN at ebn0Db, seed 1.
std::vector<std::vector<float>> noisyWords(const modem::LdpcCode& code, double ebn0Db) {
    const double rate = static_cast<double>(code.k) / code.n;
    const double sigma = std::sqrt(1.0 / (2.0 * rate * std::pow(10.0, ebn0Db / 10.0)));
    modem::SplitMix64 rng{1};
    std::vector<uint8_t> info(static_cast<size_t>(code.k)), word(static_cast<size_t>(code.n));
    std::vector<std::vector<float>> words;
    for (int w = 0; w < kWords; ++w) {
        for (auto& bit : info) bit = static_cast<uint8_t>(rng.next() >> 63);
        modem::encodeLdpc(code, info, word);
        std::vector<float>& llr = words.emplace_back(word.size());
        for (size_t i = 0; i < word.size(); ++i)
            llr[i] = static_cast<float>(2.0 * ((word[i] ? -1.0 : 1.0) + sigma * rng.gaussian()) /
                                        (sigma * sigma));
    }
    return words;
}

// Arguments: k, n, Eb/N0 in hundredths of a dB.
void BM_LdpcDecode(benchmark::State& state) {
    const modem::LdpcCode& code =
        modemCode(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const std::vector<std::vector<float>> words =
        noisyWords(code, static_cast<double>(state.range(2)) / 100.0);
    modem::LdpcDecoder decoder(code);
    std::vector<uint8_t> bits(static_cast<size_t>(code.k));
    size_t next = 0;
    int64_t iterations = 0, failures = 0;
    for (auto _ : state) {
        const modem::LdpcDecodeResult result = decoder.process(words[next], bits);
        benchmark::DoNotOptimize(bits.data());
        iterations += result.iterations;
        failures += result.ok ? 0 : 1;
        next = (next + 1) % words.size();
    }
    state.SetItemsProcessed(state.iterations() * code.n);
    state.counters["iterations"] =
        static_cast<double>(iterations) / static_cast<double>(state.iterations());
    state.counters["FER"] = static_cast<double>(failures) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_LdpcDecode)
    ->ArgNames({"k", "n", "EbN0cdB"})
    ->Args({modem::kLdpcNormalK, modem::kLdpcNormalN, 275})
    ->Args({modem::kLdpcNormalK, modem::kLdpcNormalN, 0})
    ->Args({modem::kLdpcRobustK, modem::kLdpcRobustN, 150})
    ->Args({modem::kLdpcRobustK, modem::kLdpcRobustN, 0})
    ->Unit(benchmark::kMillisecond);

void BM_LdpcEncode(benchmark::State& state) {
    const modem::LdpcCode& code =
        modemCode(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    modem::SplitMix64 rng{2};
    std::vector<uint8_t> info(static_cast<size_t>(code.k)), word(static_cast<size_t>(code.n));
    for (auto& bit : info) bit = static_cast<uint8_t>(rng.next() >> 63);
    for (auto _ : state) {
        modem::encodeLdpc(code, info, word);
        benchmark::DoNotOptimize(word.data());
    }
    state.SetItemsProcessed(state.iterations() * code.n);
}
BENCHMARK(BM_LdpcEncode)
    ->ArgNames({"k", "n"})
    ->Args({modem::kLdpcNormalK, modem::kLdpcNormalN})
    ->Args({modem::kLdpcRobustK, modem::kLdpcRobustN})
    ->Unit(benchmark::kMicrosecond);

void BM_LdpcBuild(benchmark::State& state) {
    const auto k = static_cast<int>(state.range(0));
    const auto n = static_cast<int>(state.range(1));
    for (auto _ : state) {
        std::optional<modem::LdpcCode> code = modem::makeLdpcCode(k, n);
        benchmark::DoNotOptimize(code);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_LdpcBuild)
    ->ArgNames({"k", "n"})
    ->Args({modem::kLdpcNormalK, modem::kLdpcNormalN})
    ->Args({modem::kLdpcRobustK, modem::kLdpcRobustN})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
