// decodePicture on arbitrary bytes, promised one of the frame sizes and chroma formats a frame
// can carry. Checks properties, not only crashes:
// - an error gives no picture (size 0, no pixels) and has a text;
// - a picture is exactly frameSize x frameSize, from a stream with the payload's OBU layout;
// - the same bytes decode again to the same answer and the same pixels.
//
// Input: the first byte s is the promise, frame size {48, 64, 96, 128, 256}[s / 2 % 5], 4:2:0
// when s is odd and 4:4:4 when it is even; the rest is the stream.
// Seeds in fuzz/corpus/av1_decode_fuzz: real streams behind their selector, and one promised
// the wrong size, written by
//   VISTREL_AV1_SEEDS=fuzz/corpus/av1_decode_fuzz build/bin/av1_tests --gtest_filter='Seeds.*'
// libaom and dav1d are the system's libraries, built without coverage: the fuzzer steers by our
// own code (the OBU checks, the colour conversion) and by what comes back.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "av1/av1_payload.h"
#include "av1/obu.h"

namespace {

constexpr int kFrameSizes[] = {48, 64, 96, 128, 256};

void require(bool property, const char* what) {
    if (!property) {
        std::fprintf(stderr, "av1_decode_fuzz: property violated: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int frameSize = kFrameSizes[data[0] / 2 % 5];
    const av1::Chroma chroma = (data[0] & 1) != 0 ? av1::Chroma::Yuv420 : av1::Chroma::Yuv444;
    const std::span<const uint8_t> stream(data + 1, size - 1);

    const av1::Decoded d = av1::decodePicture(stream, frameSize, chroma);
    require(std::strlen(av1::decodeErrorText(d.error)) > 0, "every answer has a text");
    if (d.error != av1::DecodeError::None) {
        require(d.picture.size == 0 && d.picture.pixels.empty(), "an error gives no picture");
    } else {
        require(d.picture.size == frameSize, "a picture has the promised size");
        require(d.picture.pixels.size() == static_cast<size_t>(frameSize) * frameSize,
                "a picture has N x N pixels");
        std::vector<av1::Obu> obus;
        require(av1::splitObus(stream, obus) && av1::isPayloadLayout(obus),
                "a picture comes from a sequence header and one frame");
    }

    const av1::Decoded again = av1::decodePicture(stream, frameSize, chroma);
    require(again.error == d.error, "the same bytes give the same answer");
    require(again.picture.pixels == d.picture.pixels, "the same bytes give the same pixels");
    return 0;
}
