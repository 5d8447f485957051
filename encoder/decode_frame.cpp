#include "encoder/decode_frame.h"

#include <algorithm>
#include <memory>

#include "av1/av1_payload.h"
#include "codec/arith.h"
#include "encoder/colour.h"
#include "encoder/quantise.h"
#include "encoder/transform.h"

namespace encoder {

std::vector<uint8_t> expandCoefficients(std::span<const uint8_t> coded, size_t count) {
    std::vector<uint8_t> bytes(count, 0);
    // The count written is not needed: bytes the stream does not reach keep their 0.
    (void)codec::ARITHCODE(coded, bytes, codec::kArithDecode);
    return bytes;
}

std::vector<uint8_t> expandReceived(std::span<const uint8_t> coded) {
    // The coder writes exactly the bytes it decodes, so the buffer is left unzeroed (most of it
    // is never reached): the result takes those bytes and the zero that follows them.
    const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(kReceiverCoefficientCapacity);
    const int32_t decoded = codec::ARITHCODE(
        coded, std::span(buffer.get(), kReceiverCoefficientCapacity), codec::kArithDecode);
    const size_t count =
        std::min(static_cast<size_t>(std::max(decoded, 0)), kReceiverCoefficientCapacity);
    std::vector<uint8_t> bytes;
    bytes.reserve(count + 1);
    bytes.assign(buffer.get(), buffer.get() + count);
    if (count < kReceiverCoefficientCapacity) bytes.push_back(0);
    return bytes;
}

PictureDecode decodeCoefficients(std::span<const uint8_t> coefficients,
                                 const PictureParams& params) {
    PictureDecode out;
    if (!isValid(params) || isAv1(params)) {
        out.error = DecodeError::BadParameters;
        return out;
    }
    const int n = params.frameSize;
    YccPlanes planes;
    planes.luma = codec::Plane(n, n);
    planes.red = codec::Plane(params.redSide(), params.redSide());
    planes.blue = codec::Plane(params.blueSide(), params.blueSide());
    out.shortStream = !deserialise(coefficients, params.step, planes.luma, planes.red, planes.blue);
    inverseTransform(planes, params.wavelet, n);

    out.picture = colourPicture(planes, params.redFactor, params.blueFactor, n);
    return out;
}

PictureDecode decodePicture(std::span<const uint8_t> coded, size_t count,
                            const PictureParams& params) {
    if (!isValid(params) || isAv1(params))
        return PictureDecode{DecodeError::BadParameters, {}, false};
    return decodeCoefficients(expandCoefficients(coded, count), params);
}

PictureDecode decodeReceived(std::span<const uint8_t> coded, const PictureParams& params) {
    if (!isValid(params) || isAv1(params))
        return PictureDecode{DecodeError::BadParameters, {}, false};
    return decodeCoefficients(expandReceived(coded), params);
}

PictureDecode decodePayload(std::span<const uint8_t> coded, const PictureParams& params) {
    if (!isValid(params)) return PictureDecode{DecodeError::BadParameters, {}, false};
    if (!isAv1(params)) return decodePicture(coded, coefficientCount(params), params);
    av1::Decoded decoded = av1::decodePicture(
        coded, params.frameSize,
        params.redFactor == kAv1Chroma444 ? av1::Chroma::Yuv444 : av1::Chroma::Yuv420);
    if (decoded.error != av1::DecodeError::None) {
        return PictureDecode{DecodeError::BadStream, {}, false};
    }
    return PictureDecode{DecodeError::None, std::move(decoded.picture), false};
}

}  // namespace encoder
