// The encoder pipeline, one case per frame size and wavelet. Items are frames; bytes are source
// bytes for the encode, frame-string bytes for the frame format, coefficient bytes for the
// decode.
//
// EncodeFrame/<wavelet>/<N>          ENCODEFRAME as the send timer runs it (colour, transforms,
//                                    quantisation, ARITHCODE, frame format, preview decode) on
//                                    the test card at the default settings (factors 4/4,
//                                    quantiser 1, threshold 0, syndromes 32)
// EncodeFrameNoPreview/...           the same without the preview decode
// .../rejected                       the size check rejects this frame: the time is the encode
//                                    up to the check, with no frame format and no preview
// .../256/threshold30/<picture>      threshold 30, otherwise the defaults; the test card does not
//                                    fit a frame at 256 with D4 or CDF 9/7, so the zone plate
//                                    (energy in every band) and the gradient (smooth) are used
// .../256/coarse                     quantiser 65, threshold 100, syndromes 4 on the test card
// DecodePreview, BuildFrame,         the preview decode alone, the frame format alone (CRC, 39
// ReadFrame /<N>                     RS codewords, interleaving) and its reader, CDF 9/7 with
//                                    the settings of .../coarse at 256, the defaults elsewhere
//
// Medians: encode_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "encoder/decode_frame.h"
#include "encoder/encode_frame.h"
#include "encoder/frame_format.h"
#include "encoder/test_pictures.h"

namespace {

using namespace encoder;

constexpr int kFrameSizes[] = {48, 64, 96, 128, 256};

struct NamedWavelet {
    const char* name;
    Wavelet wavelet;
};
constexpr NamedWavelet kWavelets[] = {
    {"haar", Wavelet::Haar}, {"d4", Wavelet::D4}, {"cdf97", Wavelet::Cdf97}};

EncoderSettings defaults(int frameSize, Wavelet wavelet) {
    EncoderSettings s;
    s.frameSize = frameSize;
    s.wavelet = wavelet;
    s.callsign = "BENCH ";
    s.sourcePath = "card";
    return s;
}

// The coarse step, high threshold and least parity under which the test card fits a frame at
// 256.
EncoderSettings coarse(int frameSize) {
    EncoderSettings s = defaults(frameSize, Wavelet::Cdf97);
    if (frameSize == 256) {
        s.threshold = 100;
        s.quantiser = 65;
        s.syndromes = 4;
    }
    return s;
}

void runEncode(benchmark::State& state, const EncoderSettings& settings,
               const SourcePicture& source, PreviewDecode preview) {
    EncoderState encoder;
    for (auto _ : state) {
        EncodeResult r = encodeFrame(settings, source, encoder, kEncodeSend, preview);
        benchmark::DoNotOptimize(r.coded.data());
        benchmark::DoNotOptimize(r.frame.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kSourceBytes));
}

// Registers the case with and without the preview; a frame the size check rejects gets
// "/rejected" on its name.
void registerEncode(const std::string& suffix, const EncoderSettings& settings,
                    const SourcePicture& source) {
    EncoderState probe;
    const bool rejected =
        ENCODEFRAME(settings, source, probe, kEncodePreview).error == EncodeError::TooLarge;
    const std::string name = suffix + (rejected ? "/rejected" : "");
    for (const auto& [prefix, preview] :
         {std::pair{"EncodeFrame/", PreviewDecode::Decode},
          std::pair{"EncodeFrameNoPreview/", PreviewDecode::Skip}}) {
        benchmark::RegisterBenchmark((prefix + name).c_str(),
                                     [settings, source, preview = preview](benchmark::State& s) {
                                         runEncode(s, settings, source, preview);
                                     });
    }
}

void decodePreview(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    EncoderState encoder;
    const EncodeResult sent = ENCODEFRAME(coarse(n), testCard(), encoder, kEncodePreview);
    const PictureParams params = pictureParams(coarse(n));
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
    const EncoderSettings settings = coarse(n);
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
    const EncodeResult sent = ENCODEFRAME(coarse(n), testCard(), encoder, kEncodePreview);
    for (auto _ : state) {
        FrameContents read = readFrame(sent.frame);
        benchmark::DoNotOptimize(read.coded.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(sent.frame.size()));
}

void frameSizes(benchmark::internal::Benchmark* b) {
    for (const int n : kFrameSizes) b->Arg(n);
}

[[maybe_unused]] const bool kEncodeCasesRegistered = [] {
    const SourcePicture card = testCard();
    for (const NamedWavelet& w : kWavelets) {
        for (const int n : kFrameSizes) {
            registerEncode(std::string(w.name) + "/" + std::to_string(n), defaults(n, w.wavelet),
                           card);
        }
    }
    const struct {
        const char* name;
        SourcePicture picture;
    } smoother[] = {{"zoneplate", zonePlate()}, {"gradient", gradient()}};
    for (const NamedWavelet& w : kWavelets) {
        for (const auto& p : smoother) {
            EncoderSettings s = defaults(256, w.wavelet);
            s.threshold = 30;
            registerEncode(std::string(w.name) + "/256/threshold30/" + p.name, s, p.picture);
        }
    }
    registerEncode("cdf97/256/coarse", coarse(256), card);
    return true;
}();

}  // namespace

BENCHMARK(decodePreview)->Name("DecodePreview")->Apply(frameSizes);
BENCHMARK(buildFrameFormat)->Name("BuildFrame")->Apply(frameSizes);
BENCHMARK(readFrameFormat)->Name("ReadFrame")->Apply(frameSizes);
