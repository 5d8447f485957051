#pragma once

// The receiving station without its window: RECEIVEPACKET, the picture control's pixels and
// the recorder, applied together. picrx's window and `vistrel receive` both run it, so a
// picture is drawn and recorded the same way whether or not anyone looks at it. No widgets.

#include <QImage>
#include <span>

#include "receiver/movie_file.h"
#include "receiver/picture_control.h"
#include "receiver/receive_packet.h"

namespace receiver {

// Everything the receiver keeps for its whole run.
struct Station {
    ReceiverState receiver;
    RecorderState recorder;
    // The inside of the picture control (342 x 254, Format_RGB32): each good picture is drawn
    // over the one before, and this is what a recording appends.
    QImage inside = blankPictureControl();
};

// What one unit (or the end of a frame) did to the station.
struct StationStep {
    ReceiveUpdate update;       // the core's texts and paints for the window
    bool pictureDrawn = false;  // inside holds a new picture
    bool recorded = false;      // a record was appended to the movie file
    // A failed append: the recording has ended and the recorder label says why.
    MovieResult recordResult;
};

// One unit from the demodulator link (fewer than 40 bytes change nothing).
[[nodiscard]] StationStep receiveUnit(Station& station, std::span<const uint8_t> unit);
// The frame on the air has ended without a new header (a pause, or the end of input).
[[nodiscard]] StationStep endFrame(Station& station);

// The wall clock as the user reads it, for the recorder's file names.
[[nodiscard]] LocalDateTime localNow();

}  // namespace receiver
