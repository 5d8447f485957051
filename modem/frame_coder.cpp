#include "modem/frame_coder.h"

#include <algorithm>

#include "codec/crc16.h"
#include "modem/splitmix.h"

namespace modem {

namespace {

constexpr uint16_t kUnitCrcInitial = 0xFFFF;

// x^15 + x^14 + 1 from a fixed state: the scrambling sequence, part of the waveform.
void scramble(std::span<uint8_t> bits) {
    uint32_t state = 0x4A80;
    for (uint8_t& bit : bits) {
        const uint32_t out = ((state >> 14) ^ (state >> 13)) & 1;
        state = ((state << 1) | out) & 0x7FFF;
        bit ^= static_cast<uint8_t>(out);
    }
}

}  // namespace

LdpcDecoder& CodeBook::decoder(const FrameLayout& layout) {
    const std::pair<int, int> key{layout.infoBits, layout.codeBits};
    auto found = decoders_.find(key);
    if (found == decoders_.end()) {
        found = decoders_
                    // Every layout's rate lies inside the construction's range.
                    .emplace(key, std::make_unique<LdpcDecoder>(
                                      *sharedLdpcCode(layout.infoBits, layout.codeBits)))
                    .first;
    }
    return *found->second;
}

const LdpcCode& CodeBook::code(const FrameLayout& layout) { return decoder(layout).code(); }

const std::vector<int>& CodeBook::interleaving(const FrameLayout& layout) {
    auto found = interleavings_.find(layout.codeBits);
    if (found == interleavings_.end()) {
        found = interleavings_.emplace(layout.codeBits, interleaver(layout.codeBits)).first;
    }
    return found->second;
}

std::vector<int> interleaver(int n) {
    // A Fisher-Yates shuffle with splitmix64 and a plain modulo: the same on every machine.
    std::vector<int> order(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) order[i] = i;
    SplitMix64 rng{0x56495354ull + static_cast<uint64_t>(n)};
    for (int i = n - 1; i > 0; --i) {
        const int j = static_cast<int>(rng.below(static_cast<uint32_t>(i + 1)));
        std::swap(order[i], order[j]);
    }
    return order;
}

std::vector<uint8_t> codeFrame(const FrameLayout& layout, std::span<const Unit> units,
                               CodeBook& book) {
    std::vector<uint8_t> info(static_cast<size_t>(layout.infoBits), 0);
    size_t at = 0;
    for (int u = 0; u < layout.units; ++u) {
        std::array<uint8_t, kUnitBytes + kUnitCheckBytes> bytes{};
        if (u < static_cast<int>(units.size())) {
            std::copy(units[u].begin(), units[u].end(), bytes.begin());
        }
        const uint16_t crc = codec::CRC16(std::span(bytes).first(kUnitBytes), kUnitCrcInitial);
        bytes[kUnitBytes] = static_cast<uint8_t>(crc & 0xFF);
        bytes[kUnitBytes + 1] = static_cast<uint8_t>(crc >> 8);
        for (const uint8_t byte : bytes) {
            for (int b = 7; b >= 0; --b) info[at++] = (byte >> b) & 1;
        }
    }
    scramble(info);
    const LdpcCode& code = book.code(layout);
    std::vector<uint8_t> codeword(static_cast<size_t>(code.n));
    encodeLdpc(code, info, codeword);
    const std::vector<int>& order = book.interleaving(layout);
    std::vector<uint8_t> sent(codeword.size());
    for (int i = 0; i < code.n; ++i) sent[order[i]] = codeword[i];
    return sent;
}

FrameBits decodeFrame(const FrameLayout& layout, std::span<const float> llr, CodeBook& book) {
    FrameBits result;
    result.unitsDropped = layout.units;
    LdpcDecoder& decoder = book.decoder(layout);
    const int n = decoder.code().n;
    if (static_cast<int>(llr.size()) != n) return result;
    const std::vector<int>& order = book.interleaving(layout);
    std::vector<float> codeword(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) codeword[i] = llr[order[i]];
    std::vector<uint8_t> info(static_cast<size_t>(layout.infoBits));
    const LdpcDecodeResult decoded = decoder.process(codeword, info);
    result.iterations = decoded.iterations;
    const std::span<const float> belief = decoder.posterior();
    result.posterior.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) result.posterior[order[i]] = belief[i];
    if (!decoded.ok) return result;
    result.decoded = true;
    scramble(info);
    size_t at = 0;
    for (int u = 0; u < layout.units; ++u) {
        std::array<uint8_t, kUnitBytes + kUnitCheckBytes> bytes{};
        for (uint8_t& byte : bytes) {
            for (int b = 0; b < 8; ++b) byte = static_cast<uint8_t>((byte << 1) | info[at++]);
        }
        const uint16_t crc = codec::CRC16(std::span(bytes).first(kUnitBytes), kUnitCrcInitial);
        if (bytes[kUnitBytes] != (crc & 0xFF) || bytes[kUnitBytes + 1] != (crc >> 8)) continue;
        Unit unit;
        std::copy_n(bytes.begin(), kUnitBytes, unit.begin());
        result.units.push_back(unit);
        --result.unitsDropped;
    }
    return result;
}

}  // namespace modem
