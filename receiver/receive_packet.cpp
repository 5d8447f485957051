#include "receiver/receive_packet.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "encoder/decode_frame.h"
#include "encoder/params.h"

namespace receiver {
namespace {

using encoder::HeaderFields;

constexpr std::string_view kMessageTag = "msg";
constexpr size_t kMessageTextOffset = 3;
constexpr size_t kMessageTextBytes = 38;  // offsets 3..40
// The label shown: header offsets 19..39, the 22-byte label but its last byte.
constexpr size_t kLabelShownBytes = 21;
constexpr std::array<uint8_t, 2> kCounterNeverNew = {0x01, 0xFE};
constexpr int kLanes = encoder::kInterleaveRows;  // a slot's byte j belongs to lane j
constexpr int kCrcTextBytes = 4;
constexpr int kWaveletD4 = 0;  // the receiver's wavelet codes
constexpr int kWaveletHaar = 1;
constexpr int kWaveletCdf97 = 2;
constexpr int kWaveletAv1 = 3;  // the mended procedure's: AV1 frames
// Packets 1..16: those before the fourth header block of a frame, counting the opening three.
constexpr int kFirstPacketsOfFrame = 16;

// ---- texts ----

std::string bytesText(std::span<const uint8_t> packet, size_t offset, size_t count) {
    if (offset >= packet.size()) return {};
    const size_t n = std::min(count, packet.size() - offset);
    return std::string(packet.begin() + static_cast<ptrdiff_t>(offset),
                       packet.begin() + static_cast<ptrdiff_t>(offset + n));
}

// One leading blank for a value of 0 or more; the minus sign takes its place otherwise.
std::string blankLed(long long value) {
    return value < 0 ? std::to_string(value) : " " + std::to_string(value);
}

// num / den as a percentage with one decimal and "%": round(1000 num / den) tenths, ties to
// even, in exact integer arithmetic. An empty text for den = 0 (a header with N = 0).
std::string percentText(long long num, long long den) {
    if (den == 0) return {};
    if (den < 0) {
        num = -num;
        den = -den;
    }
    const bool negative = num < 0;
    const long long scaled = std::llabs(num) * 1000;
    long long tenths = scaled / den;
    const long long twiceRest = 2 * (scaled % den);
    if (twiceRest > den || (twiceRest == den && tenths % 2 == 1)) ++tenths;
    std::string text = std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "%";
    return negative && tenths != 0 ? "-" + text : text;
}

std::string_view methodName(uint8_t letter, bool mended) {
    switch (letter) {
        case 'A':
            return mended ? "AV1 compression" : "";
        case 'H':
            return "Haar wavelet compression";
        case 'D':
            return "D4 wavelet compression";
        case 'S':
            return "CDF97 subband compression";
        default:
            return {};
    }
}

std::string statusText(const ReceiverState& s) {
    const auto counter = static_cast<int16_t>((*s.counterBytes)[0] | ((*s.counterBytes)[1] << 8));
    const long long pixels = 3LL * s.frameSize * s.frameSize;
    std::string text = "Receiving " + std::to_string(s.length) + " bytes  ";
    text += "\r\nFrame compressed to " + percentText(s.length, pixels);
    text += "\r\nGood frame count = " + blankLed(s.goodFrames) + " /" + blankLed(counter);
    text += "\r\n";
    text += "\r\nFrame size = " + blankLed(s.frameSize) + " x" + blankLed(s.frameSize);
    text += "\r\n";
    text += "\r\n" + std::string(methodName(s.letter, s.procedure == Procedure::Mended));
    return text;
}

// ---- paints ----

void add(PaintList& list, const PaintOp& op) {
    if (list.count < static_cast<int>(list.ops.size())) list.ops[list.count++] = op;
}

// A line from x0 to x1 (both included) on row yCentre, pen rows centred on it, clipped.
void addLine(PaintList& list, int surfaceWidth, int surfaceHeight, int x0, int x1, int yCentre,
             int pen, uint32_t rgb) {
    const int top = std::max(yCentre - pen / 2, 0);
    const int bottom = std::min(yCentre - pen / 2 + pen - 1, surfaceHeight - 1);
    x0 = std::max(x0, 0);
    x1 = std::min(x1, surfaceWidth - 1);
    if (x0 > x1 || top > bottom) return;
    add(list, PaintOp{x0, top, x1 - x0 + 1, bottom - top + 1, rgb, false});
}

void clearBlockMap(ReceiveUpdate& up) {
    add(up.blockMap, PaintOp{0, 0, kBlockMapWidth, kBlockMapHeight, 0, true});
}

void clearProgressBar(ReceiveUpdate& up) {
    add(up.progressBar, PaintOp{0, 0, kProgressWidth, kProgressHeight, kPaintWhite, false});
}

// ---- slots ----

void emptyAllSlots(ReceiverState& s) {
    s.blockSlots = emptySlots();
    s.filled.fill(false);
    s.received = 0;
    s.packet255 = emptySlot();
    s.packet255Filled = false;
}

// Files a unit's contents under its number 1..255 (there is no slot 0). Returns whether the
// received count rose; notes in pendingTry whether a packet's bytes changed what a decode sees.
bool fillSlot(ReceiverState& s, int m, std::span<const uint8_t> contents, bool isHeader) {
    if (m < 1) return false;
    Slot& slot = s.blockSlots[m];
    const bool rose = !s.filled[m];
    if (!isHeader) {
        const bool changed = rose || !std::equal(contents.begin(), contents.end(), slot.begin());
        if (m == kHeaderSlot) {
            std::copy(contents.begin(), contents.end(), s.packet255.begin());
            s.packet255Filled = true;
        }
        s.pendingTry = s.pendingTry || changed;
    }
    std::copy(contents.begin(), contents.end(), slot.begin());
    if (rose) {
        s.filled[m] = true;
        ++s.received;
    }
    return rose;
}

// ---- header ----

bool startsNewFrame(const ReceiverState& s, const std::array<uint8_t, 2>& counter) {
    return (!s.counterBytes || *s.counterBytes != counter) && counter != kCounterNeverNew;
}

std::array<uint8_t, 2> counterBytesOf(const HeaderFields& h) {
    return {static_cast<uint8_t>(h.counter & 0xFF), static_cast<uint8_t>(h.counter >> 8)};
}

bool sameDecodeFields(const ReceiverState& s, const HeaderFields& h) {
    return s.t == h.t && s.k == h.k && s.fill == h.fill && s.frameSize == h.frameSize &&
           s.letter == h.letter && s.redFactor == h.redFactor && s.blueFactor == h.blueFactor &&
           s.step == h.step;
}

bool sameVoteFields(const HeaderFields& a, const HeaderFields& b) {
    return a.t == b.t && a.k == b.k && a.fill == b.fill && a.frameSize == b.frameSize &&
           a.letter == b.letter && a.redFactor == b.redFactor && a.blueFactor == b.blueFactor &&
           a.step == b.step && a.length == b.length;
}

void addVote(std::vector<ReceiverState::HeaderVote>& votes, const HeaderFields& h, int count,
             int seen) {
    for (ReceiverState::HeaderVote& v : votes) {
        if (sameVoteFields(v.fields, h)) {
            v.count += count;
            v.lastSeen = std::max(v.lastSeen, seen);
            return;
        }
    }
    votes.push_back({h, count, seen});
}

// The fields most header blocks of the frame agree on; none before an encoder's header.
const HeaderFields* votedFields(const ReceiverState& s) {
    const ReceiverState::HeaderVote* best = nullptr;
    for (const ReceiverState::HeaderVote& v : s.headerVotes) {
        if (best == nullptr || v.count > best->count ||
            (v.count == best->count && v.lastSeen > best->lastSeen)) {
            best = &v;
        }
    }
    return best != nullptr ? &best->fields : nullptr;
}

// What a decode reads from the header: the latest block's for the window's texts, the voted
// ones while decoding.
struct DecodeFields {
    int t, k, fill, frameSize, waveletCode, redFactor, blueFactor, step, length;
};

DecodeFields decodeFieldsOf(const ReceiverState& s) {
    return {s.t,         s.k,          s.fill, s.frameSize, s.waveletCode,
            s.redFactor, s.blueFactor, s.step, s.length};
}

void setDecodeFields(ReceiverState& s, const DecodeFields& d) {
    s.t = d.t;
    s.k = d.k;
    s.fill = d.fill;
    s.frameSize = d.frameSize;
    s.waveletCode = d.waveletCode;
    s.redFactor = d.redFactor;
    s.blueFactor = d.blueFactor;
    s.step = d.step;
    s.length = d.length;
}

// A decode needs an encoder's header in the frame (or, for a frame whose headers were all lost
// so far, the latest one before it).
bool canDecode(const ReceiverState& s) { return s.headerValid || !s.headerVotes.empty(); }

void startFrameBookkeeping(ReceiverState& s) {
    s.headerVotes.clear();
    s.headersSeen = 0;
    s.frameHeaders = 0;
    s.lastPacket = 0;
    s.unnamed = false;
}

void applyHeader(ReceiverState& s, const HeaderFields& received, ReceiveUpdate& up) {
    const std::array<uint8_t, 2> counter = counterBytesOf(received);
    const bool newFrame = startsNewFrame(s, counter);
    const bool mended = s.procedure == Procedure::Mended;
    if (mended) {
        if (newFrame) startFrameBookkeeping(s);
        ++s.headersSeen;
        ++s.frameHeaders;
        if (isEncoderHeader(received)) addVote(s.headerVotes, received, 1, s.headersSeen);
    }
    const HeaderFields& h = received;
    if (!newFrame && !sameDecodeFields(s, h)) s.pendingTry = true;

    s.t = h.t;
    s.k = h.k;
    s.counterBytes = counter;
    s.frameSize = h.frameSize;
    s.letter = h.letter;
    switch (h.letter) {
        case 'H':
            s.waveletCode = kWaveletHaar;
            break;
        case 'D':
            s.waveletCode = kWaveletD4;
            break;
        case 'S':
            s.waveletCode = kWaveletCdf97;
            break;
        case 'A':
            // Only a receiver that knows AV1 frames: to the literal steps it is a letter like
            // any unknown one, and the frame's CRC will not match.
            if (mended) s.waveletCode = kWaveletAv1;
            break;
        default:
            break;  // the previous code stays
    }
    s.redFactor = h.redFactor;
    s.blueFactor = h.blueFactor;
    s.step = h.step;
    s.length = h.length;
    s.fill = h.fill;
    s.headerValid = isEncoderHeader(h);

    up.statusLabel = statusText(s);
    up.labelLine = received.label.substr(0, kLabelShownBytes);
    s.threshold = s.k - s.fill + kThresholdExtra;
    if (newFrame) {
        s.newFrame = 1;
        s.done = 0;
    }
}

// ---- decode ----

encoder::Wavelet waveletOfCode(int code) {
    switch (code) {
        case kWaveletHaar:
            return encoder::Wavelet::Haar;
        case kWaveletCdf97:
            return encoder::Wavelet::Cdf97;
        case kWaveletAv1:
            return encoder::Wavelet::Av1;
        default:
            return encoder::Wavelet::D4;
    }
}

void setUpRs(ReceiverState& s) {
    if (s.rsT == s.t) return;
    s.rs.t = s.t;
    s.rsT = s.t;
    codec::RSGENGF(s.rs);
    codec::RSGENPOLY(s.rs);
}

// Positions 1..254 of lane j's codeword: from the slots below end, the fill byte from end up.
void loadLane(ReceiverState& s, int j, int end) {
    const int sent = std::clamp(end, 1, codec::kRsN);
    for (int q = 1; q < sent; ++q) s.rs.received[q] = s.blockSlots[q][j];
    std::fill(s.rs.received.begin() + sent, s.rs.received.end(), encoder::kFillByte);
}

// The 39 corrected codewords' data bytes (lanes 1..39 of the slots; lane 0, byte 0 of every
// packet, carries no codeword) as the literal steps rebuild them: position 0 from the slot-255
// bytes (a header's), positions 1..254 - f from slots 1..254 - f, the rest 0xFF, and as
// erasures the empty slots 1..255 - f but the last.
std::vector<uint8_t> literalPayload(ReceiverState& s) {
    const int lastSent = std::min(codec::kRsN - 1 - s.fill, codec::kRsN - 1);  // 254 - f
    const int firstKept = std::max(codec::kRsN - s.k, 0);                      // 2t
    const int lastKept = std::min(lastSent, codec::kRsN - 1);
    std::vector<int32_t> erasures;
    for (int q = 1; q <= codec::kRsN - s.fill; ++q) {
        if (!s.filled[q]) erasures.push_back(q);
    }
    if (!erasures.empty()) erasures.pop_back();

    std::vector<uint8_t> payload;
    codec::RsState& rs = s.rs;
    for (int j = 1; j < kLanes; ++j) {
        rs.received[0] = s.blockSlots[kHeaderSlot][j - 1];
        loadLane(s, j, lastSent + 1);
        codec::RSDECODE(rs, erasures);
        for (int q = firstKept; q <= lastKept; ++q) {
            payload.push_back(static_cast<uint8_t>(rs.received[q]));
        }
    }
    return payload;
}

// The same with every missing symbol erased and nothing else: positions 1..n' - 1 from their
// packets, position 0 from packet n' (data byte d holds codeword d's, d = 1..38), erased where
// that packet or the symbol is missing. Only called under an encoder's header (n' = 255 - f).
std::vector<uint8_t> mendedPayload(ReceiverState& s) {
    const int n = codec::kRsN - s.fill;
    const Slot* last = nullptr;
    if (n == kHeaderSlot) {
        if (s.packet255Filled) last = &s.packet255;
    } else if (s.filled[n]) {
        last = &s.blockSlots[n];
    }
    std::vector<int32_t> withZero{0};
    for (int q = 1; q < n; ++q) {
        if (!s.filled[q]) withZero.push_back(q);
    }
    const std::span<const int32_t> missing = std::span<const int32_t>(withZero).subspan(1);

    const int r = s.k - s.fill;
    std::vector<uint8_t> payload;
    payload.reserve(static_cast<size_t>(encoder::kCodewords) * r);
    codec::RsState& rs = s.rs;
    for (int j = 1; j < kLanes; ++j) {
        const bool zeroKnown = j >= 2 && last != nullptr;
        rs.received[0] = zeroKnown ? (*last)[j - 1] : 0;
        loadLane(s, j, n);
        codec::RSDECODE(rs, zeroKnown ? missing : std::span<const int32_t>(withZero));
        if (rs.count == codec::kRsFailed && !zeroKnown) {
            // An erased symbol costs one parity symbol and a wrong guess two, so the erasure is
            // the better bet; but the header byte the literal steps put at position 0 is right
            // now and then, and with it they decode a codeword one erasure past this one.
            // Taking their guess after a failure keeps every frame they decode decodable here.
            rs.received[0] = s.blockSlots[kHeaderSlot][j - 1];
            codec::RSDECODE(rs, missing);
        }
        const int parity = 2 * s.t;
        for (int i = 0; i < r; ++i)
            payload.push_back(static_cast<uint8_t>(rs.received[parity + i]));
    }
    return payload;
}

void goodFrameClear(ReceiverState& s, ReceiveUpdate& up) {
    emptyAllSlots(s);
    clearProgressBar(up);
    clearBlockMap(up);
}

DecodeOutcome decodeWithCurrentFields(ReceiverState& s, ReceiveUpdate& up);

// Mended: with the fields most of the frame's header blocks carry, then the latest block's
// fields again for the window.
DecodeOutcome decodeFrame(ReceiverState& s, ReceiveUpdate& up) {
    const HeaderFields* voted = s.procedure == Procedure::Mended ? votedFields(s) : nullptr;
    if (voted == nullptr) return decodeWithCurrentFields(s, up);
    const DecodeFields latest = decodeFieldsOf(s);
    const std::optional<encoder::Wavelet> wavelet = encoder::waveletFromLetter(voted->letter);
    const int code = wavelet == encoder::Wavelet::Haar    ? kWaveletHaar
                     : wavelet == encoder::Wavelet::Cdf97 ? kWaveletCdf97
                     : wavelet == encoder::Wavelet::Av1   ? kWaveletAv1
                                                          : kWaveletD4;
    setDecodeFields(s, {voted->t, voted->k, voted->fill, voted->frameSize, code, voted->redFactor,
                        voted->blueFactor, voted->step, voted->length});
    const DecodeOutcome outcome = decodeWithCurrentFields(s, up);
    setDecodeFields(s, latest);
    return outcome;
}

DecodeOutcome decodeWithCurrentFields(ReceiverState& s, ReceiveUpdate& up) {
    const bool mended = s.procedure == Procedure::Mended;
    s.pendingTry = false;
    setUpRs(s);
    const std::vector<uint8_t> payload = mended ? mendedPayload(s) : literalPayload(s);

    const auto marker = std::search(payload.begin(), payload.end(), encoder::kEndMarker.begin(),
                                    encoder::kEndMarker.end(),
                                    [](uint8_t b, char c) { return b == static_cast<uint8_t>(c); });
    if (marker == payload.end()) {
        up.caption = std::string(kNoEndMarkerCaption);
    } else if (!mended) {
        s.done = 1;
    }
    const std::span<const uint8_t> text(payload.data(),
                                        static_cast<size_t>(marker - payload.begin()));
    if (text.size() < kCrcTextBytes) return DecodeOutcome::Failed;
    const std::span<const uint8_t> coded = text.subspan(kCrcTextBytes);
    // An AV1 frame's CRC starts from its own value; the literal steps know only the wavelets'.
    const bool av1 = mended && s.waveletCode == kWaveletAv1;
    const std::string crc =
        encoder::crcText(coded, av1 ? encoder::kAv1CrcInitial : encoder::kCrcInitial);
    if (!std::equal(crc.begin(), crc.end(), text.begin(),
                    [](char c, uint8_t b) { return static_cast<uint8_t>(c) == b; })) {
        return DecodeOutcome::Failed;
    }

    const encoder::PictureParams params{s.frameSize, waveletOfCode(s.waveletCode), s.redFactor,
                                        s.blueFactor, s.step};
    // The planes take exactly M coefficient bytes, and bytes the stream does not reach read as
    // 0, so expanding M bytes (as the sender's preview does) gives the same picture as expanding
    // into the receiver's 393217-byte buffer and taking d + 1 bytes, for every stream; it also
    // bounds the work by the frame's size.
    std::optional<encoder::PictureDecode> decoded;
    if (encoder::isValid(params)) decoded = encoder::decodePayload(coded, params);
    // An AV1 stream that is not the picture its header promised (another size, chroma or
    // depth, or no AV1 at all) is a failed frame: nothing shown, counted or recorded.
    if (av1 && (!decoded || decoded->error != encoder::DecodeError::None)) {
        up.caption = std::string(kAv1RefusedCaption);
        return DecodeOutcome::Failed;
    }

    ++s.goodFrames;
    goodFrameClear(s, up);
    if (mended) s.done = 1;
    if (decoded && decoded->error == encoder::DecodeError::None) {
        ReceivedPicture picture;
        picture.picture = std::move(decoded->picture);
        picture.frameSize = s.frameSize;
        picture.length = s.length;
        picture.caption = std::to_string(s.frameSize) + " " + std::to_string(s.length);
        up.picture = std::move(picture);
    }
    up.record = true;
    return DecodeOutcome::Good;
}

// A frame that has ended is tried once more if it could be and something changed since the
// last try: the threshold alone gives up at 2t - 3 missing packets, the code at 2t.
void tryEndedFrame(ReceiverState& s, ReceiveUpdate& up) {
    if (canDecode(s) && s.done == 0 && s.pendingTry) {
        up.decode = decodeFrame(s, up);
    }
}

ReceiverState::SetAsideFrame setAsideOf(const ReceiverState& s) {
    return {s.blockSlots,      s.filled,       s.received,  s.packet255,
            s.packet255Filled, s.counterBytes, s.done,      s.headerVotes,
            s.headersSeen,     s.frameHeaders, s.lastPacket};
}

// The current frame was begun by a damaged unit: the frame set aside goes on, with every
// packet and header block received since.
void takeBack(ReceiverState& s) {
    ReceiverState::SetAsideFrame old = std::move(*s.setAside);
    s.setAside.reset();
    s.unnamed = false;
    s.counterBytes = old.counterBytes;
    if (s.done == 1) return;  // decoded since: nothing of it is left to take back
    for (int m = 1; m <= kSlotCount; ++m) {
        if (!s.filled[m]) continue;
        old.blockSlots[m] = s.blockSlots[m];
        if (!old.filled[m]) {
            old.filled[m] = true;
            ++old.received;
        }
    }
    if (s.packet255Filled) {
        old.packet255 = s.packet255;
        old.packet255Filled = true;
    }
    for (const ReceiverState::HeaderVote& v : s.headerVotes) {
        addVote(old.headerVotes, v.fields, v.count, old.headersSeen + v.lastSeen);
    }
    s.blockSlots = old.blockSlots;
    s.filled = old.filled;
    s.received = old.received;
    s.packet255 = old.packet255;
    s.packet255Filled = old.packet255Filled;
    s.done = old.done;
    s.headerVotes = std::move(old.headerVotes);
    s.headersSeen += old.headersSeen;
    s.frameHeaders += old.frameHeaders;
    // The latest packet is the latest since: the set-aside frame's may be the hit number that
    // looked like a new frame.
    if (s.lastPacket == 0) s.lastPacket = old.lastPacket;
    s.pendingTry = s.done == 0;
}

// A frame has ended. When it was begun by a single header block or by a packet number going
// back, and fails, that unit may have been damaged: the frame before, if it is still undecoded,
// is taken back with the packets since and tried again.
void tryEndedFrameMending(ReceiverState& s, ReceiveUpdate& up) {
    tryEndedFrame(s, up);
    if (up.decode != DecodeOutcome::Good && s.done == 0 && s.setAside && s.setAside->done == 0 &&
        (s.unnamed || s.frameHeaders <= 1)) {
        takeBack(s);
        tryEndedFrame(s, up);
    }
}

// A packet number below the frame's latest one: packets go out in rising order, so a new
// frame has begun whose header blocks were all lost. The frame so far is tried and set aside.
void beginUnnamedFrame(ReceiverState& s, ReceiveUpdate& up) {
    tryEndedFrameMending(s, up);
    s.setAside = setAsideOf(s);
    emptyAllSlots(s);
    s.pendingTry = false;
    s.done = 0;
    startFrameBookkeeping(s);
    s.unnamed = true;
    clearProgressBar(up);
    clearBlockMap(up);
}

// Before a unit is filed: what it says about where one frame ends and the next begins, beyond
// a header's new counter.
void checkFrameBoundary(ReceiverState& s, int m, const std::optional<HeaderFields>& header,
                        ReceiveUpdate& up) {
    if (header) {
        const std::array<uint8_t, 2> counter = counterBytesOf(*header);
        if (s.setAside && s.setAside->counterBytes == counter &&
            (s.unnamed || s.frameHeaders <= 1) && s.setAside->counterBytes != std::nullopt) {
            takeBack(s);
        } else if (s.unnamed && startsNewFrame(s, counter)) {
            s.counterBytes = counter;  // the header of the frame already begun: no new frame
            s.unnamed = false;
        } else if (s.frameHeaders == 1 && s.done == 0 && s.setAside && s.setAside->done == 1 &&
                   s.lastPacket > 0 && s.lastPacket <= kFirstPacketsOfFrame &&
                   startsNewFrame(s, counter)) {
            // The frame was begun, after a decoded one, by a single header whose counter no
            // other header carried, and holds only early packets: that was this frame's
            // header, hit in its counter.
            s.counterBytes = counter;
        }
        return;
    }
    if (m < 1 || m >= kHeaderSlot) return;
    // A hit header block leaves the fields invalid, but the numbers of the packets since the
    // last good one still tell the next frame's first packets from this frame's last.
    if (s.headerValid ? m > s.codewordLength() : s.lastPacket == 0) return;
    // The same number again is a repeat, not a new frame. A new frame's first packet to arrive
    // is an early one: headers follow packets 1, 8 and 15, so a higher number going back is
    // far more likely a hit number byte, and taking it for a frame end costs the frame's tail.
    if (m < s.lastPacket && m <= kFirstPacketsOfFrame) beginUnnamedFrame(s, up);
    s.lastPacket = m;
}

bool isMessageBlock(std::span<const uint8_t> packet) {
    return std::equal(kMessageTag.begin(), kMessageTag.end(), packet.begin(),
                      [](char c, uint8_t b) { return static_cast<uint8_t>(c) == b; });
}

std::optional<HeaderFields> headerOf(std::span<const uint8_t> packet) {
    if (packet.size() >= encoder::kUnitBytes) return encoder::parseHeaderBlock(packet);
    encoder::Unit unit;  // a 40-byte packet: the label's unshown last byte is missing
    unit.fill(' ');
    std::copy(packet.begin(), packet.end(), unit.begin());
    return encoder::parseHeaderBlock(unit);
}

}  // namespace

bool isEncoderHeader(const HeaderFields& h) {
    const std::optional<encoder::PictureParams> params = h.pictureParams();
    return params && encoder::isValid(*params) && h.t >= 2 && h.t <= codec::kRsMaxT &&
           h.k == codec::kRsN - 2 * h.t && h.fill < h.k;
}

ReceiveUpdate RECEIVEPACKET(ReceiverState& s, std::span<const uint8_t> packet) {
    ReceiveUpdate up;
    if (packet.size() < kSlotBytes) return up;
    const bool mended = s.procedure == Procedure::Mended;

    int m = 0;  // the block map's tick column; 0 for a message block
    bool rose = false;
    if (isMessageBlock(packet)) {
        up.messageLabel = bytesText(packet, kMessageTextOffset, kMessageTextBytes);
    } else {
        m = packet[0];
        std::optional<HeaderFields> header;
        if (m == kHeaderSlot) header = headerOf(packet);
        if (mended) checkFrameBoundary(s, m, header, up);
        // The next frame's header ends this one: try it with its own parameters first.
        if (mended && header && startsNewFrame(s, counterBytesOf(*header))) {
            tryEndedFrameMending(s, up);
            s.setAside = setAsideOf(s);
        }
        rose = fillSlot(s, m, packet.last(kSlotBytes), header.has_value());
        if (header) applyHeader(s, *header, up);
    }

    // The count of this unit's step: the labels show it even when late blocks are dropped.
    const int received = s.received;
    const int n = s.codewordLength();
    addLine(up.blockMap, kBlockMapWidth, kBlockMapHeight, 0, kBlockMapWidth - 1, 4, 3, kPaintWhite);
    add(up.blockMap, PaintOp{m, 1, 1, 7, kPaintBlue, false});
    addLine(up.blockMap, kBlockMapWidth, kBlockMapHeight, n, n + 1, 4, 8, kPaintGrey);

    addLine(up.progressBar, kProgressWidth, kProgressHeight, -1, received * 256 / 255 - 1, 2, 4,
            kPaintBlue);
    addLine(up.progressBar, kProgressWidth, kProgressHeight, s.threshold, s.threshold + 1, 2, 8,
            kPaintRed);

    // A decoded frame's late blocks are dropped whenever they would reach the threshold again.
    if (s.threshold <= received && s.done == 1) emptyAllSlots(s);

    if (n >= 1) {
        up.blockCountLabel = std::to_string(received) + " blocks out of " + std::to_string(n);
        up.percentageLabel = percentText(received, n);
        if (mended) {
            if (s.newFrame != 1 && canDecode(s) && s.done == 0 && received >= s.threshold &&
                (s.pendingTry || rose)) {
                up.decode = decodeFrame(s, up);
            }
        } else if (received == s.threshold && s.done == 0) {
            up.decode = decodeFrame(s, up);
            // A failed decode ends the unit's processing: not even a new frame's reset follows.
            if (up.decode == DecodeOutcome::Failed) return up;
        }
    } else if (!mended) {
        return up;
    }

    if (s.newFrame == 1) {
        emptyAllSlots(s);
        s.pendingTry = false;
        clearProgressBar(up);
        clearBlockMap(up);
    }
    s.newFrame = -1;
    return up;
}

ReceiveUpdate finishFrame(ReceiverState& s) {
    ReceiveUpdate up;
    if (s.procedure == Procedure::Mended) tryEndedFrameMending(s, up);
    return up;
}

}  // namespace receiver
