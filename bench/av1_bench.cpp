// The AV1 payload at 256 x 256, quality 32, single-threaded. Items are pictures; bytes are the
// source's RGB bytes for the encode and the payload's bytes for the decode; the counter
// payload_bytes is the size of the OBUs.
//
// BM_Av1Encode/<picture>/speed<S>     encodePicture, 4:4:4, libaom cpu-used S (6 for sending,
//                                     2 for stills), colour conversion included
// BM_Av1Decode/<picture>/<chroma>     decodePicture of the speed-6 stream: our OBU checks,
//                                     dav1d (opened and closed for every picture) and the
//                                     conversion back to RGB
// BM_Av1FitAirTime/<picture>/speed<S>/<E>at_once
//                                     fitAv1AirTime, 4:4:4, syndromes 32, to the air time of
//                                     the frame at a middle quality (40 for the test card, 56
//                                     for the zone plate, whose finer frames are too large), so
//                                     that the bisection runs in full, with E encodes at once
//                                     (2: as sent; 1: one at a time, for the ratio); real time,
//                                     the encodes running on threads of their own. The counter
//                                     encodes is the AV1 encodes the search needed, quality its
//                                     answer
// Pictures: the test card (flat patches, few bytes) and the zone plate (energy at every
// frequency, many bytes).
//
// Medians: av1_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "av1/av1_payload.h"
#include "encoder/air_time.h"
#include "encoder/encode_frame.h"
#include "encoder/test_pictures.h"

namespace {

constexpr int kSide = 256;

encoder::Picture picture(const char* name) {
    return encoder::referencePicture(name[0] == 'c' ? encoder::testCard() : encoder::zonePlate(),
                                     kSide);
}

void encodeCase(benchmark::State& state, const char* name, int speed) {
    const encoder::Picture source = picture(name);
    av1::EncodeSettings s;
    s.quality = 32;
    s.chroma = av1::Chroma::Yuv444;
    s.speed = speed;
    size_t bytes = 0;
    for (auto _ : state) {
        av1::Encoded e = av1::encodePicture(source, s);
        if (e.obus.empty()) {
            state.SkipWithError(e.error.c_str());
            return;
        }
        bytes = e.obus.size();
        benchmark::DoNotOptimize(e.obus.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * int64_t{kSide} * kSide * 3);
    state.counters["payload_bytes"] = static_cast<double>(bytes);
}

void decodeCase(benchmark::State& state, const char* name, av1::Chroma chroma) {
    av1::EncodeSettings s;
    s.quality = 32;
    s.chroma = chroma;
    const std::vector<uint8_t> obus = av1::encodePicture(picture(name), s).obus;
    for (auto _ : state) {
        av1::Decoded d = av1::decodePicture(obus, kSide, chroma);
        if (d.error != av1::DecodeError::None) {
            state.SkipWithError(av1::decodeErrorText(d.error));
            return;
        }
        benchmark::DoNotOptimize(d.picture.pixels.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(obus.size()));
    state.counters["payload_bytes"] = static_cast<double>(obus.size());
}

void fitCase(benchmark::State& state, const char* name, int speed, int quality, int atOnce) {
    const encoder::SourcePicture source =
        name[0] == 'c' ? encoder::testCard() : encoder::zonePlate();
    encoder::EncoderSettings base;
    base.frameSize = kSide;
    base.wavelet = encoder::Wavelet::Av1;
    base.av1Speed = speed;
    base.quantiser = quality + 1;
    encoder::EncoderState encoderState;
    const encoder::EncodeResult target =
        encoder::ENCODEFRAME(base, source, encoderState, encoder::kEncodePreview);
    if (target.error != encoder::EncodeError::None) {
        state.SkipWithError("the middle quality gives no frame");
        return;
    }
    const double seconds = static_cast<double>(target.frame.size()) / encoder::kBytesPerSecond;
    encoder::AirTimeFit fit;
    for (auto _ : state) {
        fit = encoder::fitAv1AirTime(base, source, seconds, atOnce);
        benchmark::DoNotOptimize(fit.frameBytes);
    }
    if (!fit.found) {
        state.SkipWithError("nothing fits");
        return;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["encodes"] = fit.evaluations;
    state.counters["quality"] = encoder::av1Quality(fit.settings.quantiser);
    state.counters["air_s"] = seconds;
}

BENCHMARK_CAPTURE(encodeCase, card_speed6, "card", av1::kSendSpeed)
    ->Name("BM_Av1Encode/card/speed6")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encodeCase, card_speed2, "card", av1::kStillSpeed)
    ->Name("BM_Av1Encode/card/speed2")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encodeCase, zone_speed6, "zone", av1::kSendSpeed)
    ->Name("BM_Av1Encode/zoneplate/speed6")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encodeCase, zone_speed2, "zone", av1::kStillSpeed)
    ->Name("BM_Av1Encode/zoneplate/speed2")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decodeCase, card_444, "card", av1::Chroma::Yuv444)
    ->Name("BM_Av1Decode/card/444")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decodeCase, card_420, "card", av1::Chroma::Yuv420)
    ->Name("BM_Av1Decode/card/420")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decodeCase, zone_444, "zone", av1::Chroma::Yuv444)
    ->Name("BM_Av1Decode/zoneplate/444")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decodeCase, zone_420, "zone", av1::Chroma::Yuv420)
    ->Name("BM_Av1Decode/zoneplate/420")
    ->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(fitCase, card_speed6, "card", av1::kSendSpeed, 40, 2)
    ->Name("BM_Av1FitAirTime/card/speed6/2at_once")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(fitCase, card_speed6_alone, "card", av1::kSendSpeed, 40, 1)
    ->Name("BM_Av1FitAirTime/card/speed6/1at_once")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(fitCase, zone_speed6, "zone", av1::kSendSpeed, 56, 2)
    ->Name("BM_Av1FitAirTime/zoneplate/speed6/2at_once")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(fitCase, zone_speed6_alone, "zone", av1::kSendSpeed, 56, 1)
    ->Name("BM_Av1FitAirTime/zoneplate/speed6/1at_once")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(fitCase, card_speed2, "card", av1::kStillSpeed, 40, 2)
    ->Name("BM_Av1FitAirTime/card/speed2/2at_once")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
