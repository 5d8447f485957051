#pragma once

// The bits of a modem frame: units and their checks in, the interleaved LDPC codeword out, and
// back from soft values to the units that passed their checks.
//
//   unit 1 (41 bytes) CRC-16 | unit 2 CRC-16 | ... | unit U CRC-16      infoBits = 344 U
//   -> scrambled (a fixed PN sequence, so a frame of zeros is no row of equal symbols)
//   -> LDPC codeword (codeBits, systematic) -> interleaved -> QPSK, two bits a carrier
//
// A unit comes out only when the LDPC decoder ends with every check satisfied and the unit's own
// CRC-16 holds: a wrong unit costs the receiver two Reed-Solomon parity symbols, a lost one only
// one, so doubt drops it.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "modem/ldpc.h"
#include "modem/waveform.h"

namespace modem {

using Unit = std::array<uint8_t, kUnitBytes>;

// A decoder for each (mode, units) pair, made when first asked for. The codes themselves are
// built once per process (0.2 s for a 12-unit normal frame, 1 s for a robust one) and shared.
class CodeBook {
public:
    [[nodiscard]] const LdpcCode& code(const FrameLayout& layout);
    [[nodiscard]] LdpcDecoder& decoder(const FrameLayout& layout);
    // interleaver(layout.codeBits), made once.
    [[nodiscard]] const std::vector<int>& interleaving(const FrameLayout& layout);

private:
    std::map<std::pair<int, int>, std::unique_ptr<LdpcDecoder>> decoders_;  // by (k, n)
    std::map<int, std::vector<int>> interleavings_;                         // by n
};

// Bits 0/1 in transmission order, layout.codeBits of them.
[[nodiscard]] std::vector<uint8_t> codeFrame(const FrameLayout& layout, std::span<const Unit> units,
                                             CodeBook& book);

struct FrameBits {
    bool decoded = false;  // the LDPC decoder satisfied every check
    int iterations = 0;
    std::vector<Unit> units;  // those whose CRC held, in order
    int unitsDropped = 0;     // units of the frame that did not come out
    // The decoder's last belief about every code bit (LLR, positive for 0), in transmission
    // order: for the demodulator to measure the channel again with after a failure, and the
    // noise after a success.
    std::vector<float> posterior;
};
// llr: one per code bit in transmission order, positive for 0.
[[nodiscard]] FrameBits decodeFrame(const FrameLayout& layout, std::span<const float> llr,
                                    CodeBook& book);

// The interleaver: transmission position of codeword bit i, a permutation of 0..n-1.
[[nodiscard]] std::vector<int> interleaver(int n);

}  // namespace modem
