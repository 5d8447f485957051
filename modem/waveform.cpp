#include "modem/waveform.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace modem {

ModeParams modeParams(Mode mode) {
    switch (mode) {
        case Mode::Robust:
            return {1, 2, 3};
        case Mode::Normal:
            break;
    }
    return {3, 4, 7};
}

const char* modeName(Mode mode) { return mode == Mode::Robust ? "robust" : "normal"; }

FrameLayout frameLayout(Mode mode, int units) {
    FrameLayout layout;
    layout.mode = mode;
    layout.units = std::clamp(units, 1, kMaxUnitsPerFrame);
    layout.infoBits = layout.units * kCodedUnitBits;
    const ModeParams p = modeParams(mode);
    const int bitsPerSymbol = 2 * kCarriers;
    const int minCodeBits = (layout.infoBits * p.codeRateDen + p.codeRateNum - 1) / p.codeRateNum;
    layout.dataSymbols = (minCodeBits + bitsPerSymbol - 1) / bitsPerSymbol;
    layout.codeBits = layout.dataSymbols * bitsPerSymbol;

    const int slots = 1 + layout.dataSymbols;  // the header, then the data
    layout.symbols.assign(kSyncSymbols, SymbolKind::Sync);
    layout.symbols.push_back(SymbolKind::Pilot);
    for (int slot = 0; slot < slots; ++slot) {
        layout.symbols.push_back(slot == 0 ? SymbolKind::Header : SymbolKind::Data);
        if ((slot + 1) % p.slotsBetweenPilots == 0 || slot + 1 == slots) {
            layout.symbols.push_back(SymbolKind::Pilot);
        }
    }
    return layout;
}

namespace {

// +-1 values from a 9-bit maximal-length sequence (x^9 + x^5 + 1), fixed for ever: they are part
// of the waveform.
template <size_t N>
std::array<float, N> pnValues(uint32_t seed) {
    std::array<float, N> values{};
    uint32_t state = seed & 0x1FF;
    for (float& v : values) {
        const uint32_t bit = ((state >> 8) ^ (state >> 4)) & 1;
        state = ((state << 1) | bit) & 0x1FF;
        v = bit ? -1.0f : 1.0f;
    }
    return values;
}

}  // namespace

const std::array<float, kCarriers>& pilotValues() {
    static const std::array<float, kCarriers> values = pnValues<kCarriers>(0x1A5);
    return values;
}

const std::array<float, kCarriers>& syncValues() {
    static const std::array<float, kCarriers> values = [] {
        const std::array<float, kCarriers> pn = pnValues<kCarriers>(0x0C3);
        std::array<float, kCarriers> v{};
        int used = 0;
        for (int k = 0; k < kCarriers; ++k) used += (kFirstBin + k) % 2 == 0;
        // The same total power on half the carriers.
        const float gain = std::sqrt(float(kCarriers) / float(used));
        for (int k = 0; k < kCarriers; ++k) {
            v[k] = (kFirstBin + k) % 2 == 0 ? gain * pn[k] : 0.0f;
        }
        return v;
    }();
    return values;
}

const std::array<int, kHeaderCodeBits>& headerCarriers() {
    // Five pilots spread across the band (carriers 0, 9, 18, 27, 36) let the receiver check the
    // channel estimate the header is read with; the other 32 carry the code bits.
    static const std::array<int, kHeaderCodeBits> carriers = [] {
        std::array<int, kHeaderCodeBits> c{};
        int i = 0;
        for (int k = 0; k < kCarriers; ++k) {
            if (k % 9 != 0) c[i++] = k;
        }
        return c;
    }();
    return carriers;
}

std::array<int8_t, kHeaderCodeBits> encodeHeader(const HeaderFields& fields) {
    // Message bits: m0 complements the word, m1..m5 select the linear part. First-order
    // Reed-Muller: bit i = m0 ^ (m1..m5 . binary digits of i).
    const uint32_t message = (static_cast<uint32_t>(fields.mode) << 4) |
                             static_cast<uint32_t>(std::clamp(fields.units, 1, 16) - 1);
    const uint32_t complement = (message >> 5) & 1;
    const uint32_t linear = message & 0x1F;
    std::array<int8_t, kHeaderCodeBits> code{};
    for (uint32_t i = 0; i < kHeaderCodeBits; ++i) {
        const uint32_t bit = complement ^ (__builtin_popcount(linear & i) & 1);
        code[i] = bit ? -1 : 1;
    }
    return code;
}

HeaderDecode decodeHeader(const std::array<float, kHeaderCodeBits>& soft) {
    // Fast Hadamard transform: w[a] = sum_i soft[i] (-1)^(a . i), the correlation with the
    // linear codeword a; its sign says whether the complement fits better.
    std::array<float, kHeaderCodeBits> w = soft;
    for (int len = 1; len < kHeaderCodeBits; len <<= 1) {
        for (int i = 0; i < kHeaderCodeBits; i += 2 * len) {
            for (int j = i; j < i + len; ++j) {
                const float a = w[j];
                const float b = w[j + len];
                w[j] = a + b;
                w[j + len] = a - b;
            }
        }
    }
    int best = 0;
    float bestMag = -1, secondMag = -1;
    for (int a = 0; a < kHeaderCodeBits; ++a) {
        const float mag = std::fabs(w[a]);
        if (mag > bestMag) {
            secondMag = bestMag;
            bestMag = mag;
            best = a;
        } else if (mag > secondMag) {
            secondMag = mag;
        }
    }
    float total = 0;
    for (const float s : soft) total += std::fabs(s);
    HeaderDecode result;
    if (!(total > 0)) return result;
    result.confidence = (bestMag - secondMag) / total;
    const uint32_t message = (w[best] < 0 ? 0x20u : 0u) | static_cast<uint32_t>(best);
    const uint32_t mode = message >> 4;
    const int units = static_cast<int>(message & 0xF) + 1;
    if (mode >= kModes || units > kMaxUnitsPerFrame) return result;
    result.fields = HeaderFields{static_cast<Mode>(mode), units};
    return result;
}

double unitBytesPerSecond(const FrameLayout& layout) {
    return layout.units * kUnitBytes / layout.seconds();
}

}  // namespace modem
