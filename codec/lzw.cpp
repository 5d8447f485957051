#include "codec/lzw.h"

#include <array>
#include <memory>

namespace codec {
namespace {

constexpr int kClearCode = 256;
constexpr int kFirstFree = 257;
constexpr int kMaxCodes = 16384;  // codes 0..16383, the widest 14 bits
constexpr int kMinWidth = 9;
constexpr std::array<uint8_t, 4> kTrailer = {0x5A, 0x00, 0x9E, 0x9B};
constexpr int16_t kNone = -1;

// Packs codes least significant bit first.
struct CodeWriter {
    std::vector<uint8_t>& out;
    uint32_t acc = 0;  // pending bits, fewer than 8 between calls
    int pending = 0;

    void put(int code, int width) {
        acc |= static_cast<uint32_t>(code) << pending;
        pending += width;
        while (pending >= 8) {
            out.push_back(static_cast<uint8_t>(acc));
            acc >>= 8;
            pending -= 8;
        }
    }

    void flush() {
        if (pending > 0) out.push_back(static_cast<uint8_t>(acc));
        acc = 0;
        pending = 0;
    }
};

// Encoder dictionary: the strings that extend a code are its first child and that child's
// siblings, each adding one byte.
struct EncoderDictionary {
    std::array<int16_t, kMaxCodes> child;
    std::array<int16_t, kMaxCodes> sibling;
    std::array<uint8_t, kMaxCodes> byte;

    void clearRoots() {
        for (int i = 0; i < 256; ++i) {
            child[i] = kNone;
            sibling[i] = kNone;
            byte[i] = static_cast<uint8_t>(i);
        }
    }
};

// Decoder dictionary. A code's prefix is always a smaller code, so its string is at most
// kMaxCodes - 256 bytes long and the spelling stack never overflows at that size (a 4096-byte
// stack would refuse valid streams of runs longer than about 8 MB).
struct DecoderDictionary {
    std::array<uint16_t, kMaxCodes> prefix;
    std::array<uint8_t, kMaxCodes> byte;
    std::array<uint8_t, kMaxCodes> stack;
};

}  // namespace

void LZW(std::span<const uint8_t> input, std::vector<uint8_t>& output) {
    output.clear();
    if (!input.empty()) {
        output.reserve(input.size() / 2 + 16);
        const auto dict = std::make_unique<EncoderDictionary>();
        dict->clearRoots();
        CodeWriter writer{output};
        int prefix = input[0];
        int width = kMinWidth;
        int next = kFirstFree;
        int limit = 1 << kMinWidth;
        for (size_t i = 1; i < input.size(); ++i) {
            const uint8_t c = input[i];
            int code = dict->child[prefix];
            int last = kNone;
            while (code != kNone && dict->byte[code] != c) {
                last = code;
                code = dict->sibling[code];
            }
            if (code != kNone) {
                prefix = code;
                continue;
            }
            if (last == kNone) {
                dict->child[prefix] = static_cast<int16_t>(next);
            } else {
                dict->sibling[last] = static_cast<int16_t>(next);
            }
            writer.put(prefix, width);
            dict->child[next] = kNone;
            dict->sibling[next] = kNone;
            dict->byte[next] = c;
            ++next;
            prefix = c;
            if (next == limit) {
                if (next == kMaxCodes) {
                    writer.put(kClearCode, width);
                    dict->clearRoots();
                    next = kFirstFree;
                    width = kMinWidth;
                    limit = 1 << kMinWidth;
                } else {
                    ++width;
                    limit *= 2;
                }
            }
        }
        writer.put(prefix, width);
        writer.flush();
    }
    output.insert(output.end(), kTrailer.begin(), kTrailer.end());
}

void UNLZW(std::span<const uint8_t> input, std::vector<uint8_t>& output) {
    output.clear();
    const std::span<const uint8_t> codes =
        input.size() > 3 ? input.first(input.size() - kTrailer.size()) : input;
    const auto dict = std::make_unique<DecoderDictionary>();
    size_t pos = 0;
    uint32_t acc = 0;  // bits gathered, least significant first
    int held = 0;
    int width = kMinWidth;

    // Next code of the current width; false when the input runs out first.
    auto readCode = [&](int& code) {
        while (held < width) {
            if (pos == codes.size()) return false;
            acc |= static_cast<uint32_t>(codes[pos++]) << held;
            held += 8;
        }
        code = static_cast<int>(acc & ((1u << width) - 1));
        acc >>= width;
        held -= width;
        return true;
    };

    // One pass per run of codes between clear codes.
    for (;;) {
        width = kMinWidth;
        int next = kFirstFree;
        int limit = (1 << kMinWidth) - 1;
        int code = 0;
        // A clear code where a run should begin is a further clear; any other code above 255
        // names an entry the emptied dictionary does not hold and ends the decoding.
        do {
            if (!readCode(code)) return;
        } while (code == kClearCode);
        if (code > kClearCode) return;
        output.push_back(static_cast<uint8_t>(code));
        int old = code;
        uint8_t finchar = static_cast<uint8_t>(code);

        for (;;) {
            if (!readCode(code)) return;
            if (code == kClearCode) break;
            // Each code defines one entry; once all 16384 exist only the clear code may follow.
            if (code > next || next == kMaxCodes) return;
            const int incode = code;
            int depth = 0;
            if (code == next) {
                dict->stack[depth++] = finchar;
                code = old;
            }
            while (code >= kFirstFree) {
                dict->stack[depth++] = dict->byte[code];
                code = dict->prefix[code];
            }
            finchar = static_cast<uint8_t>(code);
            output.push_back(finchar);
            while (depth > 0) output.push_back(dict->stack[--depth]);
            dict->prefix[next] = static_cast<uint16_t>(old);
            dict->byte[next] = finchar;
            old = incode;
            ++next;
            if (next == limit && limit != kMaxCodes - 1) {
                ++width;
                limit = 2 * limit + 1;
            }
        }
    }
}

}  // namespace codec
