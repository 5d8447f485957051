#pragma once

// The compressor choice before "Make AVI" writes: the encoders this FFmpeg offers for AVI, with
// key-frame interval and data rate (bit rate or quality) where the encoder takes them.

#include <QDialog>
#include <vector>

#include "media/avi_writer.h"

class QComboBox;
class QLabel;
class QSpinBox;

namespace player {

class ExportDialog : public QDialog {
public:
    // summary: one line naming the file and the frames to write.
    ExportDialog(std::vector<media::AviCodecInfo> codecs, int framesPerSecond,
                 const QString& summary, QWidget* owner);

    // What the user chose; framesPerSecond is the one given to the constructor.
    [[nodiscard]] media::AviOptions options() const;

private:
    void codecChosen(int index);

    std::vector<media::AviCodecInfo> codecs_;
    int framesPerSecond_;
    QComboBox* codec_;
    QSpinBox* keyFrames_;
    QSpinBox* bitRate_;
    QSpinBox* quality_;
    QLabel* qualityNote_;
};

}  // namespace player
