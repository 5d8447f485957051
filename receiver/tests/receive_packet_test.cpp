// RECEIVEPACKET and finishFrame over frame strings from ENCODEFRAME and buildFrame: whole,
// thinned and damaged (hostile units are fuzz/receive_fuzz.cpp's). Procedure::Literal runs the
// first-written steps beside the shipped ones, so each mended fault is shown failing there and
// passing here.

#include "receiver/receive_packet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "encoder/decode_frame.h"
#include "encoder/encode_frame.h"
#include "encoder/test_pictures.h"
#include "encoder/tests/seeded_bytes.h"

namespace receiver {
namespace {

using namespace encoder;
using testing_support::seededBytes;
using Units = std::vector<Unit>;

Units unitsOf(std::span<const uint8_t> frame) {
    Units units(frame.size() / kUnitBytes);
    for (size_t i = 0; i < units.size(); ++i) {
        std::copy_n(frame.begin() + static_cast<ptrdiff_t>(i * kUnitBytes), kUnitBytes,
                    units[i].begin());
    }
    return units;
}

bool isPacket(const Unit& u) { return !parseHeaderBlock(u) && !(u[0] == 'm' && u[1] == 's'); }

struct Sent {
    Units units;
    Picture preview;
    FrameLayout layout;
    std::vector<uint8_t> coded;
};

// 128 and 256 fit a frame only with a coarse step and the least parity (t = 2).
EncoderSettings settingsFor(int n, Wavelet w = Wavelet::Cdf97, int red = 4, int blue = 4) {
    EncoderSettings s;
    s.frameSize = n;
    s.wavelet = w;
    s.redFactor = red;
    s.blueFactor = blue;
    s.callsign = "TEST ";
    s.sourcePath = "card";
    s.message = "hello";
    s.quantiser = n >= 128 ? 65 : 20;
    s.threshold = n == 256 ? 100 : n == 128 ? 60 : 0;
    s.syndromes = n >= 128 ? 4 : 32;
    s.transmit = true;
    return s;
}

Sent send(const EncoderSettings& settings, const SourcePicture& source, uint16_t counter = 1) {
    EncoderState state;
    state.frameCounter = static_cast<uint16_t>(counter - 1);
    EncodeResult r = ENCODEFRAME(settings, source, state, kEncodeSend);
    EXPECT_EQ(r.error, EncodeError::None);
    return {unitsOf(r.frame), std::move(r.preview), r.layout, std::move(r.coded)};
}

constexpr PictureParams kCraftParams{64, Wavelet::D4, 4, 4, 32};

// A frame around any coded stream, for lengths ENCODEFRAME does not hit on demand.
Units frameAround(std::span<const uint8_t> coded, int syndromes = 32) {
    FrameInput in;
    in.coded = coded;
    in.counter = 7;
    in.params = kCraftParams;
    in.syndromes = syndromes;
    in.label = headerLabel("CALL ", "crafted");
    const FrameBuild built = buildFrame(in);
    EXPECT_EQ(built.error, FrameBuildError::None);
    return unitsOf(built.frame);
}

// The same frame with its end marker overwritten, built from the frame format's pieces.
Units withoutEndMarker(std::span<const uint8_t> coded, int t) {
    std::vector<uint8_t> payload = framePayload(coded);
    std::fill_n(payload.begin() + static_cast<ptrdiff_t>(coded.size() + 4), kEndMarker.size(), 'x');
    const int n = 2 * t + static_cast<int>(payload.size()) / kCodewords;
    const std::vector<uint8_t> stream = interleave(encodeCodewords(payload, t), n);
    Units units(3, frameAround(coded)[0]);
    for (int m = 0; m < n; ++m) {
        Unit& u = units.emplace_back();
        u[0] = static_cast<uint8_t>(m + 1);
        std::copy_n(stream.begin() + 40 * m, 40, u.begin() + 1);
    }
    return units;
}

template <typename Edit>
Units editHeaders(Units units, Edit edit) {
    for (Unit& u : units) {
        if (auto h = parseHeaderBlock(u)) {
            edit(*h);
            u = makeHeaderBlock(*h);
        }
    }
    return units;
}

Units dropPackets(const Units& units, const std::set<int>& numbers) {
    Units kept;
    for (const Unit& u : units) {
        if (!isPacket(u) || !numbers.count(u[0])) kept.push_back(u);
    }
    return kept;
}

void corrupt(Units& units, int packet, int dataByte, uint8_t xorValue = 0x5A) {
    for (Unit& u : units) {
        if (isPacket(u) && u[0] == packet) u[1 + dataByte] ^= xorValue;
    }
}

// count distinct packet numbers out of 1..n but exclude, seeded.
std::set<int> pick(uint64_t seed, int n, int count, const std::set<int>& exclude = {}) {
    std::mt19937_64 rng(seed);
    std::set<int> out;
    count = std::min(count, n - static_cast<int>(exclude.size()));
    while (static_cast<int>(out.size()) < count) {
        const int p = 1 + static_cast<int>(rng() % static_cast<uint64_t>(n));
        if (!exclude.count(p)) out.insert(p);
    }
    return out;
}

struct Reception {
    std::optional<ReceivedPicture> picture;  // the first
    int pictureAt = -1;                      // its unit's index; units.size() for finishFrame
    std::vector<int> triesAt;
    bool noMarkerCaption = false;
    int records = 0;  // updates that asked for the picture to be recorded
    std::optional<std::string> caption;
};

Reception feed(ReceiverState& s, const Units& units, bool finish = true) {
    Reception run;
    const auto take = [&run](ReceiveUpdate up, int at) {
        if (up.decode != DecodeOutcome::None) run.triesAt.push_back(at);
        run.noMarkerCaption = run.noMarkerCaption || up.caption;
        if (up.caption) run.caption = up.caption;
        run.records += up.record ? 1 : 0;
        if (up.picture && !run.picture) {
            run.picture = std::move(up.picture);
            run.pictureAt = at;
        }
    };
    for (size_t i = 0; i < units.size(); ++i) take(RECEIVEPACKET(s, units[i]), static_cast<int>(i));
    if (finish) take(finishFrame(s), static_cast<int>(units.size()));
    return run;
}

Reception feedFresh(const Units& units, Procedure p = Procedure::Mended, bool finish = true) {
    ReceiverState s;
    s.procedure = p;
    return feed(s, units, finish);
}

void expectPicture(const Reception& run, const Picture& want) {
    ASSERT_TRUE(run.picture) << "no picture";
    const Picture& got = run.picture->picture;
    ASSERT_EQ(got.size, want.size);
    for (int y = 0; y < want.size; ++y) {
        for (int x = 0; x < want.size; ++x) {
            ASSERT_EQ(got.at(x, y), want.at(x, y)) << "pixel " << x << "," << y;
        }
    }
}

// ---- the described behaviour, letter for letter ----

TEST(ReceiveDescribed, Threshold104Of132DecodesAtThe104thSlot) {
    std::vector<uint8_t> coded = seededBytes(1, 3850 - 4);  // L = 3850: t 16, r 100, f 123
    std::copy_n("ACMC", 4, coded.begin());
    const Units units = frameAround(coded);
    for (const Procedure p : {Procedure::Mended, Procedure::Literal}) {
        ReceiverState s;
        s.procedure = p;
        // The first header starts the frame and is cleared by its reset; the second fills 255.
        (void)RECEIVEPACKET(s, units[0]);
        EXPECT_EQ(*RECEIVEPACKET(s, units[1]).blockCountLabel, "1 blocks out of 132");
        EXPECT_EQ(s.threshold, 104);
        int packets = 0;
        for (const Unit& u : units) {
            if (!isPacket(u)) continue;
            const ReceiveUpdate up = RECEIVEPACKET(s, u);
            if (++packets != 103) {
                EXPECT_EQ(up.decode, DecodeOutcome::None) << "packet " << packets;
                continue;
            }
            EXPECT_EQ(*up.blockCountLabel, "104 blocks out of 132");
            EXPECT_EQ(*up.percentageLabel, "78.8%");
            EXPECT_EQ(up.decode, DecodeOutcome::Good);
            ASSERT_TRUE(up.picture && up.record);
            EXPECT_EQ(
                up.picture->picture.pixels,
                decodePicture(coded, coefficientCount(kCraftParams), kCraftParams).picture.pixels);
        }
    }
}

TEST(ReceiveDescribed, DuplicatesMessageBlocksAndPacket109) {
    const Sent f = send(settingsFor(64), testCard());
    const std::string one = "1 blocks out of " + std::to_string(f.layout.n);
    ReceiverState s;
    (void)RECEIVEPACKET(s, f.units[0]);
    ASSERT_EQ(f.units[3][0], 1);
    EXPECT_EQ(*RECEIVEPACKET(s, f.units[3]).blockCountLabel, one);
    EXPECT_EQ(*RECEIVEPACKET(s, f.units[3]).blockCountLabel, one);  // a duplicate

    Unit sg = f.units[3];  // packet 109 whose next bytes are "sg" is a message block
    sg[0] = 109;
    sg[1] = 's';
    sg[2] = 'g';
    for (const Unit& u : {makeMessageBlock("hello"), sg}) {
        const ReceiveUpdate up = RECEIVEPACKET(s, u);
        ASSERT_TRUE(up.messageLabel);
        EXPECT_EQ(up.messageLabel->size(), 38u);
        EXPECT_EQ(*up.blockCountLabel, one);
        EXPECT_FALSE(up.statusLabel || up.labelLine || up.caption);
        EXPECT_EQ(up.blockMap.ops[1].x, 0);  // the tick at x = 0
    }
    EXPECT_EQ(RECEIVEPACKET(s, makeMessageBlock("hello")).messageLabel->substr(0, 6), "hello ");
}

TEST(ReceiveDescribed, Counter01FENeverStartsANewFrameButIsRemembered) {
    const Sent f = send(settingsFor(64), testCard(), 5);
    ReceiverState s;
    for (int i = 0; i < 6; ++i) (void)RECEIVEPACKET(s, f.units[i]);
    const int before = s.received;
    const Units odd = editHeaders({f.units[0]}, [](HeaderFields& h) { h.counter = 0xFE01; });
    ReceiveUpdate up = RECEIVEPACKET(s, odd[0]);
    EXPECT_EQ(s.received, before);
    EXPECT_FALSE(up.blockMap.end()[-1].background);
    up = RECEIVEPACKET(s, f.units[0]);  // counter 5 now differs
    EXPECT_EQ(s.received, 0);
    EXPECT_TRUE(up.blockMap.end()[-1].background);
}

TEST(ReceiveDescribed, StatusLabelLineAndPaints) {
    HeaderFields h{2, 251, 0xFFFF, 64, 'D', 4, 2, 20, 2000, 239, headerLabel("PA0XYZ ", "a.png")};
    ReceiverState s;  // t 2, k 251, f 239: r 12, n' 16
    const ReceiveUpdate up = RECEIVEPACKET(s, makeHeaderBlock(h));
    EXPECT_EQ(*up.statusLabel,
              "Receiving 2000 bytes  \r\nFrame compressed to 16.3%\r\nGood frame count =  0 /-1"
              "\r\n\r\nFrame size =  64 x 64\r\n\r\nD4 wavelet compression");
    EXPECT_EQ(*up.labelLine, "PA0XYZ a.png         ");
    EXPECT_EQ(s.threshold, 16);
    EXPECT_EQ(*up.blockCountLabel, "1 blocks out of 16");

    using Rect = std::array<int, 5>;
    const auto rects = [](const PaintList& list) {
        std::vector<Rect> out;
        for (const PaintOp& o : list) {
            out.push_back({o.x, o.y, o.width, o.height, o.background ? -1 : int(o.rgb)});
        }
        return out;
    };
    // White line, the tick at 255, the grey mark at n', then the new frame's clear.
    EXPECT_EQ(rects(up.blockMap), (std::vector<Rect>{{0, 3, 256, 3, 0xFFFFFF},
                                                     {255, 1, 1, 7, 0x0000FF},
                                                     {16, 0, 2, 8, 0x808080},
                                                     {0, 0, 256, 8, -1}}));
    // One slot: blue to floor(256 / 255) - 1 = 0; red at the threshold; cleared to white.
    EXPECT_EQ(rects(up.progressBar),
              (std::vector<Rect>{
                  {0, 0, 1, 4, 0x0000FF}, {16, 0, 2, 6, 0xFF0000}, {0, 0, 256, 6, 0xFFFFFF}}));

    // Percentages round ties to even: 1/16 = 6.25 %, 3/16 = 18.75 %.
    EXPECT_EQ(*RECEIVEPACKET(s, makeHeaderBlock(h)).percentageLabel, "6.2%");
    Unit p{};
    for (const uint8_t m : {1, 2}) {
        p[0] = m;
        (void)RECEIVEPACKET(s, p);
    }
    EXPECT_EQ(*RECEIVEPACKET(s, p).percentageLabel, "18.8%");

    const std::pair<char, std::string> names[] = {{'H', "\r\nHaar wavelet compression"},
                                                  {'S', "\r\nCDF97 subband compression"},
                                                  {'Q', "x 64\r\n\r\n"}};
    for (const auto& [letter, ending] : names) {
        h.letter = static_cast<uint8_t>(letter);
        EXPECT_TRUE(RECEIVEPACKET(s, makeHeaderBlock(h)).statusLabel->ends_with(ending));
    }
    EXPECT_EQ(s.waveletCode, 2);  // an unknown letter keeps the previous code
    h.frameSize = 256;
    h.counter = 3;
    EXPECT_NE(RECEIVEPACKET(s, makeHeaderBlock(h))
                  .statusLabel->find("count =  0 / 3\r\n\r\nFrame size =  256 x 256"),
              std::string::npos);
}

TEST(ReceiveDescribed, MissingEndMarkerSetsTheCaption) {
    std::vector<uint8_t> coded = seededBytes(2, 2000);
    std::copy_n("ACMC", 4, coded.begin());
    const Units units = withoutEndMarker(coded, 16);
    const Reception literal = feedFresh(units, Procedure::Literal);
    EXPECT_FALSE(literal.picture);
    EXPECT_TRUE(literal.noMarkerCaption);
    EXPECT_EQ(literal.triesAt.size(), 1u);  // the count never equals the threshold again
    const Reception mended = feedFresh(units);
    EXPECT_FALSE(mended.picture);
    EXPECT_TRUE(mended.noMarkerCaption);
    // Tried at the threshold and with every later packet, not at the end: nothing changed.
    EXPECT_EQ(mended.triesAt.front(), literal.triesAt.front());
    EXPECT_EQ(mended.triesAt.back(), static_cast<int>(units.size()) - 1);
}

// ---- sender and receiver agree ----

// N = 256 is sent as the byte 255; the caption then reads "256 L".
TEST(ReceiveEndToEnd, EveryEncoderFrameDecodesToItsPreview) {
    const SourcePicture pictures[] = {testCard(), zonePlate(), gradient(), noise(7)};
    int i = 0;
    for (const int n : {48, 64, 96, 128, 256}) {
        for (const Wavelet w : {Wavelet::Haar, Wavelet::D4, Wavelet::Cdf97}) {
            const int red = 2 + 2 * (i % 2);
            const int blue = 2 + 2 * (i / 2 % 2);
            const size_t which = i++ % std::size(pictures);
            SCOPED_TRACE(testing::Message() << "N " << n << " " << waveletName(w) << " red " << red
                                            << " blue " << blue << " picture " << which);
            const Sent f = send(settingsFor(n, w, red, blue), pictures[which]);
            for (const Procedure p : {Procedure::Mended, Procedure::Literal}) {
                const Reception run = feedFresh(f.units, p);
                expectPicture(run, f.preview);
                EXPECT_EQ(run.picture->caption,
                          std::to_string(n) + " " + std::to_string(f.layout.L));
            }
        }
    }
}

// Expanding M bytes as the preview does gives the picture of the receiver's 393217-byte buffer
// cut to d + 1 bytes, also for streams that code more or fewer bytes than the planes hold.
TEST(ReceiveEndToEnd, ExpansionMatchesTheReceiverBuffer) {
    const size_t m = coefficientCount(kCraftParams);
    for (const size_t count : {m - 300, m, m + 300}) {
        const std::vector<uint8_t> coded = codeCoefficients(seededBytes(count, count));
        expectPicture(feedFresh(frameAround(coded)), decodeReceived(coded, kCraftParams).picture);
    }
}

// ---- erasure bookkeeping: missing positions erased, position 0 from packet n' ----

TEST(ReceiveErasures, RandomLossWithinCapacityDecodesBeyondItNever) {
    const Sent f = send(settingsFor(64), zonePlate());
    const int t = f.layout.t;
    for (uint64_t seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        expectPicture(feedFresh(dropPackets(f.units, pick(seed, f.layout.n, 2 * t - 1))),
                      f.preview);
        const int beyond = 2 * t + 1 + static_cast<int>(seed * 7 % 40);
        EXPECT_FALSE(feedFresh(dropPackets(f.units, pick(seed, f.layout.n, beyond))).picture);
    }
}

TEST(ReceiveErasures, ByteErrorsWithinCapacityDecode) {
    const Sent f = send(settingsFor(64, Wavelet::D4), testCard());
    const int t = f.layout.t;
    for (uint64_t seed = 1; seed <= 4; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        // e wholly wrong packets (one error in every codeword each), m missing: 2e + m + 1 <= 2t.
        const int e = static_cast<int>(seed) * 2 + 1;
        const std::set<int> lost = pick(seed, f.layout.n, 2 * t - 1 - 2 * e);
        Units units = dropPackets(f.units, lost);
        for (const int p : pick(seed + 100, f.layout.n, e, lost)) {
            for (int d = 0; d < 40; ++d) corrupt(units, p, d, static_cast<uint8_t>(d + 1));
        }
        expectPicture(feedFresh(units), f.preview);
    }
}

// At the threshold with packet n' in, one byte error is within what the code corrects, but the
// literal steps spend the left-out erasure and the header byte at position 0 as errors.
TEST(ReceiveErasures, OneByteErrorAtTheThreshold) {
    const Sent f = send(settingsFor(64), testCard());
    const std::set<int> lost = pick(3, f.layout.n - 1, 2 * f.layout.t - 3);
    Units units = dropPackets(f.units, lost);
    corrupt(units, *pick(4, f.layout.n - 1, 1, lost).begin(), 7);
    const Reception literal = feedFresh(units, Procedure::Literal);
    EXPECT_FALSE(literal.picture);
    const Reception mended = feedFresh(units);
    expectPicture(mended, f.preview);
    EXPECT_EQ(mended.pictureAt, literal.triesAt.at(0));  // at the threshold, not later
}

// 2t - 2 missing and one byte error: codewords 1..38 are corrected only when position 0 is read
// from packet n' rather than erased.
TEST(ReceiveErasures, PositionZeroComesFromPacketN) {
    const Sent f = send(settingsFor(64), gradient());
    const std::set<int> lost = pick(11, f.layout.n - 1, 2 * f.layout.t - 2);
    Units units = dropPackets(f.units, lost);
    corrupt(units, *pick(12, f.layout.n - 1, 1, lost).begin(), 20);
    expectPicture(feedFresh(units), f.preview);
}

// With packet n' missing, position 0 is erased; the literal steps put the header byte there,
// now and then the right symbol, and then decode one erasure further. A codeword that fails is
// tried again with their guess, so such frames still decode at the same unit.
TEST(ReceiveErasures, AHeaderByteThatHappensToBeRightStillCounts) {
    const Sent f = send(settingsFor(64), testCard());
    const int t = f.layout.t;
    const int n = f.layout.n;
    const int lane = 30;  // codeword 29, whose position 0 the header's offset 30 stands in for
    const std::vector<uint8_t> codewords = encodeCodewords(framePayload(f.coded), t);
    const auto right = static_cast<char>(codewords[static_cast<size_t>(lane - 1) * n]);
    Units units = editHeaders(f.units, [&](HeaderFields& h) { h.label[lane - 19] = right; });
    std::set<int> lost = pick(21, n - 1, 2 * t - 4);
    for (const int p : pick(22, n - 1, 2, lost)) corrupt(units, p, lane);
    lost.insert(n);
    units = dropPackets(units, lost);
    const Reception literal = feedFresh(units, Procedure::Literal);
    expectPicture(literal, f.preview);
    const Reception mended = feedFresh(units);
    expectPicture(mended, f.preview);
    EXPECT_EQ(mended.pictureAt, literal.pictureAt);
}

// n' = 255 (f = 0): packet 255 shares slot 255 with the header blocks, yet its bytes are position
// 0 of codewords 1..38. With t = 2 and 3 packets missing, a header arriving after it must not
// stand in for it.
TEST(ReceiveErasures, APacketNumbered255KeepsItsOwnBytes) {
    std::vector<uint8_t> coded = seededBytes(3, 9740);
    std::copy_n("ACMC", 4, coded.begin());
    Units units = frameAround(coded, 4);
    ASSERT_EQ(parseHeaderBlock(units[0])->fill, 0);
    ASSERT_EQ(units.back()[0], 255);
    units.push_back(units[0]);
    const Reception run = feedFresh(dropPackets(units, {17, 100, 201}));
    expectPicture(run, decodePicture(coded, coefficientCount(kCraftParams), kCraftParams).picture);
}

TEST(ReceiveErasures, WhatTheLiteralStepsDecodeDecodesTheSameAtTheSameUnit) {
    int literalPictures = 0;
    for (uint64_t seed = 1; seed <= 24; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        const Sent f = send(settingsFor(48, seed % 2 ? Wavelet::D4 : Wavelet::Haar),
                            seed % 3 ? testCard() : noise(seed));
        const int lost = 2 * f.layout.t - 6 + static_cast<int>(seed % 5);
        const std::set<int> gone = pick(seed, f.layout.n, lost);
        Units units = dropPackets(f.units, gone);
        for (const int p : pick(seed + 50, f.layout.n, static_cast<int>(seed % 3), gone)) {
            corrupt(units, p, static_cast<int>(seed % 40), static_cast<uint8_t>(seed));
        }
        const Reception literal = feedFresh(units, Procedure::Literal);
        if (!literal.picture) continue;
        ++literalPictures;
        const Reception mended = feedFresh(units);
        expectPicture(mended, literal.picture->picture);
        EXPECT_EQ(mended.pictureAt, literal.pictureAt);
    }
    EXPECT_GE(literalPictures, 8);
}

// ---- a failed try is not the end of the frame ----

TEST(ReceiveRetry, FailedTryAtTheThresholdIsRetriedWithLaterBlocks) {
    const Sent f = send(settingsFor(64), testCard());
    // In order, two byte errors in lane 8 sink the try at the threshold (the 2t - 4 missing
    // packets and position 0 leave room for one); the next packet frees the parity for both.
    Units units = f.units;
    corrupt(units, 2, 8);
    corrupt(units, 9, 8);
    const Reception literal = feedFresh(units, Procedure::Literal);
    EXPECT_FALSE(literal.picture);
    ASSERT_EQ(literal.triesAt.size(), 1u);
    const Reception mended = feedFresh(units);
    expectPicture(mended, f.preview);
    ASSERT_EQ(mended.triesAt.size(), 2u);              // none after the good frame
    EXPECT_EQ(mended.triesAt[0], literal.triesAt[0]);  // the first try at the threshold
    EXPECT_EQ(mended.triesAt[1], mended.pictureAt);    // the next packet, not the frame's end
    EXPECT_LT(mended.pictureAt, static_cast<int>(units.size()));
}

TEST(ReceiveRetry, FrameBelowTheThresholdIsTriedWhenItEnds) {
    const Sent a = send(settingsFor(64), testCard(), 1);
    const Sent b = send(settingsFor(64), gradient(), 2);
    // 2t - 1 missing: the code corrects it, the threshold (2t - 3) never comes.
    const Units thin = dropPackets(a.units, pick(5, a.layout.n - 1, 2 * a.layout.t - 1));
    Units both = thin;
    both.insert(both.end(), b.units.begin(), b.units.end());
    expectPicture(feedFresh(both, Procedure::Literal), b.preview);  // only the second frame

    ReceiverState s;
    const Reception atHeader = feed(s, both);
    expectPicture(atHeader, a.preview);
    EXPECT_EQ(atHeader.pictureAt, static_cast<int>(thin.size()));  // b's first header
    EXPECT_EQ(s.goodFrames, 2);

    ReceiverState idle;
    const Reception atFinish = feed(idle, thin);
    expectPicture(atFinish, a.preview);
    EXPECT_EQ(atFinish.pictureAt, static_cast<int>(thin.size()));
    EXPECT_EQ(finishFrame(idle).decode, DecodeOutcome::None);  // once only
}

// ---- units before any header ----

TEST(ReceiveBeforeHeader, NothingIsDecodedBeforeAHeader) {
    const Sent f = send(settingsFor(64), testCard());
    Units early = {makeMessageBlock("first")};
    std::copy_if(f.units.begin(), f.units.end(), std::back_inserter(early), isPacket);
    // The literal steps meet threshold 0 with 0 slots and decode slots of 0xFF.
    const Reception literal = feedFresh({early[0]}, Procedure::Literal, false);
    EXPECT_EQ(literal.triesAt, std::vector<int>{0});
    EXPECT_TRUE(literal.noMarkerCaption);
    const Reception mended = feedFresh(early);
    EXPECT_TRUE(mended.triesAt.empty());
    EXPECT_FALSE(mended.noMarkerCaption);
}

// ---- headers no encoder writes ----

TEST(ReceiveHeaderCheck, HeadersNoEncoderWritesAreShownNeverDecoded) {
    const Sent f = send(settingsFor(64), testCard());
    using Edit = void (*)(HeaderFields&);
    const Edit edits[] = {
        [](HeaderFields& h) { h.frameSize = 32; }, [](HeaderFields& h) { h.frameSize = 0; },
        [](HeaderFields& h) { h.redFactor = 3; },  [](HeaderFields& h) { h.blueFactor = 8; },
        [](HeaderFields& h) { h.k += 2; },         [](HeaderFields& h) { h.t = 1, h.k = 253; },
        [](HeaderFields& h) { h.fill = h.k; },     [](HeaderFields& h) { h.letter = 'X'; },
    };
    for (size_t i = 0; i < std::size(edits); ++i) {
        SCOPED_TRACE(testing::Message() << "edit " << i);
        const Units units = editHeaders(f.units, edits[i]);
        ReceiverState s;
        const ReceiveUpdate first = RECEIVEPACKET(s, units[0]);
        EXPECT_TRUE(first.statusLabel && first.labelLine);
        const Reception run = feed(s, units);
        EXPECT_TRUE(run.triesAt.empty());
        EXPECT_FALSE(run.picture);
    }
    // The literal steps decode under the unknown letter with the previous wavelet.
    const Units x = editHeaders(f.units, [](HeaderFields& h) { h.letter = 'X'; });
    EXPECT_TRUE(feedFresh(x, Procedure::Literal).picture);
}

TEST(ReceiveHeaderCheck, ADamagedHeaderCopyDoesNotDelayTheFrame) {
    const Sent f = send(settingsFor(64), testCard());
    const Reception clean = feedFresh(f.units);
    ASSERT_TRUE(clean.picture);
    // The last copy before the threshold says N = 33, which no encoder writes: the copies
    // before it still name the frame, so it decodes at the same unit as the clean one.
    Units units = f.units;
    int copy = clean.pictureAt;
    while (!parseHeaderBlock(units[copy])) --copy;
    units[copy][11] = 33;
    const Reception run = feedFresh(units);
    expectPicture(run, f.preview);
    EXPECT_EQ(run.pictureAt, clean.pictureAt);
}

}  // namespace
}  // namespace receiver

namespace receiver {
namespace {

// ---- AV1 frames ----

EncoderSettings av1Settings(int n, int chroma) {
    EncoderSettings s = settingsFor(n);
    s.wavelet = Wavelet::Av1;
    s.av1Chroma = chroma;
    s.quantiser = 33;  // AV1 quality 32
    s.threshold = 0;
    s.syndromes = 32;
    return s;
}

// A receiver that knows only the wavelets (the literal steps) finds an AV1 frame's CRC wrong:
// no picture, no good frame, nothing recorded. The mended receiver shows the sender's preview.
TEST(ReceiveAv1, OnlyAReceiverThatKnowsAv1ShowsOrRecordsIt) {
    const SourcePicture pictures[] = {testCard(), zonePlate(), gradient()};
    int i = 0;
    for (const int n : {48, 64, 128, 256}) {
        for (const int chroma : {kAv1Chroma444, kAv1Chroma420}) {
            SCOPED_TRACE(testing::Message() << "N " << n << " chroma " << chroma);
            const Sent f = send(av1Settings(n, chroma), pictures[i++ % std::size(pictures)]);
            ASSERT_EQ(f.preview.size, n);

            ReceiverState literal;
            literal.procedure = Procedure::Literal;
            const Reception old = feed(literal, f.units);
            EXPECT_FALSE(old.triesAt.empty()) << "the literal steps should try it";
            EXPECT_FALSE(old.picture);
            EXPECT_EQ(old.records, 0);
            EXPECT_EQ(literal.goodFrames, 0);

            ReceiverState mended;
            const Reception run = feed(mended, f.units);
            expectPicture(run, f.preview);
            EXPECT_EQ(run.records, 1);
            EXPECT_EQ(mended.goodFrames, 1);
            EXPECT_EQ(run.picture->caption, std::to_string(n) + " " + std::to_string(f.layout.L));
        }
    }
}

// Losses within the code's reach: the AV1 frame comes back whole, as any frame does.
TEST(ReceiveAv1, LostPacketsAreErasuresAsForAnyFrame) {
    const Sent f = send(av1Settings(128, kAv1Chroma444), testCard());
    const std::set<int> lost = pick(11, f.layout.n, 2 * f.layout.t - 2);
    Units kept;
    for (const Unit& u : f.units) {
        if (!isPacket(u) || !lost.count(u[0])) kept.push_back(u);
    }
    expectPicture(feedFresh(kept), f.preview);
}

// A header that promises another picture than its AV1 stream holds: a failed frame, never a
// picture of another size, and nothing recorded.
TEST(ReceiveAv1, AStreamUnlikeItsHeaderIsAFailedFrame) {
    const Sent f = send(av1Settings(64, kAv1Chroma444), testCard());
    using Edit = void (*)(HeaderFields&);
    const Edit edits[] = {
        [](HeaderFields& h) { h.frameSize = 128; },
        [](HeaderFields& h) { h.frameSize = 48; },
        [](HeaderFields& h) { h.redFactor = h.blueFactor = kAv1Chroma420; },
    };
    for (size_t i = 0; i < std::size(edits); ++i) {
        SCOPED_TRACE(testing::Message() << "edit " << i);
        ReceiverState s;
        const Reception run = feed(s, editHeaders(f.units, edits[i]));
        EXPECT_FALSE(run.triesAt.empty());
        EXPECT_FALSE(run.picture);
        EXPECT_EQ(run.records, 0);
        EXPECT_EQ(s.goodFrames, 0);
        EXPECT_EQ(run.caption, std::string(kAv1RefusedCaption));
    }
    // A wavelet stream under an AV1 header fails its CRC: the initial values differ.
    const Sent wavelet = send(settingsFor(64), testCard());
    const Reception run = feedFresh(editHeaders(wavelet.units, [](HeaderFields& h) {
        h.letter = 'A';
        h.redFactor = h.blueFactor = kAv1Chroma444;
    }));
    EXPECT_FALSE(run.picture);
    EXPECT_EQ(run.records, 0);
}

}  // namespace
}  // namespace receiver
