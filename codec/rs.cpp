#include "codec/rs.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

namespace codec {
namespace {

constexpr int kN = kRsN;
constexpr int kMaxRoots = 2 * kRsMaxT;  // 254 parity symbols at most

// Primitive polynomial coefficients, constant term first: x^8 + x^4 + x^3 + x^2 + 1.
constexpr std::array<int, kRsM + 1> kPrim = {1, 0, 1, 1, 1, 0, 0, 0, 1};

using FieldTable = std::array<int32_t, kRsN + 1>;

// RSGENGF's steps, run by RSGENGF on the caller's arrays and at compile time for the working
// tables below, so both hold the same field.
constexpr void buildField(FieldTable& antilog, FieldTable& log) {
    int32_t mask = 1;
    antilog[kRsM] = 0;
    for (int i = 0; i < kRsM; ++i) {
        antilog[i] = mask;
        log[mask] = i;
        if (kPrim[i] != 0) {
            antilog[kRsM] ^= mask;
        }
        mask <<= 1;
    }
    log[antilog[kRsM]] = kRsM;
    mask >>= 1;
    for (int i = kRsM + 1; i < kN; ++i) {
        antilog[i] = antilog[i - 1] >= mask ? antilog[kRsM] ^ ((antilog[i - 1] ^ mask) << 1)
                                            : antilog[i - 1] << 1;
        log[antilog[i]] = i;
    }
    log[0] = -1;
    antilog[kN] = 0;  // not a power of alpha; kept 0 so the whole array is defined
}

// The log of 0 in the working tables. A sum of two logs that involves it is at least 510, and
// exp[] is 0 from 510 up, so a product with 0 comes out 0 without a branch. Every index formed
// below is a sum of two logs (at most 508 when neither is zero) or a log plus 255 minus a log
// (at most 509); no sum of three logs is ever formed, which is what keeps exp[] at 1024 entries.
constexpr int kLogZero = 2 * kN;

struct Field {
    std::array<uint8_t, 4 * (kN + 1)> exp{};  // alpha^(e mod 255) for e < 510, 0 from 510 to 1023
    std::array<uint16_t, 256> log{};          // log[alpha^i] = i, log[0] = kLogZero
};

constexpr Field makeField() {
    FieldTable antilog{};
    FieldTable log{};
    buildField(antilog, log);
    Field f;
    for (int e = 0; e < 2 * kN; ++e) {
        f.exp[e] = static_cast<uint8_t>(antilog[e % kN]);
    }
    f.log[0] = kLogZero;
    for (int x = 1; x < 256; ++x) {
        f.log[x] = static_cast<uint16_t>(log[x]);
    }
    return f;
}

constexpr Field kField = makeField();
static_assert(kField.exp[8] == 0x1D && kField.exp[254] == 0x8E && kField.exp[255] == 1);

// Row e of the table is multiplication by alpha^e: row(e)[x] = alpha^e * x. In the hot loops
// the multiplier stays fixed (alpha^i for syndrome i, alpha^-j for locator term j), so each
// product is one load. 64 KB is too much to build at compile time; it is built on first use.
struct MulPowTable {
    std::array<uint8_t, kN * 256> entries{};

    [[nodiscard]] const uint8_t* row(int e) const { return &entries[e * 256]; }
};

const MulPowTable& mulPow() {
    static const MulPowTable table = [] {
        MulPowTable m;
        for (int e = 0; e < kN; ++e) {
            for (int x = 0; x < 256; ++x) {
                m.entries[e * 256 + x] = kField.exp[kField.log[x] + e];
            }
        }
        return m;
    }();
    return table;
}

bool validT(int t) { return t >= 1 && t <= kRsMaxT; }

// a / d for d != 0.
uint8_t gfDiv(uint8_t a, uint8_t d) { return kField.exp[kField.log[a] + kN - kField.log[d]]; }

// The symbols at the top of a block that all equal its top symbol: a shortened code's fill.
struct TopRun {
    int length = 1;  // 1..255
    uint8_t value = 0;
};

TopRun topRun(const uint8_t* r) {
    TopRun run{1, r[kN - 1]};
    while (run.length < kN && r[kN - 1 - run.length] == run.value) {
        ++run.length;
    }
    return run;
}

// What Horner's rule holds for syndrome i after the top run: the run's value times
// 1 + x + ... + x^(L-1) at x = alpha^i, which is (1 + x^L) / (1 + x) in a field of
// characteristic 2 (x is never 1, as 1 <= i <= 254). A frame's fill is most of each block, so
// this replaces most of the syndrome work with one division per syndrome.
uint8_t topRunSum(const TopRun& run, int i) {
    if (run.value == 0) {
        return 0;
    }
    const uint8_t geometric = gfDiv(static_cast<uint8_t>(1 ^ kField.exp[(i * run.length) % kN]),
                                    static_cast<uint8_t>(1 ^ kField.exp[i]));
    return kField.exp[kField.log[run.value] + kField.log[geometric]];
}

// Syndromes s[i0 .. i0+B-1] = r(alpha^i) by Horner's rule from the highest power down, the top
// run taken in one step. The B sums are independent chains kept in registers, so the table
// loads of one position overlap instead of waiting on each other.
template <int B>
void syndromeBlock(const MulPowTable& mp, const uint8_t* r, const TopRun& run, int i0, uint8_t* s) {
    const uint8_t* rows = mp.row(i0);
    uint8_t acc[B];
    for (int q = 0; q < B; ++q) {
        acc[q] = topRunSum(run, i0 + q);
    }
    for (int j = kN - 1 - run.length; j >= 0; --j) {
        const uint8_t v = r[j];
#pragma GCC unroll 16
        for (int q = 0; q < B; ++q) {
            acc[q] = rows[q * 256 + acc[q]] ^ v;
        }
    }
    for (int q = 0; q < B; ++q) {
        s[i0 + q] = acc[q];
    }
}

// out[q] = poly(alpha^-locs[q]) for q < B by Horner's rule, B roots side by side for the same
// reason as in syndromeBlock.
template <int B>
void evaluateAtRoots(const MulPowTable& mp, const uint8_t* poly, int deg, const uint8_t* locs,
                     uint8_t* out) {
    const uint8_t* rows[B];
    uint8_t acc[B];
    for (int q = 0; q < B; ++q) {
        rows[q] = mp.row((kN - locs[q]) % kN);
        acc[q] = poly[deg];
    }
    for (int i = deg - 1; i >= 0; --i) {
        const uint8_t c = poly[i];
#pragma GCC unroll 8
        for (int q = 0; q < B; ++q) {
            acc[q] = rows[q][acc[q]] ^ c;
        }
    }
    for (int q = 0; q < B; ++q) {
        out[q] = acc[q];
    }
}

// For an erasure locator of degree deg, whose roots are the erased positions themselves: at each
// root x = alpha^-u, lambda'(x), the sum of lambda[j] x^(j-1) over odd j (what the Chien search
// gives), in the list's order.
void erasureRoots(const MulPowTable& mp, const uint8_t* lambda, int deg,
                  std::span<const int32_t> erasures, uint8_t* rootDen) {
    const int topOdd = deg % 2 == 1 ? deg : deg - 1;
    for (const int32_t u : erasures) {
        const uint8_t* byX2 = mp.row((2 * (kN - u)) % kN);  // times x^2
        uint8_t derivative = 0;
        for (int j = topOdd; j >= 1; j -= 2) {
            derivative = static_cast<uint8_t>(byX2[derivative] ^ lambda[j]);
        }
        *rootDen++ = derivative;
    }
}

}  // namespace

void RSGENGF(RsState& rs) { buildField(rs.antilog, rs.log); }

void RSGENPOLY(RsState& rs) {
    if (!validT(rs.t)) {
        return;
    }
    const int nroots = 2 * rs.t;
    // Polynomial form first: gen(x) = (x + alpha^1), then times (x + alpha^i) for i = 2..2t.
    std::array<uint8_t, kMaxRoots + 1> g{};
    g[0] = 2;
    g[1] = 1;
    for (int i = 2; i <= nroots; ++i) {
        g[i] = 1;
        for (int j = i - 1; j >= 1; --j) {
            g[j] = g[j - 1] ^ kField.exp[kField.log[g[j]] + i];
        }
        g[0] = kField.exp[kField.log[g[0]] + i];
    }
    for (int i = 0; i < kN; ++i) {
        rs.gen[i] = i <= nroots && g[i] != 0 ? kField.log[g[i]] : -1;
    }
}

void RSENCODE(RsState& rs) {
    if (!validT(rs.t)) {
        return;
    }
    const int nroots = 2 * rs.t;
    const int k = kN - nroots;
    // The generator back in polynomial form; an entry that is no exponent counts as a zero
    // coefficient rather than an index.
    std::array<uint8_t, kMaxRoots> g{};
    for (int j = 0; j < nroots; ++j) {
        const auto e = static_cast<uint32_t>(rs.gen[j]);
        g[j] = e < kN ? kField.exp[e] : 0;
    }
    const MulPowTable& mp = mulPow();
    std::array<uint8_t, kMaxRoots> p{};
    for (int i = k - 1; i >= 0; --i) {
        const auto feedback = static_cast<uint8_t>(rs.data[i] ^ p[nroots - 1]);
        if (feedback != 0) {
            const uint8_t* row = mp.row(kField.log[feedback]);
            for (int j = nroots - 1; j >= 1; --j) {
                p[j] = p[j - 1] ^ row[g[j]];
            }
            p[0] = row[g[0]];
        } else {
            std::memmove(&p[1], &p[0], nroots - 1);
            p[0] = 0;
        }
    }
    for (int j = 0; j < nroots; ++j) {
        rs.parity[j] = p[j];
    }
}

namespace {

// The shift register of rsEncodeFilledRows for a register of Words 64-bit words, fixed at
// compile time so that the words stay in registers: only the feedback byte's product row is
// loaded per symbol.
template <size_t Words>
void feedBlocks(const uint64_t* products, std::span<const uint8_t> rows, size_t count,
                size_t stride, int r, int fillCount, uint8_t fill, int nroots, uint8_t* parity) {
    std::array<uint64_t, Words> reg{};
    const auto feed = [&reg, products](uint8_t symbol) {
        const uint64_t* add = products + ((symbol ^ reg[0]) & 0xFF) * Words;
#pragma GCC unroll 32
        for (size_t k = 0; k + 1 < Words; ++k) {
            reg[k] = ((reg[k] >> 8) | (reg[k + 1] << 56)) ^ add[k];
        }
        reg[Words - 1] = (reg[Words - 1] >> 8) ^ add[Words - 1];
    };
    for (int i = 0; i < fillCount; ++i) feed(fill);
    const std::array<uint64_t, Words> filled = reg;
    std::array<uint8_t, 8 * Words> bytes{};
    for (size_t b = 0; b < count; ++b) {
        reg = filled;
        const uint8_t* data = rows.data() + b * stride;
        for (int i = r - 1; i >= 0; --i) feed(data[i]);
        std::memcpy(bytes.data(), reg.data(), bytes.size());
        uint8_t* out = parity + b * static_cast<size_t>(nroots);
        for (int j = 0; j < nroots; ++j) out[j] = bytes[nroots - 1 - j];
    }
}

using FeedBlocks = void (*)(const uint64_t*, std::span<const uint8_t>, size_t, size_t, int, int,
                            uint8_t, int, uint8_t*);

template <size_t... W>
constexpr std::array<FeedBlocks, sizeof...(W)> feedBlocksTable(std::index_sequence<W...>) {
    return {&feedBlocks<W + 1>...};
}

// One register width for every t: 2t parity bytes take (2t + 7) / 8 words, 1 to 32.
constexpr auto kFeedBlocks = feedBlocksTable(std::make_index_sequence<(kMaxRoots + 7) / 8>());

}  // namespace

void rsEncodeFilledRows(const RsState& rs, std::span<const uint8_t> rows, int blocks, uint8_t fill,
                        std::span<uint8_t> parity) {
    if (!validT(rs.t) || blocks < 1 || rows.size() % static_cast<size_t>(blocks) != 0) {
        return;
    }
    const int nroots = 2 * rs.t;
    const size_t count = static_cast<size_t>(blocks);
    if (parity.size() / static_cast<size_t>(nroots) < count) {
        return;
    }
    const size_t stride = rows.size() / count;
    const int r = static_cast<int>(std::min<size_t>(stride, static_cast<size_t>(kN - nroots)));
    const int fillCount = kN - nroots - r;
    // The register is kept reversed, feedback end first, in little-endian 64-bit words: byte q
    // of the register is byte q % 8 of word q / 8. A symbol shifts it down one byte, across the
    // words, and XORs in the feedback byte's products with the generator, a word at a time.
    // Bytes above the register stay 0: the product rows are padded with zeros and the shift
    // brings in zeros from the top.
    static_assert(std::endian::native == std::endian::little);
    const size_t words = (static_cast<size_t>(nroots) + 7) / 8;
    std::array<uint8_t, 8 * ((kMaxRoots + 7) / 8)> reversed{};
    for (int q = 0; q < nroots; ++q) {
        const auto e = static_cast<uint32_t>(rs.gen[nroots - 1 - q]);
        reversed[q] = e < kN ? kField.exp[e] : 0;
    }
    // Row f holds f times the reversed generator. Multiplication by f is linear over the bits
    // of f, so row 1 is the generator itself, row 2^b is row 2^(b-1) times alpha, and every
    // other row is the XOR of two rows already built. Times alpha is, in each byte, a shift and
    // the primitive polynomial's low terms (x^4 + x^3 + x^2 + 1) where a bit left the top.
    std::vector<uint64_t> productWords(256 * words, 0);
    uint64_t* const table = productWords.data();
    std::memcpy(table + words, reversed.data(), 8 * words);
    constexpr uint64_t kHighBits = 0x8080808080808080;
    constexpr uint64_t kPrimLow = 0x1D;
    for (size_t f = 2; f < 256; f *= 2) {
        for (size_t k = 0; k < words; ++k) {
            const uint64_t v = table[f / 2 * words + k];
            table[f * words + k] = ((v & ~kHighBits) << 1) ^ (((v & kHighBits) >> 7) * kPrimLow);
        }
    }
    for (size_t f = 3; f < 256; ++f) {
        const size_t low = f & (0 - f);
        if (low == f) continue;
        for (size_t k = 0; k < words; ++k) {
            table[f * words + k] = table[(f - low) * words + k] ^ table[low * words + k];
        }
    }
    kFeedBlocks[words - 1](productWords.data(), rows, count, stride, r, fillCount, fill, nroots,
                           parity.data());
}

void RSDECODE(RsState& rs, std::span<const int32_t> erasures) {
    // Nothing is written to received until every check has passed, so each early return below
    // leaves it as it arrived.
    rs.count = kRsFailed;
    if (!validT(rs.t)) {
        return;
    }
    const int nroots = 2 * rs.t;
    if (erasures.size() > static_cast<size_t>(nroots)) {
        return;  // more unknowns than parity symbols; the locator would not fit in 2t + 1 terms
    }
    const int noEras = static_cast<int>(erasures.size());
    std::array<uint64_t, 4> seen{};
    for (const int32_t u : erasures) {
        if (static_cast<uint32_t>(u) >= static_cast<uint32_t>(kN)) {
            return;
        }
        const uint64_t bit = uint64_t{1} << (u & 63);
        if ((seen[u >> 6] & bit) != 0) {
            return;  // a repeated position would make a double root, never a correction
        }
        seen[u >> 6] |= bit;
    }
    std::array<uint8_t, kN> r;
    uint32_t symbolBits = 0;
    for (int j = 0; j < kN; ++j) {
        const auto v = static_cast<uint32_t>(rs.received[j]);
        symbolBits |= v;
        r[j] = static_cast<uint8_t>(v);
    }
    if (symbolBits > 0xFF) {
        return;  // some entry is not a byte
    }

    // Syndromes s[1..2t] in polynomial form.
    const MulPowTable& mp = mulPow();
    std::array<uint8_t, kMaxRoots + 1> s{};
    const TopRun run = topRun(r.data());
    int i0 = 1;
    for (; i0 + 8 <= nroots + 1; i0 += 8) {
        syndromeBlock<8>(mp, r.data(), run, i0, s.data());
    }
    for (; i0 <= nroots; i0 += 2) {
        syndromeBlock<2>(mp, r.data(), run, i0, s.data());
    }
    uint8_t any = 0;
    for (int i = 1; i <= nroots; ++i) {
        any |= s[i];
    }
    if (any == 0) {
        rs.count = 0;
        return;
    }
    std::array<uint16_t, kMaxRoots + 1> sLog{};
    for (int i = 1; i <= nroots; ++i) {
        sLog[i] = kField.log[s[i]];
    }

    // Erasure locator: the product of (1 + alpha^u x) over the erased positions u.
    std::array<uint8_t, kMaxRoots + 1> lambda{};
    RsState::ErasureMemo& memo = rs.erasureMemo;
    const bool remembered =
        memo.count == noEras && std::equal(erasures.begin(), erasures.end(), memo.positions.begin(),
                                           [](int32_t u, uint8_t kept) { return u == kept; });
    if (remembered) {
        std::copy_n(memo.locator.begin(), noEras + 1, lambda.begin());
    } else {
        lambda[0] = 1;
        if (noEras > 0) {
            lambda[1] = kField.exp[erasures[0]];
            for (int i = 1; i < noEras; ++i) {
                const int u = erasures[i];
                for (int j = i + 1; j >= 1; --j) {
                    lambda[j] ^= kField.exp[kField.log[lambda[j - 1]] + u];
                }
            }
        }
        memo.count = noEras;
        memo.haveDerivatives = false;
        std::transform(erasures.begin(), erasures.end(), memo.positions.begin(),
                       [](int32_t u) { return static_cast<uint8_t>(u); });
        std::copy_n(lambda.begin(), noEras + 1, memo.locator.begin());
    }

    // Berlekamp-Massey from the erasure locator. b is B(x); x * B(x) drops the term of x^(2t+1),
    // as every decoder of this family does. lambdaLog follows lambda, since most steps only read
    // it.
    std::array<uint8_t, kMaxRoots + 1> b = lambda;
    std::array<uint8_t, kMaxRoots + 1> tmp{};
    std::array<uint16_t, kMaxRoots + 1> lambdaLog;
    const auto takeLogs = [&] {
        for (int i = 0; i <= nroots; ++i) lambdaLog[i] = kField.log[lambda[i]];
    };
    takeLogs();
    int el = noEras;
    bool errorsFound = false;  // lambda grew past the erasure locator
    for (int step = noEras + 1; step <= nroots; ++step) {
        uint8_t d = 0;
        for (int i = 0; i < step; ++i) {
            d ^= kField.exp[lambdaLog[i] + sLog[step - i]];
        }
        if (d == 0) {
            std::memmove(&b[1], &b[0], nroots);
            b[0] = 0;
            continue;
        }
        errorsFound = true;
        const int dLog = kField.log[d];
        tmp[0] = lambda[0];
        for (int i = 1; i <= nroots; ++i) {
            tmp[i] = lambda[i] ^ kField.exp[dLog + kField.log[b[i - 1]]];
        }
        if (2 * el <= step + noEras - 1) {
            el = step + noEras - el;
            for (int i = 0; i <= nroots; ++i) {
                b[i] = kField.exp[lambdaLog[i] + kN - dLog];
            }
        } else {
            std::memmove(&b[1], &b[0], nroots);
            b[0] = 0;
        }
        lambda = tmp;
        takeLogs();
    }
    int degLambda = nroots;
    while (degLambda > 0 && lambda[degLambda] == 0) {
        --degLambda;
    }
    if (degLambda == 0) {
        return;  // the locator ended as 1: no position explains the non-zero syndromes
    }

    // Error evaluator omega(x) = S(x) lambda(x) mod x^2t. Forney's values make the error
    // pattern on the roots whose own evaluator has a degree below deg lambda and agrees with
    // omega there; that pattern has all 2t syndromes of the block exactly when omega is that
    // evaluator, that is when deg omega < deg lambda. Otherwise the "corrected" block would be
    // no code word, so the decode fails instead. This needs no roots, so it comes before the
    // root search; which of two failures is found first changes nothing. Coefficient i of
    // S(x) lambda(x) is the discrepancy of step i + 1 with that lambda; while lambda is still
    // the erasure locator (degree noEras), Berlekamp-Massey has found every one of those from
    // step noEras + 1 on to be 0, so only the terms below deg lambda are left to compute.
    std::array<uint8_t, kMaxRoots> omega{};
    const int omegaTerms = errorsFound ? nroots : degLambda;
    for (int i = 0; i < omegaTerms; ++i) {
        uint8_t acc = 0;
        const int top = i < degLambda ? i : degLambda;
        for (int j = 0; j <= top; ++j) {
            acc ^= kField.exp[lambdaLog[j] + sLog[i + 1 - j]];
        }
        omega[i] = acc;
        if (acc != 0 && i >= degLambda) {
            return;
        }
    }
    int degOmega = degLambda - 1;
    while (degOmega > 0 && omega[degOmega] == 0) {
        --degOmega;
    }

    // Chien search. reg[j] holds lambda[j] x^j at x = alpha^-loc, stepping loc up from 0: the
    // frame format shortens the code at the top, so the roots sit at low positions and the
    // search stops as soon as deg lambda of them are in (a polynomial has no more). The order
    // changes only the order in which the roots are listed. The odd terms sum to x lambda'(x),
    // Forney's denominator times x, so it is kept on the way.
    std::array<uint8_t, kMaxRoots + 1> reg = lambda;
    std::array<uint8_t, kMaxRoots> rootLoc;
    std::array<uint8_t, kMaxRoots> rootDen;
    int roots = 0;
    if (!errorsFound && noEras > 0) {
        // The locator is still the erasure locator, a product of distinct factors whose roots
        // are the erased positions and nothing else: the search would find exactly those. Their
        // derivatives depend on the list alone, so the codewords of a frame share them too.
        if (!memo.haveDerivatives) {
            erasureRoots(mp, lambda.data(), degLambda, erasures, memo.derivatives.data());
            memo.haveDerivatives = true;
        }
        std::copy(memo.positions.begin(), memo.positions.begin() + noEras, rootLoc.begin());
        std::copy(memo.derivatives.begin(), memo.derivatives.begin() + noEras, rootDen.begin());
        roots = noEras;
    }
    for (int loc = 0; loc < kN && roots < degLambda; ++loc) {
        uint8_t even = reg[0];
        uint8_t odd = 0;
        int j = 1;
        for (; j + 1 <= degLambda; j += 2) {
            const uint8_t vo = reg[j];
            const uint8_t ve = reg[j + 1];
            odd ^= vo;
            even ^= ve;
            reg[j] = mp.row(kN - j)[vo];
            reg[j + 1] = mp.row(kN - j - 1)[ve];
        }
        if (j == degLambda) {
            const uint8_t vo = reg[j];
            odd ^= vo;
            reg[j] = mp.row(kN - j)[vo];
        }
        if (even == odd) {
            rootLoc[roots] = static_cast<uint8_t>(loc);
            rootDen[roots] = mp.row(loc)[odd];  // lambda'(x) = odd / x, 1/x = alpha^loc
            ++roots;
        }
    }
    if (roots != degLambda) {
        return;
    }

    // Forney: error value omega(x) / lambda'(x) at x = alpha^-loc (first root alpha^1, so no
    // further power of x).
    for (int q = 0; q < roots; ++q) {
        if (rootDen[q] == 0) {
            return;  // only a repeated root has lambda' = 0, and the roots found are distinct
        }
    }
    std::array<uint8_t, kMaxRoots> value;
    int q0 = 0;
    for (; q0 + 8 <= roots; q0 += 8) {
        evaluateAtRoots<8>(mp, omega.data(), degOmega, &rootLoc[q0], &value[q0]);
    }
    for (; q0 + 4 <= roots; q0 += 4) {
        evaluateAtRoots<4>(mp, omega.data(), degOmega, &rootLoc[q0], &value[q0]);
    }
    for (; q0 < roots; ++q0) {
        evaluateAtRoots<1>(mp, omega.data(), degOmega, &rootLoc[q0], &value[q0]);
    }
    for (int q = 0; q < roots; ++q) {
        value[q] = gfDiv(value[q], rootDen[q]);
    }
    for (int q = 0; q < roots; ++q) {
        rs.received[rootLoc[q]] ^= value[q];
    }
    rs.count = roots;
}

}  // namespace codec
