#include "encoder/frame_format.h"

#include <algorithm>
#include <cstdio>

#include "codec/crc16.h"
#include "codec/rs.h"
#include "codec/wavelet.h"

namespace encoder {
namespace {

constexpr std::string_view kHeaderTag = "header";
constexpr std::string_view kMessageTag = "msg";
constexpr uint8_t kHeaderStart = 0xFF;
constexpr uint8_t kFrameSize256 = 255;  // the header's byte for 256, which does not fit
constexpr int kHeaderRepeat = 7;        // a header block after every 7th packet
constexpr int kMessageRepeat = 9;       // a message block after every 9th packet

bool startsWith(std::span<const uint8_t> bytes, size_t offset, std::string_view tag) {
    if (bytes.size() < offset + tag.size()) return false;
    return std::equal(tag.begin(), tag.end(), bytes.begin() + static_cast<ptrdiff_t>(offset),
                      [](char c, uint8_t b) { return static_cast<uint8_t>(c) == b; });
}

void putText(Unit& unit, size_t offset, std::string_view text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        unit[offset + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : uint8_t{' '};
    }
}

std::string numberWithBlank(long value) { return " " + std::to_string(value); }

void setUpRs(codec::RsState& rs, int t) {
    rs.t = t;
    codec::RSGENGF(rs);
    codec::RSGENPOLY(rs);
}

}  // namespace

bool passesSizeCheck(int L, int t) {
    // L / 39 is never a half, so the tie rule does not decide here; round it all the same.
    if (codec::roundToInt(static_cast<long double>(L) / kCodewords + 2 * t) > codec::kRsN) {
        return false;
    }
    const int payload = L + static_cast<int>(kEndMarker.size());
    const int r = payload / kCodewords + 1;
    return r + 2 * t <= codec::kRsN;
}

std::array<std::string, 5> sizeCheckLines(int L, int t) {
    return {"   File length of" + numberWithBlank(L) + " bytes",
            "   plus" + numberWithBlank(78L * t) + " parity bytes",
            "   exceeds maximum of " + numberWithBlank(kSizeLimitBytes),
            "      -> Increase threshold", "         or reduce parity"};
}

uint16_t crcInitialFor(uint8_t letter) {
    return waveletFromLetter(letter) == Wavelet::Av1 ? kAv1CrcInitial : kCrcInitial;
}

std::string crcText(std::span<const uint8_t> coded, uint16_t initial) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(codec::CRC16(coded, initial)));
    return text;
}

std::vector<uint8_t> framePayload(std::span<const uint8_t> coded, uint16_t initial) {
    const std::string crc = crcText(coded, initial);
    std::vector<uint8_t> payload(crc.begin(), crc.end());
    payload.insert(payload.end(), coded.begin(), coded.end());
    payload.insert(payload.end(), kEndMarker.begin(), kEndMarker.end());
    // A payload that already fills its rows still gets a whole row of fill: the fill is how a
    // reader of the last row knows it is padding.
    const size_t fill = kCodewords - payload.size() % kCodewords;
    payload.insert(payload.end(), fill, kFillByte);
    return payload;
}

std::vector<uint8_t> encodeCodewords(std::span<const uint8_t> payload, int t) {
    const int r = static_cast<int>(payload.size() / kCodewords);
    const size_t parityBytes = 2 * static_cast<size_t>(t);
    const size_t n = parityBytes + static_cast<size_t>(r);
    // The tables depend on t alone, so one set-up serves all 39 rows; the rows share their fill,
    // so the encoder feeds it once.
    codec::RsState rs;
    setUpRs(rs, t);
    std::vector<uint8_t> parity(kCodewords * parityBytes);
    codec::rsEncodeFilledRows(rs, payload.first(static_cast<size_t>(kCodewords) * r), kCodewords,
                              kFillByte, parity);
    std::vector<uint8_t> codewords(kCodewords * n);
    for (size_t j = 0; j < kCodewords; ++j) {
        uint8_t* codeword = codewords.data() + j * n;
        std::copy_n(parity.data() + j * parityBytes, parityBytes, codeword);
        std::copy_n(payload.data() + j * r, r, codeword + parityBytes);
    }
    return codewords;
}

std::vector<uint8_t> interleave(std::span<const uint8_t> codewords, int n) {
    const size_t present = static_cast<size_t>(kCodewords) * n;
    std::vector<uint8_t> stream(static_cast<size_t>(kInterleaveRows) * n, kAbsentByte);
    stream[0] = 0x00;
    // p - 1 = 40 i + j for column i of the matrix and row j; the last one falls off the end.
    for (size_t i = 0, p = 1; i < static_cast<size_t>(n); ++i) {
        for (size_t j = 0; j < kInterleaveRows && p < stream.size(); ++j, ++p) {
            const size_t q = j * n + i + 1;
            if (q < present) stream[p] = codewords[q];
        }
    }
    return stream;
}

std::vector<uint8_t> deinterleave(std::span<const uint8_t> stream, int n) {
    std::vector<uint8_t> codewords(static_cast<size_t>(kCodewords) * n, 0);
    for (size_t q = 1; q < codewords.size(); ++q) {
        const size_t i = (q - 1) % n;
        const size_t j = (q - 1) / n;
        codewords[q] = stream[i * kInterleaveRows + j + 1];
    }
    return codewords;
}

std::optional<PictureParams> HeaderFields::pictureParams() const {
    const std::optional<Wavelet> wavelet = waveletFromLetter(letter);
    if (!wavelet) return std::nullopt;
    return PictureParams{frameSize, *wavelet, redFactor, blueFactor, step};
}

Unit makeHeaderBlock(const HeaderFields& fields) {
    Unit unit{};
    unit[0] = kHeaderStart;
    putText(unit, 1, kHeaderTag, kHeaderTag.size());
    unit[7] = static_cast<uint8_t>(fields.t);
    unit[8] = static_cast<uint8_t>(fields.k);
    unit[9] = static_cast<uint8_t>(fields.counter & 0xFF);
    unit[10] = static_cast<uint8_t>(fields.counter >> 8);
    unit[11] = fields.frameSize == 256 ? kFrameSize256 : static_cast<uint8_t>(fields.frameSize);
    unit[12] = fields.letter;
    unit[13] = static_cast<uint8_t>(fields.redFactor);
    unit[14] = static_cast<uint8_t>(fields.blueFactor);
    unit[15] = static_cast<uint8_t>(fields.step);
    unit[16] = static_cast<uint8_t>(fields.length / 256 + 1);
    unit[17] = static_cast<uint8_t>(fields.length % 256);
    unit[18] = static_cast<uint8_t>(fields.fill);
    putText(unit, 19, fields.label, kLabelBytes);
    return unit;
}

std::optional<HeaderFields> parseHeaderBlock(std::span<const uint8_t> unit) {
    if (unit.size() < kUnitBytes || unit[0] != kHeaderStart || !startsWith(unit, 1, kHeaderTag)) {
        return std::nullopt;
    }
    HeaderFields fields;
    fields.t = unit[7];
    fields.k = unit[8];
    fields.counter = static_cast<uint16_t>(unit[9] | (unit[10] << 8));
    fields.frameSize = unit[11] == kFrameSize256 ? 256 : unit[11];
    fields.letter = unit[12];
    fields.redFactor = unit[13];
    fields.blueFactor = unit[14];
    fields.step = unit[15];
    fields.length = (unit[16] - 1) * 256 + unit[17];
    fields.fill = unit[18];
    fields.label.assign(unit.begin() + 19, unit.begin() + kUnitBytes);
    return fields;
}

Unit makeMessageBlock(std::string_view message) {
    Unit unit{};
    putText(unit, 0, kMessageTag, kMessageTag.size());
    putText(unit, kMessageTag.size(), message, kMessageTextBytes);
    return unit;
}

std::string headerLabel(std::string_view callsign, std::string_view sourceName) {
    std::string label(callsign);
    label += sourceName;
    label.resize(kLabelBytes, ' ');
    return label;
}

size_t frameStringLength(int n, bool message, bool streamless) {
    const size_t packets = static_cast<size_t>(n);
    const size_t headers = (packets + kHeaderRepeat - 1) / kHeaderRepeat;
    const size_t messages = message ? (packets + kMessageRepeat - 1) / kMessageRepeat : 0;
    const size_t perSlot = streamless ? 2 : 1;
    return kUnitBytes * (3 + perSlot * packets + headers + messages);
}

FrameBuild buildFrame(const FrameInput& input) {
    FrameBuild out;
    const int t = input.syndromes / 2;
    if (t < 1 || t > codec::kRsMaxT) {
        out.error = FrameBuildError::BadSyndromes;
        return out;
    }
    FrameLayout& layout = out.layout;
    layout.t = t;
    layout.k = codec::kRsN - 2 * t;
    layout.L = static_cast<int>(input.coded.size()) + 4;
    if (!passesSizeCheck(layout.L, t)) {
        out.error = FrameBuildError::TooLarge;
        return out;
    }
    const std::vector<uint8_t> payload =
        framePayload(input.coded, crcInitialFor(waveletLetter(input.params.wavelet)));
    layout.r = static_cast<int>(payload.size() / kCodewords);
    layout.f = layout.k - layout.r;
    layout.n = 2 * t + layout.r;

    const std::vector<uint8_t> stream = interleave(encodeCodewords(payload, t), layout.n);

    HeaderFields fields;
    fields.t = t;
    fields.k = layout.k;
    fields.counter = input.counter;
    fields.frameSize = input.params.frameSize;
    fields.letter = waveletLetter(input.params.wavelet);
    fields.redFactor = input.params.redFactor;
    fields.blueFactor = input.params.blueFactor;
    fields.step = input.params.step;
    fields.length = layout.L;
    fields.fill = layout.f;
    fields.label = input.label;
    const Unit header = makeHeaderBlock(fields);
    const Unit message = makeMessageBlock(input.message);
    const bool sendMessage = !input.message.empty();
    // A counter of 0xFFFF replaces every packet by a header and a message block, the message
    // block even when no message is set; receivers see a frame without stream bytes.
    const bool streamless = input.counter == kStreamlessCounter;

    std::vector<uint8_t>& frame = out.frame;
    frame.reserve(frameStringLength(layout.n, sendMessage, streamless));
    const auto append = [&frame](std::span<const uint8_t> unit) {
        frame.insert(frame.end(), unit.begin(), unit.end());
    };
    for (int i = 0; i < 3; ++i) append(header);
    for (int m = 0; m < layout.n; ++m) {
        if (streamless) {
            append(header);
            append(message);
        } else {
            frame.push_back(static_cast<uint8_t>(m + 1));
            append(std::span(stream).subspan(static_cast<size_t>(m) * kInterleaveRows,
                                             kInterleaveRows));
        }
        if (m % kHeaderRepeat == 0) append(header);
        if (sendMessage && m % kMessageRepeat == 0) append(message);
    }
    return out;
}

FrameContents readFrame(std::span<const uint8_t> frame) {
    FrameContents out;
    if (frame.empty() || frame.size() % kUnitBytes != 0) {
        out.error = FrameReadError::BadLength;
        return out;
    }
    std::optional<HeaderFields> header;
    bool haveMessage = false;
    std::array<std::optional<std::span<const uint8_t>>, 256> packets{};
    for (size_t offset = 0; offset < frame.size(); offset += kUnitBytes) {
        const std::span<const uint8_t> unit = frame.subspan(offset, kUnitBytes);
        if (auto fields = parseHeaderBlock(unit)) {
            if (!header) header = std::move(fields);
        } else if (startsWith(unit, 0, kMessageTag)) {
            if (!haveMessage) {
                out.message.assign(unit.begin() + 3, unit.end());
                haveMessage = true;
            }
        } else if (!packets[unit[0]]) {
            packets[unit[0]] = unit.subspan(1);
        }
    }
    if (!header) {
        out.error = FrameReadError::NoHeader;
        return out;
    }
    out.header = *header;
    const HeaderFields& h = out.header;
    const int r = h.r();
    const int n = h.codewordLength();
    if (h.t < 1 || h.t > codec::kRsMaxT || h.k != codec::kRsN - 2 * h.t || r < 1 ||
        n > codec::kRsN || h.length < 4 || h.length > kCodewords * r) {
        out.error = FrameReadError::BadHeader;
        return out;
    }

    std::vector<uint8_t> stream;
    stream.reserve(static_cast<size_t>(kInterleaveRows) * n);
    for (int m = 1; m <= n; ++m) {
        if (!packets[m]) {
            out.error = FrameReadError::MissingPacket;
            return out;
        }
        stream.insert(stream.end(), packets[m]->begin(), packets[m]->end());
    }
    const std::vector<uint8_t> codewords = deinterleave(stream, n);

    codec::RsState rs;
    setUpRs(rs, h.t);
    const int parity = 2 * h.t;
    out.payload.reserve(static_cast<size_t>(kCodewords) * r);
    for (int j = 0; j < kCodewords; ++j) {
        for (int q = 0; q < codec::kRsN; ++q) {
            rs.received[q] = q < n ? codewords[static_cast<size_t>(j) * n + q] : kFillByte;
        }
        // The first parity byte of codeword 0 is never sent; it comes back as an erasure.
        const std::array<int32_t, 1> unsent{0};
        const bool first = j == 0;
        codec::RSDECODE(rs, first ? std::span<const int32_t>(unsent) : std::span<const int32_t>());
        out.rsCount[j] = rs.count;
        if (rs.count == codec::kRsFailed || rs.count > (first ? 1 : 0)) {
            out.error = FrameReadError::NotCodeword;
            out.badCodeword = j;
            return out;
        }
        for (int i = 0; i < r; ++i)
            out.payload.push_back(static_cast<uint8_t>(rs.received[parity + i]));
    }

    const auto begin = out.payload.begin();
    out.crcText.assign(begin, begin + 4);
    out.coded.assign(begin + 4, begin + h.length);
    if (crcText(out.coded, crcInitialFor(h.letter)) != out.crcText) {
        out.error = FrameReadError::CrcMismatch;
        return out;
    }
    if (!startsWith(out.payload, static_cast<size_t>(h.length), kEndMarker)) {
        out.error = FrameReadError::NoEndMarker;
    }
    return out;
}

}  // namespace encoder
