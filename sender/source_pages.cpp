#include "sender/source_pages.h"

#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace sender {

namespace {

constexpr QRgb kEmptyView = 0xFF000000;

QImage emptyArea() {
    QImage area(kPictureArea, kPictureArea, QImage::Format_RGB32);
    area.fill(kEmptyView);
    return area;
}

}  // namespace

PictureView::PictureView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::setPicture(const QImage& picture) {
    picture_ = picture;
    update();
}

void PictureView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (picture_.isNull()) {
        painter.fillRect(rect(), QColor::fromRgb(kEmptyView));
        return;
    }
    painter.drawImage(0, 0, picture_);
}

QImage areaFromFrame(const media::VideoFrame& frame) {
    if (frame.empty() || frame.pixels.size() < static_cast<size_t>(frame.width) * frame.height) {
        return emptyArea();
    }
    // Format_RGB32 ignores the top byte, so the frame's 0x00RRGGBB pixels are used as they are.
    const QImage picture(reinterpret_cast<const uchar*>(frame.pixels.data()), frame.width,
                         frame.height, frame.width * 4, QImage::Format_RGB32);
    QImage area(kPictureArea, kPictureArea, QImage::Format_RGB32);
    area.fill(kEmptyView);
    QPainter painter(&area);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(0, 0, kPictureArea, kPictureArea), picture);
    return area;
}

// ---- still picture ----

StillPage::StillPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("page0"));
    setFixedSize(kPageWidth, kPageHeight);
    view_ = new PictureView(this);
    view_->setObjectName(QStringLiteral("ctl199"));
    view_->setGeometry(0, 1, kPictureArea, kPictureArea);
    caption_ = new QLabel(QStringLiteral("Drag and drop picture here"), this);
    caption_->setObjectName(QStringLiteral("ctl1121"));
    caption_->setGeometry(30, 260, 180, 20);
    caption_->setAlignment(Qt::AlignCenter);
    redraw();
}

QString StillPage::loadStill(const QString& path) {
    LoadedPicture loaded = loadPicture(path);
    if (loaded.image.isNull()) return loaded.error;
    still_ = std::move(loaded.image);
    setCaption(QString::fromStdString(encoder::fileNamePart(path.toStdString())));
    redraw();
    return {};
}

void StillPage::setStill(const QImage& image) {
    still_ = image;
    redraw();
}

void StillPage::setAspect(Aspect aspect) {
    aspect_ = aspect;
    redraw();
}

void StillPage::setCaption(const QString& text) { caption_->setText(text); }

QImage StillPage::area() const { return view_->picture(); }

void StillPage::redraw() { view_->setPicture(drawStill(still_, aspect_)); }

// ---- movie ----

PlayButton::PlayButton(QWidget* parent) : QPushButton(parent) {}

void PlayButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isEnabled() ? Qt::black : Qt::gray);
    const QPointF c = QRectF(rect()).center();
    if (text() == playButtonText(true)) {
        painter.drawRect(QRectF(c.x() - 5, c.y() - 6, 4, 12));
        painter.drawRect(QRectF(c.x() + 1, c.y() - 6, 4, 12));
    } else {
        const QPointF triangle[] = {
            {c.x() - 4, c.y() - 6}, {c.x() - 4, c.y() + 6}, {c.x() + 6, c.y()}};
        painter.drawPolygon(triangle, 3);
    }
}

MoviePage::MoviePage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("page1"));
    setFixedSize(kPageWidth, kPageHeight);
    view_ = new PictureView(this);
    view_->setObjectName(QStringLiteral("movieView"));
    view_->setGeometry(0, 0, kPictureArea, kPictureArea);
    view_->setPicture(emptyArea());

    play_ = new PlayButton(this);
    play_->setObjectName(QStringLiteral("ctl9005"));
    play_->setGeometry(0, 258, 24, 24);
    play_->setText(playButtonText(stepper_.playing));

    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setObjectName(QStringLiteral("ctl9007"));
    slider_->setGeometry(26, 258, 232, 24);
    slider_->setTickPosition(QSlider::NoTicks);
    slider_->setRange(0, 0);

    // Synchronised to the sender, the movie steps at 0.9 of the frame period: a coarse timer
    // could step twice in one period.
    frameTimer_.setTimerType(Qt::PreciseTimer);
    connect(&frameTimer_, &QTimer::timeout, this, &MoviePage::frameTimerFired);
    connect(play_, &QPushButton::clicked, this, &MoviePage::playClicked);
    // Every move of the slider by the user (thumb, keys, clicks on the channel) seeks; the
    // page's own moves are made with the signals blocked.
    connect(slider_, &QSlider::valueChanged, this, [this](int position) {
        movieSought(stepper_, position);
        showPosition(stepper_.current);
    });
}

media::MediaResult MoviePage::openMovie(const QString& path) {
    frameTimer_.stop();
    const media::MediaResult opened = movie_.open(path.toStdString());
    movieOpened(stepper_, movie_.frameCount());
    {
        const QSignalBlocker quiet(slider_);
        slider_->setRange(0, static_cast<int>(std::min<int64_t>(stepper_.length, INT32_MAX)));
    }
    showPosition(stepper_.current);
    play_->setText(playButtonText(stepper_.playing));
    frameTimer_.start(movieTimerMs(rate_));
    return opened;
}

void MoviePage::setRate(float secondsPerFrame) { rate_ = secondsPerFrame; }

void MoviePage::restartFrameTimer(int ms) {
    frameTimer_.stop();
    if (stepper_.playing) frameTimer_.start(ms > 0 ? ms : movieTimerMs(rate_));
}

void MoviePage::stopFrameTimer() { frameTimer_.stop(); }

void MoviePage::frameTimerFired() {
    movieTicked(stepper_);
    showPosition(stepper_.current);
}

void MoviePage::showPosition(int64_t position) {
    {
        const QSignalBlocker quiet(slider_);
        slider_->setValue(static_cast<int>(position));
    }
    const int64_t index = movieFrameIndex(stepper_, movie_.frameCount());
    view_->setPicture(index < 0 ? emptyArea() : areaFromFrame(movie_.frameAt(index)));
}

void MoviePage::playClicked() {
    stepper_.playing = !stepper_.playing;
    play_->setText(playButtonText(stepper_.playing));
    if (stepper_.playing) {
        frameTimer_.start(movieTimerMs(rate_));
    } else {
        frameTimer_.stop();
    }
}

// ---- webcam ----

WebcamPage::WebcamPage(const std::string& device, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("page2"));
    setFixedSize(kPageWidth, kPageHeight);
    view_ = new PictureView(this);
    view_->setObjectName(QStringLiteral("captureView"));
    view_->setToolTip(QStringLiteral("Capture Window"));
    view_->setGeometry(0, 0, kPictureArea, kPictureArea);
    view_->setPicture(emptyArea());

    source_ = new QPushButton(QStringLiteral("Video &source"), this);
    source_->setObjectName(QStringLiteral("ctl1300"));
    source_->setGeometry(0, 258, 128, 24);
    format_ = new QPushButton(QStringLiteral("Video &format"), this);
    format_->setObjectName(QStringLiteral("ctl1301"));
    format_->setGeometry(128, 258, 128, 24);

    connect(source_, &QPushButton::clicked, this, &WebcamPage::chooseSource);
    connect(format_, &QPushButton::clicked, this, &WebcamPage::chooseFormat);
    connect(&previewTimer_, &QTimer::timeout, this, &WebcamPage::previewTimerFired);
    if (!device.empty()) connectDevice(device);
    previewTimer_.start(kCapturePreviewMs);
}

bool WebcamPage::connectDevice(const std::string& device, const media::CaptureFormat& format) {
    const media::MediaResult opened = capture_.open(device, format);
    view_->setPicture(emptyArea());
    if (opened.ok) previewTimerFired();
    return opened.ok;
}

void WebcamPage::previewTimerFired() {
    if (!capture_.isOpen()) return;
    const media::VideoFrame frame = capture_.grab();
    // A device that has nothing new keeps the last picture on show.
    if (!frame.empty()) view_->setPicture(areaFromFrame(frame));
}

void WebcamPage::chooseSource() {
    const std::vector<media::CaptureDevice> devices = media::listCaptureDevices();
    if (devices.empty()) return;
    QMenu menu(this);
    for (const media::CaptureDevice& device : devices) {
        QAction* item = menu.addAction(QString::fromStdString(device.name));
        item->setCheckable(true);
        item->setChecked(capture_.isOpen() && device.path == capture_.device());
        item->setData(QString::fromStdString(device.path));
    }
    const QAction* chosen = menu.exec(source_->mapToGlobal(QPoint(0, source_->height())));
    if (chosen != nullptr) connectDevice(chosen->data().toString().toStdString());
}

void WebcamPage::chooseFormat() {
    if (!capture_.isOpen()) return;
    const std::string device = capture_.device();
    const std::vector<media::CaptureFormat> formats = media::listCaptureFormats(device);
    if (formats.empty()) return;
    QMenu menu(this);
    for (size_t i = 0; i < formats.size(); ++i) {
        const media::CaptureFormat& f = formats[i];
        QAction* item = menu.addAction(QStringLiteral("%1 x %2  %3")
                                           .arg(f.width)
                                           .arg(f.height)
                                           .arg(QString::fromStdString(f.pixelFormat)));
        item->setData(static_cast<qulonglong>(i));
    }
    const QAction* chosen = menu.exec(format_->mapToGlobal(QPoint(0, format_->height())));
    if (chosen != nullptr) connectDevice(device, formats[chosen->data().toULongLong()]);
}

}  // namespace sender
