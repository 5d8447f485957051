#pragma once

// "Picture": the brightness and contrast sliders, "Default settings" and "Undo". Modeless; the
// values live in the control window and act from the next tick.

#include <QDialog>

#include "player/picture_adjust.h"

class QSlider;

namespace player {

class PictureDialog : public QDialog {
public:
    // adjust outlives the dialog (the control window owns both).
    PictureDialog(PictureAdjust& adjust, QWidget* owner);

private:
    void sliderActed(AdjustSlider which);
    void showValues();

    PictureAdjust& adjust_;
    QSlider* brightness_;
    QSlider* contrast_;
};

}  // namespace player
