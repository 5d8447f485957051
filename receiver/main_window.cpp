#include "receiver/main_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace receiver {

namespace {

// Texts from the air are never markup: a message "<img src=...>" must not load a file.
QLabel* makeLabel(QWidget* parent, const char* name, QRect geometry) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QImage filledImage(int width, int height, QRgb colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

void setText(QLabel* label, const std::optional<std::string>& text) {
    if (text) label->setText(windowText(*text));
}

}  // namespace

QString windowText(std::string_view bytes) {
    const size_t end = bytes.find('\0');
    if (end != std::string_view::npos) bytes = bytes.substr(0, end);
    QString text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

void applyPaints(QImage& image, const PaintList& paints, QRgb background) {
    QPainter painter(&image);
    for (const PaintOp& op : paints) {
        const QRgb colour = op.background ? background : (0xFF000000u | op.rgb);
        painter.fillRect(QRect(op.x, op.y, op.width, op.height), QColor::fromRgb(colour));
    }
}

GraphicView::GraphicView(const QImage& image, bool bordered, QWidget* parent)
    : QWidget(parent), image_(image), bordered_(bordered) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QImage GraphicView::rendered() const {
    QImage out(size(), QImage::Format_RGB32);
    out.fill(palette().color(QPalette::Window));
    QPainter painter(&out);
    draw(painter);
    return out;
}

void GraphicView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    draw(painter);
}

void GraphicView::draw(QPainter& painter) const {
    if (!bordered_) {
        painter.drawImage(QPoint(0, 0), image_);
        return;
    }
    const QRect inside = rect().adjusted(1, 1, -1, -1);
    painter.setPen(QColor::fromRgb(kBorderColour));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.setClipRect(inside);
    painter.drawImage(inside.topLeft(), image_);
}

MainWindow::MainWindow(WindowSettings settings, QWidget* parent)
    : QWidget(parent), settings_(std::move(settings)) {
    setWindowTitle(QString::fromLatin1(kWindowTitle.data(), kWindowTitle.size()));
    setFixedSize(kWindowWidth, kWindowHeight);
    move(kWindowX, kWindowY);
    QPalette face = palette();
    face.setColor(QPalette::Window, QColor::fromRgb(kBlankColour));
    setPalette(face);
    setAutoFillBackground(true);
    QFont font = this->font();
    font.setPixelSize(kWindowFontPixels);
    setFont(font);

    picture_ = new GraphicView(station_.inside, true, this);
    picture_->setObjectName(QString::fromLatin1(kPictureControlName));
    picture_->setGeometry(23, 3, kControlWidth, kControlHeight);

    record_ = new QPushButton(this);
    record_->setObjectName(QString::fromLatin1(kRecordButtonName));
    record_->setGeometry(10, 265, 75, 20);
    record_->setCheckable(true);
    connect(record_, &QPushButton::clicked, this, &MainWindow::toggleRecord);

    recorderLabel_ = makeLabel(this, kRecorderLabelName, {10, 290, 175, 30});
    recorderLabel_->setWordWrap(true);
    messageLabel_ = makeLabel(this, kMessageLabelName, {10, 323, 175, 20});
    labelLine_ = makeLabel(this, kLabelLineName, {10, 345, 175, 20});
    statusLabel_ = makeLabel(this, kStatusLabelName, {190, 265, 180, 100});

    progress_ =
        new GraphicView(filledImage(kProgressWidth, kProgressHeight, 0xFFFFFFFF), true, this);
    progress_->setObjectName(QString::fromLatin1(kProgressBarName));
    progress_->setGeometry(10, 380, kProgressWidth, kProgressHeight);
    percentageLabel_ = makeLabel(this, kPercentageLabelName, {270, 377, 105, 15});

    blockMap_ =
        new GraphicView(filledImage(kBlockMapWidth, kBlockMapHeight, kBlankColour), false, this);
    blockMap_->setObjectName(QString::fromLatin1(kBlockMapName));
    blockMap_->setGeometry(10, 400, kBlockMapWidth, kBlockMapHeight);
    blockCountLabel_ = makeLabel(this, kBlockCountLabelName, {270, 397, 105, 15});

    showRecorder();
    if (settings_.remember) saver_ = packaging::ConfigSaver(QStringLiteral("picrx"));
    saver_.assume(settings_.onFile);
    connect(&link_, &DemodLink::unitReceived, this,
            [this](const encoder::Unit& unit) { takeUnit(unit); });
    connect(&link_, &DemodLink::unitsPaused, this, &MainWindow::takeFrameEnd);
}

MainWindow::~MainWindow() { shutDown(); }

ListenResult MainWindow::openLink() { return link_.listen(settings_.link); }

void MainWindow::takeUnit(std::span<const uint8_t> unit) { display(receiveUnit(station_, unit)); }

void MainWindow::takeFrameEnd() { display(endFrame(station_)); }

void MainWindow::toggleRecord() {
    // A failed start leaves recording off; the recorder label then says why.
    (void)toggleRecording(station_.recorder, localNow(), settings_.recordDir);
    showRecorder();
    settings_.record = station_.recorder.recording;
    rememberSettings();
}

void MainWindow::recordAtStart() {
    if (!settings_.record || station_.recorder.recording) return;
    (void)toggleRecording(station_.recorder, localNow(), settings_.recordDir);
    showRecorder();
}

void MainWindow::rememberSettings() {
    saver_.save(picrxConfigText({settings_.recordDir, settings_.record}));
}

void MainWindow::display(const StationStep& step) {
    const ReceiveUpdate& up = step.update;
    setText(messageLabel_, up.messageLabel);
    setText(labelLine_, up.labelLine);
    setText(statusLabel_, up.statusLabel);
    setText(blockCountLabel_, up.blockCountLabel);
    setText(percentageLabel_, up.percentageLabel);
    if (up.caption) setWindowTitle(windowText(*up.caption));
    if (!up.blockMap.empty()) {
        applyPaints(blockMap_->image(), up.blockMap, kBlankColour);
        blockMap_->update();
    }
    if (!up.progressBar.empty()) {
        applyPaints(progress_->image(), up.progressBar, kBlankColour);
        progress_->update();
    }
    if (step.pictureDrawn) {
        picture_->image() = station_.inside;
        picture_->update();
    }
    if (step.recorded || !step.recordResult.ok) showRecorder();
    if (step.pictureDrawn) Q_EMIT pictureShown(station_.receiver.goodFrames);
}

void MainWindow::showRecorder() {
    const RecorderState& recorder = station_.recorder;
    const std::string_view caption = recordButtonCaption(recorder);
    record_->setText(QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size())));
    record_->setChecked(recorder.recording);
    recorderLabel_->setText(QString::fromStdString(recorder.label));
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    shutDown();
    showRecorder();
    event->accept();
}

void MainWindow::shutDown() {
    link_.close();
    // Every record is whole once appended; closing only lets the file go.
    if (station_.recorder.recording) (void)stopRecording(station_.recorder);
}

}  // namespace receiver
