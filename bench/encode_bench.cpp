// The encoder pipeline per frame size, on the generated test card: ENCODEFRAME as the send timer
// runs it (colour, transforms, quantisation, ARITHCODE, frame format, preview decode), the
// preview decode alone, and the frame format alone (CRC, 39 RS codewords, interleaving) and its
// reader. Items are frames; bytes are source bytes for the encode, frame-string bytes for the
// frame format, coefficient bytes for the decode.
//
// Medians: encode_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "encoder/decode_frame.h"
#include "encoder/encode_frame.h"
#include "encoder/frame_format.h"
#include "encoder/test_pictures.h"

namespace {

using namespace encoder;

// Settings under which the test card fits a frame at every size (256 needs a coarse step and
// the least parity).
EncoderSettings settingsFor(int frameSize) {
    EncoderSettings s;
    s.frameSize = frameSize;
    s.wavelet = Wavelet::Cdf97;
    s.callsign = "BENCH ";
    s.sourcePath = "card";
    if (frameSize == 256) {
        s.threshold = 100;
        s.quantiser = 65;
        s.syndromes = 4;
    }
    return s;
}

void encodeFrame(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const EncoderSettings settings = settingsFor(n);
    const SourcePicture source = testCard();
    EncoderState encoder;
    for (auto _ : state) {
        EncodeResult r = ENCODEFRAME(settings, source, encoder, kEncodeSend);
        benchmark::DoNotOptimize(r.frame.data());
        if (r.error != EncodeError::None) {
            state.SkipWithError("frame rejected");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kSourceBytes));
}

void decodePreview(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    EncoderState encoder;
    const EncodeResult sent = ENCODEFRAME(settingsFor(n), testCard(), encoder, kEncodePreview);
    const PictureParams params = pictureParams(settingsFor(n));
    for (auto _ : state) {
        PictureDecode d = decodePicture(sent.coded, sent.coefficientCount, params);
        benchmark::DoNotOptimize(d.picture.pixels.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(sent.coefficientCount));
}

void buildFrameFormat(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    EncoderState encoder;
    const EncoderSettings settings = settingsFor(n);
    const EncodeResult sent = ENCODEFRAME(settings, testCard(), encoder, kEncodePreview);
    FrameInput input;
    input.coded = sent.coded;
    input.params = pictureParams(settings);
    input.syndromes = settings.syndromes;
    input.label = sent.headerLabel;
    for (auto _ : state) {
        FrameBuild built = buildFrame(input);
        benchmark::DoNotOptimize(built.frame.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(sent.frame.size()));
}

void readFrameFormat(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    EncoderState encoder;
    const EncodeResult sent = ENCODEFRAME(settingsFor(n), testCard(), encoder, kEncodePreview);
    for (auto _ : state) {
        FrameContents read = readFrame(sent.frame);
        benchmark::DoNotOptimize(read.coded.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(sent.frame.size()));
}

void frameSizes(benchmark::internal::Benchmark* b) {
    for (const int n : {48, 64, 96, 128, 256}) b->Arg(n);
}

}  // namespace

BENCHMARK(encodeFrame)->Name("EncodeFrame")->Apply(frameSizes);
BENCHMARK(decodePreview)->Name("DecodePreview")->Apply(frameSizes);
BENCHMARK(buildFrameFormat)->Name("BuildFrame")->Apply(frameSizes);
BENCHMARK(readFrameFormat)->Name("ReadFrame")->Apply(frameSizes);
