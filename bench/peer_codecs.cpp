#include "bench/peer_codecs.h"

// clang-format off
#include <cstdio>  // jpeglib.h uses FILE without including its header
#include <jpeglib.h>
// clang-format on
#include <openjpeg.h>
#include <webp/decode.h>
#include <webp/encode.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace bench {

using encoder::Picture;

std::vector<uint8_t> rgbBytes(const Picture& p) {
    std::vector<uint8_t> out;
    out.reserve(p.pixels.size() * 3);
    for (const uint32_t px : p.pixels) {
        out.push_back(static_cast<uint8_t>(encoder::redOf(px)));
        out.push_back(static_cast<uint8_t>(encoder::greenOf(px)));
        out.push_back(static_cast<uint8_t>(encoder::blueOf(px)));
    }
    return out;
}

Picture pictureFromRgb(const std::vector<uint8_t>& rgb, int n) {
    Picture p(n);
    if (rgb.size() < p.pixels.size() * 3) return Picture();
    for (size_t i = 0; i < p.pixels.size(); ++i) {
        p.pixels[i] = encoder::packRgb(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
    }
    return p;
}

// ---- libjpeg-turbo ----

std::vector<uint8_t> jpegEncode(const std::vector<uint8_t>& rgb, int n, int quality) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = static_cast<JDIMENSION>(n);
    c.image_height = static_cast<JDIMENSION>(n);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(rgb.data() + static_cast<size_t>(c.next_scanline) * n * 3);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> coded(out, out + size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return coded;
}

std::vector<uint8_t> jpegDecode(const std::vector<uint8_t>& coded, int n) {
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, coded.data(), static_cast<unsigned long>(coded.size()));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    std::vector<uint8_t> rgb(static_cast<size_t>(n) * n * 3);
    while (d.output_scanline < d.output_height && d.output_scanline < static_cast<JDIMENSION>(n)) {
        JSAMPROW row = rgb.data() + static_cast<size_t>(d.output_scanline) * n * 3;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return rgb;
}

// ---- libwebp ----

std::vector<uint8_t> webpEncode(const std::vector<uint8_t>& rgb, int n, int quality) {
    uint8_t* out = nullptr;
    const size_t size = WebPEncodeRGB(rgb.data(), n, n, n * 3, static_cast<float>(quality), &out);
    std::vector<uint8_t> coded(out, out + size);
    WebPFree(out);
    return coded;
}

std::vector<uint8_t> webpDecode(const std::vector<uint8_t>& coded, int n) {
    std::vector<uint8_t> rgb(static_cast<size_t>(n) * n * 3);
    if (WebPDecodeRGBInto(coded.data(), coded.size(), rgb.data(), rgb.size(), n * 3) == nullptr) {
        rgb.clear();
    }
    return rgb;
}

// ---- OpenJPEG, through memory streams ----

struct MemoryStream {
    std::vector<uint8_t> bytes;
    size_t pos = 0;
};

namespace {

OPJ_SIZE_T streamRead(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* m = static_cast<MemoryStream*>(user);
    if (m->pos >= m->bytes.size()) return static_cast<OPJ_SIZE_T>(-1);
    const size_t n = std::min<size_t>(count, m->bytes.size() - m->pos);
    std::memcpy(buffer, m->bytes.data() + m->pos, n);
    m->pos += n;
    return n;
}

OPJ_SIZE_T streamWrite(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* m = static_cast<MemoryStream*>(user);
    if (m->pos + count > m->bytes.size()) m->bytes.resize(m->pos + count);
    std::memcpy(m->bytes.data() + m->pos, buffer, count);
    m->pos += count;
    return count;
}

OPJ_OFF_T streamSkip(OPJ_OFF_T count, void* user) {
    auto* m = static_cast<MemoryStream*>(user);
    m->pos = static_cast<size_t>(std::max<OPJ_OFF_T>(0, static_cast<OPJ_OFF_T>(m->pos) + count));
    return count;
}

OPJ_BOOL streamSeek(OPJ_OFF_T at, void* user) {
    static_cast<MemoryStream*>(user)->pos = static_cast<size_t>(at);
    return OPJ_TRUE;
}

opj_stream_t* memoryStream(MemoryStream& m, bool input) {
    opj_stream_t* s = opj_stream_create(1 << 16, input ? OPJ_TRUE : OPJ_FALSE);
    opj_stream_set_user_data(s, &m, nullptr);
    opj_stream_set_user_data_length(s, m.bytes.size());
    opj_stream_set_read_function(s, streamRead);
    opj_stream_set_write_function(s, streamWrite);
    opj_stream_set_skip_function(s, streamSkip);
    opj_stream_set_seek_function(s, streamSeek);
    return s;
}

}  // namespace

std::vector<uint8_t> openjpegEncode(const std::vector<uint8_t>& rgb, int n, int ratio) {
    opj_cparameters_t params;
    opj_set_default_encoder_parameters(&params);
    params.tcp_numlayers = 1;
    params.tcp_rates[0] = static_cast<float>(ratio);
    params.cp_disto_alloc = 1;
    params.irreversible = 1;
    params.numresolution = 5;
    std::array<opj_image_cmptparm_t, 3> comp{};
    for (auto& c : comp) {
        c.dx = c.dy = 1;
        c.w = c.h = static_cast<OPJ_UINT32>(n);
        c.prec = 8;
        c.sgnd = 0;
    }
    opj_image_t* image = opj_image_create(3, comp.data(), OPJ_CLRSPC_SRGB);
    image->x1 = image->y1 = static_cast<OPJ_UINT32>(n);
    for (size_t i = 0; i < static_cast<size_t>(n) * n; ++i) {
        for (int k = 0; k < 3; ++k) image->comps[k].data[i] = rgb[3 * i + k];
    }
    opj_codec_t* codec = opj_create_compress(OPJ_CODEC_J2K);
    MemoryStream m;
    opj_stream_t* s = memoryStream(m, false);
    bool ok = opj_setup_encoder(codec, &params, image) && opj_start_compress(codec, image, s) &&
              opj_encode(codec, s) && opj_end_compress(codec, s);
    opj_stream_destroy(s);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    if (!ok) m.bytes.clear();
    return m.bytes;
}

std::vector<uint8_t> openjpegDecode(const std::vector<uint8_t>& coded, int n) {
    MemoryStream m{coded, 0};
    opj_stream_t* s = memoryStream(m, true);
    opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_J2K);
    opj_dparameters_t params;
    opj_set_default_decoder_parameters(&params);
    opj_image_t* image = nullptr;
    std::vector<uint8_t> rgb;
    if (opj_setup_decoder(codec, &params) && opj_read_header(s, codec, &image) &&
        opj_decode(codec, s, image) && opj_end_decompress(codec, s) && image->numcomps == 3 &&
        image->comps[0].w == static_cast<OPJ_UINT32>(n)) {
        rgb.resize(static_cast<size_t>(n) * n * 3);
        for (size_t i = 0; i < static_cast<size_t>(n) * n; ++i) {
            for (int k = 0; k < 3; ++k) {
                rgb[3 * i + k] = static_cast<uint8_t>(std::clamp(image->comps[k].data[i], 0, 255));
            }
        }
    }
    opj_image_destroy(image);
    opj_destroy_codec(codec);
    opj_stream_destroy(s);
    return rgb;
}

std::vector<Peer> peers() {
    std::vector<int> percent;
    for (int q = 100; q >= 5; q -= 5) percent.push_back(q);
    return {
        {"Jpeg", "quality", percent, jpegEncode, jpegDecode},
        {"Webp", "quality", percent, webpEncode, webpDecode},
        {"Openjpeg",
         "ratio",
         {2, 3, 4, 6, 8, 12, 16, 24, 32, 48, 64, 96, 128, 192, 256},
         openjpegEncode,
         openjpegDecode},
    };
}

}  // namespace bench
