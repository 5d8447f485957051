#include "modem/modulator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace modem {

namespace {

// e^(j 2 pi i / 128), i = 0..127: every carrier's phase at every sample is one of these.
const std::array<Complex, kFftSize>& unitCircle() {
    static const std::array<Complex, kFftSize> table = [] {
        std::array<Complex, kFftSize> t{};
        for (int i = 0; i < kFftSize; ++i) {
            const double a = 2 * std::numbers::pi * i / kFftSize;
            t[i] = Complex(static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a)));
        }
        return t;
    }();
    return table;
}

// Real passband samples of the carriers' values, sample n of the output at phase index
// first + n: Re sum_k X_k e^(j 2 pi (kFirstBin + k) (first + n) / 128), scaled so that 37
// unit-power values give a mean power of kTxRms^2.
void synthesise(std::span<const Complex> carriers, int first, std::span<float> out) {
    const float scale = kTxRms * std::sqrt(2.0f / kCarriers);
    const auto& circle = unitCircle();
    for (size_t n = 0; n < out.size(); ++n) {
        float sum = 0;
        const int t = first + static_cast<int>(n);
        for (int k = 0; k < kCarriers; ++k) {
            const int phase = (((kFirstBin + k) * t) % kFftSize + kFftSize) % kFftSize;
            const Complex rotated = carriers[k] * circle[phase];
            sum += rotated.real();
        }
        out[n] = std::clamp(scale * sum, -1.0f, 1.0f);
    }
}

}  // namespace

void symbolSamples(std::span<const Complex> carriers, std::span<float> out) {
    // Starting at phase index -kCyclicPrefix makes the first 32 samples a copy of the last 32.
    synthesise(carriers, -kCyclicPrefix, out.first(kSymbolSamples));
}

void Modulator::modulateFrame(std::span<const Unit> units, std::vector<float>& out) {
    if (units.empty()) return;
    const FrameLayout layout =
        frameLayout(mode_, std::min<int>(static_cast<int>(units.size()), kMaxUnitsPerFrame));
    const std::vector<uint8_t> bits = codeFrame(layout, units.first(layout.units), book_);
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(layout.samples()));
    std::span<float> frame(out.data() + start, static_cast<size_t>(layout.samples()));

    std::array<Complex, kCarriers> values{};
    const float qpsk = std::sqrt(0.5f);
    size_t bit = 0;
    int at = 0;
    for (size_t s = 0; s < layout.symbols.size(); ++s) {
        const std::span<float> symbol = frame.subspan(static_cast<size_t>(at), kSymbolSamples);
        switch (layout.symbols[s]) {
            case SymbolKind::Sync: {
                // One continuous burst over both sync symbol times, so it repeats every 64
                // samples from its first sample to its last.
                for (int k = 0; k < kCarriers; ++k) values[k] = syncValues()[k];
                synthesise(values, static_cast<int>(s) * kSymbolSamples, symbol);
                break;
            }
            case SymbolKind::Pilot:
                for (int k = 0; k < kCarriers; ++k) values[k] = pilotValues()[k];
                symbolSamples(values, symbol);
                break;
            case SymbolKind::Header: {
                for (int k = 0; k < kCarriers; ++k) values[k] = pilotValues()[k];
                const auto code = encodeHeader({layout.mode, layout.units});
                for (int i = 0; i < kHeaderCodeBits; ++i) {
                    values[headerCarriers()[i]] = static_cast<float>(code[i]);
                }
                symbolSamples(values, symbol);
                break;
            }
            case SymbolKind::Data:
                for (int k = 0; k < kCarriers; ++k) {
                    const float i = bits[bit] ? -qpsk : qpsk;
                    const float q = bits[bit + 1] ? -qpsk : qpsk;
                    bit += 2;
                    values[k] = Complex(i, q);
                }
                symbolSamples(values, symbol);
                break;
        }
        at += kSymbolSamples;
    }
}

void Modulator::modulate(std::span<const Unit> units, std::vector<float>& out) {
    while (!units.empty()) {
        const size_t take = std::min<size_t>(units.size(), kMaxUnitsPerFrame);
        modulateFrame(units.first(take), out);
        units = units.subspan(take);
    }
}

}  // namespace modem
