// The picture loader behind pictx's dropped files and `vistrel encode`, on arbitrary bytes in
// any format Qt's plugins sniff: it gives either a picture or a reason, and a picture it gives
// always becomes the 256 x 256 area, in both aspect modes, and the encoder's source picture.
// Qt's own allocation limit is what refuses pictures whose header claims a huge size.
//
// Qt's decoders are not built for coverage, so libFuzzer would see every input as alike and keep
// only a few. The outcome (format sniffed, pixel format, rough size, or Qt's reason for refusing)
// is therefore fed back as extra coverage counters, which keeps a seed per format and per refusal.
//
// Seeds: small pictures in each format the plugins read, one of them with an orientation tag.

#include <QBuffer>
#include <QByteArray>
#include <QHash>
#include <QImageReader>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "sender/still_picture.h"

namespace {

constexpr size_t kOutcomes = 4096;
// The section libFuzzer reads extra coverage from; an ordinary array in the replay build.
[[gnu::section("__libfuzzer_extra_counters")]] uint8_t outcomeCounters[kOutcomes];

void noteOutcome(const QByteArray& format, const sender::LoadedPicture& loaded) {
    size_t h = qHash(format);
    if (loaded.image.isNull()) {
        h = h * 31 + qHash(loaded.error);
    } else {
        h = h * 31 + static_cast<size_t>(loaded.image.format());
        h = h * 31 + static_cast<size_t>(std::min(loaded.image.width(), 64) / 8);
        h = h * 31 + static_cast<size_t>(std::min(loaded.image.height(), 64) / 8);
    }
    ++outcomeCounters[h % kOutcomes];
}

void require(bool property, const char* what) {
    if (!property) {
        std::fprintf(stderr, "picture_loader_fuzz: property violated: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every refused picture would print Qt's warning; at thousands of inputs a second that is
    // most of the time spent.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const QByteArray format = QImageReader::imageFormat(&buffer);
    buffer.seek(0);
    const sender::LoadedPicture loaded = sender::loadPicture(buffer);
    noteOutcome(format, loaded);
    require(loaded.image.isNull() != loaded.error.isEmpty(), "a picture or a reason");
    if (loaded.image.isNull()) return 0;
    for (const auto aspect : {sender::Aspect::Stretch, sender::Aspect::Preserve}) {
        const QImage area = sender::drawStill(loaded.image, aspect);
        require(area.width() == sender::kPictureArea && area.height() == sender::kPictureArea,
                "the area is 256 x 256");
        require(area.format() == QImage::Format_RGB32, "the area is opaque RGB");
        const encoder::SourcePicture source = sender::sourceFromArea(area);
        const QRgb corner = area.pixel(0, 0);
        require(source.red(0, 0) == qRed(corner) && source.blue(0, 0) == qBlue(corner),
                "the source is the area");
    }
    return 0;
}
