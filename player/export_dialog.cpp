#include "player/export_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace player {

namespace {

// Quality scales the encoders take: qscale 1..31 for MJPEG and MPEG-4, crf 0..51 for H.264;
// lower is better for both.
constexpr int kQscaleBest = 1;
constexpr int kQscaleWorst = 31;
constexpr int kCrfBest = 0;
constexpr int kCrfWorst = 51;
constexpr int kMaxKeyFrameInterval = 1000;
constexpr int kMaxKbitPerSecond = 100000;

}  // namespace

ExportDialog::ExportDialog(std::vector<media::AviCodecInfo> codecs, int framesPerSecond,
                           const QString& summary, QWidget* owner)
    : QDialog(owner), codecs_(std::move(codecs)), framesPerSecond_(framesPerSecond) {
    setObjectName("exportDialog");
    setWindowTitle("Video Compression");

    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(summary, this);
    heading->setObjectName("exportSummary");
    heading->setWordWrap(true);
    layout->addWidget(heading);

    auto* form = new QFormLayout;
    codec_ = new QComboBox(this);
    codec_->setObjectName("codec");
    for (const media::AviCodecInfo& info : codecs_) {
        codec_->addItem(QString::fromStdString(info.label));
    }
    form->addRow("&Compressor:", codec_);

    keyFrames_ = new QSpinBox(this);
    keyFrames_->setObjectName("keyFrameInterval");
    keyFrames_->setRange(1, kMaxKeyFrameInterval);
    keyFrames_->setValue(1);
    keyFrames_->setPrefix("every ");
    keyFrames_->setSuffix(" frames");
    form->addRow("&Key frame:", keyFrames_);

    bitRate_ = new QSpinBox(this);
    bitRate_->setObjectName("bitRate");
    bitRate_->setRange(0, kMaxKbitPerSecond);
    bitRate_->setSingleStep(100);
    bitRate_->setSpecialValueText("encoder default");
    bitRate_->setSuffix(" kbit/s");
    form->addRow("&Data rate:", bitRate_);

    quality_ = new QSpinBox(this);
    quality_->setObjectName("quality");
    quality_->setSpecialValueText("encoder default");
    form->addRow("&Quality:", quality_);
    qualityNote_ = new QLabel(this);
    form->addRow("", qualityNote_);
    layout->addLayout(form);

    auto* rate = new QLabel(
        QString("Stream rate: %1 frames per second (the replay speed)").arg(framesPerSecond_),
        this);
    layout->addWidget(rate);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName("exportButtons");
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    connect(codec_, &QComboBox::currentIndexChanged, this, &ExportDialog::codecChosen);
    codecChosen(codec_->currentIndex());
}

void ExportDialog::codecChosen(int index) {
    if (index < 0 || static_cast<size_t>(index) >= codecs_.size()) {
        return;
    }
    const media::AviCodecInfo& info = codecs_[static_cast<size_t>(index)];
    keyFrames_->setEnabled(info.keyFrames);
    bitRate_->setEnabled(info.bitRate);
    quality_->setEnabled(info.quality);
    const bool crf = info.codec == media::AviCodec::H264;
    // One below the best value stands for "encoder default" (the special value text).
    quality_->setRange((crf ? kCrfBest : kQscaleBest) - 1, crf ? kCrfWorst : kQscaleWorst);
    quality_->setValue(quality_->minimum());
    qualityNote_->setText(
        !info.quality ? QString()
        : crf         ? QString("crf %1..%2, lower is better").arg(kCrfBest).arg(kCrfWorst)
              : QString("qscale %1..%2, lower is better").arg(kQscaleBest).arg(kQscaleWorst));
}

media::AviOptions ExportDialog::options() const {
    media::AviOptions options;
    options.framesPerSecond = framesPerSecond_;
    const int index = codec_->currentIndex();
    if (index < 0 || static_cast<size_t>(index) >= codecs_.size()) {
        return options;
    }
    const media::AviCodecInfo& info = codecs_[static_cast<size_t>(index)];
    options.codec = info.codec;
    options.keyFrameInterval = info.keyFrames ? keyFrames_->value() : 1;
    options.bitRate = info.bitRate ? static_cast<int64_t>(bitRate_->value()) * 1000 : 0;
    options.quality =
        info.quality && quality_->value() > quality_->minimum() ? quality_->value() : -1;
    return options;
}

}  // namespace player
