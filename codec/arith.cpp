#include "codec/arith.h"

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <bit>

namespace codec {
namespace {

// 31-bit coder registers. After each renormalisation the interval straddles kHalf and is not
// inside [kQ1, 3 * kQ1), so high - low + 1 > kQ1: with total <= kQ1 the step r is at least 1
// and every symbol keeps a non-empty sub-interval.
constexpr uint32_t kTop = 0x7FFFFFFF;
constexpr uint32_t kHalf = 0x40000000;
constexpr uint32_t kQ1 = 0x20000000;
constexpr int kEndSymbol = 256;
constexpr uint32_t kInitialTotal = 257;
constexpr size_t kMarkBytes = 4;

// values[0] + ... + values[count - 1] plus more[0] + ... + more[moreCount - 1], each of 16 values,
// the counts 0..16.
[[nodiscard]] uint32_t sumsOfFirst(const uint32_t* values, uint32_t count, const uint32_t* more,
                                   uint32_t moreCount) {
    const __m128i n = _mm_set1_epi32(static_cast<int>(count));
    const __m128i m = _mm_set1_epi32(static_cast<int>(moreCount));
    __m128i sum = _mm_setzero_si128();
    for (int q = 0; q < 16; q += 4) {
        const __m128i index = _mm_setr_epi32(q, q + 1, q + 2, q + 3);
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + q));
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(more + q));
        sum = _mm_add_epi32(sum, _mm_and_si128(_mm_cmpgt_epi32(n, index), v));
        sum = _mm_add_epi32(sum, _mm_and_si128(_mm_cmpgt_epi32(m, index), w));
    }
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4E));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xB1));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(sum));
}

// The first i of 16 counts at which base + counts[0] + ... + counts[i] exceeds target; writes
// that sum without counts[i] to before. The whole sum must exceed target (i is 15 otherwise) and
// stay below 2^31 (the comparison is signed).
[[nodiscard]] uint32_t firstExceeding(const uint32_t* counts, uint32_t base, uint32_t target,
                                      uint32_t& before) {
    const __m128i limit = _mm_set1_epi32(static_cast<int>(target));
    __m128i carry = _mm_set1_epi32(static_cast<int>(base));
    alignas(16) std::array<uint32_t, 17> running;  // running[i + 1]: the sum through counts[i]
    running[0] = base;
    uint32_t exceeds = 0;
    for (int q = 0; q < 16; q += 4) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(counts + q));
        v = _mm_add_epi32(v, _mm_slli_si128(v, 4));
        v = _mm_add_epi32(v, _mm_slli_si128(v, 8));
        v = _mm_add_epi32(v, carry);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(running.data() + 1 + q), v);
        exceeds |=
            static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(v, limit))))
            << q;
        carry = _mm_shuffle_epi32(v, 0xFF);
    }
    const auto i = static_cast<uint32_t>(std::countr_zero(exceeds | 1u << 15));
    before = running[i];
    return i;
}

// The order-0 model. The counts are never rescaled, so the coder only ever needs cum_low(s),
// freq[s] and total.
//
// Coefficient bytes are dominated by one value (128, the zero coefficient) and their other values
// mostly lie close to it, so the model keeps the most frequent byte, its mode, with its cum_low
// up to date in O(1), and finds other bytes by walking outwards from it. Bytes further away are
// found through the sums of 16 groups of 16 bytes. An update touches one count and one group
// sum. The cumulative counts, and so the bit stream, are exactly those of the plain linear-scan
// model.
struct Model {
    static constexpr uint32_t kNear = 8;  // bytes walked from the mode before the groups serve

    std::array<uint32_t, 256> freq{};  // count of byte s, starts at 1
    std::array<uint32_t, 16> group{};  // group[g]: sum of freq over bytes 16g .. 16g + 15
    uint32_t total = kInitialTotal;    // sum of freq plus 1 for the end-of-stream symbol
    uint32_t mode = 0;                 // the most frequent byte so far (ties: the older)
    uint32_t modeLow = 0;              // cum_low(mode)

    Model() {
        freq.fill(1);
        group.fill(16);
    }

    // cum_low(s) of a byte symbol s.
    [[nodiscard]] uint32_t cumLow(uint32_t s) const {
        if (s >= mode) {
            if (s - mode <= kNear) {
                uint32_t sum = modeLow;
                for (uint32_t i = mode; i < s; ++i) sum += freq[i];
                return sum;
            }
        } else if (mode - s <= kNear) {
            uint32_t sum = modeLow;
            for (uint32_t i = s; i < mode; ++i) sum -= freq[i];
            return sum;
        }
        return sumsOfFirst(group.data(), s >> 4, freq.data() + (s & ~15u), s & 15);
    }

    struct Found {
        uint32_t symbol;
        uint32_t low;  // its cum_low
    };

    // The byte s with cum_low(s) <= target < cum_high(s), for target < total - 1 (a byte, not the
    // end-of-stream symbol).
    [[nodiscard]] Found find(uint32_t target) const {
        uint32_t sum = modeLow;
        if (target >= sum) {
            for (uint32_t s = mode; s < 256 && s - mode <= kNear; ++s) {
                if (target - sum < freq[s]) return {s, sum};
                sum += freq[s];
            }
        } else {
            for (uint32_t s = mode; s != 0 && mode - s < kNear;) {
                sum -= freq[--s];
                if (target >= sum) return {s, sum};
            }
        }
        const uint32_t g = firstExceeding(group.data(), 0, target, sum);
        uint32_t low = 0;
        const uint32_t s = 16 * g + firstExceeding(freq.data() + 16 * g, sum, target, low);
        return {s, low};
    }

    // After byte s with cum_low(s) = low has been coded.
    void update(uint32_t s, uint32_t low) {
        ++total;
        ++freq[s];
        ++group[s >> 4];
        if (s == mode) return;
        if (s < mode) ++modeLow;
        if (freq[s] > freq[mode]) {
            mode = s;
            modeLow = low;  // a symbol's own increment leaves its cum_low unchanged
        }
    }
};

// Number of leading bits in which low and high agree (the bits the coder can send now), at most
// 31. low <= high, both below 2^31. Most symbols settle no bit, and the test of the top bit
// answers them without waiting for the bit scan.
[[nodiscard]] int settledBits(uint32_t low, uint32_t high) {
    if (((low ^ high) & kHalf) != 0) return 0;
    return std::countl_zero((low ^ high) << 1 | 1u);
}

// Number of underflow steps (low in [kQ1, kHalf) and high in [kHalf, 3 * kQ1), the interval
// then doubled about its middle) that follow, for an interval with low < kHalf <= high: the run
// of positions from bit 29 down where low has a 1 and high a 0.
[[nodiscard]] int underflowBits(uint32_t low, uint32_t high) {
    if (((low & ~high) & kQ1) == 0) return 0;  // likewise the common case
    return std::countl_one((low & ~high) << 2);
}

// Collects code bits most significant first; never stores beyond cap bytes.
struct BitWriter {
    uint8_t* out;
    size_t cap;
    size_t pos = kMarkBytes;
    uint64_t acc = 0;  // the last n bits are unsent
    int n = 0;         // 0..7 between calls
    bool overflow = false;

    void put(uint32_t bits, int count) {  // count 0..32, bits < 2^count
        acc = acc << count | bits;
        n += count;
        while (n >= 8) {
            n -= 8;
            if (pos < cap) {
                out[pos++] = static_cast<uint8_t>(acc >> n);
            } else {
                overflow = true;
            }
        }
    }

    void putRun(uint32_t bit, uint32_t count) {
        while (count != 0) {
            const int c = static_cast<int>(std::min<uint32_t>(count, 32));
            put(bit != 0 ? static_cast<uint32_t>((uint64_t{1} << c) - 1) : 0, c);
            count -= static_cast<uint32_t>(c);
        }
    }

    // Sends a settled bit followed by the deferred opposite bits.
    void putWithPending(uint32_t bit, uint32_t& pending) {
        put(bit, 1);
        putRun(bit ^ 1, pending);
        pending = 0;
    }
};

// Supplies code bits most significant first, then 0 bits forever; reads only [p, end).
struct BitReader {
    const uint8_t* p;
    const uint8_t* end;
    uint64_t buf = 0;  // upcoming bits from bit 63 down
    int avail = 0;     // bits of buf that have been loaded

    uint32_t get(int count) {  // count 0..31
        if (avail < count) {
            while (avail <= 56) {
                const uint64_t byte = p != end ? *p++ : 0;
                buf |= byte << (56 - avail);
                avail += 8;
            }
        }
        const uint32_t bits = count == 0 ? 0 : static_cast<uint32_t>(buf >> (64 - count));
        buf <<= count;
        avail -= count;
        return bits;
    }
};

int32_t encode(std::span<const uint8_t> src, std::span<uint8_t> dst) {
    if (dst.size() < kMarkBytes || src.size() > kArithMaxBytes) return kArithOverflow;
    dst[0] = 'A';
    dst[1] = 'C';
    dst[2] = 'M';
    dst[3] = 'C';

    Model model;
    BitWriter out{dst.data(), dst.size()};
    uint32_t low = 0;
    uint32_t high = kTop;
    uint32_t pending = 0;

    // One pass per symbol, the end-of-stream symbol last; a single copy of the loop body keeps
    // the registers out of memory.
    const size_t count = src.size();
    for (size_t i = 0; i <= count; ++i) {
        uint32_t b = kEndSymbol;
        uint32_t cumLow = model.total - 1;
        uint32_t cumHigh = model.total;
        if (i < count) {
            b = src[i];
            cumLow = model.cumLow(b);
            cumHigh = cumLow + model.freq[b];
        }
        const uint32_t r = (high - low + 1) / model.total;
        high = low + r * cumHigh - 1;
        low = low + r * cumLow;
        if (const int k = settledBits(low, high); k != 0) {
            out.putWithPending(low >> 30, pending);
            out.put((low >> (31 - k)) & ((1u << (k - 1)) - 1), k - 1);
            low = (low << k) & kTop;
            high = ((high << k) | ((1u << k) - 1)) & kTop;
        }
        if (const int m = underflowBits(low, high); m != 0) {
            pending += static_cast<uint32_t>(m);
            low = (low << m) & (kHalf - 1);
            high = kHalf | ((high << m) & (kHalf - 1)) | ((1u << m) - 1);
        }
        if (out.overflow) return kArithOverflow;
        if (b != kEndSymbol) model.update(b, cumLow);
    }

    // Two more bits single out a value inside [low, high] whatever 0 bits follow: 01 when low is
    // below kQ1 (with the deferred bits between), else 1.
    if (low < kQ1) {
        out.putWithPending(0, pending);
        out.put(1, 1);
    } else {
        out.put(1, 1);
    }
    out.put(0, (8 - out.n) & 7);
    if (out.overflow) return kArithOverflow;
    return static_cast<int32_t>(out.pos);
}

int32_t decode(std::span<const uint8_t> src, std::span<uint8_t> dst) {
    const std::span<const uint8_t> code =
        src.size() > kMarkBytes ? src.subspan(kMarkBytes) : std::span<const uint8_t>{};
    // total = 257 + bytes decoded must stay within the design limit (see kQ1 above).
    const size_t cap = std::min<size_t>(dst.size(), kArithMaxBytes);

    Model model;
    BitReader in{code.data(), code.data() + code.size()};
    uint32_t low = 0;
    uint32_t high = kTop;
    uint32_t value = in.get(31);
    uint8_t* out = dst.data();
    uint8_t* const outEnd = out + cap;

    for (;;) {
        const uint32_t r = (high - low + 1) / model.total;
        const uint32_t offset = value - low;  // value stays in [low, high]
        uint32_t s;
        uint32_t cumLow;
        uint32_t cumHigh;
        // target = offset / r lies in [c0, c1) exactly when r * c0 <= offset < r * c1, which
        // spares the division on the fast path.
        const uint32_t modeLow = model.modeLow;
        const uint32_t modeHigh = modeLow + model.freq[model.mode];
        if (offset >= r * modeLow && offset < r * modeHigh) {
            s = model.mode;
            cumLow = modeLow;
            cumHigh = modeHigh;
        } else {
            const uint32_t target = offset / r;
            if (target >= model.total) break;  // outside the model: corrupt input
            if (target == model.total - 1) {
                s = kEndSymbol;
                cumLow = model.total - 1;
                cumHigh = model.total;
            } else {
                const Model::Found found = model.find(target);
                s = found.symbol;
                cumLow = found.low;
                cumHigh = cumLow + model.freq[s];
            }
        }
        if (s != kEndSymbol) {
            if (out == outEnd) break;
            *out++ = static_cast<uint8_t>(s);
        }

        high = low + r * cumHigh - 1;
        low = low + r * cumLow;
        if (const int k = settledBits(low, high); k != 0) {
            low = (low << k) & kTop;
            high = ((high << k) | ((1u << k) - 1)) & kTop;
            value = ((value << k) | in.get(k)) & kTop;
        }
        if (const int m = underflowBits(low, high); m != 0) {
            low = (low << m) & (kHalf - 1);
            high = kHalf | ((high << m) & (kHalf - 1)) | ((1u << m) - 1);
            value = (value & kHalf) | ((value << m) & (kHalf - 1)) | in.get(m);
        }
        if (s == kEndSymbol) break;
        model.update(s, cumLow);
    }
    return static_cast<int32_t>(out - dst.data());
}

}  // namespace

int32_t ARITHCODE(std::span<const uint8_t> src, std::span<uint8_t> dst, int mode) {
    return mode == kArithEncode ? encode(src, dst) : decode(src, dst);
}

}  // namespace codec
