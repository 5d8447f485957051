#include "sender/main_window.h"

#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStandardPaths>
#include <QTabBar>
#include <algorithm>

#include "sender/about_help.h"
#include "sender/choice_dialog.h"
#include "sender/rs_bar.h"
#include "sender/source_pages.h"
#include "sender/still_picture.h"
#include "sender/window_graphics.h"

namespace sender {

namespace {

constexpr QColor kCodewordGreen(0, 200, 0);
constexpr int kBarsTop = 20;
constexpr int kBarsLeft = 760;
constexpr int kBarsWidth = 24;

template <typename W>
W* place(W* widget, const char* name, QRect geometry) {
    if (name != nullptr) widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

QLabel* addLabel(QWidget* parent, const QString& text, QRect geometry) {
    return place(new QLabel(text, parent), nullptr, geometry);
}

// A button's font narrowed until its longest line fits beside the indicator.
void fitLines(QAbstractButton* button) {
    const QStringList lines = button->text().split(QLatin1Char('\n'));
    const QString longest =
        *std::max_element(lines.begin(), lines.end(),
                          [metrics = button->fontMetrics()](const auto& a, const auto& b) {
                              return metrics.horizontalAdvance(a) < metrics.horizontalAdvance(b);
                          });
    const int indicator =
        button->sizeHint().width() - button->fontMetrics().horizontalAdvance(longest);
    button->setFont(fontToFit(button->font(), longest, button->width() - indicator));
}

// The 8-bit characters of a text box, as the frame carries them.
std::string frameText(const QString& text) { return text.toLatin1().toStdString(); }

void defaultMessage(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox box(caption == QLatin1String(kComportCaption.data()) ? QMessageBox::Critical
                                                                     : QMessageBox::NoIcon,
                    caption, text, QMessageBox::Ok, parent);
    box.exec();
}

QString unreadablePictureText(const QString& path, const QString& reason) {
    return QStringLiteral("Cannot read the picture %1: %2").arg(QFileInfo(path).fileName(), reason);
}

}  // namespace

QString findMixer() {
    // The volume controls of the common desktops, the PulseAudio one first since PipeWire
    // desktops serve it too.
    static const char* const kMixers[] = {"pavucontrol", "pavucontrol-qt", "mate-volume-control",
                                          "xfce4-mixer", "kmix",           "gnome-control-center",
                                          "pwvucontrol"};
    for (const char* name : kMixers) {
        const QString found = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!found.isEmpty()) return found;
    }
    return {};
}

// ---- the window ----

MainWindow::MainWindow(MainWindowOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)), link_(options_.link) {
    keying_ = options_.keying ? std::move(options_.keying) : std::make_unique<SerialKeying>();
    if (!options_.message) {
        options_.message = [this](const QString& caption, const QString& text) {
            defaultMessage(this, caption, text);
        };
    }
    if (!options_.choice) options_.choice = askChoice;

    setWindowTitle(QStringLiteral("Wavelet compression codec"));
    setAcceptDrops(true);
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(kClientWidth, kClientHeight);
    // The controls' places and sizes are fixed in pixels for an 8-point dialog font; a
    // condensed face of that size keeps their texts inside them.
    QFont small = client->font();
    small.setPixelSize(11);
    small.setStretch(QFont::SemiCondensed);
    client->setFont(small);
    client->setStyleSheet(QStringLiteral("QRadioButton, QCheckBox { spacing: 2px; }"));
    setCentralWidget(client);
    settings_ = options_.initial.window;
    buildControls(client);
    buildMenus();
    showSettings();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    if (options_.rememberSettings) saver_ = packaging::ConfigSaver(QStringLiteral("pictx"));
    saver_.assume(pictxConfigText(rememberedSettings()));
    for (QLineEdit* field : {callsign_, message_, portField_}) {
        connect(field, &QLineEdit::textChanged, this, &MainWindow::remember);
    }

    // The send timer's period is the frame's air time and a margin: a coarse timer may fire up
    // to 5 % early, handing the modulator the next frame while the last is still on the air.
    sendTimer_.setTimerType(Qt::PreciseTimer);
    progressTimer_.setTimerType(Qt::PreciseTimer);
    connect(&sendTimer_, &QTimer::timeout, this, &MainWindow::sendTimerFired);
    connect(&progressTimer_, &QTimer::timeout, this, &MainWindow::progressTimerFired);
    // The box comes once, when the modulator is not there at start; after that the link is
    // tried again each frame period, and the line under the transmit switch tells how it goes.
    connect(&link_, &ModulatorLink::openFailed, this,
            [this](const QString& message, const QString& reason) {
                linkLabel_->setToolTip(reason);
                if (openFailureShown_ || link_.timesOpened() > 0) return;
                openFailureShown_ = true;
                options_.message(windowTitle(), message);
            });
    connect(&link_, &ModulatorLink::peerClosed, this,
            [this] { linkLabel_->setToolTip(QStringLiteral("The modulator closed the link")); });
    connect(&link_, &ModulatorLink::stateChanged, this, [this](LinkState state) {
        linkLabel_->setText(linkStateText(state, link_.settings().port));
        if (state == LinkState::Up) linkLabel_->setToolTip(QString());
    });
    // The switch may be on before the link is up (--transmit, or a quick click): the modulator
    // then hears "start" as soon as it can. A modulator that comes back may have restarted
    // unkeyed, or still be keyed from before the switch went off: it hears the switch again.
    connect(&link_, &ModulatorLink::opened, this, [this] {
        if (controller_.transmitting()) {
            link_.sendCommand(ModulatorCommand::Start);
        } else if (link_.timesOpened() > 1) {
            link_.sendCommand(ModulatorCommand::Stop);
        }
    });
}

MainWindow::~MainWindow() { shutDown(); }

void MainWindow::buildControls(QWidget* client) {
    auto* frame = place(new TabFrame(client), "ctl1120", QRect(1, 1, 263, 308));
    tabs_ = new SourceTabBar(frame);
    tabs_->setObjectName(QStringLiteral("tabBar"));
    tabs_->setFocusPolicy(Qt::StrongFocus);
    tabs_->setDrawBase(false);
    for (const char* text : {"Still picture", "Movie", "Webcam"}) {
        const int i = tabs_->addTab(QString::fromLatin1(text));
        tabs_->setTabToolTip(i, QString::fromLatin1(text));
    }
    tabs_->setGeometry(0, 0, 263, kTabHeight);

    stillPage_ = new StillPage(client);
    moviePage_ = new MoviePage(client);
    webcamPage_ = new WebcamPage(options_.captureDevice, client);
    for (QWidget* page : {static_cast<QWidget*>(stillPage_), static_cast<QWidget*>(moviePage_),
                          static_cast<QWidget*>(webcamPage_)}) {
        page->move(4, 24);
        page->raise();
    }
    moviePage_->hide();
    webcamPage_->hide();
    connect(tabs_, &QTabBar::currentChanged, this, &MainWindow::tabChanged);

    place(new QGroupBox(QStringLiteral("Frame size"), client), nullptr, QRect(636, 14, 110, 125));
    auto* sizes = new QButtonGroup(this);
    for (int i = 0; i < 5; ++i) {
        const int size = kFrameSizes[i];
        auto* option = new QRadioButton(QStringLiteral("%1 x %1").arg(size), client);
        option->setObjectName(QStringLiteral("ctl%1").arg(1400 + i));
        option->setGeometry(645, 35 + 20 * i, 65, 15);
        option->setChecked(size == settings_.encoder.frameSize);
        sizes->addButton(option);
        connect(option, &QRadioButton::clicked, this, [this, size] { frameSizeClicked(size); });
    }

    // The group reaches up into the gap under the frame sizes to take the AV1 choice, its two
    // lines and the chroma combo below the three wavelets.
    place(new QGroupBox(QStringLiteral("Wavelet"), client), nullptr, QRect(636, 144, 110, 140));
    auto* wavelets = new QButtonGroup(this);
    const struct {
        const char* id;
        const char* text;
        QRect place;
        encoder::Wavelet wavelet;
    } kWavelets[] = {
        {"ctl1100", "Haar", {645, 165, 45, 20}, encoder::Wavelet::Haar},
        {"ctl1101", "D4", {645, 185, 45, 20}, encoder::Wavelet::D4},
        {"ctl1102", "CDF97 subband", {645, 205, 95, 20}, encoder::Wavelet::Cdf97},
        {"av1", "AV1 (sharper, new\nreceivers only)", {645, 225, 99, 30}, encoder::Wavelet::Av1}};
    for (const auto& w : kWavelets) {
        auto* option = place(new QRadioButton(QString::fromLatin1(w.text), client), w.id, w.place);
        option->setChecked(w.wavelet == settings_.encoder.wavelet);
        if (w.wavelet == encoder::Wavelet::Av1) fitLines(option);
        wavelets->addButton(option);
        const encoder::Wavelet wavelet = w.wavelet;
        connect(option, &QRadioButton::clicked, this, [this, wavelet] { waveletClicked(wavelet); });
    }
    av1ChromaLabel_ = addLabel(client, QStringLiteral("Chroma"), QRect(645, 257, 40, 22));
    av1Chroma_ = place(new QComboBox(client), "av1Chroma", QRect(687, 257, 56, 22));
    av1Chroma_->addItems(kAv1ChromaChoices);
    const QString chromaTip =
        QStringLiteral("AV1 colour: 4:4:4 keeps every colour pixel, 4:2:0 a quarter of them");
    av1Chroma_->setToolTip(chromaTip);
    av1ChromaLabel_->setToolTip(chromaTip);
    connect(av1Chroma_, &QComboBox::activated, this, &MainWindow::av1ChromaChosen);

    aspect_ = place(new QCheckBox(QStringLiteral("Preserve still picture aspect ratio"), client),
                    "ctl1107", QRect(20, 330, 170, 20));
    aspect_->setChecked(settings_.aspect == Aspect::Preserve);
    QFont narrower = aspect_->font();  // the longest text of all in 170 pixels
    narrower.setPixelSize(10);
    aspect_->setFont(narrower);
    connect(aspect_, &QCheckBox::clicked, this, &MainWindow::aspectClicked);

    turnOn_ =
        place(new QPushButton(QStringLiteral("Turn On"), client), "ctl1002", QRect(5, 360, 65, 20));
    turnOn_->setCheckable(true);
    connect(turnOn_, &QPushButton::clicked, this, &MainWindow::turnOnClicked);
    auto* comport = place(new QPushButton(QStringLiteral("Set comport"), client), "ctl1601",
                          QRect(90, 360, 65, 20));
    connect(comport, &QPushButton::clicked, this, &MainWindow::setComportClicked);
    portField_ =
        place(new QLineEdit(QStringLiteral("1"), client), "ctl1602", QRect(157, 360, 20, 20));
    // Empty until start() opens the link.
    linkLabel_ = place(new QLabel(client), "linkState", QRect(5, 386, 265, 16));

    progress_ = place(new ProgressLine(client), "ctl2800", QRect(279, 305, 330, 6));
    status_ = place(new QLabel(client), "ctl1500", QRect(280, 285, 330, 15));

    callsign_ = place(new QLineEdit(client), "ctl1501", QRect(279, 327, 150, 20));
    addLabel(client, QStringLiteral("Enter callsign etc"), QRect(437, 330, 150, 20));
    message_ = place(new QLineEdit(client), "ctl1504", QRect(279, 357, 270, 20));
    addLabel(client, QStringLiteral("Enter short message (<39 chars)"), QRect(555, 360, 190, 20));

    quantiser_ = place(new QSlider(Qt::Horizontal, client), "ctl1103", QRect(671, 295, 128, 20));
    quantiser_->setRange(0, kQuantiserSliderMax);
    quantiser_->setValue(kQuantiserSliderMax);
    quantiser_->setTickPosition(QSlider::NoTicks);
    quantiserLabel_ = addLabel(client, QStringLiteral("Quantize"), QRect(615, 300, 50, 20));
    threshold_ = place(new QSlider(Qt::Horizontal, client), "ctl1104", QRect(671, 325, 128, 20));
    threshold_->setRange(0, kThresholdSliderMax);
    threshold_->setValue(kThresholdSliderMax);
    threshold_->setTickPosition(QSlider::NoTicks);
    thresholdLabel_ = addLabel(client, QStringLiteral("Threshold"), QRect(615, 330, 50, 20));
    // Any move of a thumb, by dragging, keys or clicks on the channel, sets what the slider
    // shows, so the frames are always encoded with the value on screen.
    connect(quantiser_, &QSlider::valueChanged, this, [this](int position) {
        settings_.encoder.quantiser = quantiserFromSlider(position);
        showQuantiser();
        encode(encoder::kEncodePreview);
    });
    connect(threshold_, &QSlider::valueChanged, this, [this](int position) {
        settings_.encoder.threshold = thresholdFromSlider(position);
        encode(encoder::kEncodePreview);
    });

    preview_ = place(new PreviewView(client), "ctl1201", QRect(279, 20, 344, 256));

    rsBar_ = new RsBar(client);
    rsBar_->setObjectName(QStringLiteral("ctl9101"));
    rsBar_->setText(QString::number(kRsBarStart));
    dataLabel_ = new QLabel(client);
    dataLabel_->setObjectName(QStringLiteral("ctl9100"));
    dataLabel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    dataLabel_->setLineWidth(1);
    dataLabel_->setAlignment(Qt::AlignCenter);
    dataLabel_->setAutoFillBackground(true);
    QPalette green = dataLabel_->palette();
    green.setColor(QPalette::Window, kCodewordGreen);
    green.setColor(QPalette::WindowText, Qt::black);
    dataLabel_->setPalette(green);
    placeCodewordBars(kRsRowsBeforeEncode, kRsBarStart);
    connect(rsBar_, &RsBar::positionChanged, this, [this](int position) {
        rsBar_->setText(QString::number(position));
        remember();
    });
    connect(rsBar_, &RsBar::released, this, [this] { encode(encoder::kEncodePreview); });
}

void MainWindow::buildMenus() {
    QMenuBar* bar = menuBar();
    const auto item = [](QMenu* menu, const QString& text, int id) {
        QAction* action = menu->addAction(text);
        action->setObjectName(QStringLiteral("ctl%1").arg(id));
        return action;
    };
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    connect(item(file, QStringLiteral("Exit"), 9000), &QAction::triggered, this,
            &MainWindow::exitChosen);
    QMenu* sound = bar->addMenu(QStringLiteral("&Soundcard"));
    connect(item(sound, QStringLiteral("&Output"), 9001), &QAction::triggered, this,
            &MainWindow::openMixer);

    QMenu* rate = bar->addMenu(QStringLiteral("Movie frame rate"));
    freeRunning_ = item(rate, QStringLiteral("Frame rate (free-running)"), 9016);
    sync_ = item(rate, QStringLiteral("Sync frames with sender"), 1123);
    auto* rateGroup = new QActionGroup(this);
    for (QAction* a : {freeRunning_, sync_}) {
        a->setCheckable(true);
        rateGroup->addAction(a);
    }
    freeRunning_->setChecked(true);
    connect(freeRunning_, &QAction::triggered, this, &MainWindow::freeRunningChosen);
    connect(sync_, &QAction::triggered, this, &MainWindow::syncChosen);

    QMenu* chroma = bar->addMenu(QStringLiteral("Chroma subsampling"));
    const struct {
        const char* text;
        int id;
        bool red;
        int factor;
    } kChroma[] = {{"4x4 red", 1410, true, 4},
                   {"2x2 red", 1411, true, 2},
                   {"4x4 blue", 1412, false, 4},
                   {"2x2 blue", 1413, false, 2}};
    QActionGroup* group = nullptr;
    for (size_t i = 0; i < std::size(kChroma); ++i) {
        const auto& c = kChroma[i];
        if (c.factor == 4) group = new QActionGroup(this);
        QAction* action = item(chroma, QString::fromLatin1(c.text), c.id);
        chroma_[i] = action;
        action->setCheckable(true);
        action->setChecked(c.factor == 4);
        group->addAction(action);
        const bool red = c.red;
        const int factor = c.factor;
        connect(action, &QAction::triggered, this,
                [this, red, factor] { chromaChosen(red, factor); });
    }

    QMenu* help = bar->addMenu(QStringLiteral("Help"));
    connect(item(help, QStringLiteral("Help"), 1018), &QAction::triggered, this,
            [this] { showHelp(this); });
    help->addSeparator();
    connect(item(help, QStringLiteral("About"), 1017), &QAction::triggered, this,
            [this] { showAbout(this); });
}

// The controls made to show settings_ and the remembered texts, without an encode: the first
// encode then runs with them.
void MainWindow::showSettings() {
    const PictxSettings& initial = options_.initial;
    const encoder::EncoderSettings& e = settings_.encoder;
    {
        const QSignalBlocker quietQuantiser(quantiser_);
        const QSignalBlocker quietThreshold(threshold_);
        quantiser_->setValue(quantiserSliderPosition(e.quantiser));
        threshold_->setValue(thresholdSliderPosition(e.threshold));
    }
    callsign_->setText(initial.callsign);
    message_->setText(initial.message);
    portField_->setText(initial.comport);
    aspect_->setChecked(settings_.aspect == Aspect::Preserve);
    stillPage_->setAspect(settings_.aspect);
    chroma_[e.redFactor == 4 ? 0 : 1]->setChecked(true);
    chroma_[e.blueFactor == 4 ? 2 : 3]->setChecked(true);
    av1Chroma_->setCurrentIndex(av1ChromaIndex(e.av1Chroma));
    showWaveletControls();
    (settings_.movieSynced ? sync_ : freeRunning_)->setChecked(true);
    moviePage_->setRate(settings_.movieRate);
    placeCodewordBars(kRsRowsBeforeEncode, e.syndromes);
    const int tab = static_cast<int>(settings_.tab);
    {
        const QSignalBlocker quietTabs(tabs_);
        tabs_->setCurrentIndex(tab);
    }
    showPage(tab);
}

PictxSettings MainWindow::rememberedSettings() const {
    PictxSettings s;
    s.window = settings_;
    s.window.encoder.syndromes = rsBar_->position();
    s.callsign = callsign_->text();
    s.message = message_->text();
    s.comport = portField_->text();
    return s;
}

void MainWindow::remember() {
    if (saver_.enabled()) saver_.save(pictxConfigText(rememberedSettings()));
}

void MainWindow::start() {
    if (options_.openLink) {
        linkLabel_->setText(linkStateText(link_.state(), link_.settings().port));
        if (options_.startModulator) {
            static_cast<void>(link_.startModulator(static_cast<quint64>(winId())));
        } else {
            link_.open();
        }
    }
    applyTimers(controller_.startUp());
}

// ---- encoding ----

QImage MainWindow::sourceArea() const {
    switch (settings_.tab) {
        case SourceTab::Movie:
            return moviePage_->area();
        case SourceTab::Webcam:
            return webcamPage_->area();
        case SourceTab::Still:
            break;
    }
    return stillPage_->area();
}

void MainWindow::encode(int mode) {
    if (shutDown_) return;
    encoder::EncoderSettings& s = settings_.encoder;
    s.syndromes = rsBar_->position();
    s.callsign = frameText(callsign_->text());
    s.message = frameText(message_->text());
    s.transmit = controller_.transmitting();
    const encoder::SourcePicture source = sourceFromArea(sourceArea());
    const encoder::EncodeResult result = encoder::ENCODEFRAME(s, source, encoderState_, mode);
    lastEncode_ = {s, mode, result.error, result.frame, result.preview};
    ++encodeCount_;
    applyEncode(result, mode);
    remember();
}

void MainWindow::applyEncode(const encoder::EncodeResult& result, int mode) {
    if (result.error == encoder::EncodeError::BadSettings) return;
    refreshStillCaption();
    const TimerPlan plan = controller_.frameEncoded(result, mode, settings_.movieSynced);
    if (result.error == encoder::EncodeError::TooLarge) {
        preview_->showFailure(result.failureLines, result.failureInRed);
        applyTimers(plan);
        return;
    }
    if (result.error != encoder::EncodeError::None) return;
    const QString status = QString::fromStdString(result.status);
    status_->setFont(fontToFit(status_->parentWidget()->font(), status, status_->width()));
    status_->setText(status);
    applyTimers(plan);
    if (plan.sendFrame) link_.sendFrame(result.frame);
    placeCodewordBars(result.r, 2 * result.t);
    if (!encodedOnce_) {
        encodedOnce_ = true;
        rsBar_->setToolTip(QStringLiteral("Click and drag to change number of RS syndromes"));
    }
    preview_->showPicture(imageFromPicture(result.preview));
}

void MainWindow::applyTimers(const TimerPlan& plan) {
    const auto paced = [this](int ms) {
        return std::max(1, static_cast<int>(ms / options_.airSpeed));
    };
    if (plan.sendTimerMs > 0) sendTimer_.start(paced(plan.sendTimerMs));
    if (plan.progressTimerMs > 0) progressTimer_.start(paced(plan.progressTimerMs));
    if (plan.movieTimerMs > 0) moviePage_->restartFrameTimer(paced(plan.movieTimerMs));
    if (plan.clearProgress) progress_->clear();
}

void MainWindow::placeCodewordBars(int r, int position) {
    const RsBarRange range = rsBarRange(r);
    const int rows = kCodewordLength - range.high;
    rsBar_->setGeometry(kBarsLeft, kBarsTop, kBarsWidth, range.high);
    rsBar_->configure(range, position);
    rsBar_->setText(QString::number(rsBar_->position()));
    dataLabel_->setGeometry(kBarsLeft, kBarsTop + range.high, kBarsWidth, rows);
    // A label lower than a line of text would show only a sliver of the number.
    dataLabel_->setText(rows >= dataLabel_->fontMetrics().height() ? QString::number(rows)
                                                                   : QString());
}

void MainWindow::refreshStillCaption() {
    // Until a file is dropped the label keeps its invitation to drop one.
    if (settings_.encoder.sourcePath.empty()) return;
    stillPage_->setCaption(
        QString::fromStdString(encoder::fileNamePart(settings_.encoder.sourcePath)));
}

void MainWindow::sendTimerFired() {
    // A frame is due: a link that went down is tried again first, so that the frame waits for
    // it instead of being refused.
    if (options_.openLink && !shutDown_) link_.reopenIfDown();
    encode(encoder::kEncodeSend);
}

void MainWindow::progressTimerFired() { progress_->setEnd(controller_.progressTicked()); }

// ---- settings ----

void MainWindow::frameSizeClicked(int size) {
    if (const std::optional<int> position = chooseFrameSize(settings_, size)) {
        const QSignalBlocker quiet(threshold_);
        threshold_->setValue(*position);
        threshold_->repaint();
    }
    encode(encoder::kEncodePreview);
}

void MainWindow::waveletClicked(encoder::Wavelet wavelet) {
    settings_.encoder.wavelet = wavelet;
    showWaveletControls();
    encode(encoder::kEncodePreview);
}

void MainWindow::av1ChromaChosen(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kAv1ChromaValues))) return;
    settings_.encoder.av1Chroma = kAv1ChromaValues[index];
    encode(encoder::kEncodePreview);
}

void MainWindow::showWaveletControls() {
    // Greyed, not hidden: the values stay on show for a return to a wavelet.
    const bool wavelet = waveletControlsApply(settings_.encoder.wavelet);
    threshold_->setEnabled(wavelet);
    thresholdLabel_->setEnabled(wavelet);
    for (QAction* factor : chroma_) factor->setEnabled(wavelet);
    av1Chroma_->setEnabled(!wavelet);
    av1ChromaLabel_->setEnabled(!wavelet);
    showQuantiser();
}

void MainWindow::showQuantiser() {
    const QuantiserTexts texts = quantiserTexts(settings_.encoder);
    quantiserLabel_->setText(texts.label);
    quantiserLabel_->setFont(
        fontToFit(quantiserLabel_->parentWidget()->font(), texts.label, quantiserLabel_->width()));
    quantiser_->setToolTip(texts.toolTip);
    quantiserLabel_->setToolTip(texts.toolTip);
}

void MainWindow::chromaChosen(bool red, int factor) {
    (red ? settings_.encoder.redFactor : settings_.encoder.blueFactor) = factor;
    encode(encoder::kEncodePreview);
}

void MainWindow::aspectClicked() {
    toggleAspect(settings_);
    stillPage_->setAspect(settings_.aspect);
    refreshStillCaption();
    encode(encoder::kEncodePreview);
}

void MainWindow::chooseSourceTab(SourceTab tab) { tabs_->setCurrentIndex(static_cast<int>(tab)); }

void MainWindow::tabChanged(int index) {
    if (index < 0 || index > 2) return;
    showPage(index);
    chooseTab(settings_, static_cast<SourceTab>(index));
    encode(encoder::kEncodePreview);
}

void MainWindow::showPage(int index) {
    QWidget* pages[] = {stillPage_, moviePage_, webcamPage_};
    pages[currentPage_]->hide();
    pages[index]->show();
    currentPage_ = index;
}

void MainWindow::freeRunningChosen() {
    freeRunning_->setChecked(true);
    const QString answer =
        options_.choice(this, QStringLiteral("Select frame rate for AVI/MPG replay"),
                        movieRateText(settings_.movieRate), kMovieRateChoices,
                        QStringLiteral("Frame rate (seconds)"));
    settings_.movieRate = movieRateFromAnswer(answer, settings_.movieRate);
    settings_.movieSynced = false;
    moviePage_->setRate(settings_.movieRate);
    moviePage_->restartFrameTimer(movieTimerMs(settings_.movieRate));
    remember();
}

void MainWindow::syncChosen() {
    sync_->setChecked(true);
    settings_.movieSynced = true;
    moviePage_->stopFrameTimer();
    remember();
}

// ---- transmitter and link ----

void MainWindow::setTransmit(bool on) {
    if (controller_.transmitting() != on) turnOnClicked();
}

void MainWindow::turnOnClicked() {
    const TransmitChange change = controller_.toggleTransmit();
    turnOn_->setChecked(change.on);
    keyTransmitter(*keying_, change.on);
    link_.sendCommand(change.command);
}

void MainWindow::setComportClicked() {
    const ComportResult result = setComport(*keying_, frameText(portField_->text()));
    if (!result.ok) {
        options_.message(QString::fromLatin1(kComportCaption.data(), kComportCaption.size()),
                         QString::fromLatin1(kComportFailureText.data(),
                                             static_cast<qsizetype>(kComportFailureText.size())));
    }
}

void MainWindow::exitChosen() {
    link_.sendCommand(ModulatorCommand::Exit);
    close();
}

void MainWindow::openMixer() {
    const QString mixer = findMixer();
    if (!mixer.isEmpty()) QProcess::startDetached(mixer, {});
}

void MainWindow::shutDown() {
    if (shutDown_) return;
    shutDown_ = true;
    link_.sendCommand(ModulatorCommand::Exit);
    link_.close();
    sendTimer_.stop();
    progressTimer_.stop();
    moviePage_->stopFrameTimer();
    keying_->close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    shutDown();
    QMainWindow::closeEvent(event);
}

// ---- dropped files ----

void MainWindow::dropFiles(const QStringList& paths) {
    if (paths.isEmpty()) return;
    const QString& path = paths.front();
    settings_.encoder.sourcePath = path.toStdString();
    switch (settings_.tab) {
        case SourceTab::Still:
            // An unreadable file keeps the old picture, which is encoded again as before.
            if (const QString error = stillPage_->loadStill(path); !error.isEmpty()) {
                options_.message(windowTitle(), unreadablePictureText(path, error));
            }
            encode(encoder::kEncodePreview);
            break;
        case SourceTab::Movie:
            if (const media::MediaResult opened = moviePage_->openMovie(path); !opened.ok) {
                options_.message(windowTitle(), QString::fromStdString(opened.error));
            }
            break;
        case SourceTab::Webcam:
            break;
    }
}

QString MainWindow::loadStill(const QString& path) {
    if (const QString error = stillPage_->loadStill(path); !error.isEmpty()) {
        return unreadablePictureText(path, error);
    }
    settings_.encoder.sourcePath = path.toStdString();
    encode(encoder::kEncodePreview);
    return {};
}

media::MediaResult MainWindow::openMovie(const QString& path) {
    settings_.encoder.sourcePath = path.toStdString();
    return moviePage_->openMovie(path);
}

void MainWindow::previewEncode() { encode(encoder::kEncodePreview); }

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) paths << url.toLocalFile();
    }
    if (paths.isEmpty()) return;
    event->acceptProposedAction();
    dropFiles(paths);
}

}  // namespace sender
