#pragma once

// "Picture": the brightness and contrast sliders, "Default settings" and "Undo". Modeless; the
// values live in the control window and act from the next tick.

#include <QDialog>
#include <functional>

#include "player/picture_adjust.h"

class QSlider;

namespace player {

class PictureDialog : public QDialog {
public:
    // adjust outlives the dialog (the control window owns both); changed runs after each
    // change the dialog makes to it.
    PictureDialog(PictureAdjust& adjust, QWidget* owner, std::function<void()> changed = {});

private:
    void sliderActed(AdjustSlider which);
    void showValues();

    PictureAdjust& adjust_;
    std::function<void()> changed_;
    QSlider* brightness_;
    QSlider* contrast_;
};

}  // namespace player
