#pragma once

// Reed-Solomon code over GF(2^8) with primitive polynomial x^8 + x^4 + x^3 + x^2 + 1, first
// consecutive root alpha^1. A code block of 255 symbols holds the 2t parity symbols at
// positions 0..2t-1 and the k = 255 - 2t data symbols at 2t..254 (data[k-1] is the coefficient
// of the highest power).
//
// Usage: set t, call RSGENGF and RSGENPOLY (again whenever t changes), then for each block fill
// data and call RSENCODE, or fill received and call RSDECODE.
//
// RSGENPOLY, RSENCODE and RSDECODE compute over the same field's tables built inside the codec
// by RSGENGF's steps (exp and log at compile time, a 64 KB product table on first use), so no
// index they form can leave a table whatever the arrays below hold; RSGENGF fills antilog and
// log for callers that want them. A t outside 1..kRsMaxT (a header byte off the air can say
// anything) makes RSGENPOLY and RSENCODE change nothing and RSDECODE give kRsFailed. Only
// rsEncodeFilledRows allocates (its product table); RSDECODE keeps its working polynomials on the
// stack.

#include <array>
#include <cstdint>
#include <span>

namespace codec {

inline constexpr int kRsM = 8;          // bits per symbol
inline constexpr int kRsN = 255;        // symbols per block, 2^m - 1
inline constexpr int kRsFailed = kRsN;  // RSDECODE count for a block it cannot correct
inline constexpr int kRsMaxT = 127;     // largest t: 254 parity symbols, one data symbol

struct RsState {                              // owned by the caller, rebuilt whenever t changes
    int t = 16;                               // correctable symbols, 1..kRsMaxT; 2t parity bytes
    std::array<int32_t, kRsN + 1> antilog{};  // alpha^i in polynomial form; antilog[255] = 0
    std::array<int32_t, kRsN + 1> log{};      // log[antilog[i]] = i; log[0] = -1 marks zero
    std::array<int32_t, kRsN> gen{};          // generator g(x), index form, gen[0..2t]; -1 above
    std::array<int32_t, kRsN> data{};         // RSENCODE input, data[0..k-1], bytes (low 8 bits)
    std::array<int32_t, kRsN> parity{};       // RSENCODE output, parity[0..2t-1], bytes
    std::array<int32_t, kRsN> received{};     // code block, bytes, corrected in place by RSDECODE
    int count = 0;                            // RSDECODE: 0 clean, 1..2t corrected, or kRsFailed

    // RSDECODE's erasure locator for the last list of erasures it was given, kept for the next
    // call with the same list: the codewords of a frame share theirs. Nothing to set.
    struct ErasureMemo {
        int count = -1;                           // erasures listed; -1 before the first
        std::array<uint8_t, kRsN> positions{};    // the list, in its order
        std::array<uint8_t, kRsN> locator{};      // coefficients 0..count of the product
        bool haveDerivatives = false;             // derivatives holds this list's values
        std::array<uint8_t, kRsN> derivatives{};  // the locator's derivative at each root
    } erasureMemo;

    [[nodiscard]] int k() const { return kRsN - 2 * t; }  // data symbols per block
};

// Fills antilog and log.
void RSGENGF(RsState& rs);
// Fills gen for the current t.
void RSGENPOLY(RsState& rs);
// Computes parity[0..2t-1] from data[0..k-1]; only the low 8 bits of each data entry count.
void RSENCODE(RsState& rs);
// RSENCODE for blocks whose top data symbols are the same fill byte: rows holds `blocks` rows of
// r bytes, and block b has data[i] = rows[b*r + i] for i < r and fill above (a row longer than k
// gives its first k bytes). Writes each block's 2t parity bytes, in RSENCODE's order, to
// parity[b*2t ..]; they are the bytes RSENCODE gives block by block. The fill goes through the
// shift register once for all blocks, and each feedback byte's 2t products with the generator
// come from one table row. Changes nothing when t is outside 1..kRsMaxT, blocks is below 1,
// rows is not a whole number of rows or parity is too short.
void rsEncodeFilledRows(const RsState& rs, std::span<const uint8_t> rows, int blocks, uint8_t fill,
                        std::span<uint8_t> parity);
// Corrects received in place, treating the listed block positions as erased, and sets count:
// 0 when received is a code word, the number of corrected symbols (errors and erasures), or
// kRsFailed when the block cannot be corrected, leaving received exactly as it arrived. A block
// is corrected whenever 2 * errors + erasures <= 2t. Hostile erasure lists are safe: a list
// with a position outside 0..254, a repeated position or more than 2t entries gives kRsFailed,
// and so does a received entry outside 0..255.
//
// The corrected count is the number of roots of the error-and-erasure locator, so an erased
// symbol that arrived with its right value still counts. Past capacity the result is either
// kRsFailed or another code word (a miscorrection, the same one any decoder following these
// steps finds); a block that is not a code word is never reported as corrected. The plain
// Berlekamp-Massey-Chien-Forney steps can do that: when the evaluator omega(x) has a degree no
// lower than the locator's, Forney's values do not cancel the syndromes (t = 1 with errors 4 at
// position 0 and 1 at position 1 ends with the locator 1, no roots, and a "corrected" count of
// 0). Such blocks give kRsFailed here; every other outcome is the plain steps' own.
void RSDECODE(RsState& rs, std::span<const int32_t> erasures);

}  // namespace codec
