#include "player/picture_dialog.h"

#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <utility>

namespace player {

namespace {

// The top of the slider is its minimum: up brightens and raises the contrast, as on the
// system's vertical track bars, and the arrow keys and wheel follow the picture.
QSlider* verticalSlider(QWidget* parent, const char* name, int maximum, QRect place) {
    auto* slider = new QSlider(Qt::Vertical, parent);
    slider->setObjectName(name);
    slider->setRange(0, maximum);
    slider->setInvertedAppearance(true);
    slider->setInvertedControls(true);
    slider->setTickPosition(QSlider::TicksBothSides);
    slider->setTickInterval(maximum / 4 > 0 ? maximum / 4 : 1);
    slider->setGeometry(place);
    return slider;
}

}  // namespace

PictureDialog::PictureDialog(PictureAdjust& adjust, QWidget* owner, std::function<void()> changed)
    : QDialog(owner), adjust_(adjust), changed_(std::move(changed)) {
    setObjectName("pictureDialog");
    setWindowTitle("Picture");
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setFixedSize(118, 300);
    move(300, 100);

    brightness_ = verticalSlider(this, "ctl429", kMaxBrightness, {15, 15, 24, 185});
    brightness_->setPageStep(32);
    contrast_ = verticalSlider(this, "ctl430", kMaxContrast, {70, 15, 25, 185});
    contrast_->setPageStep(2);

    auto* brightnessLabel = new QLabel("Brightness", this);
    brightnessLabel->setGeometry(2, 202, 60, 16);
    auto* contrastLabel = new QLabel("Contrast", this);
    contrastLabel->setGeometry(62, 202, 54, 16);
    for (QLabel* label : {brightnessLabel, contrastLabel}) {
        QFont small = label->font();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        label->setFont(small);
        label->setAlignment(Qt::AlignHCenter);
    }

    auto* defaults = new QPushButton("Default settings", this);
    defaults->setObjectName("ctl431");
    defaults->setGeometry(6, 226, 106, 30);
    defaults->setAutoDefault(false);
    auto* undo = new QPushButton("Undo", this);
    undo->setObjectName("ctl432");
    undo->setGeometry(6, 262, 106, 30);
    undo->setAutoDefault(false);

    showValues();

    // actionTriggered comes from the user only (drag, keys, page clicks, wheel), never from
    // showValues(), and carries the new position before the value follows it.
    connect(brightness_, &QSlider::actionTriggered, this,
            [this] { sliderActed(AdjustSlider::Brightness); });
    connect(contrast_, &QSlider::actionTriggered, this,
            [this] { sliderActed(AdjustSlider::Contrast); });
    connect(defaults, &QPushButton::clicked, this, [this] {
        adjustDefaults(adjust_);
        showValues();
        if (changed_) changed_();
    });
    connect(undo, &QPushButton::clicked, this, [this] {
        adjustUndo(adjust_);
        showValues();
        if (changed_) changed_();
    });
}

void PictureDialog::sliderActed(AdjustSlider which) {
    const QSlider* slider = which == AdjustSlider::Brightness ? brightness_ : contrast_;
    adjustSliderMoved(adjust_, which, slider->sliderPosition());
    if (changed_) changed_();
}

void PictureDialog::showValues() {
    brightness_->setValue(adjust_.brightness);
    contrast_->setValue(adjust_.contrast);
}

}  // namespace player
