#pragma once

// The modem's forward error correction over a whole modem frame: a binary LDPC code of the
// irregular repeat-accumulate kind, and its layered normalised min-sum decoder.
//
// The parity-check matrix H (m = n - k rows) is [Hi | Hp]. Hp is the accumulator: parity bit j
// sits in checks j and j + 1 (the last one only in check m - 1), so check j reads
//     p[j] = p[j - 1] ^ (XOR of the information bits in check j),
// and the encoder is one running XOR. Hi is built by progressive edge growth: the information
// bits are placed one edge at a time, high-degree bits first, each edge going to a check as far
// from the bit as the graph so far allows (the farthest level of a breadth-first search), among
// those one at least 16 checks along the accumulator from the bit's other checks, then the least
// used, ties broken by a fixed-seed generator. Checks are filled evenly: every check gets
// floor(E/m) or ceil(E/m) information edges, E the information edges in all. The modem's two
// codes have no 4-cycles.
//
// Information bits have one of two degrees: a share of them a high degree, the rest degree 3
// (the degree-3 bits carry the code near its threshold, the high-degree ones start the
// decoding). The pair is taken from the table in ldpc.cpp for the rate nearest to k / n; those
// are the repeat-accumulate distributions of the long satellite broadcast codes.
//
// Everything is deterministic: the same (k, n) gives the same code on every machine.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace modem {

// Rates the construction accepts: k / n within [kLdpcMinRate, kLdpcMaxRate].
inline constexpr double kLdpcMinRate = 0.30;
inline constexpr double kLdpcMaxRate = 0.90;

// The two codes the modem frames use: 12 units of 344 bits (41 bytes and a 16-bit check).
inline constexpr int kLdpcNormalK = 4128;  // rate 3/4
inline constexpr int kLdpcNormalN = 5504;
inline constexpr int kLdpcRobustK = 4128;  // rate 1/2
inline constexpr int kLdpcRobustN = 8256;

struct LdpcCode {
    int k = 0;           // information bits, codeword positions 0..k-1
    int n = 0;           // codeword bits; parity bits at k..n-1
    int highDegree = 0;  // degree of information bits 0..highCount-1
    int highCount = 0;   // the remaining k - highCount information bits have degree 3
    // The decoder's scale of check messages to information bits that measured best for this
    // degree mix: 0.7 where a share of 2/5 or more have degree 8-12 (rate 1/2 and below; a bit
    // of high degree adds many overestimated minima), 0.8 above.
    float normalisation = 0.8f;
    // H by rows: the bits of check r are rowBits[rowStart[r] .. rowStart[r + 1]), information
    // bits first in increasing order, then the parity bits (r - 1 and r; check 0 has only 0).
    std::vector<uint32_t> rowStart;  // m + 1 entries
    std::vector<uint32_t> rowBits;

    [[nodiscard]] int checks() const { return n - k; }
};

// The code for k information bits in n-bit codewords, or nothing when k < 1 or k / n is outside
// [kLdpcMinRate, kLdpcMaxRate]. Takes 0.2 s (rate 3/4) and 0.7 s (rate 1/2) for the modem's
// codes on one core here, growing with n squared (3 s at n = 16512): see sharedLdpcCode().
[[nodiscard]] std::optional<LdpcCode> makeLdpcCode(int k, int n);

// makeLdpcCode() built once per process and (k, n), for a modulator and a demodulator (or many
// tests) to share; null where makeLdpcCode() gives nothing. Thread-safe.
[[nodiscard]] std::shared_ptr<const LdpcCode> sharedLdpcCode(int k, int n);

// Systematic encoding: codeword = info bits, then the n - k parity bits. Bits are bytes 0 or 1
// (only the lowest bit of an info byte is read). info.size() must be code.k and codeword.size()
// code.n; returns false (writing nothing) otherwise.
bool encodeLdpc(const LdpcCode& code, std::span<const uint8_t> info, std::span<uint8_t> codeword);

// True when every check of H holds for the n bits (bytes 0 or 1).
[[nodiscard]] bool ldpcSyndromeZero(const LdpcCode& code, std::span<const uint8_t> codeword);

struct LdpcDecodeResult {
    bool ok = false;     // every check holds for `bits` and no bit was left undecided
    int iterations = 0;  // full passes over the checks, 0..maxIterations
};

// Layered normalised min-sum. Input: one log-likelihood ratio per codeword bit,
// L = log(P(bit = 0) / P(bit = 1)), so a positive value means 0; for BPSK (bit 0 -> +1) on AWGN
// with noise variance s^2 that is 2y / s^2. 0 is an erasure. Checks are updated one at a time,
// each with the latest values of its bits, which converges in about half the iterations of the
// flooding schedule. The decoder stops as soon as every check holds.
//
// A bit whose final value is exactly 0 (nothing ever reached it, as in an all-erasure input)
// is undecided, and such a word is never reported decoded, though 0 is written for it.
class LdpcDecoder {
public:
    struct Settings {
        int maxIterations = 50;  // passes before giving up; 0: the input's own decisions only
        // Scale of each check's minimum in its messages to information bits, (0, 1]; 0 takes
        // LdpcCode::normalisation.
        float normalisation = 0.0f;
        float parityNormalisation = 1.0f;  // the same for the messages to parity bits
    };

    explicit LdpcDecoder(LdpcCode code);
    LdpcDecoder(LdpcCode code, Settings settings);

    // Decodes n LLRs into bits.size() hard decisions (k for the information alone, or n), bytes
    // 0 or 1. A NaN counts as an erasure, magnitudes beyond 1e6 as 1e6. Wrong sizes give
    // {false, 0} and write nothing.
    LdpcDecodeResult process(std::span<const float> llr, std::span<uint8_t> bits);
    // Forgets the last word's messages; process() starts every word afresh anyway.
    void reset();

    // The last word's a-posteriori LLRs, n of them, same sign convention as the input.
    [[nodiscard]] std::span<const float> posterior() const { return posterior_; }
    [[nodiscard]] const LdpcCode& code() const { return code_; }
    [[nodiscard]] const Settings& settings() const { return settings_; }

private:
    bool checksHold() const;

    LdpcCode code_;
    Settings settings_;
    std::vector<float> posterior_;  // n
    std::vector<float> messages_;   // one check-to-bit message per edge, rowBits order
    std::vector<float> extrinsic_;  // one check's bit-to-check values, max row degree
};

}  // namespace modem
