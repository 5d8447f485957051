// The payload end to end: encodePicture's OBUs through decodePicture at every frame size and
// both chroma formats; what decodePicture refuses (streams of another size, chroma or depth,
// cut, lengthened or damaged streams); and a pinned stream whose decoded picture must be the
// same on every machine.

#include "av1/av1_payload.h"

#include <aom/aom_encoder.h>
#include <aom/aomcx.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "av1/obu.h"
#include "encoder/air_time.h"
#include "encoder/test_pictures.h"

namespace av1 {
namespace {

using encoder::Picture;

const char* chromaName(Chroma c) { return c == Chroma::Yuv444 ? "4:4:4" : "4:2:0"; }

Picture card(int n) { return encoder::referencePicture(encoder::testCard(), n); }

std::vector<uint8_t> encodeOrFail(const Picture& picture, int quality, Chroma chroma,
                                  int speed = kSendSpeed) {
    EncodeSettings s;
    s.quality = quality;
    s.chroma = chroma;
    s.speed = speed;
    const Encoded e = encodePicture(picture, s);
    EXPECT_TRUE(e.error.empty()) << e.error;
    EXPECT_FALSE(e.obus.empty());
    return e.obus;
}

std::vector<ObuType> obuTypes(std::span<const uint8_t> stream) {
    std::vector<Obu> obus;
    EXPECT_TRUE(splitObus(stream, obus));
    std::vector<ObuType> types;
    for (const Obu& obu : obus) types.push_back(obu.type);
    return types;
}

// An N x N picture decodes to N x N with an RGB PSNR that rises as the quantiser gets finer.
using RoundTripCase = std::tuple<int, Chroma>;
class RoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, FinerQualityGivesHigherPsnr) {
    const auto [n, chroma] = GetParam();
    SCOPED_TRACE(testing::Message() << "test card, N " << n << ", " << chromaName(chroma));
    const Picture reference = card(n);
    double coarser = 0;
    double coarsest = 0;
    double coarsestLuma = 0;
    double finestLuma = 0;
    for (const int quality : {kMaxQuality, 48, 32, 16, kMinQuality}) {
        SCOPED_TRACE(testing::Message() << "quality " << quality);
        const std::vector<uint8_t> obus = encodeOrFail(reference, quality, chroma);
        const std::vector<ObuType> types = obuTypes(obus);
        ASSERT_GE(types.size(), 2u);
        EXPECT_EQ(obus[0], obuHeaderByte(ObuType::SequenceHeader));
        EXPECT_EQ(types[1], ObuType::Frame);
        for (const ObuType t : types) EXPECT_NE(t, ObuType::TemporalDelimiter);

        const Decoded d = decodePicture(obus, n, chroma);
        ASSERT_EQ(d.error, DecodeError::None) << decodeErrorText(d.error);
        ASSERT_EQ(d.picture.size, n);
        ASSERT_EQ(d.picture.pixels.size(), static_cast<size_t>(n) * n);
        const double psnr = encoder::psnrDb(reference, d.picture);
        // The card's flat patches reach the conversion's own limit before the finest step, so
        // neighbouring steps may tie; the ends of the scale may not.
        EXPECT_GE(psnr, coarser - 0.05);
        const double luma = encoder::lumaPsnrDb(reference, d.picture);
        if (quality == kMaxQuality) {
            coarsest = psnr;
            coarsestLuma = luma;
        }
        coarser = psnr;
        finestLuma = luma;
    }
    // In 4:2:0 the card's colour edges cap the RGB PSNR near 24..30 dB at any step.
    EXPECT_GT(coarser, coarsest + 2);
    EXPECT_GT(finestLuma, coarsestLuma + 15);
    // 4:2:0 loses the card's sharp colour edges whatever the step: there the luma carries the
    // test.
    const Picture fine = decodePicture(encodeOrFail(reference, 8, chroma), n, chroma).picture;
    if (chroma == Chroma::Yuv444) {
        EXPECT_GT(encoder::psnrDb(reference, fine), 40);
    } else {
        EXPECT_GT(encoder::lumaPsnrDb(reference, fine), 40);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RoundTrip,
                         testing::Combine(testing::Values(48, 64, 128, 256),
                                          testing::Values(Chroma::Yuv444, Chroma::Yuv420)),
                         [](const testing::TestParamInfo<RoundTripCase>& info) {
                             return "N" + std::to_string(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) == Chroma::Yuv444 ? "_444" : "_420");
                         });

TEST(RoundTrip, SmoothPictureIn420IsClose) {
    const Picture reference = encoder::referencePicture(encoder::gradient(), 128);
    const Decoded d =
        decodePicture(encodeOrFail(reference, 8, Chroma::Yuv420), 128, Chroma::Yuv420);
    ASSERT_EQ(d.error, DecodeError::None);
    EXPECT_GT(encoder::psnrDb(reference, d.picture), 40);
}

TEST(RoundTrip, OddAndSmallestSizes) {
    for (const int n : {16, 17, 33, 255}) {
        for (const Chroma chroma : {Chroma::Yuv444, Chroma::Yuv420}) {
            SCOPED_TRACE(testing::Message() << "N " << n << ", " << chromaName(chroma));
            Picture p(n);
            for (int y = 0; y < n; ++y) {
                for (int x = 0; x < n; ++x) p.at(x, y) = encoder::packRgb(x, y, 255 - x);
            }
            const Decoded d = decodePicture(encodeOrFail(p, 16, chroma), n, chroma);
            ASSERT_EQ(d.error, DecodeError::None) << decodeErrorText(d.error);
            EXPECT_EQ(d.picture.size, n);
            EXPECT_GT(encoder::psnrDb(p, d.picture), 35);
        }
    }
}

TEST(RoundTrip, SlowerSpeedDecodesToo) {
    const Picture reference = card(64);
    const std::vector<uint8_t> obus = encodeOrFail(reference, 32, Chroma::Yuv444, kStillSpeed);
    const Decoded d = decodePicture(obus, 64, Chroma::Yuv444);
    ASSERT_EQ(d.error, DecodeError::None);
    EXPECT_GT(encoder::psnrDb(reference, d.picture), 35);
}

TEST(Determinism, SameInputSameBytesSamePicture) {
    const Picture reference = card(96);
    for (const Chroma chroma : {Chroma::Yuv444, Chroma::Yuv420}) {
        const std::vector<uint8_t> a = encodeOrFail(reference, 30, chroma);
        const std::vector<uint8_t> b = encodeOrFail(reference, 30, chroma);
        EXPECT_EQ(a, b) << chromaName(chroma);
        const Decoded da = decodePicture(a, 96, chroma);
        const Decoded db = decodePicture(a, 96, chroma);
        ASSERT_EQ(da.error, DecodeError::None);
        EXPECT_EQ(da.picture.pixels, db.picture.pixels) << chromaName(chroma);
    }
}

TEST(Encode, RefusesWhatItCannotEncode) {
    EncodeSettings s;
    EXPECT_FALSE(encodePicture(Picture(8), s).error.empty());
    EXPECT_FALSE(encodePicture(Picture(257), s).error.empty());
    Picture cut(64);
    cut.pixels.pop_back();
    EXPECT_FALSE(encodePicture(cut, s).error.empty());
    for (const int quality : {-1, 64}) {
        EncodeSettings q;
        q.quality = quality;
        const Encoded e = encodePicture(card(64), q);
        EXPECT_TRUE(e.obus.empty());
        EXPECT_FALSE(e.error.empty()) << quality;
    }
    for (const int speed : {-1, 10}) {
        EncodeSettings q;
        q.speed = speed;
        EXPECT_FALSE(encodePicture(card(64), q).error.empty()) << speed;
    }
}

// A stream straight from libaom, temporal delimiter removed, for what encodePicture never
// makes: another bit depth, monochrome, a picture that is not square.
std::vector<uint8_t> libaomStream(int width, int height, int bitDepth, bool monochrome,
                                  bool full444) {
    aom_codec_iface_t* iface = aom_codec_av1_cx();
    aom_codec_enc_cfg_t cfg;
    EXPECT_EQ(aom_codec_enc_config_default(iface, &cfg, AOM_USAGE_ALL_INTRA), AOM_CODEC_OK);
    cfg.g_w = static_cast<unsigned>(width);
    cfg.g_h = static_cast<unsigned>(height);
    cfg.g_threads = 1;
    cfg.g_limit = 1;
    cfg.g_profile = full444 ? 1 : 0;
    cfg.g_bit_depth = static_cast<aom_bit_depth_t>(bitDepth);
    cfg.g_input_bit_depth = static_cast<unsigned>(bitDepth);
    cfg.monochrome = monochrome ? 1 : 0;
    cfg.rc_end_usage = AOM_Q;
    aom_codec_ctx_t ctx;
    const aom_codec_flags_t flags = bitDepth > 8 ? AOM_CODEC_USE_HIGHBITDEPTH : 0;
    EXPECT_EQ(aom_codec_enc_init(&ctx, iface, &cfg, flags), AOM_CODEC_OK);
    aom_codec_control(&ctx, AOME_SET_CPUUSED, 9);
    aom_codec_control(&ctx, AOME_SET_CQ_LEVEL, 40);

    aom_img_fmt_t fmt = full444 ? AOM_IMG_FMT_I444 : AOM_IMG_FMT_I420;
    if (bitDepth > 8) fmt = static_cast<aom_img_fmt_t>(fmt | AOM_IMG_FMT_HIGHBITDEPTH);
    aom_image_t* img =
        aom_img_alloc(nullptr, fmt, static_cast<unsigned>(width), static_cast<unsigned>(height), 1);
    for (int plane = 0; plane < 3; ++plane) {
        const bool sub = plane > 0 && !full444;
        const int w = sub ? (width + 1) / 2 : width;
        const int h = sub ? (height + 1) / 2 : height;
        const int level = plane == 0 ? 40 << (bitDepth - 8) : 128 << (bitDepth - 8);
        for (int y = 0; y < h; ++y) {
            uint8_t* row = img->planes[plane] + static_cast<ptrdiff_t>(y) * img->stride[plane];
            for (int x = 0; x < w; ++x) {
                if (bitDepth > 8) {
                    reinterpret_cast<uint16_t*>(row)[x] = static_cast<uint16_t>(level + x);
                } else {
                    row[x] = static_cast<uint8_t>(level + x);
                }
            }
        }
    }
    std::vector<uint8_t> stream;
    for (const aom_image_t* in :
         {static_cast<const aom_image_t*>(img), static_cast<const aom_image_t*>(nullptr)}) {
        EXPECT_EQ(aom_codec_encode(&ctx, in, 0, 1, 0), AOM_CODEC_OK);
        aom_codec_iter_t iter = nullptr;
        while (const aom_codec_cx_pkt_t* pkt = aom_codec_get_cx_data(&ctx, &iter)) {
            if (pkt->kind != AOM_CODEC_CX_FRAME_PKT) continue;
            const auto* b = static_cast<const uint8_t*>(pkt->data.frame.buf);
            stream.insert(stream.end(), b, b + pkt->data.frame.sz);
        }
    }
    aom_img_free(img);
    aom_codec_destroy(&ctx);

    std::vector<Obu> obus;
    EXPECT_TRUE(splitObus(stream, obus));
    std::vector<uint8_t> out;
    for (const Obu& obu : obus) {
        if (obu.type == ObuType::TemporalDelimiter) continue;
        out.insert(out.end(), stream.begin() + static_cast<ptrdiff_t>(obu.offset),
                   stream.begin() + static_cast<ptrdiff_t>(obu.offset + obu.bytes));
    }
    return out;
}

TEST(Refuse, WrongSizeChromaOrDepth) {
    const std::vector<uint8_t> s64 = encodeOrFail(card(64), 40, Chroma::Yuv444);
    EXPECT_EQ(decodePicture(s64, 48, Chroma::Yuv444).error, DecodeError::WrongSize);
    EXPECT_EQ(decodePicture(s64, 128, Chroma::Yuv444).error, DecodeError::WrongSize);
    EXPECT_EQ(decodePicture(s64, 0, Chroma::Yuv444).error, DecodeError::WrongSize);
    EXPECT_EQ(decodePicture(s64, 100000, Chroma::Yuv444).error, DecodeError::WrongSize);
    EXPECT_EQ(decodePicture(s64, 64, Chroma::Yuv420).error, DecodeError::WrongChroma);
    const std::vector<uint8_t> s420 = encodeOrFail(card(64), 40, Chroma::Yuv420);
    EXPECT_EQ(decodePicture(s420, 64, Chroma::Yuv444).error, DecodeError::WrongChroma);

    EXPECT_EQ(decodePicture(libaomStream(64, 64, 10, false, false), 64, Chroma::Yuv420).error,
              DecodeError::WrongDepth);
    EXPECT_EQ(decodePicture(libaomStream(64, 64, 10, false, true), 64, Chroma::Yuv444).error,
              DecodeError::WrongDepth);
    EXPECT_EQ(decodePicture(libaomStream(64, 64, 8, true, false), 64, Chroma::Yuv420).error,
              DecodeError::WrongChroma);
    EXPECT_EQ(decodePicture(libaomStream(64, 48, 8, false, false), 64, Chroma::Yuv420).error,
              DecodeError::WrongSize);
    EXPECT_EQ(decodePicture(libaomStream(48, 64, 8, false, true), 64, Chroma::Yuv444).error,
              DecodeError::WrongSize);
    // The libaom helper itself makes streams we accept.
    EXPECT_EQ(decodePicture(libaomStream(64, 64, 8, false, false), 64, Chroma::Yuv420).error,
              DecodeError::None);
}

TEST(Refuse, EmptyCutAndLengthened) {
    const std::vector<uint8_t> good = encodeOrFail(card(48), 40, Chroma::Yuv420);
    EXPECT_EQ(decodePicture({}, 48, Chroma::Yuv420).error, DecodeError::NotAv1);
    for (size_t cut = 0; cut < good.size(); ++cut) {
        const Decoded d =
            decodePicture(std::span<const uint8_t>(good.data(), cut), 48, Chroma::Yuv420);
        EXPECT_EQ(d.error, DecodeError::NotAv1) << "cut to " << cut << " bytes";
        EXPECT_EQ(d.picture.size, 0);
        EXPECT_TRUE(d.picture.pixels.empty());
    }
    const std::vector<std::vector<uint8_t>> tails = {
        {0x00},
        {kTemporalDelimiter[0], kTemporalDelimiter[1]},
        {obuHeaderByte(ObuType::Padding), 1, 0},
        {obuHeaderByte(ObuType::Metadata), 1, 0},
    };
    for (const std::vector<uint8_t>& tail : tails) {
        std::vector<uint8_t> longer = good;
        longer.insert(longer.end(), tail.begin(), tail.end());
        EXPECT_EQ(decodePicture(longer, 48, Chroma::Yuv420).error, DecodeError::NotAv1)
            << "tail starting " << int{tail[0]};
    }
    // Nor in front: the temporal delimiter libaom writes stays out.
    std::vector<uint8_t> delimited(std::begin(kTemporalDelimiter), std::end(kTemporalDelimiter));
    delimited.insert(delimited.end(), good.begin(), good.end());
    EXPECT_EQ(decodePicture(delimited, 48, Chroma::Yuv420).error, DecodeError::NotAv1);
}

// Every byte of a small stream damaged three ways: the OBU headers and sizes are always
// refused; anywhere else the answer is an error or a picture of the promised size.
TEST(Refuse, DamagedBytesNeverGiveAnotherSize) {
    for (const Chroma chroma : {Chroma::Yuv444, Chroma::Yuv420}) {
        const std::vector<uint8_t> good = encodeOrFail(card(48), 36, chroma);
        std::vector<Obu> obus;
        ASSERT_TRUE(splitObus(good, obus));
        int pictures = 0;
        for (size_t pos = 0; pos < good.size(); ++pos) {
            bool framing = false;
            for (const Obu& obu : obus) framing |= pos >= obu.offset && pos < obu.payloadOffset;
            for (const uint8_t mask : {0x01, 0x80, 0xFF}) {
                std::vector<uint8_t> bad = good;
                bad[pos] ^= mask;
                const Decoded d = decodePicture(bad, 48, chroma);
                SCOPED_TRACE(testing::Message()
                             << chromaName(chroma) << ", byte " << pos << " ^ " << int{mask});
                if (framing) {
                    EXPECT_EQ(d.error, DecodeError::NotAv1);
                }
                if (d.error == DecodeError::None) {
                    ++pictures;
                    EXPECT_EQ(d.picture.size, 48);
                    EXPECT_EQ(d.picture.pixels.size(), 48u * 48u);
                } else {
                    EXPECT_EQ(d.picture.size, 0);
                }
            }
        }
        // Most damage inside the tile data still decodes, to something.
        EXPECT_GT(pictures, 0) << chromaName(chroma);
    }
}

TEST(DecodeErrorText, OneShortTextPerError) {
    const DecodeError all[] = {DecodeError::None,       DecodeError::NotAv1,
                               DecodeError::WrongSize,  DecodeError::WrongChroma,
                               DecodeError::WrongDepth, DecodeError::Damaged};
    std::vector<std::string> seen;
    for (const DecodeError e : all) {
        const std::string text = decodeErrorText(e);
        EXPECT_FALSE(text.empty());
        EXPECT_LT(text.size(), 60u);
        for (const std::string& other : seen) EXPECT_NE(text, other);
        seen.push_back(text);
    }
}

// 64-bit FNV-1a over the pixels, each as four bytes little-endian.
uint64_t pictureHash(const Picture& p) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (const uint32_t px : p.pixels) {
        for (int i = 0; i < 4; ++i) {
            h ^= (px >> (8 * i)) & 0xFF;
            h *= 0x100000001B3ull;
        }
    }
    return h;
}

// A 48 x 48 4:2:0 stream of the test card at quality 50 as libaom 3.6 wrote it, and the hash
// of its picture. dav1d's output is exact by definition and the conversion is integer, so the
// hash holds on every machine and with every dav1d; a change means receivers disagree.
constexpr uint8_t kPinnedStream[] = {
    0x0A, 0x06, 0x18, 0x15, 0x6F, 0xBD, 0xA1, 0x08, 0x32, 0xD1, 0x01, 0x1C, 0x80, 0x29, 0xA6, 0x9A,
    0x45, 0x97, 0x5D, 0x00, 0xDC, 0xBE, 0x7D, 0x1D, 0xF5, 0x83, 0xD3, 0x7C, 0x69, 0xC6, 0x84, 0x2B,
    0xE4, 0x0D, 0xB1, 0x07, 0xCC, 0x20, 0x38, 0x27, 0x51, 0x7F, 0x0F, 0xD6, 0x89, 0x73, 0x8B, 0x85,
    0x66, 0x6A, 0xB3, 0x7F, 0xDD, 0x36, 0xEE, 0x23, 0x97, 0x53, 0xEC, 0xCE, 0xE5, 0x57, 0xA5, 0xCC,
    0x15, 0x69, 0x50, 0xC1, 0xB4, 0x31, 0x58, 0x2E, 0x8C, 0xAF, 0x45, 0x9E, 0x7A, 0xE1, 0x89, 0x9A,
    0xF7, 0x5C, 0x6F, 0xAB, 0x2C, 0x9A, 0x6C, 0x02, 0xAF, 0xCA, 0xA3, 0x31, 0x41, 0x26, 0x07, 0x68,
    0x76, 0x9E, 0x23, 0x97, 0x79, 0x8F, 0x1D, 0x11, 0x42, 0xB2, 0xDD, 0x25, 0x47, 0x99, 0x1E, 0xAA,
    0x0A, 0x9D, 0xA1, 0x9F, 0x0E, 0xDF, 0xD0, 0x72, 0x8D, 0x5C, 0x08, 0x0E, 0xAE, 0x8B, 0xC7, 0x73,
    0x45, 0xA9, 0x77, 0x33, 0xCF, 0xED, 0xAA, 0xED, 0x87, 0xEC, 0x66, 0xB3, 0x16, 0xF0, 0xBB, 0xB6,
    0x1D, 0x39, 0xDC, 0xB4, 0xD8, 0x7F, 0x10, 0x5F, 0x3D, 0xF9, 0x2D, 0xFF, 0x25, 0xBF, 0x27, 0xFF,
    0x2B, 0xF7, 0xBC, 0x5A, 0x80, 0x81, 0x34, 0xB3, 0x9C, 0x41, 0xDD, 0xAD, 0x24, 0x7D, 0x76, 0x72,
    0x48, 0x23, 0x13, 0x5A, 0xA4, 0x07, 0x94, 0xD5, 0x8C, 0x91, 0xA7, 0xF1, 0xCB, 0x20, 0xE1, 0xA9,
    0xA2, 0x1C, 0xA3, 0xB1, 0x3A, 0xA0, 0x25, 0xA6, 0x8D, 0xA6, 0xD0, 0xC3, 0x72, 0xAE, 0x97, 0x7F,
    0xD9, 0x2A, 0x3E, 0x28, 0x54, 0x22, 0x29, 0x18, 0xAE, 0x90, 0x64, 0xA4,
};
constexpr uint64_t kPinnedHash = 0x0D085402A3543DF8;

TEST(Pinned, StreamDecodesToTheSamePictureEverywhere) {
    const Decoded d = decodePicture(kPinnedStream, 48, Chroma::Yuv420);
    ASSERT_EQ(d.error, DecodeError::None);
    EXPECT_EQ(pictureHash(d.picture), kPinnedHash) << std::hex << pictureHash(d.picture);
    EXPECT_GT(encoder::lumaPsnrDb(card(48), d.picture), 25);
}

// The fuzz target's seeds: real streams behind the selector byte (see fuzz/av1_decode_fuzz.cpp).
// VISTREL_AV1_SEEDS=fuzz/corpus/av1_decode_fuzz av1_tests --gtest_filter='Seeds.*' rewrites them.
TEST(Seeds, WriteFuzzCorpusOnRequest) {
    const char* dir = std::getenv("VISTREL_AV1_SEEDS");
    if (dir == nullptr) GTEST_SKIP() << "VISTREL_AV1_SEEDS not set";
    struct Seed {
        const char* name;
        int selectorSize;  // the frame size the selector byte promises
        int n;             // the size actually encoded
        Chroma chroma;
        int quality;
        const char* picture;
    };
    const Seed seeds[] = {
        {"card_48_420_q50", 48, 48, Chroma::Yuv420, 50, "card"},
        {"card_64_444_q40", 64, 64, Chroma::Yuv444, 40, "card"},
        {"gradient_96_420_q56", 96, 96, Chroma::Yuv420, 56, "gradient"},
        {"card_128_444_q60", 128, 128, Chroma::Yuv444, 60, "card"},
        {"gradient_256_420_q63", 256, 256, Chroma::Yuv420, 63, "gradient"},
        {"card_64_as_48_wrong_size", 48, 64, Chroma::Yuv420, 60, "card"},
    };
    constexpr int kSizes[] = {48, 64, 96, 128, 256};
    for (const Seed& seed : seeds) {
        const encoder::SourcePicture source =
            std::string(seed.picture) == "card" ? encoder::testCard() : encoder::gradient();
        const std::vector<uint8_t> obus =
            encodeOrFail(encoder::referencePicture(source, seed.n), seed.quality, seed.chroma);
        const int sizeIndex =
            static_cast<int>(std::find(std::begin(kSizes), std::end(kSizes), seed.selectorSize) -
                             std::begin(kSizes));
        const uint8_t selector =
            static_cast<uint8_t>(sizeIndex * 2 + (seed.chroma == Chroma::Yuv420 ? 1 : 0));
        std::ofstream out(std::filesystem::path(dir) / seed.name, std::ios::binary);
        out.put(static_cast<char>(selector));
        out.write(reinterpret_cast<const char*>(obus.data()),
                  static_cast<std::streamsize>(obus.size()));
        ASSERT_TRUE(out.good()) << seed.name;
    }
}

}  // namespace
}  // namespace av1
