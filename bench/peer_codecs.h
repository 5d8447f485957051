#pragma once

// The codecs Vistrel is compared with, in memory, single thread, on packed RGB bytes (rows from
// the top, three bytes per pixel): libjpeg-turbo (baseline, 4:2:0), libwebp (lossy, method 4)
// and OpenJPEG (J2K codestream, 9/7 wavelet, one quality layer). For the peer benchmark and the
// quality sweep only; nothing outside bench/ links these libraries.
//
// Every codec works on the calling thread, which is what the benchmark's CPU time counts.
// OpenJPEG is left without a thread pool: asking it for one thread (opj_codec_set_threads)
// starts a worker and moves the work there, and so does OPJ_NUM_THREADS in the environment,
// which must be unset when benchmarking.

#include <cstdint>
#include <functional>
#include <vector>

#include "encoder/picture.h"

namespace bench {

[[nodiscard]] std::vector<uint8_t> rgbBytes(const encoder::Picture& picture);
// An n x n picture from packed RGB bytes; an empty picture when there are too few.
[[nodiscard]] encoder::Picture pictureFromRgb(const std::vector<uint8_t>& rgb, int n);

// Each encoder takes its own quality setting; each decoder returns the n x n RGB bytes, or
// nothing when the stream does not decode to that size.
[[nodiscard]] std::vector<uint8_t> jpegEncode(const std::vector<uint8_t>& rgb, int n, int quality);
[[nodiscard]] std::vector<uint8_t> jpegDecode(const std::vector<uint8_t>& coded, int n);
[[nodiscard]] std::vector<uint8_t> webpEncode(const std::vector<uint8_t>& rgb, int n, int quality);
[[nodiscard]] std::vector<uint8_t> webpDecode(const std::vector<uint8_t>& coded, int n);
// ratio: compression ratio of the one layer (2 = half the raw bytes).
[[nodiscard]] std::vector<uint8_t> openjpegEncode(const std::vector<uint8_t>& rgb, int n,
                                                  int ratio);
[[nodiscard]] std::vector<uint8_t> openjpegDecode(const std::vector<uint8_t>& coded, int n);

struct Peer {
    const char* name;           // "Jpeg", "Webp", "Openjpeg"
    const char* settingName;    // what the setting means: "quality" or "ratio"
    std::vector<int> settings;  // the peer's scale, coarsest-quality end last
    std::function<std::vector<uint8_t>(const std::vector<uint8_t>&, int, int)> encode;
    std::function<std::vector<uint8_t>(const std::vector<uint8_t>&, int)> decode;
};
[[nodiscard]] std::vector<Peer> peers();

}  // namespace bench
