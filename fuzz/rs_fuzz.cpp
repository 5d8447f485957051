// RSDECODE on a code word damaged as the input says, with erasure lists that may be hostile.
// Checks properties, not only crashes:
// - kRsFailed leaves the block exactly as it arrived;
// - any other count is at most 2t and leaves a code word (its parity is what RSENCODE gives for
//   its data positions), changed in at most count positions; count 0 changes nothing;
// - with a proper erasure list (positions in 0..254, distinct, at most 2t) and 2e + f <= 2t,
//   where e counts the damaged positions outside the list, the code word comes back whole with
//   count 0 when nothing was damaged and e + f otherwise;
// - a list that is not proper, a symbol that is not a byte, or a t outside 1..127 fails.
//
// Input, read in order (bytes past the end read as 0):
//   t selector: 0..253 give t = 1 + s % 127; 254 gives t = 0 and 255 gives t = 128 (no code)
//   flags: bit 0 erasure positions as raw 16-bit signed numbers (else one byte each, mod 255);
//          bit 1 one received symbol outside 0..255; bit 2 a shortened row: the upper half of
//          the data is 0xFF fill, as the frame format sends it
//   e, then f (counts)
//   f erasure positions, e error positions (byte mod 255) each with an XOR value (0 changes
//   nothing), f values written at the erased positions, then the data symbols; data past the
//   end of the input follows a fixed pattern so that short inputs still carry non-zero words.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "codec/rs.h"

namespace {

using codec::kRsFailed;
using codec::kRsMaxT;
using codec::kRsN;
using Block = std::array<int32_t, kRsN>;

// Reads bytes; past the end every read gives 0 and the overrun flag stays set.
class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    uint8_t byte() {
        if (pos_ >= bytes_.size()) {
            overrun_ = true;
            return 0;
        }
        return bytes_[pos_++];
    }
    [[nodiscard]] bool overrun() const { return overrun_; }

private:
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
    bool overrun_ = false;
};

void require(bool property, const char* what) {
    if (!property) {
        std::fprintf(stderr, "rs_fuzz: property violated: %s\n", what);
        std::abort();
    }
}

bool isCodeWord(const codec::RsState& like, const Block& block) {
    codec::RsState rs = like;
    const int nroots = 2 * rs.t;
    std::copy(block.begin() + nroots, block.end(), rs.data.begin());
    codec::RSENCODE(rs);
    return std::equal(block.begin(), block.begin() + nroots, rs.parity.begin());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    ByteReader in({bytes, size});
    const uint8_t selector = in.byte();
    const int t = selector < 254 ? 1 + selector % kRsMaxT : (selector == 254 ? 0 : kRsMaxT + 1);
    const uint8_t flags = in.byte();
    const int errorCount = in.byte();
    const int erasureCount = in.byte();
    const bool rawErasures = (flags & 1) != 0;
    const bool nonByteSymbol = (flags & 2) != 0;
    const bool shortened = (flags & 4) != 0;

    std::vector<int32_t> erasures;
    for (int i = 0; i < erasureCount; ++i) {
        if (rawErasures) {
            const uint8_t lo = in.byte();
            erasures.push_back(static_cast<int16_t>(lo | in.byte() << 8));
        } else {
            erasures.push_back(in.byte() % kRsN);
        }
    }
    std::vector<std::pair<int, uint8_t>> errors;
    for (int i = 0; i < errorCount; ++i) {
        const int position = in.byte() % kRsN;
        errors.emplace_back(position, in.byte());
    }
    std::vector<uint8_t> erasedValues;
    for (int i = 0; i < erasureCount; ++i) {
        erasedValues.push_back(in.byte());
    }

    // Kept across inputs, with the generator rebuilt only when t changes, as a receiver does.
    // It starts with no valid t, so the first input builds the generator.
    static codec::RsState rs = [] {
        codec::RsState s;
        s.t = 0;
        codec::RSGENGF(s);
        return s;
    }();
    if (t < 1 || t > kRsMaxT) {
        rs.t = t;
        Block block;
        for (int32_t& v : block) {
            v = in.byte();
        }
        rs.received = block;
        codec::RSDECODE(rs, erasures);
        require(rs.count == kRsFailed, "t outside 1..127 fails");
        require(rs.received == block, "t outside 1..127 leaves the block");
        return 0;
    }
    if (rs.t != t) {
        rs.t = t;
        codec::RSGENPOLY(rs);
    }
    const int nroots = 2 * t;
    const int k = rs.k();

    for (int i = 0; i < k; ++i) {
        const uint8_t b = in.byte();
        rs.data[i] = in.overrun() ? (i * 151 + t) & 0xFF : b;
        if (shortened && i >= k / 2) {
            rs.data[i] = 0xFF;
        }
    }
    codec::RSENCODE(rs);
    Block word;
    std::copy_n(rs.parity.begin(), nroots, word.begin());
    std::copy_n(rs.data.begin(), k, word.begin() + nroots);

    Block block = word;
    std::array<bool, kRsN> erased{};
    bool properList = erasures.size() <= static_cast<size_t>(nroots);
    for (size_t i = 0; i < erasures.size(); ++i) {
        const int32_t q = erasures[i];
        if (q < 0 || q >= kRsN || erased[q]) {
            properList = false;
            continue;
        }
        erased[q] = true;
        block[q] = erasedValues[i];
    }
    for (const auto& [position, value] : errors) {
        block[position] ^= value;
    }
    if (nonByteSymbol) {
        block[errorCount % kRsN] = 256 + erasureCount;
    }
    int damaged = 0;
    for (int q = 0; q < kRsN; ++q) {
        damaged += !erased[q] && block[q] != word[q];
    }
    const int listed = static_cast<int>(erasures.size());

    rs.received = block;
    codec::RSDECODE(rs, erasures);

    if (rs.count == kRsFailed) {
        require(rs.received == block, "a failed decode leaves the block as it arrived");
    } else {
        require(rs.count >= 0 && rs.count <= nroots, "count is 0..2t or kRsFailed");
        require(isCodeWord(rs, rs.received), "a successful decode gives a code word");
        int changed = 0;
        for (int q = 0; q < kRsN; ++q) {
            changed += rs.received[q] != block[q];
        }
        require(changed <= rs.count, "no more symbols change than the count says");
    }
    if (!properList || nonByteSymbol) {
        require(rs.count == kRsFailed, "a hostile list or a non-byte symbol fails");
    } else if (2 * damaged + listed <= nroots) {
        require(rs.received == word, "within capacity the code word comes back");
        require(rs.count == (block == word ? 0 : damaged + listed), "count within capacity");
    }
    return 0;
}
