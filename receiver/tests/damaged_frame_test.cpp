// Frames that the Reed-Solomon code can correct but that a damaged or lost header block used to
// cost: a header whose counter was hit starting a new frame in the middle of one, packets of a
// frame whose first headers were lost being taken for the frame before, and a header whose
// decoder fields were hit decoding a picture the CRC cannot catch (it covers the coded stream,
// not the header). Found by tools/robustness.cpp over the simulated channel.

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "encoder/encode_frame.h"
#include "encoder/frame_format.h"
#include "encoder/test_pictures.h"
#include "receiver/receive_packet.h"

namespace receiver {
namespace {

using namespace encoder;
using Units = std::vector<Unit>;

struct Sent {
    Units units;
    Picture preview;
    FrameLayout layout;
};

Sent send(const SourcePicture& source, uint16_t counter) {
    EncoderSettings settings;
    settings.callsign = "TEST ";
    settings.sourcePath = "card";
    settings.syndromes = 32;
    settings.transmit = true;
    EncoderState state;
    state.frameCounter = static_cast<uint16_t>(counter - 1);
    EncodeResult r = ENCODEFRAME(settings, source, state, kEncodeSend);
    EXPECT_EQ(r.error, EncodeError::None);
    Units units(r.frame.size() / kUnitBytes);
    for (size_t i = 0; i < units.size(); ++i) {
        std::copy_n(r.frame.begin() + static_cast<ptrdiff_t>(i * kUnitBytes), kUnitBytes,
                    units[i].begin());
    }
    return {units, std::move(r.preview), r.layout};
}

bool isHeader(const Unit& u) { return parseHeaderBlock(u).has_value(); }

// The last `count` packets of the frame gone: with packet n' among them, every codeword misses
// count + 1 symbols, which leaves room for only 2t - count - 1 more.
Units withoutLastPackets(const Sent& sent, int count) {
    Units kept;
    for (const Unit& u : sent.units) {
        if (!isHeader(u) && u[0] > sent.layout.n - count) continue;
        kept.push_back(u);
    }
    return kept;
}

// Index of the header block that follows packet `number`.
size_t headerAfter(const Units& units, int number) {
    for (size_t i = 0; i + 1 < units.size(); ++i) {
        if (!isHeader(units[i]) && units[i][0] == number && isHeader(units[i + 1])) return i + 1;
    }
    ADD_FAILURE() << "no header after packet " << number;
    return 0;
}

struct Reception {
    std::vector<Picture> pictures;  // good frames' pictures, in order
    int failedTries = 0;            // decodes tried that failed
};

Reception feed(ReceiverState& s, const Units& units, Reception run = {}) {
    for (const Unit& u : units) {
        ReceiveUpdate up = RECEIVEPACKET(s, u);
        run.failedTries += up.decode == DecodeOutcome::Failed ? 1 : 0;
        if (up.decode == DecodeOutcome::Good && up.picture) {
            run.pictures.push_back(up.picture->picture);
        }
    }
    return run;
}

Reception finish(ReceiverState& s, Reception run) {
    ReceiveUpdate up = finishFrame(s);
    if (up.decode == DecodeOutcome::Good && up.picture) run.pictures.push_back(up.picture->picture);
    return run;
}

// Which pixels differ, for the failure message.
std::string difference(const Picture& got, const Picture& want) {
    if (got.size != want.size) {
        return "size " + std::to_string(got.size) + " against " + std::to_string(want.size);
    }
    int differing = 0;
    std::string first;
    for (int y = 0; y < want.size; ++y) {
        for (int x = 0; x < want.size; ++x) {
            if (got.at(x, y) == want.at(x, y)) continue;
            if (differing++ == 0) {
                first = "first at " + std::to_string(x) + "," + std::to_string(y);
            }
        }
    }
    return std::to_string(differing) + " pixels differ, " + first;
}

// The good frames' pictures are the sent frames' previews, one each, in order.
void expectPictures(const Reception& run, std::initializer_list<const Sent*> sent) {
    ASSERT_EQ(run.pictures.size(), sent.size());
    size_t i = 0;
    for (const Sent* frame : sent) {
        EXPECT_TRUE(run.pictures[i].pixels == frame->preview.pixels)
            << difference(run.pictures[i], frame->preview);
        ++i;
    }
}

// Frame b without its three opening headers, the one after packet 1 and its last 2t - 4
// packets: it needs packets 1..8, which arrive before any header says a frame began.
Units withoutOpeningHeaders(const Sent& b) {
    Units units = withoutLastPackets(b, 2 * b.layout.t - 4);
    units.erase(units.begin() + static_cast<ptrdiff_t>(headerAfter(units, 1)));
    units.erase(units.begin(), units.begin() + 3);
    return units;
}

TEST(DamagedHeader, ADamagedCounterDoesNotSplitTheFrame) {
    const Sent a = send(testCard(), 1);
    const int t = a.layout.t;
    // 2t - 3 symbols missing per codeword: correctable, but not if packets 1..8 go as well.
    Units units = withoutLastPackets(a, 2 * t - 4);
    units[headerAfter(units, 1)][9] ^= 0x5A;  // the counter's low byte, after packet 1
    ReceiverState s;
    const Reception run = finish(s, feed(s, units));
    ASSERT_EQ(run.pictures.size(), 1u) << "n' " << a.layout.n << ", t " << t;
    EXPECT_TRUE(run.pictures[0].pixels == a.preview.pixels)
        << difference(run.pictures[0], a.preview);
    EXPECT_EQ(s.goodFrames, 1);
}

TEST(DamagedHeader, ADamagedCounterInTheFramesLastHeaderLosesNothing) {
    const Sent a = send(testCard(), 1);
    const Sent b = send(zonePlate(), 2);
    const int t = a.layout.t;
    // 2t - 4 packets gone from the middle: frame a needs every packet after its last headers.
    Units units;
    for (const Unit& u : a.units) {
        if (isHeader(u) || u[0] < 10 || u[0] >= 10 + 2 * t - 4) units.push_back(u);
    }
    size_t last = units.size() - 1;
    while (!isHeader(units[last])) --last;
    units.erase(units.begin() + static_cast<ptrdiff_t>(last));
    while (!isHeader(units[--last])) {
    }
    units[last][9] ^= 0x5A;  // the header before: nothing with frame a's counter follows it
    ReceiverState s;
    const Reception run = finish(s, feed(s, b.units, feed(s, units)));
    expectPictures(run, {&a, &b});
}

TEST(DamagedHeader, ADamagedCounterInTheFramesOnlyOpeningHeaderLosesNothing) {
    const Sent a = send(testCard(), 1);
    const Sent b = send(zonePlate(), 2);
    const int t = b.layout.t;
    // Frame b's first header arrives with a hit counter and the next three are lost: packets
    // 1..8 come under a counter no other header carries, and b needs them.
    Units second = withoutLastPackets(b, 2 * t - 4);
    second.erase(second.begin() + static_cast<ptrdiff_t>(headerAfter(second, 1)));
    second.erase(second.begin() + 1, second.begin() + 3);
    second[0][9] ^= 0x5A;
    ReceiverState s;
    const Reception run = finish(s, feed(s, second, feed(s, a.units)));
    ASSERT_EQ(run.pictures.size(), 2u);
    EXPECT_TRUE(run.pictures[1].pixels == b.preview.pixels)
        << difference(run.pictures[1], b.preview);
}

TEST(DamagedHeader, ADamagedCounterAfterTheDecodeCountsTheFrameOnce) {
    const Sent a = send(testCard(), 1);
    Units units = a.units;
    // The header after packet 8n'/10, well past the decode at r + 4 slots.
    const int late = a.layout.n * 8 / 10;
    units[headerAfter(units, late - late % 7 + 1)][10] ^= 0x21;
    ReceiverState s;
    const Reception run = finish(s, feed(s, units));
    EXPECT_EQ(run.pictures.size(), 1u);
    EXPECT_EQ(s.goodFrames, 1);
}

TEST(LostHeaders, PacketsBeforeTheFirstHeaderBelongToTheNewFrame) {
    const Sent a = send(testCard(), 1);
    const Sent b = send(zonePlate(), 2);
    const int t = b.layout.t;
    const Units second = withoutOpeningHeaders(b);
    ASSERT_FALSE(isHeader(second[0]));

    for (const bool aDecodedEarly : {true, false}) {
        SCOPED_TRACE(aDecodedEarly ? "frame a decoded at its threshold"
                                   : "frame a decoded only when it ends");
        // Without its last 2t - 4 packets frame a decodes only once it has ended.
        const Units first = aDecodedEarly ? a.units : withoutLastPackets(a, 2 * t - 4);
        ReceiverState s;
        Reception run = feed(s, first);
        run = finish(s, feed(s, second, run));
        expectPictures(run, {&a, &b});
    }
}

TEST(LostHeaders, PacketsBeforeTheFirstHeaderAfterADamagedHeaderBelongToTheNewFrame) {
    const Sent a = send(testCard(), 1);
    const Sent b = send(zonePlate(), 2);
    // Frame a's last header arrives hit in a field that makes it no encoder's header, after a
    // has decoded; then frame b's opening headers are lost, as in the case above. The hit header
    // must not hide that b's first packets begin a new frame.
    Units first = a.units;
    size_t last = first.size() - 1;
    while (!isHeader(first[last])) --last;
    first[last][12] = 129;
    const Units second = withoutOpeningHeaders(b);
    ASSERT_FALSE(isHeader(second[0]));

    ReceiverState s;
    const Reception run = finish(s, feed(s, second, feed(s, first)));
    expectPictures(run, {&a, &b});
}

TEST(LostHeaders, APacketNumberHitBackwardsLosesNothing) {
    const Sent a = send(testCard(), 1);
    const int t = a.layout.t;
    Units units = withoutLastPackets(a, 2 * t - 4);
    // Packet 20 arrives numbered 3: a number going back, as a new frame's would. It is one
    // erasure and one wrong symbol at position 3; every later packet must still count.
    for (Unit& u : units) {
        if (!isHeader(u) && u[0] == 20) u[0] = 3;
    }
    units.erase(std::remove_if(units.begin(), units.end(),
                               [](const Unit& u) { return !isHeader(u) && u[0] == 21; }),
                units.end());
    ReceiverState s;
    const Reception run = finish(s, feed(s, units));
    expectPictures(run, {&a});
}

TEST(LostHeaders, APacketNumberHitForwardsLosesNothing) {
    const Sent a = send(testCard(), 1);
    const int t = a.layout.t;
    Units units = withoutLastPackets(a, 2 * t - 4);
    // Packet 20 arrives numbered n' - 1, so packet 21 looks like the start of a new frame; the
    // next header block says it was not, and the packets after it must not look so again.
    for (Unit& u : units) {
        if (!isHeader(u) && u[0] == 20) u[0] = static_cast<uint8_t>(a.layout.n - 1);
    }
    ReceiverState s;
    const Reception run = finish(s, feed(s, units));
    expectPictures(run, {&a});
    // At most one mistaken frame end, tried and failed; not one at every header after.
    EXPECT_LE(run.failedTries, 1);
}

TEST(DamagedHeader, DamagedDecoderFieldsDoNotChangeThePicture) {
    const Sent a = send(testCard(), 1);
    // The header just before the unit that decodes the clean frame, hit in one field at a time.
    ReceiverState clean;
    size_t decodeAt = 0;
    for (size_t i = 0; i < a.units.size(); ++i) {
        if (RECEIVEPACKET(clean, a.units[i]).decode == DecodeOutcome::Good) {
            decodeAt = i;
            break;
        }
    }
    ASSERT_GT(decodeAt, 0u);
    size_t lastHeader = decodeAt;
    while (!isHeader(a.units[lastHeader])) --lastHeader;

    struct Hit {
        const char* field;
        size_t offset;
        uint8_t value;
    };
    for (const Hit hit : {Hit{"step", 15, 40}, Hit{"wavelet", 12, 'H'}, Hit{"size", 11, 96},
                          Hit{"red factor", 13, 2}}) {
        SCOPED_TRACE(hit.field);
        Units units = a.units;
        units[lastHeader][hit.offset] = hit.value;
        ASSERT_NE(units[lastHeader], a.units[lastHeader]) << "the hit changes nothing";
        ReceiverState s;
        const Reception run = finish(s, feed(s, units));
        expectPictures(run, {&a});
    }
}

}  // namespace
}  // namespace receiver
