#include "receiver/station.h"

#include <QDateTime>

namespace receiver {

namespace {

StationStep apply(Station& station, ReceiveUpdate update) {
    StationStep step;
    if (update.picture) {
        drawPicture(station.inside, update.picture->picture, update.picture->length);
        step.pictureDrawn = true;
    }
    if (update.record && step.pictureDrawn && station.recorder.recording) {
        step.recordResult = appendRecord(station.recorder, station.inside.width(),
                                         station.inside.height(), recordPixels(station.inside));
        step.recorded = step.recordResult.ok;
    }
    step.update = std::move(update);
    return step;
}

}  // namespace

StationStep receiveUnit(Station& station, std::span<const uint8_t> unit) {
    return apply(station, RECEIVEPACKET(station.receiver, unit));
}

StationStep endFrame(Station& station) { return apply(station, finishFrame(station.receiver)); }

LocalDateTime localNow() {
    const QDateTime now = QDateTime::currentDateTime();
    return {now.date().year(), now.date().month(),  now.date().day(),
            now.time().hour(), now.time().minute(), now.time().second()};
}

}  // namespace receiver
