// End to end without a channel: ENCODEFRAME's frame string, taken apart by reversing the frame
// format, gives back the coded stream, and decoding it with the header's values gives the
// sender's preview, through both the preview's and the receiver's expansion.

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "encoder/decode_frame.h"
#include "encoder/encode_frame.h"
#include "encoder/frame_format.h"
#include "encoder/test_pictures.h"

namespace encoder {
namespace {

struct NamedPicture {
    const char* name;
    SourcePicture (*make)();
};

SourcePicture seededNoise() { return noise(20240607); }  // seed printed via the name below

constexpr NamedPicture kPictures[] = {{"test card", testCard},
                                      {"colour bars", colourBars},
                                      {"gradient", gradient},
                                      {"zone plate", zonePlate},
                                      {"noise seed 20240607", seededNoise}};

using Case = std::tuple<int, Wavelet, int, int>;  // N, wavelet, red factor, blue factor

class RoundTrip : public testing::TestWithParam<Case> {};

TEST_P(RoundTrip, FrameStringDecodesToThePreview) {
    const auto [n, wavelet, redFactor, blueFactor] = GetParam();
    // Rotate through the pictures so every one meets every wavelet and size somewhere.
    const size_t pick =
        (static_cast<size_t>(n) + static_cast<size_t>(wavelet) * 7 + redFactor + blueFactor * 3) %
        std::size(kPictures);
    const NamedPicture& picture = kPictures[pick];
    SCOPED_TRACE(testing::Message() << picture.name << ", N " << n << ", " << waveletName(wavelet)
                                    << ", red " << redFactor << ", blue " << blueFactor);

    EncoderSettings s;
    s.frameSize = n;
    s.wavelet = wavelet;
    s.redFactor = redFactor;
    s.blueFactor = blueFactor;
    s.callsign = "TEST ";
    s.message = "round trip";
    s.sourcePath = picture.name;
    s.transmit = true;
    // The large frames need a coarse step, a high threshold and the least parity to fit 255-byte
    // codewords (noise at 256 x 256 only just fits); they also cover the smallest t.
    s.quantiser = n >= 128 ? 65 : 20;
    s.threshold = n == 256 ? 100 : n == 128 ? 60 : 0;
    s.syndromes = n >= 128 ? 4 : 32;
    EncoderState state;
    const SourcePicture source = picture.make();
    const EncodeResult sent = ENCODEFRAME(s, source, state, kEncodeSend);
    ASSERT_EQ(sent.error, EncodeError::None) << sent.failureLines[0];
    ASSERT_EQ(sent.preview.size, n);

    const FrameContents read = readFrame(sent.frame);
    ASSERT_EQ(read.error, FrameReadError::None) << "codeword " << read.badCodeword;
    for (int j = 0; j < kCodewords; ++j) ASSERT_LE(read.rsCount[j], j == 0 ? 1 : 0) << j;
    EXPECT_EQ(read.coded, sent.coded);
    EXPECT_EQ(read.header.counter, 1);

    const std::optional<PictureParams> params = read.header.pictureParams();
    ASSERT_TRUE(params);
    EXPECT_EQ(params->frameSize, n);
    EXPECT_EQ(params->wavelet, wavelet);
    EXPECT_EQ(params->redFactor, redFactor);
    EXPECT_EQ(params->blueFactor, blueFactor);
    EXPECT_EQ(params->step, 16 + s.quantiser);

    const PictureDecode preview = decodePicture(read.coded, coefficientCount(*params), *params);
    ASSERT_EQ(preview.error, DecodeError::None);
    EXPECT_FALSE(preview.shortStream);
    const PictureDecode received = decodeReceived(read.coded, *params);
    ASSERT_EQ(received.error, DecodeError::None);
    for (const PictureDecode* d : {&preview, &received}) {
        ASSERT_EQ(d->picture.size, n);
        for (int y = 0; y < n; ++y) {
            for (int x = 0; x < n; ++x) {
                ASSERT_EQ(d->picture.at(x, y), sent.preview.at(x, y))
                    << "pixel " << x << "," << y << (d == &preview ? " (preview)" : " (receiver)");
            }
        }
    }
}

std::string caseName(const testing::TestParamInfo<Case>& info) {
    const auto [n, wavelet, redFactor, blueFactor] = info.param;
    const char* w = wavelet == Wavelet::Haar ? "Haar" : wavelet == Wavelet::D4 ? "D4" : "Cdf97";
    return "N" + std::to_string(n) + "_" + w + "_red" + std::to_string(redFactor) + "_blue" +
           std::to_string(blueFactor);
}

INSTANTIATE_TEST_SUITE_P(AllSettings, RoundTrip,
                         testing::Combine(testing::Values(48, 64, 96, 128, 256),
                                          testing::Values(Wavelet::Haar, Wavelet::D4,
                                                          Wavelet::Cdf97),
                                          testing::Values(2, 4), testing::Values(2, 4)),
                         caseName);

// The decoded picture resembles its source: catches a decoder that agrees with the encoder but
// scrambles both the same way (transposed planes, swapped chroma). The step is coarse enough
// that no coefficient of the bars reaches the ends of its byte.
TEST(RoundTripLikeness, ColourBarsSurviveAtAModerateStep) {
    for (const Wavelet w : {Wavelet::Haar, Wavelet::D4, Wavelet::Cdf97}) {
        SCOPED_TRACE(waveletName(w));
        EncoderSettings s;
        s.frameSize = 64;
        s.wavelet = w;
        s.redFactor = 2;
        s.blueFactor = 2;
        s.quantiser = 40;
        EncoderState state;
        const EncodeResult r = ENCODEFRAME(s, colourBars(), state, kEncodePreview);
        ASSERT_EQ(r.error, EncodeError::None);
        // Centre of each 8-pixel bar at N = 64 (bars are 32 source pixels, 8 frame pixels).
        const int expected[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                    {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
        for (int bar = 0; bar < 8; ++bar) {
            const uint32_t p = r.preview.at(bar * 8 + 4, 32);
            EXPECT_NEAR(redOf(p), expected[bar][0], 40) << "bar " << bar;
            EXPECT_NEAR(greenOf(p), expected[bar][1], 40) << "bar " << bar;
            EXPECT_NEAR(blueOf(p), expected[bar][2], 40) << "bar " << bar;
        }
    }
}

// Flat, saturated colours at the finest step give low-band chroma coefficients beyond the
// byte's range. Wrapped, they came back as their opposites (cyan as magenta); held at the ends
// of the byte, the hue survives on every receiver: a moderate cyan comes back close, and the
// fully saturated ones (whose chroma the byte cannot reach) keep the order of their channels.
TEST(RoundTripLikeness, FlatSaturatedColoursKeepTheirHue) {
    struct Colour {
        int r, g, b;
        int tolerance;  // per channel; 0 checks the order of the channels only
    };
    for (const Colour c : {Colour{32, 200, 200, 24}, Colour{0, 255, 255, 0}, Colour{255, 0, 0, 0},
                           Colour{0, 0, 255, 0}, Colour{255, 255, 0, 0}, Colour{255, 0, 255, 0}}) {
        for (const Wavelet w : {Wavelet::Haar, Wavelet::D4, Wavelet::Cdf97}) {
            for (const int n : {48, 64, 128}) {
                SCOPED_TRACE(testing::Message() << "colour " << c.r << "," << c.g << "," << c.b
                                                << ", " << waveletName(w) << ", N " << n);
                EncoderSettings s;
                s.frameSize = n;
                s.wavelet = w;
                EncoderState state;
                const EncodeResult r =
                    ENCODEFRAME(s,
                                uniform(static_cast<uint8_t>(c.r), static_cast<uint8_t>(c.g),
                                        static_cast<uint8_t>(c.b)),
                                state, kEncodePreview);
                ASSERT_EQ(r.error, EncodeError::None);
                const uint32_t p = r.preview.at(n / 2, n / 2);
                const int got[3] = {static_cast<int>(redOf(p)), static_cast<int>(greenOf(p)),
                                    static_cast<int>(blueOf(p))};
                const int want[3] = {c.r, c.g, c.b};
                for (int i = 0; i < 3; ++i) {
                    if (c.tolerance > 0) {
                        EXPECT_NEAR(got[i], want[i], c.tolerance) << "channel " << i;
                    }
                    for (int j = 0; j < 3; ++j) {
                        if (want[i] - want[j] >= 100) {
                            EXPECT_GT(got[i] - got[j], 40) << "channels " << i << " and " << j;
                        }
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace encoder
