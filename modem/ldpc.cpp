#include "modem/ldpc.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <map>
#include <mutex>
#include <utility>

#include "modem/splitmix.h"

namespace modem {
namespace {

// Information-bit degree distributions of the long repeat-accumulate codes of satellite
// broadcasting, by rate: a share of the bits has the high degree, the rest degree 3. They were
// designed for 64800-bit words; at 5000-8000 bits they stay within about 1.3 dB of the BPSK
// limit with min-sum decoding (bench/ldpc_sweep.cpp measures it).
// The decoder's normalisation was measured with bench/ldpc_sweep.cpp for rates 1/2 (0.7 beat
// 0.8 by 0.15 dB; 0.65 the same) and 3/4 (0.8 beat 0.75 and 0.7); the others take the value of
// the measured mix they resemble.
struct DegreeMix {
    double rate;
    int highDegree;
    int shareNum;  // share of high-degree bits = shareNum / shareDen
    int shareDen;
    float normalisation;
};
constexpr std::array<DegreeMix, 9> kDegreeMixes{{
    {1.0 / 3, 12, 1, 3, 0.7f},
    {2.0 / 5, 12, 1, 3, 0.7f},
    {1.0 / 2, 8, 2, 5, 0.7f},
    {3.0 / 5, 12, 1, 3, 0.8f},
    {2.0 / 3, 13, 1, 10, 0.8f},
    {3.0 / 4, 12, 1, 9, 0.8f},
    {4.0 / 5, 11, 1, 8, 0.8f},
    {5.0 / 6, 13, 1, 10, 0.8f},
    {8.0 / 9, 4, 1, 8, 0.8f},
}};

// Tie-breaks of the construction. splitmix64: fixed 64-bit arithmetic, so the same stream on
// every machine (std::uniform_int_distribution's mapping is left to the library).
constexpr uint64_t kConstructionSeed = 0x5645'4C44'5043'0001ull;

// Progressive edge growth for the information part, with the accumulator's edges in the graph
// from the start. Variables 0..k-1 are information bits, k..n-1 parity bits.
//
// The textbook form runs a breadth-first search from the bit for every edge. This one keeps,
// while one bit's edges are placed, each check's distance from the bit's checks in the graph
// without the bit (which those edges do not change): one full search from the first check, then
// for every further check c a search from c that only goes where it gets closer than before
// (distances obey the triangle inequality, so pruning there loses nothing), and only as deep as
// the farthest eligible check. The choice is the textbook's: an eligible check (one with room
// left under the even fill) at the greatest distance; among those, one not near the bit's other
// checks along the accumulator (kChainGap), then the least used, then the generator's pick.
class PegBuilder {
public:
    PegBuilder(int k, int m, uint32_t infoEdges, int maxDegree)
        : k_(static_cast<uint32_t>(k)),
          m_(static_cast<uint32_t>(m)),
          floorDegree_(infoEdges / m_),
          ceilSlots_(infoEdges % m_),
          stride_(static_cast<uint32_t>(maxDegree)),
          checkStride_(floorDegree_ + kSpareEdges),
          checkVars_(static_cast<size_t>(m_) * checkStride_),
          varChecks_(static_cast<size_t>(k_) * stride_),
          varDegree_(k_, 0),
          distance_(m_, kUnreached),
          varMark_(k_, 0),
          degree_(m_, 0),
          rng_{kConstructionSeed} {
        frontier_.resize(m_);
        next_.resize(m_);
        keys_.resize(m_);
        nearMark_.resize(m_, kUnreached);
    }

    // Gives information bit v `degree` edges (at most m, at most maxDegree).
    void placeBit(uint32_t v, int degree) {
        for (int e = 0; e < degree; ++e) {
            const uint32_t c = chooseCheck(v, e > 0);
            connect(v, c);
            if (e + 1 < degree) {
                if (e == 0) {
                    search<true>(v, c);
                } else {
                    search<false>(v, c);
                }
            }
        }
    }

    // The information bits of check c, in the order placed.
    std::span<const uint32_t> checkBits(uint32_t c) const {
        return {&checkVars_[static_cast<size_t>(c) * checkStride_], degree_[c]};
    }

private:
    static constexpr uint32_t kUnreached = std::numeric_limits<uint32_t>::max();
    // Room beyond the even fill, for the rare bit that finds no check with room left.
    static constexpr uint32_t kSpareEdges = 4;
    // Checks closer than this along the accumulator to one of a bit's checks are taken only
    // when no farther one is as far in the graph: two checks of a bit s apart on the chain
    // close a cycle through s parity bits of degree 2, the bit's only way out of it being its
    // remaining edges (a cycle with little extrinsic message degree, which min-sum gets stuck
    // in: the parity bits between the two checks flip together).
    static constexpr uint32_t kChainGap = 16;

    bool isNeighbour(uint32_t v, uint32_t c) const {
        const uint32_t* own = &varChecks_[static_cast<size_t>(v) * stride_];
        return std::find(own, own + varDegree_[v], c) != own + varDegree_[v];
    }

    void connect(uint32_t v, uint32_t c) {
        if (degree_[c] == floorDegree_) ++ceilUsed_;
        checkVars_[static_cast<size_t>(c) * checkStride_ + degree_[c]++] = v;
        varChecks_[static_cast<size_t>(v) * stride_ + varDegree_[v]++] = c;
        const uint32_t first = c > kChainGap ? c - kChainGap : 0;
        const uint32_t last = std::min(c + kChainGap, m_ - 1);
        for (uint32_t x = first; x <= last; ++x) nearMark_[x] = v;
    }

    // Distances from c: afresh (full) or the pruned update after a further edge. A full search
    // stops once every check that can take an edge has its distance; those beyond stay
    // kUnreached, which only makes later pruned searches look a little further.
    template <bool kFull>
    void search(uint32_t v, uint32_t c) {
        // Locals, not members, in the loops: the stores through the arrays would otherwise make
        // the compiler reload every member pointer.
        const uint32_t stamp = ++stamp_;
        uint32_t* mark = varMark_.data();
        uint32_t* distance = distance_.data();
        const uint32_t* degree = degree_.data();
        const uint32_t* checkVars = checkVars_.data();
        const uint32_t* varChecks = varChecks_.data();
        const uint32_t* varDegree = varDegree_.data();
        uint32_t* frontier = frontier_.data();
        uint32_t* next = next_.data();
        const uint32_t limit = eligibleLimit();
        const uint32_t m = m_;
        mark[v] = stamp;
        uint32_t unreachedEligible = m;  // a pruned search never stops early
        if constexpr (kFull) {
            std::fill(distance_.begin(), distance_.end(), kUnreached);
            unreachedEligible = 0;
            for (uint32_t x = 0; x < m; ++x) unreachedEligible += degree[x] < limit ? 1 : 0;
            if (degree[c] < limit) --unreachedEligible;
        }
        distance[c] = 0;
        frontier[0] = c;
        size_t frontierSize = 1;
        // A pruned search that got as far as the farthest eligible check's distance cannot
        // change which checks are farthest any more.
        const uint32_t depthLimit = kFull ? kUnreached : chosenDistance_ - 1;
        for (uint32_t depth = 1; frontierSize > 0 && unreachedEligible > 0 && depth <= depthLimit;
             ++depth) {
            size_t nextSize = 0;
            const auto reach = [&](uint32_t d) {
                if (distance[d] > depth) {
                    if constexpr (kFull) unreachedEligible -= degree[d] < limit ? 1 : 0;
                    distance[d] = depth;
                    next[nextSize++] = d;
                }
            };
            for (size_t f = 0; f < frontierSize && unreachedEligible > 0; ++f) {
                const uint32_t x = frontier[f];
                const uint32_t* vars = checkVars + static_cast<size_t>(x) * checkStride_;
                for (uint32_t i = 0; i < degree[x]; ++i) {
                    const uint32_t u = vars[i];
                    if (mark[u] == stamp) continue;
                    mark[u] = stamp;
                    const uint32_t* checks = varChecks + static_cast<size_t>(u) * stride_;
                    for (uint32_t j = 0; j < varDegree[u]; ++j) reach(checks[j]);
                }
                // Parity bits x - 1 and x lead to checks x - 1 and x + 1 (reaching a check twice
                // is harmless, so they need no marks).
                if (x > 0) reach(x - 1);
                if (x + 1 < m) reach(x + 1);
            }
            std::swap(frontier, next);
            frontierSize = nextSize;
        }
    }

    uint32_t eligibleLimit() const { return floorDegree_ + (ceilUsed_ < ceilSlots_ ? 1 : 0); }

    // The eligible check farthest from v's checks (any, for v's first edge), the least used of
    // those, ties broken by the generator. The preference as one key per check, 0 for checks
    // that cannot take the edge: distance above, room below.
    uint32_t chooseCheck(uint32_t v, bool byDistance) {
        const uint32_t limit = eligibleLimit();
        const uint32_t* degree = degree_.data();
        const uint32_t* distance = distance_.data();
        const uint32_t* near = nearMark_.data();
        uint32_t* keys = keys_.data();
        const uint32_t m = m_;  // a local: the stores to keys could otherwise change m_
        // Branch-free passes, so that the compiler can vectorise them. Without distances (a
        // bit's first edge) every check counts as one step away.
        const uint32_t distanceMask = byDistance ? 0xFFFFFFFFu : 0u;
        const uint32_t distanceFloor = byDistance ? 0u : 1u;
        uint32_t best = 0;
        for (uint32_t c = 0; c < m; ++c) {
            const uint32_t d = std::min((distance[c] & distanceMask) | distanceFloor, 0x7FFFu);
            const uint32_t far = near[c] != v ? 1u : 0u;
            const uint32_t open = 0u - static_cast<uint32_t>((degree[c] < limit) & (d != 0));
            keys[c] = ((d << 17) | (far << 16) | (0xFFFF - degree[c])) & open;
            best = std::max(best, keys[c]);
        }
        chosenDistance_ = kUnreached;
        if (best != 0) {
            if (byDistance) chosenDistance_ = best >> 17;
            uint32_t ties = 0;
            for (uint32_t c = 0; c < m; ++c) ties += keys[c] == best ? 1 : 0;
            uint32_t skip = rng_.below(ties);
            for (uint32_t c = 0; c < m; ++c)
                if (keys[c] == best && skip-- == 0) return c;
        }
        // Every check with room left is already a neighbour: break the even fill rather than
        // give a bit the same check twice.
        uint32_t fallback = 0;
        uint32_t least = kUnreached;
        for (uint32_t c = 0; c < m_; ++c) {
            if (degree_[c] < least && degree_[c] < checkStride_ && !isNeighbour(v, c)) {
                least = degree_[c];
                fallback = c;
            }
        }
        return fallback;
    }

    uint32_t k_;
    uint32_t m_;
    uint32_t floorDegree_;             // every check gets this many information edges ...
    uint32_t ceilSlots_;               // ... and this many checks one more
    uint32_t stride_;                  // varChecks_ entries per bit
    uint32_t checkStride_;             // checkVars_ entries per check
    std::vector<uint32_t> checkVars_;  // information bits of each check
    std::vector<uint32_t> varChecks_;  // checks of each information bit
    std::vector<uint32_t> varDegree_;
    std::vector<uint32_t> distance_;  // checks from the current bit's checks; 0 for those
    std::vector<uint32_t> varMark_;   // information bits; == stamp_: visited in this search
    std::vector<uint32_t> degree_;    // information edges of each check
    uint32_t stamp_ = 0;
    uint32_t chosenDistance_ = kUnreached;  // of the check chooseCheck() returned last
    uint32_t ceilUsed_ = 0;                 // checks that took a floorDegree_ + 1st edge
    std::vector<uint32_t> frontier_, next_;
    std::vector<uint32_t> keys_;      // chooseCheck()'s preference per check
    std::vector<uint32_t> nearMark_;  // == v: near one of bit v's checks on the accumulator
    SplitMix64 rng_;
};

// Beyond this an LLR says nothing more: the cap of the input values and of every message.
constexpr float kLlrLimit = 1e6f;
constexpr uint32_t kSignBit = 0x8000'0000u;

}  // namespace

std::optional<LdpcCode> makeLdpcCode(int k, int n) {
    if (k < 1 || n <= k) return std::nullopt;
    const double rate = static_cast<double>(k) / n;
    if (rate < kLdpcMinRate || rate > kLdpcMaxRate) return std::nullopt;
    const int m = n - k;

    const DegreeMix* mix = &kDegreeMixes.front();
    for (const DegreeMix& candidate : kDegreeMixes)
        if (std::abs(candidate.rate - rate) < std::abs(mix->rate - rate)) mix = &candidate;

    LdpcCode code;
    code.k = k;
    code.n = n;
    // A bit cannot meet the same check twice; tiny codes get what degree they can.
    code.highDegree = std::min(mix->highDegree, m);
    code.normalisation = mix->normalisation;
    const int lowDegree = std::min(3, m);
    code.highCount = static_cast<int>(
        (static_cast<int64_t>(k) * mix->shareNum + mix->shareDen / 2) / mix->shareDen);
    const uint32_t infoEdges = static_cast<uint32_t>(code.highCount) * code.highDegree +
                               static_cast<uint32_t>(k - code.highCount) * lowDegree;

    // High degrees first: a bit with 8-13 edges needs as many checks far from each other, which
    // only a young graph has to offer; three far checks are still there at the end (placed the
    // other way round, the last high-degree bits of the rate-3/4 code closed 4-cycles).
    PegBuilder peg(k, m, infoEdges, std::max(code.highDegree, lowDegree));
    for (int v = 0; v < code.highCount; ++v)
        peg.placeBit(static_cast<uint32_t>(v), code.highDegree);
    for (int v = code.highCount; v < k; ++v) peg.placeBit(static_cast<uint32_t>(v), lowDegree);

    code.rowStart.reserve(static_cast<size_t>(m) + 1);
    code.rowBits.reserve(infoEdges + 2 * static_cast<size_t>(m));
    code.rowStart.push_back(0);
    for (int c = 0; c < m; ++c) {
        const std::span<const uint32_t> bits = peg.checkBits(static_cast<uint32_t>(c));
        const auto first = code.rowBits.insert(code.rowBits.end(), bits.begin(), bits.end());
        std::sort(first, code.rowBits.end());
        if (c > 0) code.rowBits.push_back(static_cast<uint32_t>(k + c - 1));
        code.rowBits.push_back(static_cast<uint32_t>(k + c));
        code.rowStart.push_back(static_cast<uint32_t>(code.rowBits.size()));
    }
    return code;
}

std::shared_ptr<const LdpcCode> sharedLdpcCode(int k, int n) {
    // A cache of a pure function's results: nothing in it changes what any caller computes.
    static std::mutex mutex;
    static std::map<std::pair<int, int>, std::shared_ptr<const LdpcCode>> codes;
    const std::lock_guard lock(mutex);
    auto [it, added] = codes.try_emplace({k, n});
    if (added) {
        if (std::optional<LdpcCode> code = makeLdpcCode(k, n))
            it->second = std::make_shared<const LdpcCode>(std::move(*code));
    }
    return it->second;
}

bool encodeLdpc(const LdpcCode& code, std::span<const uint8_t> info, std::span<uint8_t> codeword) {
    if (info.size() != static_cast<size_t>(code.k) ||
        codeword.size() != static_cast<size_t>(code.n))
        return false;
    for (int i = 0; i < code.k; ++i)
        codeword[static_cast<size_t>(i)] = info[static_cast<size_t>(i)] & 1;
    // Check r holds p[r - 1] ^ p[r] ^ (its information bits), so p[r] is the running XOR.
    uint8_t parity = 0;
    const auto k = static_cast<uint32_t>(code.k);
    for (int r = 0; r < code.checks(); ++r) {
        for (uint32_t e = code.rowStart[static_cast<size_t>(r)];
             e < code.rowStart[static_cast<size_t>(r) + 1]; ++e) {
            const uint32_t bit = code.rowBits[e];
            if (bit >= k) break;  // the information bits come first in a row
            parity ^= codeword[bit];
        }
        codeword[k + static_cast<uint32_t>(r)] = parity;
    }
    return true;
}

bool ldpcSyndromeZero(const LdpcCode& code, std::span<const uint8_t> codeword) {
    if (codeword.size() != static_cast<size_t>(code.n)) return false;
    for (int r = 0; r < code.checks(); ++r) {
        uint8_t sum = 0;
        for (uint32_t e = code.rowStart[static_cast<size_t>(r)];
             e < code.rowStart[static_cast<size_t>(r) + 1]; ++e)
            sum ^= codeword[code.rowBits[e]] & 1;
        if (sum != 0) return false;
    }
    return true;
}

LdpcDecoder::LdpcDecoder(LdpcCode code) : LdpcDecoder(std::move(code), Settings{}) {}

LdpcDecoder::LdpcDecoder(LdpcCode code, Settings settings)
    : code_(std::move(code)), settings_(settings) {
    if (!(settings_.normalisation > 0.0f)) settings_.normalisation = code_.normalisation;
    posterior_.assign(static_cast<size_t>(code_.n), 0.0f);
    messages_.assign(code_.rowBits.size(), 0.0f);
    uint32_t widest = 0;
    for (size_t r = 0; r + 1 < code_.rowStart.size(); ++r)
        widest = std::max(widest, code_.rowStart[r + 1] - code_.rowStart[r]);
    extrinsic_.assign(widest, 0.0f);
}

void LdpcDecoder::reset() {
    std::fill(posterior_.begin(), posterior_.end(), 0.0f);
    std::fill(messages_.begin(), messages_.end(), 0.0f);
}

bool LdpcDecoder::checksHold() const {
    const float* post = posterior_.data();
    const uint32_t* bits = code_.rowBits.data();
    const uint32_t* start = code_.rowStart.data();
    for (int r = 0; r < code_.checks(); ++r) {
        uint32_t sum = 0;
        for (uint32_t e = start[r]; e < start[r + 1]; ++e) {
            const float value = post[bits[e]];
            if (value == 0.0f) return false;  // undecided
            sum ^= value < 0.0f ? 1u : 0u;
        }
        if (sum != 0) return false;
    }
    return true;
}

LdpcDecodeResult LdpcDecoder::process(std::span<const float> llr, std::span<uint8_t> bits) {
    const auto n = static_cast<size_t>(code_.n);
    if (llr.size() != n || (bits.size() != n && bits.size() != static_cast<size_t>(code_.k)))
        return {};
    for (size_t i = 0; i < n; ++i) {
        const float value = llr[i];
        posterior_[i] = std::isnan(value) ? 0.0f : std::clamp(value, -kLlrLimit, kLlrLimit);
    }
    std::fill(messages_.begin(), messages_.end(), 0.0f);

    LdpcDecodeResult result;
    result.ok = checksHold();
    const float alpha = settings_.normalisation;
    // Messages to the parity bits are scaled by parityNormalisation (1 by default): along the
    // accumulator's chain of degree-2 bits a message passes from check to check with each
    // hop's scale, so with 0.8 it settles at 4 times the channel LLRs at most, and a run of
    // parity bits received wrong (or the last one, which has one check only) can stay wrong
    // however sure the information bits are: a floor of a few 1e-3 at rate 1/2.
    const float parityScale = settings_.parityNormalisation;
    float* post = posterior_.data();
    float* msg = messages_.data();
    float* ext = extrinsic_.data();
    const uint32_t* rowBits = code_.rowBits.data();
    const uint32_t* rowStart = code_.rowStart.data();
    const int m = code_.checks();
    while (!result.ok && result.iterations < settings_.maxIterations) {
        for (int r = 0; r < m; ++r) {
            const uint32_t begin = rowStart[r];
            const uint32_t degree = rowStart[r + 1] - begin;
            const uint32_t* vars = rowBits + begin;
            float* rowMsg = msg + begin;
            // Bit-to-check values: each bit's posterior without this check's last message.
            // Branch-free: the comparisons are as good as random, so branches would mispredict.
            float min1 = std::numeric_limits<float>::max();
            float min2 = min1;
            uint32_t minAt = 0;
            uint32_t signs = 0;  // XOR of the values' sign bits
            for (uint32_t i = 0; i < degree; ++i) {
                const float t = post[vars[i]] - rowMsg[i];
                ext[i] = t;
                signs ^= std::bit_cast<uint32_t>(t);
                const float a = std::fabs(t);
                const bool least = a < min1;
                min2 = least ? min1 : std::min(min2, a);
                minAt = least ? i : minAt;
                min1 = least ? a : min1;
            }
            signs &= kSignBit;
            // Capped so that a posterior, its channel value plus at most one message per check,
            // stays finite however long a word fails; no sum ever needs clamping.
            min1 = std::min(min1, kLlrLimit);
            min2 = std::min(min2, kLlrLimit);
            // The row's last one or two bits are parity bits (see parityScale above).
            const uint32_t infoBits = degree - (r > 0 ? 2 : 1);
            const float info1 = alpha * min1;
            const float info2 = alpha * min2;
            const float parity1 = parityScale * min1;
            const float parity2 = parityScale * min2;
            for (uint32_t i = 0; i < degree; ++i) {
                const float t = ext[i];
                const float magnitude =
                    i < infoBits ? (i == minAt ? info2 : info1) : (i == minAt ? parity2 : parity1);
                // The product of the other values' signs: all of them times this one's.
                const float out =
                    std::bit_cast<float>(std::bit_cast<uint32_t>(magnitude) |
                                         ((std::bit_cast<uint32_t>(t) ^ signs) & kSignBit));
                rowMsg[i] = out;
                post[vars[i]] = t + out;
            }
        }
        ++result.iterations;
        result.ok = checksHold();
    }
    for (size_t i = 0; i < bits.size(); ++i) bits[i] = posterior_[i] < 0.0f ? 1 : 0;
    return result;
}

}  // namespace modem
