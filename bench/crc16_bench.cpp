// CRC16 over the largest stream a frame carries (40 * 255 = 10200 bytes).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "codec/crc16.h"

namespace {

void BM_Crc16Frame(benchmark::State& state) {
    std::vector<uint8_t> bytes(10200);
    std::mt19937 rng(7);
    for (uint8_t& b : bytes) {
        b = static_cast<uint8_t>(rng());
    }
    for (auto _ : state) {
        uint16_t crc = codec::CRC16(bytes, 0xFFFF);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_Crc16Frame);

}  // namespace
