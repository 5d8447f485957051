#include "player/control_window.h"

#include <QActionGroup>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <system_error>

#include "media/avi_writer.h"
#include "player/export_dialog.h"
#include "player/make_avi.h"
#include "player/picture_dialog.h"
#include "player/viewer_window.h"

namespace player {

namespace {

constexpr int kClientWidth = 425;
constexpr int kClientHeight = 80;

QString text(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

QLabel* sunkenLabel(QWidget* parent, const char* name, QRect place) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setGeometry(place);
    return label;
}

void showMessage(QWidget* owner, QMessageBox::Icon icon, std::string_view caption,
                 std::string_view message, const std::string& detail = {}) {
    QMessageBox box(icon, text(caption), text(message), QMessageBox::Ok, owner);
    box.setObjectName("messageBox");
    if (!detail.empty()) {
        box.setInformativeText(text(detail));
    }
    box.exec();
}

}  // namespace

ControlWindow::ControlWindow(const MovieplaySettings& initial, bool remember) {
    state_.speed = initial.speed;
    state_.colour = initial.colour;
    adjust_.brightness = adjust_.savedBrightness = initial.brightness;
    adjust_.contrast = adjust_.savedContrast = initial.contrast;
    if (remember) saver_ = packaging::ConfigSaver(QStringLiteral("movieplay"));
    saver_.assume(movieplayConfigText(initial));
    setObjectName("controlWindow");
    setWindowTitle(text(kControlTitle));
    setAcceptDrops(true);

    auto* client = new QWidget(this);
    client->setObjectName("client");
    setCentralWidget(client);

    play_ = new QPushButton(client);
    play_->setObjectName("ctl408");
    play_->setGeometry(0, 0, 25, 25);
    play_->setFocusPolicy(Qt::NoFocus);

    frameLabel_ = sunkenLabel(client, "ctl103", {25, 0, 25, 25});
    frameLabel_->setAlignment(Qt::AlignCenter);

    position_ = new QSlider(Qt::Horizontal, client);
    position_->setObjectName("ctl416");
    position_->setGeometry(50, 0, 315, 25);
    position_->setRange(1, 1);
    position_->setEnabled(false);

    status_ = sunkenLabel(client, "ctl415", {0, 30, 365, 25});
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    makeAvi_ = new QPushButton(text(kMakeAviCaption), client);
    makeAvi_->setObjectName("ctl600");
    makeAvi_->setGeometry(368, 3, 53, 53);
    // The caption is one line on a square button: the font shrinks until it fits.
    QFont font = makeAvi_->font();
    while (font.pointSizeF() > 5 &&
           QFontMetrics(font).horizontalAdvance(makeAvi_->text()) > makeAvi_->width() - 8) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
    }
    makeAvi_->setFont(font);
    makeAvi_->setEnabled(false);

    buildMenus();
    showPlayState();

    viewer_ = new ViewerWindow(this);

    timer_.setObjectName("playTimer");
    // A coarse timer plays up to 5 % fast.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &ControlWindow::tick);
    connect(play_, &QPushButton::clicked, this, &ControlWindow::playClicked);
    connect(position_, &QSlider::actionTriggered, this, &ControlWindow::positionActed);
    connect(makeAvi_, &QPushButton::clicked, this, &ControlWindow::makeAvi);

    move(400, 20);
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
}

ControlWindow::~ControlWindow() { timer_.stop(); }

void ControlWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    QAction* open = file->addAction("Open");
    open->setObjectName("ctl401");
    file->addSeparator();
    QAction* exit = file->addAction("Exit");
    exit->setObjectName("ctl402");
    connect(open, &QAction::triggered, this, &ControlWindow::chooseFile);
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* speed = menuBar()->addMenu("&Replay speed");
    auto* speeds = new QActionGroup(this);
    const int speedIds[] = {421, 420, 423, 422};
    for (size_t i = 0; i < kSpeeds.size(); ++i) {
        if (i > 0) {
            speed->addSeparator();
        }
        const int fps = kSpeeds[i].framesPerSecond;
        QAction* item = speed->addAction(QString("%1fps").arg(fps));
        item->setObjectName(QStringLiteral("ctl%1").arg(speedIds[i]));
        item->setCheckable(true);
        item->setChecked(fps == state_.speed);
        speeds->addAction(item);
        connect(item, &QAction::triggered, this, [this, fps] { speedChosen(fps); });
    }

    QAction* adjust = menuBar()->addAction("&Picture Adjust");
    adjust->setObjectName("ctl428");
    connect(adjust, &QAction::triggered, this, &ControlWindow::showPictureDialog);

    QMenu* colour = menuBar()->addMenu("Colour format");
    auto* formats = new QActionGroup(this);
    QAction* rgb = colour->addAction("RGB");
    rgb->setObjectName("ctl501");
    colour->addSeparator();
    QAction* bgr = colour->addAction("BGR");
    bgr->setObjectName("ctl502");
    for (QAction* item : {rgb, bgr}) {
        item->setCheckable(true);
        formats->addAction(item);
    }
    (state_.colour == ColourFormat::Rgb ? rgb : bgr)->setChecked(true);
    connect(rgb, &QAction::triggered, this, [this] {
        state_.colour = ColourFormat::Rgb;
        remember();
    });
    connect(bgr, &QAction::triggered, this, [this] {
        state_.colour = ColourFormat::Bgr;
        remember();
    });

    QMenu* help = menuBar()->addMenu("&Help");
    QAction* helpItem = help->addAction("Help");
    helpItem->setObjectName("ctl409");
    help->addSeparator();
    QAction* about = help->addAction("About");
    about->setObjectName("ctl410");
    connect(helpItem, &QAction::triggered, this,
            [this] { showMessage(this, QMessageBox::Information, kHelpCaption, kHelpText); });
    connect(about, &QAction::triggered, this,
            [this] { showMessage(this, QMessageBox::Information, kAboutCaption, kAboutText); });
}

receiver::MovieResult ControlWindow::openMovie(const std::filesystem::path& path, bool quiet) {
    // The new movie is read into a reader of its own: a refused file leaves the current one
    // open and playing.
    receiver::MovieReader fresh;
    if (const receiver::MovieResult opened = fresh.open(path); !opened.ok) {
        if (!quiet) {
            showMessage(this, QMessageBox::Warning, "Cannot open movie", opened.error);
        }
        return opened;
    }
    reader_ = std::move(fresh);
    movieOpened(state_, path, reader_.recordCount());
    viewer_->resizeToRecords(reader_.width(), reader_.height());
    viewer_->show();

    position_->setRange(1, state_.count);
    position_->setValue(1);
    position_->setEnabled(true);
    frameLabel_->setText(text(frameLabelText(state_.frameNumber)));
    status_->setText(text(playingText(state_)));
    makeAvi_->setEnabled(true);
    showPlayState();
    timer_.start(periodMs(state_.speed));
    return {};
}

void ControlWindow::fileDropped(const QString& path) {
    if (!isTvFileName(path.toStdString())) {
        showMessage(this, QMessageBox::Warning, "Error", kNotTvFile);
        return;
    }
    openMovie(std::filesystem::path(path.toStdString()));
}

void ControlWindow::chooseFile() {
    const QString path = QFileDialog::getOpenFileName(this, "Open File", QDir::currentPath(),
                                                      "Lumra movie files (*.tv);;All Files (*)");
    if (!path.isEmpty()) {
        openMovie(std::filesystem::path(path.toStdString()));
    }
}

void ControlWindow::tick() {
    const int32_t frame = tickFrame(state_);
    if (frame == 0) {
        return;
    }
    // Fails only for a number out of range, which tickFrame never gives; a short last record
    // comes back padded with black.
    if (reader_.readRecord(frame, record_).ok) {
        adjustPixels(record_, viewer_->pixels(), adjust_, state_.colour);
    }
    viewer_->update();
    position_->setValue(frame);
    frameLabel_->setText(text(frameLabelText(frame)));
}

void ControlWindow::playClicked() {
    togglePlay(state_);
    showPlayState();
}

void ControlWindow::showPlayState() {
    const bool playing = state_.playState == kPlaying;
    play_->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    play_->setToolTip(playing ? "Pause" : "Play");
    play_->setAccessibleName(playing ? "Pause" : "Play");
}

void ControlWindow::positionActed() {
    const int32_t frame = positionMoved(state_, position_->sliderPosition());
    if (frame > 0) {
        frameLabel_->setText(text(frameLabelText(frame)));
    }
}

void ControlWindow::speedChosen(int framesPerSecond) {
    timer_.stop();
    timer_.start(setSpeed(state_, framesPerSecond));
    if (state_.count > 0) {
        status_->setText(text(playingText(state_)));
    }
    remember();
}

MovieplaySettings ControlWindow::rememberedSettings() const {
    return {state_.speed, adjust_.brightness, adjust_.contrast, state_.colour};
}

void ControlWindow::remember() { saver_.save(movieplayConfigText(rememberedSettings())); }

void ControlWindow::showPictureDialog() {
    if (pictureDialog_ == nullptr) {
        pictureDialog_ = new PictureDialog(adjust_, this, [this] { remember(); });
    }
    pictureDialog_->show();
    pictureDialog_->raise();
    pictureDialog_->activateWindow();
}

void ControlWindow::makeAvi() {
    if (state_.count <= 0) {
        return;
    }
    std::error_code ec;
    std::filesystem::path directory = std::filesystem::current_path(ec);
    const std::string name = aviOutputName(state_.moviePath);
    const std::filesystem::path output = directory / name;
    if (std::filesystem::exists(output, ec)) {
        QMessageBox ask(QMessageBox::Question, text(kOverwriteCaption), text(kOverwriteQuestion),
                        QMessageBox::Ok | QMessageBox::Cancel, this);
        ask.setObjectName("overwriteBox");
        ask.setDefaultButton(QMessageBox::Cancel);
        if (ask.exec() != QMessageBox::Ok) {
            return;
        }
    }
    const QString summary = QString("%1: %2 frames of %3 x %4 pixels")
                                .arg(text(name))
                                .arg(reader_.recordCount())
                                .arg(reader_.width())
                                .arg(reader_.height());
    ExportDialog choose(media::availableAviCodecs(), state_.speed, summary, this);
    if (choose.exec() != QDialog::Accepted) {
        return;
    }
    // The export runs to its end on this thread; repaint() shows each progress text at once.
    const ExportResult result =
        MAKEAVI(state_.moviePath, output, choose.options(), [this](int32_t frame, int32_t count) {
            status_->setText(text(writingText(frame, count)));
            status_->repaint();
        });
    if (!result.ok()) {
        status_->setText(text(playingText(state_)));
        showMessage(this, QMessageBox::Critical, kMakeAviCaption, exportErrorText(result.error),
                    result.detail);
        return;
    }
    status_->setText(text(kFinishedText));
}

void ControlWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void ControlWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    // The drop is answered first: a message box inside the drop would hold the dragging
    // program until it is closed.
    const QString path = urls.front().toLocalFile();
    QTimer::singleShot(0, this, [this, path] { fileDropped(path); });
}

}  // namespace player
