#include "tools/tonebox_window.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "tools/tonebox_settings.h"
#include "tools/tonebox_widgets.h"

namespace tools {

namespace {

constexpr int kLogLines = 2000;
constexpr int kFrameRows = 500;  // the table keeps the latest
constexpr double kTestPttSeconds = 1.0;
constexpr int kTuneSettleMs = 2000;  // keying takes its lead time first

QString count(uint64_t n) { return QString::number(static_cast<qulonglong>(n)); }

QLabel* linkLabel(const char* name) {
    auto* label = new QLabel;
    label->setObjectName(name);
    label->setTextFormat(Qt::RichText);
    return label;
}

QString linkText(const char* who, bool up, bool used) {
    if (!used) return QStringLiteral("%1: <span style='color:gray'>off</span>").arg(who);
    return up ? QStringLiteral("%1: <b style='color:#1a7f1a'>connected</b>").arg(who)
              : QStringLiteral("%1: <b style='color:#b06000'>not connected</b>").arg(who);
}

}  // namespace

ToneboxWindow::ToneboxWindow(const ToneboxOptions& options, std::string configPath, QWidget* parent)
    : QMainWindow(parent),
      options_(options),
      running_(options),
      configPath_(std::move(configPath)) {
    setWindowTitle(
        options.inputFile.empty()
            ? QStringLiteral("tonebox")
            : QStringLiteral("tonebox: %1").arg(QString::fromStdString(options.inputFile)));
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);

    // The top line: TX/RX, levels, links, buttons.
    txrx_ = new QLabel(QStringLiteral("--"));
    txrx_->setObjectName("txrx");
    txrx_->setAlignment(Qt::AlignCenter);
    txrx_->setMinimumWidth(56);
    QFont big = txrx_->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    txrx_->setFont(big);
    inMeter_ = new LevelMeter(QStringLiteral("In"));
    inMeter_->setObjectName("inMeter");
    outMeter_ = new LevelMeter(QStringLiteral("Out"));
    outMeter_->setObjectName("outMeter");
    senderLink_ = linkLabel("senderLink");
    receiverLink_ = linkLabel("receiverLink");
    tune_ = new QPushButton(QStringLiteral("Tune"));
    tune_->setObjectName("tune");
    tune_->setCheckable(true);
    tune_->setToolTip(
        QStringLiteral("Key and send a steady 1500 Hz tone at the transmit level until pressed "
                       "again (the transmit time-out ends it too)"));
    auto* settingsButton = new QPushButton(QStringLiteral("Settings..."));
    settingsButton->setObjectName("settings");
    auto* top = new QHBoxLayout;
    top->addWidget(txrx_);
    top->addWidget(inMeter_, 1);
    top->addWidget(outMeter_, 1);
    top->addSpacing(8);
    top->addWidget(senderLink_);
    top->addSpacing(8);
    top->addWidget(receiverLink_);
    top->addStretch(0);
    top->addWidget(tune_);
    top->addWidget(settingsButton);
    layout->addLayout(top);

    waterfall_ = new WaterfallView;
    waterfall_->setObjectName("waterfall");

    // Frames heard, and the totals beside them.
    frames_ = new QTreeWidget;
    frames_->setObjectName("frames");
    frames_->setRootIsDecorated(false);
    frames_->setUniformRowHeights(true);
    frames_->setHeaderLabels({QStringLiteral("Heard"), QStringLiteral("Mode"),
                              QStringLiteral("SNR dB"), QStringLiteral("Offset Hz"),
                              QStringLiteral("Units good"), QStringLiteral("Dropped")});
    frames_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    lastFrame_ = new QLabel(QStringLiteral("No modem frame heard yet"));
    lastFrame_->setObjectName("lastFrame");
    QFont bold = lastFrame_->font();
    bold.setBold(true);
    lastFrame_->setFont(bold);
    totals_ = new QLabel;
    totals_->setObjectName("totals");
    transmitted_ = new QLabel;
    transmitted_->setObjectName("transmitted");
    for (QLabel* l : {lastFrame_, totals_, transmitted_}) {
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        l->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    }
    auto* side = new QWidget;
    auto* sideLayout = new QVBoxLayout(side);
    sideLayout->addWidget(lastFrame_);
    sideLayout->addWidget(totals_);
    sideLayout->addWidget(transmitted_);
    sideLayout->addStretch(1);
    auto* middle = new QSplitter(Qt::Horizontal);
    middle->addWidget(frames_);
    middle->addWidget(side);
    middle->setStretchFactor(0, 3);
    middle->setStretchFactor(1, 2);

    log_ = new QPlainTextEdit;
    log_->setObjectName("log");
    log_->setReadOnly(true);
    log_->setMaximumBlockCount(kLogLines);
    log_->setLineWrapMode(QPlainTextEdit::NoWrap);

    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(waterfall_);
    split->addWidget(middle);
    split->addWidget(log_);
    split->setStretchFactor(0, 5);
    split->setStretchFactor(1, 3);
    split->setStretchFactor(2, 2);
    layout->addWidget(split, 1);
    setCentralWidget(central);
    resize(980, 720);

    connect(settingsButton, &QPushButton::clicked, this, [this] { openSettings(); });
    connect(tune_, &QPushButton::toggled, this, [this](bool on) {
        if (!host_) return;
        tuneStarted_.start();
        host_->tune(on ? running_.txTimeoutS : 0, true);
    });

    host_ = std::make_unique<StationHost>(
        this,
        StationFeed{
            .line = [this](const std::string& line) { addLine(line); },
            .status = [this](const StationStatus& s) { showStatus(s); },
            .rows = [this](std::vector<modem::WaterfallRow>&& rows) { waterfall_->addRows(rows); },
            .frame = [this](const modem::FrameStats& f) { addFrame(f); },
            .finished = [this](int code) { stationFinished(code); },
        });
    showStatus(StationStatus{});
}

ToneboxWindow::~ToneboxWindow() = default;

bool ToneboxWindow::startStation() {
    if (!host_) return false;
    ToneboxOptions o = running_;
    o.endOnExit = false;  // the window stays when the sender ends
    shown_.finished = false;
    const bool started = host_->start(o);
    if (!started) {
        addLine("the station did not start: mend the settings (Settings...) and save to try again");
        txrx_->setText(QStringLiteral("--"));
    }
    return started;
}

void ToneboxWindow::runWith(const ToneboxOptions& o) {
    if (!host_) return;
    if (toneboxConfigText(o) == toneboxConfigText(running_) && host_->running()) return;
    running_ = o;
    running_.inputFile = options_.inputFile;
    running_.inputPace = options_.inputPace;
    addLine("starting again with the settings shown");
    startStation();
}

void ToneboxWindow::showStatus(const StationStatus& s) {
    shown_.status = s;
    ++shown_.statusUpdates;
    if (!s.soundUp) {
        txrx_->setText(QStringLiteral("--"));
        txrx_->setStyleSheet(QStringLiteral("background:#555; color:#ddd; border-radius:4px"));
    } else if (s.transmitting) {
        txrx_->setText(QStringLiteral("TX"));
        txrx_->setStyleSheet(QStringLiteral("background:#d01010; color:white; border-radius:4px"));
    } else {
        txrx_->setText(QStringLiteral("RX"));
        txrx_->setStyleSheet(QStringLiteral("background:#1a7f1a; color:white; border-radius:4px"));
    }
    const bool hearing = s.soundUp && running_.receive && !s.transmitting;
    inMeter_->setLevel(hearing ? std::optional(s.inputPeakDbfs) : std::nullopt,
                       hearing ? std::optional(s.inputRmsDbfs) : std::nullopt);
    outMeter_->setLevel(s.transmitting ? std::optional(s.outputPeakDbfs) : std::nullopt,
                        s.transmitting ? std::optional(s.outputPeakDbfs - 3.0) : std::nullopt);
    const bool transmitting = running_.transmit && running_.inputFile.empty();
    senderLink_->setText(linkText("pictx", s.senderConnected, transmitting));
    receiverLink_->setText(linkText("picrx", s.receiverConnected, running_.receive));
    totals_->setText(QStringLiteral("Since start:\n  %1 modem frames heard\n  %2 units good, %3 "
                                    "dropped\n  %4 delivered to picrx, %5 not delivered")
                         .arg(count(s.modemFrames), count(s.unitsGood), count(s.unitsDropped),
                              count(s.unitsDelivered), count(s.unitsUndelivered)));
    QString sent = QStringLiteral("Transmit:\n  %1 frame strings queued, %2 sent, %3 dropped")
                       .arg(count(s.stringsQueued), count(s.stringsSent), count(s.stringsDropped));
    if (s.underruns + s.overruns > 0) {
        sent += QStringLiteral("\n  sound underruns %1, overruns %2")
                    .arg(count(s.underruns), count(s.overruns));
    }
    if (s.refused) sent += QStringLiteral("\n  TRANSMIT TIME-OUT: no keying until \"start\"");
    if (s.clipping && hearing) sent += QStringLiteral("\n  INPUT CLIPPING: turn the level down");
    transmitted_->setText(sent);
    // The tone ended by itself (the time-out, the sender's "stop"): the button says so.
    if (tune_->isChecked() && !s.transmitting && tuneStarted_.isValid() &&
        tuneStarted_.elapsed() > kTuneSettleMs) {
        const QSignalBlocker quiet(tune_);
        tune_->setChecked(false);
    }
}

void ToneboxWindow::addFrame(const modem::FrameStats& f) {
    shown_.frames.push_back(f);
    auto* item =
        new QTreeWidgetItem({QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss")),
                             QString::fromLatin1(modem::modeName(f.mode)),
                             QString::number(f.snrDb, 'f', 1), QString::number(f.offsetHz, 'f', 1),
                             QStringLiteral("%1 of %2").arg(f.unitsGood).arg(f.units),
                             QString::number(f.unitsDropped)});
    for (int c = 2; c < 6; ++c) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    if (f.unitsDropped > 0) item->setForeground(5, QColor(200, 0, 0));
    frames_->insertTopLevelItem(0, item);
    while (frames_->topLevelItemCount() > kFrameRows) {
        delete frames_->takeTopLevelItem(frames_->topLevelItemCount() - 1);
    }
    lastFrame_->setText(QStringLiteral("Last frame: SNR %1 dB, offset %2%3 Hz,\n%4 of %5 units "
                                       "good, %6 dropped")
                            .arg(f.snrDb, 0, 'f', 1)
                            .arg(f.offsetHz >= 0 ? "+" : "")
                            .arg(f.offsetHz, 0, 'f', 1)
                            .arg(f.unitsGood)
                            .arg(f.units)
                            .arg(f.unitsDropped));
    waterfall_->setSignalOffset(f.offsetHz);
}

void ToneboxWindow::addLine(const std::string& line) {
    shown_.lines.push_back(line);
    if (echo_) echo_(line);
    log_->appendPlainText(QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss  ")) +
                          QString::fromStdString(line));
}

void ToneboxWindow::stationFinished(int code) {
    shown_.finished = true;
    txrx_->setText(QStringLiteral("--"));
    txrx_->setStyleSheet(QStringLiteral("background:#555; color:#ddd; border-radius:4px"));
    inMeter_->setLevel(std::nullopt, std::nullopt);
    outMeter_->setLevel(std::nullopt, std::nullopt);
    addLine(code == 0 ? "the station has ended" : "the station has ended with a failure");
}

ToneboxSettingsDialog* ToneboxWindow::openSettings() {
    if (settings_) {
        settings_->raise();
        return settings_;
    }
    ToneboxSettingsDialog::Actions actions{
        .testPtt =
            [this](const ToneboxOptions& o) {
                runWith(o);
                if (host_) host_->tune(kTestPttSeconds, false);
            },
        .tune =
            [this](const ToneboxOptions& o, bool on) {
                if (on) runWith(o);
                if (host_) host_->tune(on ? o.txTimeoutS : 0, true);
            },
    };
    settings_ = new ToneboxSettingsDialog(options_,
                                          host_ ? host_->devices() : std::vector<SoundDeviceInfo>{},
                                          configPath_, actions, this);
    settings_->setAttribute(Qt::WA_DeleteOnClose);
    connect(settings_, &QDialog::finished, this,
            [this](int result) { settingsClosed(result == QDialog::Accepted); });
    settings_->setWindowModality(Qt::WindowModal);
    settings_->show();
    return settings_;
}

void ToneboxWindow::settingsClosed(bool saved) {
    if (saved && settings_) {
        options_ = settings_->saved();
        addLine("settings saved to " + configPath_);
    }
    // What the station runs with is what is saved: a test with other settings is undone.
    runWith(options_);
}

void ToneboxWindow::closeEvent(QCloseEvent* event) {
    host_.reset();  // unkeys, ends the station
    event->accept();
}

}  // namespace tools
