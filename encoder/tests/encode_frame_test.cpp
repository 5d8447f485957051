#include "encoder/encode_frame.h"

#include <gtest/gtest.h>

#include "codec/arith.h"
#include "encoder/air_time.h"
#include "encoder/decode_frame.h"
#include "encoder/test_pictures.h"
#include "encoder/tests/seeded_bytes.h"

namespace encoder {
namespace {

EncoderSettings smallFrame() {
    EncoderSettings s;
    s.frameSize = 48;
    s.callsign = "G0XYZ ";
    s.sourcePath = "C:\\pictures\\card.bmp";
    return s;
}

// ---- the arithmetic coder's output size ----

TEST(EncodeCoderBound, IncompressibleBytesAreNotCut) {
    for (const uint64_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        const std::vector<uint8_t> bytes = testing_support::seededBytes(seed, 1000);
        const std::vector<uint8_t> coded = codeCoefficients(bytes);
        // More than the M + 5 bytes the coder's callers used to provide.
        EXPECT_GT(coded.size(), bytes.size() + 5);
        std::vector<uint8_t> back(bytes.size());
        ASSERT_EQ(codec::ARITHCODE(coded, back, codec::kArithDecode), 1000);
        EXPECT_EQ(back, bytes);
    }
}

// codeCoefficients tries a buffer of the input's size plus a little first; a stream longer than
// that must come out whole, the bytes the coder writes into a bound-sized buffer.
TEST(EncodeCoderBound, StreamLongerThanItsInputIsRetriedWhole) {
    const std::vector<uint8_t> bytes = testing_support::seededBytes(1, 20000);
    const std::vector<uint8_t> coded = codeCoefficients(bytes);
    EXPECT_GT(coded.size(), bytes.size() + 64) << "seed 1";
    std::vector<uint8_t> direct(codec::arithEncodeBound(bytes.size()));
    const int32_t length = codec::ARITHCODE(bytes, direct, codec::kArithEncode);
    ASSERT_GT(length, 0);
    direct.resize(static_cast<size_t>(length));
    EXPECT_EQ(coded, direct);
}

// ---- counting, timing and sending ----

TEST(EncodeModes, PreviewNeitherCountsNorTimes) {
    EncoderSettings s = smallFrame();
    s.transmit = true;
    EncoderState state;
    const EncodeResult r = ENCODEFRAME(s, testCard(), state, kEncodePreview);
    ASSERT_EQ(r.error, EncodeError::None);
    EXPECT_EQ(state.frameCounter, 0);
    EXPECT_EQ(r.sendTimerMs, 0);
    EXPECT_EQ(r.movieTimerMs, 0);
    EXPECT_FALSE(r.send);
    EXPECT_EQ(parseHeaderBlock(std::span(r.frame).first(kUnitBytes))->counter, 0);
}

TEST(EncodeModes, SendWithTransmitCountsBeforeTheHeader) {
    EncoderSettings s = smallFrame();
    s.transmit = true;
    EncoderState state;
    for (uint16_t expected = 1; expected <= 3; ++expected) {
        const EncodeResult r = ENCODEFRAME(s, testCard(), state, kEncodeSend);
        ASSERT_EQ(r.error, EncodeError::None);
        EXPECT_EQ(state.frameCounter, expected);
        EXPECT_EQ(parseHeaderBlock(std::span(r.frame).first(kUnitBytes))->counter, expected);
        EXPECT_TRUE(r.send);
        EXPECT_EQ(r.sendTimerMs, 4 * static_cast<int>(r.frame.size()) + 200);
        EXPECT_EQ(r.movieTimerMs, (9 * r.sendTimerMs + 5) / 10);
    }
}

TEST(EncodeModes, SendWithTransmitOffStillTimes) {
    EncoderSettings s = smallFrame();
    EncoderState state;
    const EncodeResult r = ENCODEFRAME(s, testCard(), state, kEncodeSend);
    ASSERT_EQ(r.error, EncodeError::None);
    EXPECT_EQ(state.frameCounter, 0);
    EXPECT_FALSE(r.send);
    EXPECT_EQ(r.sendTimerMs, 4 * static_cast<int>(r.frame.size()) + 200);
}

TEST(EncodeModes, CounterReaching65535SendsNoStream) {
    EncoderSettings s = smallFrame();
    s.transmit = true;
    EncoderState state;
    state.frameCounter = 0xFFFE;
    const EncodeResult r = ENCODEFRAME(s, testCard(), state, kEncodeSend);
    ASSERT_EQ(r.error, EncodeError::None);
    EXPECT_EQ(state.frameCounter, 0xFFFF);
    EXPECT_EQ(r.frame.size(), frameStringLength(r.layout.n, false, true));
    const EncodeResult next = ENCODEFRAME(s, testCard(), state, kEncodeSend);
    EXPECT_EQ(state.frameCounter, 0);
    EXPECT_EQ(next.frame.size(), frameStringLength(next.layout.n, false));
}

TEST(EncodeModes, StatusLine) {
    EncoderSettings s = smallFrame();
    EncoderState state;
    for (const Wavelet w : {Wavelet::Haar, Wavelet::D4, Wavelet::Cdf97}) {
        s.wavelet = w;
        const EncodeResult r = ENCODEFRAME(s, testCard(), state, kEncodePreview);
        ASSERT_EQ(r.error, EncodeError::None);
        EXPECT_EQ(r.status, statusText(48, w, r.frame.size()));
    }
    EXPECT_EQ(statusText(256, Wavelet::Cdf97, 41 * 100),
              "256x256 pixels,  CDF97 subband compression,  16.4 seconds/frame");
    EXPECT_EQ(statusText(96, Wavelet::Haar, 41 * 6),
              "96x96 pixels,  Haar compression,  1.0 seconds/frame");
}

// ---- the preview decode left out ----

TEST(EncodeWithoutPreview, SameFrameStateAndTimersOnlyNoPicture) {
    EncoderSettings s = smallFrame();
    s.transmit = true;
    for (const Wavelet w : {Wavelet::Haar, Wavelet::D4, Wavelet::Cdf97}) {
        SCOPED_TRACE(testing::Message() << waveletName(w));
        s.wavelet = w;
        EncoderState withState;
        EncoderState withoutState;
        for (int run = 0; run < 2; ++run) {
            const EncodeResult with = ENCODEFRAME(s, testCard(), withState, kEncodeSend);
            const EncodeResult without =
                encodeFrame(s, testCard(), withoutState, kEncodeSend, PreviewDecode::Skip);
            ASSERT_EQ(with.error, EncodeError::None);
            ASSERT_EQ(without.error, EncodeError::None);
            EXPECT_EQ(without.frame, with.frame);
            EXPECT_EQ(without.coded, with.coded);
            EXPECT_EQ(without.status, with.status);
            EXPECT_EQ(without.sendTimerMs, with.sendTimerMs);
            EXPECT_EQ(without.headerLabel, with.headerLabel);
            EXPECT_EQ(without.preview.size, 0);
            EXPECT_EQ(with.preview.size, 48);
            EXPECT_EQ(withoutState.frameCounter, withState.frameCounter);
            EXPECT_EQ(withoutState.previousSourceName, withState.previousSourceName);
        }
    }
}

// ---- header label and source name ----

TEST(EncodeLabels, RepeatedSourceNameAlternatesWithASpace) {
    EncoderSettings s = smallFrame();
    EncoderState state;
    const char* expected[] = {"card.bmp", " card.bmp", "card.bmp", " card.bmp"};
    for (const char* name : expected) {
        const EncodeResult r = ENCODEFRAME(s, testCard(), state, kEncodePreview);
        ASSERT_EQ(r.error, EncodeError::None);
        EXPECT_EQ(r.sourceName, name);
        EXPECT_EQ(r.headerLabel, headerLabel("G0XYZ ", name));
        EXPECT_EQ(r.fileName, "card.bmp");
    }
    s.sourcePath = "/home/op/other.png";
    EXPECT_EQ(ENCODEFRAME(s, testCard(), state, kEncodePreview).sourceName, "other.png");
    s.sourceKind = SourceKind::Webcam;
    const EncodeResult cam = ENCODEFRAME(s, testCard(), state, kEncodePreview);
    EXPECT_EQ(cam.sourceName, "Camera");
    EXPECT_EQ(cam.fileName, "other.png");  // the still caption keeps the dropped file
    EXPECT_EQ(ENCODEFRAME(s, testCard(), state, kEncodePreview).sourceName, " Camera");
}

TEST(EncodeLabels, LabelAndMessageInTheFrame) {
    EncoderSettings s = smallFrame();
    s.callsign = "VERYLONGCALLSIGN/MM ";
    s.message = std::string(45, 'm');
    EncoderState state;
    const EncodeResult r = ENCODEFRAME(s, testCard(), state, kEncodePreview);
    ASSERT_EQ(r.error, EncodeError::None);
    EXPECT_EQ(r.headerLabel, "VERYLONGCALLSIGN/MM ca");
    const FrameContents read = readFrame(r.frame);
    ASSERT_EQ(read.error, FrameReadError::None);
    EXPECT_EQ(read.header.label, r.headerLabel);
    EXPECT_EQ(read.message, std::string(38, 'm'));
}

// ---- rejected frames ----

class EncodeSizeCheck : public testing::Test {
protected:
    // Noise at the finest step in a 256 frame codes to far more than 255-byte codewords hold.
    static EncoderSettings oversize() {
        EncoderSettings s;
        s.frameSize = 256;
        s.redFactor = 2;
        s.blueFactor = 2;
        s.syndromes = 200;
        s.sourcePath = "noise.png";
        return s;
    }
};

TEST_F(EncodeSizeCheck, RejectionRetriesEverySecondInEitherMode) {
    const SourcePicture source = noise(42);
    EncoderState state;
    state.previousSourceName = "kept";
    for (const int mode : {kEncodePreview, kEncodeSend, kEncodePreview}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode << " seed 42");
        const EncodeResult r = ENCODEFRAME(oversize(), source, state, mode);
        ASSERT_EQ(r.error, EncodeError::TooLarge);
        EXPECT_TRUE(r.frame.empty());
        EXPECT_EQ(r.sendTimerMs, kRetryPeriodMs);
        EXPECT_FALSE(r.send);
        EXPECT_TRUE(r.status.empty());
        EXPECT_EQ(r.preview.size, 0);
        const int L = static_cast<int>(r.coded.size()) + 4;
        EXPECT_EQ(r.failureLines[0], "   File length of " + std::to_string(L) + " bytes");
        EXPECT_EQ(r.failureLines[1], "   plus 7800 parity bytes");
    }
    EXPECT_EQ(state.previousSourceName, "kept");
    EXPECT_EQ(state.sizeCheckFailures, 3);
}

TEST_F(EncodeSizeCheck, ColoursAlternateAndTheCounterStillAdvances) {
    EncoderSettings s = oversize();
    s.transmit = true;
    EncoderState state;
    const EncodeResult first = ENCODEFRAME(s, noise(7), state, kEncodeSend);
    const EncodeResult second = ENCODEFRAME(s, noise(7), state, kEncodeSend);
    ASSERT_EQ(first.error, EncodeError::TooLarge);
    ASSERT_EQ(second.error, EncodeError::TooLarge);
    EXPECT_NE(first.failureInRed, second.failureInRed);
    EXPECT_EQ(state.frameCounter, 2);
}

TEST(EncodeSettingsRange, BadSettingsLeaveTheStateAlone) {
    EncoderState state;
    state.frameCounter = 9;
    const auto reject = [&](EncoderSettings s) {
        s.transmit = true;
        const EncodeResult r = ENCODEFRAME(s, testCard(), state, kEncodeSend);
        EXPECT_EQ(r.error, EncodeError::BadSettings);
        EXPECT_EQ(state.frameCounter, 9);
    };
    EncoderSettings s;
    s.frameSize = 100;
    reject(s);
    s = {};
    s.redFactor = 8;
    reject(s);
    s = {};
    s.quantiser = 0;
    reject(s);
    s = {};
    s.threshold = 101;
    reject(s);
    s = {};
    s.syndromes = 1;
    reject(s);
}

TEST(EncodePlanes, CoefficientCounts) {
    EncoderState state;
    EncoderSettings s;
    s.frameSize = 48;
    s.redFactor = 4;
    s.blueFactor = 2;
    EXPECT_EQ(ENCODEFRAME(s, gradient(), state, kEncodePreview).coefficientCount,
              48u * 48 + 12 * 12 + 24 * 24);
    s.frameSize = 256;
    s.redFactor = 2;
    s.blueFactor = 2;
    s.threshold = 30;
    s.quantiser = 40;
    EXPECT_EQ(ENCODEFRAME(s, gradient(), state, kEncodePreview).coefficientCount,
              65536u + 2 * 16384);
}

}  // namespace
}  // namespace encoder

namespace encoder {
namespace {

// The AV1 payload inside the same frame: header letter 'A', the chroma in both factors, the
// quality in the step, the CRC from its own initial value; the preview is the stream decoded as
// a receiver decodes it, and a frame reader takes it apart again.
TEST(EncodeAv1, FrameCarriesTheStreamAndThePreviewIsItsDecode) {
    for (const int chroma : {kAv1Chroma444, kAv1Chroma420}) {
        SCOPED_TRACE(chroma);
        EncoderSettings s;
        s.frameSize = 128;
        s.wavelet = Wavelet::Av1;
        s.av1Chroma = chroma;
        s.quantiser = 25;  // quality 24
        s.callsign = "TEST ";
        s.sourcePath = "card.png";
        EncoderState state;
        const EncodeResult r = ENCODEFRAME(s, testCard(), state, kEncodePreview);
        ASSERT_EQ(r.error, EncodeError::None);
        EXPECT_NE(r.status.find("128x128 pixels,  AV1 compression,"), std::string::npos)
            << r.status;
        ASSERT_EQ(r.preview.size, 128);
        const PictureParams params{128, Wavelet::Av1, chroma, chroma, 24};
        const PictureDecode again = decodePayload(r.coded, params);
        ASSERT_EQ(again.error, DecodeError::None);
        EXPECT_EQ(again.picture.pixels, r.preview.pixels);
        // The test card's colour edges cost 4:2:0 most of its chroma.
        EXPECT_GT(psnrDb(r.preview, referencePicture(testCard(), 128)),
                  chroma == kAv1Chroma444 ? 40.0 : 24.0);

        const FrameContents read = readFrame(r.frame);
        ASSERT_EQ(read.error, FrameReadError::None);
        EXPECT_EQ(read.header.letter, 'A');
        EXPECT_EQ(read.header.redFactor, chroma);
        EXPECT_EQ(read.header.blueFactor, chroma);
        EXPECT_EQ(read.header.step, 24);
        EXPECT_EQ(read.coded, r.coded);
        EXPECT_EQ(read.crcText, crcText(r.coded, kAv1CrcInitial));
        EXPECT_NE(read.crcText, crcText(r.coded));
    }
}

// The quantiser setting is AV1's quality: a finer one costs more bytes and looks better.
TEST(EncodeAv1, TheQuantiserSettingIsTheQuality) {
    EXPECT_EQ(av1Quality(1), 0);
    EXPECT_EQ(av1Quality(64), 63);
    EXPECT_EQ(av1Quality(65), 63);
    EncoderSettings s;
    s.frameSize = 64;
    s.wavelet = Wavelet::Av1;
    EncoderState state;
    s.quantiser = 10;
    const EncodeResult fine = ENCODEFRAME(s, zonePlate(), state, kEncodePreview);
    s.quantiser = 50;
    const EncodeResult coarse = ENCODEFRAME(s, zonePlate(), state, kEncodePreview);
    ASSERT_EQ(fine.error, EncodeError::None);
    ASSERT_EQ(coarse.error, EncodeError::None);
    EXPECT_GT(fine.coded.size(), coarse.coded.size());
    const Picture reference = referencePicture(zonePlate(), 64);
    EXPECT_GT(psnrDb(fine.preview, reference), psnrDb(coarse.preview, reference));
    s.av1Chroma = 4;
    EXPECT_EQ(ENCODEFRAME(s, zonePlate(), state, kEncodePreview).error, EncodeError::BadSettings);
    s.av1Chroma = kAv1Chroma420;
    s.av1Speed = 10;
    EXPECT_EQ(ENCODEFRAME(s, zonePlate(), state, kEncodePreview).error, EncodeError::BadSettings);
}

}  // namespace
}  // namespace encoder
