#include "av1/av1_payload.h"

#include <aom/aom_encoder.h>
#include <aom/aomcx.h>
#include <dav1d/dav1d.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "av1/colour.h"
#include "av1/obu.h"

namespace av1 {

namespace {

constexpr int kMaxSpeed = 9;
constexpr int kMaxDecodeRounds = 16;

struct AomEncoder {
    aom_codec_ctx_t ctx{};
    bool open = false;
    ~AomEncoder() {
        if (open) aom_codec_destroy(&ctx);
    }
};

struct AomImage {
    aom_image_t* img = nullptr;
    ~AomImage() { aom_img_free(img); }
};

Encoded failure(std::string why) { return {{}, std::move(why)}; }

std::string aomError(aom_codec_ctx_t& ctx, const char* what) {
    std::string text = std::string(what) + ": " + aom_codec_error(&ctx);
    if (const char* detail = aom_codec_error_detail(&ctx)) text += std::string(" (") + detail + ")";
    return text;
}

}  // namespace

Encoded encodePicture(const encoder::Picture& picture, const EncodeSettings& settings) {
    const int n = picture.size;
    if (n < kMinFrameSize || n > kMaxFrameSize ||
        picture.pixels.size() != static_cast<size_t>(n) * n) {
        return failure("picture of " + std::to_string(n) + " pixels a side (" +
                       std::to_string(picture.pixels.size()) + " in all): not 16..256 square");
    }
    if (settings.quality < kMinQuality || settings.quality > kMaxQuality) {
        return failure("quality " + std::to_string(settings.quality) + " outside 0..63");
    }
    if (settings.speed < 0 || settings.speed > kMaxSpeed) {
        return failure("speed " + std::to_string(settings.speed) + " outside 0..9");
    }
    const bool full = settings.chroma == Chroma::Yuv444;

    aom_codec_iface_t* iface = aom_codec_av1_cx();
    aom_codec_enc_cfg_t cfg;
    if (aom_codec_enc_config_default(iface, &cfg, AOM_USAGE_ALL_INTRA) != AOM_CODEC_OK) {
        return failure("libaom has no all-intra configuration");
    }
    cfg.g_w = static_cast<unsigned>(n);
    cfg.g_h = static_cast<unsigned>(n);
    cfg.g_threads = 1;
    cfg.g_profile = full ? 1 : 0;
    cfg.g_bit_depth = AOM_BITS_8;
    cfg.g_input_bit_depth = 8;
    cfg.g_limit = 1;  // one frame: a still picture with the reduced sequence header
    cfg.g_lag_in_frames = 0;
    cfg.rc_end_usage = AOM_Q;
    cfg.monochrome = 0;
    cfg.full_still_picture_hdr = 0;

    AomEncoder enc;
    if (aom_codec_enc_init(&enc.ctx, iface, &cfg, 0) != AOM_CODEC_OK) {
        return failure(aomError(enc.ctx, "libaom refused the configuration"));
    }
    enc.open = true;
    aom_codec_ctx_t* ctx = &enc.ctx;
    // Only what differs from libaom's all-intra defaults, or what must not change under us.
    // Measured on the test card, the gradient, quality_sweep's landscape and three photographs
    // at 64..256, both chroma formats, cq-level 8..56, against the defaults (mean difference in
    // bytes at the same RGB PSNR, positive when the option costs bytes):
    // CDEF off +1.7 % at speed 6 and +0.9 % at speed 2, quantiser matrices +4.8 % / +3.9 %,
    // chroma delta-q +0.4 %, no deblocking +0.3 %, 64 x 64 superblocks +0.6 %, sharpness 2
    // +2.0 %, trellis off +1.8 %, so all stay as they are. Loop restoration off is even (speed 6
    // never uses it); skipping the post-filters of the encoder's reconstruction changes no byte.
    // Screen-content tools on every picture save 1 to 3 % on photographs (11 % on a fractal
    // landscape) but take five times as long; libaom switches them on by itself for synthetic
    // pictures such as the test card.
    // The colour description (BT.601 primaries, transfer and matrix) costs 3 bytes of the
    // sequence header and changes nothing here, since decodePicture applies our own conversion
    // whatever the stream says, so it is left out; the full-range flag is there either way. The
    // chroma sample position stays unknown: ours sits at the centre of each 2 x 2 block, which
    // the sequence header has no value for.
    const bool ok =
        aom_codec_control(ctx, AOME_SET_CPUUSED, settings.speed) == AOM_CODEC_OK &&
        aom_codec_control(ctx, AOME_SET_CQ_LEVEL, settings.quality) == AOM_CODEC_OK &&
        aom_codec_control(ctx, AOME_SET_TUNING, AOM_TUNE_PSNR) == AOM_CODEC_OK &&
        aom_codec_control(ctx, AV1E_SET_COLOR_RANGE, AOM_CR_FULL_RANGE) == AOM_CODEC_OK &&
        aom_codec_control(ctx, AV1E_SET_CHROMA_SAMPLE_POSITION, AOM_CSP_UNKNOWN) == AOM_CODEC_OK &&
        aom_codec_control(ctx, AV1E_SET_ENABLE_CDEF, 1) == AOM_CODEC_OK &&
        aom_codec_control(ctx, AV1E_SET_ENABLE_QM, 0) == AOM_CODEC_OK &&
        aom_codec_control(ctx, AV1E_SET_DENOISE_NOISE_LEVEL, 0) == AOM_CODEC_OK &&
        aom_codec_control(ctx, AV1E_SET_TILE_COLUMNS, 0) == AOM_CODEC_OK &&
        aom_codec_control(ctx, AV1E_SET_TILE_ROWS, 0) == AOM_CODEC_OK;
    if (!ok) return failure(aomError(enc.ctx, "libaom refused a setting"));

    const YccPlanes planes = pictureToYcc(picture, settings.chroma);
    AomImage image;
    image.img = aom_img_alloc(nullptr, full ? AOM_IMG_FMT_I444 : AOM_IMG_FMT_I420, n, n, 1);
    if (image.img == nullptr) return failure("out of memory");
    const int side = planes.chromaSide();
    for (int y = 0; y < n; ++y) {
        std::memcpy(image.img->planes[AOM_PLANE_Y] + y * image.img->stride[AOM_PLANE_Y],
                    planes.y.data() + static_cast<size_t>(y) * n, static_cast<size_t>(n));
    }
    for (int y = 0; y < side; ++y) {
        std::memcpy(image.img->planes[AOM_PLANE_U] + y * image.img->stride[AOM_PLANE_U],
                    planes.cb.data() + static_cast<size_t>(y) * side, static_cast<size_t>(side));
        std::memcpy(image.img->planes[AOM_PLANE_V] + y * image.img->stride[AOM_PLANE_V],
                    planes.cr.data() + static_cast<size_t>(y) * side, static_cast<size_t>(side));
    }

    std::vector<uint8_t> stream;
    const auto collect = [&]() {
        aom_codec_iter_t iter = nullptr;
        while (const aom_codec_cx_pkt_t* pkt = aom_codec_get_cx_data(ctx, &iter)) {
            if (pkt->kind != AOM_CODEC_CX_FRAME_PKT) continue;
            const auto* bytes = static_cast<const uint8_t*>(pkt->data.frame.buf);
            stream.insert(stream.end(), bytes, bytes + pkt->data.frame.sz);
        }
    };
    if (aom_codec_encode(ctx, image.img, 0, 1, AOM_EFLAG_FORCE_KF) != AOM_CODEC_OK) {
        return failure(aomError(enc.ctx, "libaom failed to encode"));
    }
    collect();
    if (aom_codec_encode(ctx, nullptr, 0, 0, 0) != AOM_CODEC_OK) {
        return failure(aomError(enc.ctx, "libaom failed to flush"));
    }
    collect();

    // libaom starts the temporal unit with a temporal delimiter; the payload leaves it out.
    std::vector<Obu> obus;
    if (!splitObus(stream, obus)) return failure("libaom gave a stream we cannot split");
    Encoded out;
    std::vector<Obu> kept;
    for (const Obu& obu : obus) {
        if (obu.type == ObuType::TemporalDelimiter) continue;
        out.obus.insert(out.obus.end(), stream.begin() + static_cast<ptrdiff_t>(obu.offset),
                        stream.begin() + static_cast<ptrdiff_t>(obu.offset + obu.bytes));
        kept.push_back(obu);
    }
    if (!isPayloadLayout(kept)) return failure("libaom gave more or less than one frame");
    return out;
}

namespace {

struct Dav1dDecoder {
    Dav1dContext* ctx = nullptr;
    ~Dav1dDecoder() { dav1d_close(&ctx); }
};
struct Dav1dBuffer {
    Dav1dData data{};
    ~Dav1dBuffer() { dav1d_data_unref(&data); }
};
struct Dav1dOutput {
    Dav1dPicture pic{};
    ~Dav1dOutput() { dav1d_picture_unref(&pic); }
};

Decoded refuse(DecodeError error) { return {error, {}}; }

bool layoutMatches(Dav1dPixelLayout layout, Chroma chroma) {
    return chroma == Chroma::Yuv444 ? layout == DAV1D_PIXEL_LAYOUT_I444
                                    : layout == DAV1D_PIXEL_LAYOUT_I420;
}

}  // namespace

Decoded decodePicture(std::span<const uint8_t> obus, int frameSize, Chroma chroma) {
    if (frameSize < kMinFrameSize || frameSize > kMaxFrameSize)
        return refuse(DecodeError::WrongSize);
    std::vector<Obu> split;
    if (obus.empty() || !splitObus(obus, split) || !isPayloadLayout(split)) {
        return refuse(DecodeError::NotAv1);
    }

    Dav1dSequenceHeader seq{};
    if (dav1d_parse_sequence_header(&seq, obus.data(), split[0].bytes) != 0) {
        return refuse(DecodeError::NotAv1);
    }
    if (seq.max_width != frameSize || seq.max_height != frameSize) {
        return refuse(DecodeError::WrongSize);
    }
    if (seq.profile != (chroma == Chroma::Yuv444 ? 1 : 0) || !layoutMatches(seq.layout, chroma)) {
        return refuse(DecodeError::WrongChroma);
    }
    if (seq.hbd != 0) return refuse(DecodeError::WrongDepth);

    Dav1dSettings s;
    dav1d_default_settings(&s);
    s.n_threads = 1;
    s.max_frame_delay = 1;
    s.frame_size_limit = static_cast<unsigned>(frameSize * frameSize);
    s.apply_grain = 0;
    s.all_layers = 0;
    s.operating_point = 0;
    s.strict_std_compliance = 1;
    s.logger.callback = nullptr;  // errors come back as values, not on stderr
    Dav1dDecoder dec;
    if (dav1d_open(&dec.ctx, &s) != 0) return refuse(DecodeError::Damaged);

    Dav1dBuffer buffer;
    uint8_t* bytes = dav1d_data_create(&buffer.data, obus.size());
    if (bytes == nullptr) return refuse(DecodeError::Damaged);
    std::memcpy(bytes, obus.data(), obus.size());

    // One frame goes in; single-threaded with a delay of one frame, dav1d hands its picture
    // back as soon as the frame is sent. The bound only guards against a loop that makes no
    // progress.
    Dav1dOutput out;
    bool have = false;
    for (int round = 0; !have; ++round) {
        if (round == kMaxDecodeRounds) return refuse(DecodeError::Damaged);
        const int sent = buffer.data.sz > 0 ? dav1d_send_data(dec.ctx, &buffer.data) : 0;
        if (sent < 0 && sent != DAV1D_ERR(EAGAIN)) return refuse(DecodeError::Damaged);
        const int got = dav1d_get_picture(dec.ctx, &out.pic);
        if (got == 0) {
            have = true;
        } else if (got != DAV1D_ERR(EAGAIN) || buffer.data.sz == 0) {
            return refuse(DecodeError::Damaged);
        }
    }

    const Dav1dPictureParameters& p = out.pic.p;
    if (p.w != frameSize || p.h != frameSize) return refuse(DecodeError::WrongSize);
    if (!layoutMatches(p.layout, chroma)) return refuse(DecodeError::WrongChroma);
    if (p.bpc != 8) return refuse(DecodeError::WrongDepth);

    YccPlanes planes(frameSize, chroma);
    const int side = planes.chromaSide();
    const auto copyPlane = [](std::vector<uint8_t>& to, int n, const void* from, ptrdiff_t stride) {
        const auto* src = static_cast<const uint8_t*>(from);
        for (int y = 0; y < n; ++y) {
            std::memcpy(to.data() + static_cast<size_t>(y) * n, src + y * stride,
                        static_cast<size_t>(n));
        }
    };
    copyPlane(planes.y, frameSize, out.pic.data[0], out.pic.stride[0]);
    copyPlane(planes.cb, side, out.pic.data[1], out.pic.stride[1]);
    copyPlane(planes.cr, side, out.pic.data[2], out.pic.stride[1]);  // one stride for both
    return {DecodeError::None, yccToPicture(planes)};
}

const char* decodeErrorText(DecodeError error) {
    switch (error) {
        case DecodeError::None:
            return "no error";
        case DecodeError::NotAv1:
            return "not an AV1 sequence header and frame";
        case DecodeError::WrongSize:
            return "AV1 picture of another size than the frame's";
        case DecodeError::WrongChroma:
            return "AV1 picture of another chroma format than the frame's";
        case DecodeError::WrongDepth:
            return "AV1 picture not of 8 bits a sample";
        case DecodeError::Damaged:
            return "damaged AV1 picture";
    }
    return "unknown AV1 error";
}

}  // namespace av1
