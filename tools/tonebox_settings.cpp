#include "tools/tonebox_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace tools {

namespace {

constexpr const char* kPttKinds[] = {"none", "rig", "rigctld", "serial", "cm108"};

const char* pttHint(const QString& kind) {
    if (kind == "rig") return "MODEL[:DEVICE[:BAUD]], e.g. 3073:/dev/ttyUSB0:19200";
    if (kind == "rigctld") return "HOST:PORT (localhost:4532 when empty)";
    if (kind == "serial") return "DEVICE:rts|dtr|both, e.g. /dev/ttyUSB0:rts";
    if (kind == "cm108") return "/dev/hidrawN[:GPIO]";
    return "VOX, or the sender keys the rig";
}

QSpinBox* spin(int low, int high, const QString& suffix, const char* name) {
    auto* box = new QSpinBox;
    box->setRange(low, high);
    box->setSuffix(suffix);
    box->setObjectName(name);
    return box;
}

QComboBox* deviceBox(const std::vector<SoundDeviceInfo>& devices, bool input, const char* name) {
    auto* box = new QComboBox;
    box->setEditable(true);
    box->setObjectName(name);
    box->addItem(QString());
    for (const SoundDeviceInfo& d : devices) {
        if ((input ? d.inputs : d.outputs) > 0) box->addItem(QString::fromStdString(d.name));
    }
    box->lineEdit()->setPlaceholderText(QStringLiteral("the system's default"));
    box->setMinimumContentsLength(28);
    box->setToolTip(QStringLiteral("Any part of the device's name will do"));
    return box;
}

std::string text(const QLineEdit* edit) { return edit->text().trimmed().toStdString(); }

}  // namespace

ToneboxSettingsDialog::ToneboxSettingsDialog(const ToneboxOptions& current,
                                             std::vector<SoundDeviceInfo> devices,
                                             std::string configPath, Actions actions,
                                             QWidget* parent)
    : QDialog(parent),
      base_(current),
      saved_(current),
      devices_(std::move(devices)),
      configPath_(std::move(configPath)),
      actions_(std::move(actions)) {
    setWindowTitle(QStringLiteral("tonebox settings"));
    inputDevice_ = deviceBox(devices_, true, "inputDevice");
    outputDevice_ = deviceBox(devices_, false, "outputDevice");
    mode_ = new QComboBox;
    mode_->setObjectName("mode");
    mode_->addItem(QStringLiteral("normal (270 bytes/s)"), "normal");
    mode_->addItem(QStringLiteral("robust (160 bytes/s, for bad paths)"), "robust");
    txLevel_ = new QDoubleSpinBox;
    txLevel_->setObjectName("txLevel");
    txLevel_->setRange(-60, 0);
    txLevel_->setDecimals(1);
    txLevel_->setSuffix(QStringLiteral(" dBFS peak"));
    pttKind_ = new QComboBox;
    pttKind_->setObjectName("pttKind");
    for (const char* kind : kPttKinds) pttKind_->addItem(QString::fromLatin1(kind));
    pttDevice_ = new QLineEdit;
    pttDevice_->setObjectName("pttDevice");
    pttDevice_->setMinimumWidth(260);
    pttLead_ = spin(0, 5000, QStringLiteral(" ms"), "pttLead");
    pttTail_ = spin(0, 5000, QStringLiteral(" ms"), "pttTail");
    pttHold_ = spin(0, 10000, QStringLiteral(" ms"), "pttHold");
    txTimeout_ = spin(1, 3600, QStringLiteral(" s"), "txTimeout");
    port_ = spin(0, 65535, QString(), "port");
    listen_ = new QLineEdit;
    listen_->setObjectName("listen");
    rxHost_ = new QLineEdit;
    rxHost_->setObjectName("rxHost");
    rxPort_ = spin(1, 65535, QString(), "rxPort");
    transmit_ = new QCheckBox(QStringLiteral("Transmit (listen for the sender, play, key)"));
    transmit_->setObjectName("transmit");
    receive_ = new QCheckBox(QStringLiteral("Receive (record, demodulate, feed the receiver)"));
    receive_->setObjectName("receive");
    window_ = new QCheckBox(QStringLiteral("Show this window also when the sender starts tonebox"));
    window_->setObjectName("window");

    auto* sound = new QGroupBox(QStringLiteral("Sound"));
    auto* soundForm = new QFormLayout(sound);
    soundForm->addRow(QStringLiteral("Input device:"), inputDevice_);
    soundForm->addRow(QStringLiteral("Output device:"), outputDevice_);
    soundForm->addRow(QStringLiteral("Transmit level:"), txLevel_);
    soundForm->addRow(QStringLiteral("Mode sent:"), mode_);

    auto* keying = new QGroupBox(QStringLiteral("Keying the transmitter"));
    auto* keyForm = new QFormLayout(keying);
    auto* pttRow = new QHBoxLayout;
    pttRow->addWidget(pttKind_);
    pttRow->addWidget(pttDevice_, 1);
    keyForm->addRow(QStringLiteral("PTT:"), pttRow);
    keyForm->addRow(QStringLiteral("Lead (keyed before the sound):"), pttLead_);
    keyForm->addRow(QStringLiteral("Tail (keyed after it):"), pttTail_);
    keyForm->addRow(QStringLiteral("Hold (for the sender's next string):"), pttHold_);
    keyForm->addRow(QStringLiteral("Transmit time-out:"), txTimeout_);
    auto* testPtt = new QPushButton(QStringLiteral("Test PTT"));
    testPtt->setObjectName("testPtt");
    testPtt->setToolTip(QStringLiteral("Key the transmitter for one second, without sound"));
    tune_ = new QPushButton(QStringLiteral("Tune"));
    tune_->setObjectName("tune");
    tune_->setCheckable(true);
    tune_->setToolTip(QStringLiteral(
        "Key and send a steady 1500 Hz tone at the transmit level until pressed again: set "
        "the rig's drive with it (no ALC)"));
    auto* tests = new QHBoxLayout;
    tests->addWidget(testPtt);
    tests->addWidget(tune_);
    tests->addStretch(1);
    keyForm->addRow(tests);

    auto* links = new QGroupBox(QStringLiteral("Links"));
    auto* linkForm = new QFormLayout(links);
    linkForm->addRow(QStringLiteral("Sender's port (pictx):"), port_);
    linkForm->addRow(QStringLiteral("Listen on address:"), listen_);
    linkForm->addRow(QStringLiteral("Receiver's host (picrx):"), rxHost_);
    linkForm->addRow(QStringLiteral("Receiver's port:"), rxPort_);

    problem_ = new QLabel;
    problem_->setObjectName("problem");
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold"));
    problem_->hide();
    auto* where =
        new QLabel(QStringLiteral("Saved to %1").arg(QString::fromStdString(configPath_)));
    where->setStyleSheet(QStringLiteral("color: gray"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(sound);
    layout->addWidget(keying);
    layout->addWidget(links);
    layout->addWidget(transmit_);
    layout->addWidget(receive_);
    layout->addWidget(window_);
    layout->addWidget(problem_);
    layout->addWidget(where);
    layout->addWidget(buttons);

    load(current);
    connect(pttKind_, &QComboBox::currentIndexChanged, this, [this] { pttKindChosen(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &ToneboxSettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ToneboxSettingsDialog::reject);
    connect(testPtt, &QPushButton::clicked, this, [this] {
        if (const std::optional<ToneboxOptions> o = fieldOptions(); o && actions_.testPtt) {
            actions_.testPtt(*o);
        }
    });
    connect(tune_, &QPushButton::toggled, this, [this](bool on) {
        const std::optional<ToneboxOptions> o = fieldOptions();
        if (!o) {
            const QSignalBlocker quiet(tune_);
            tune_->setChecked(false);
            return;
        }
        if (actions_.tune) actions_.tune(*o, on);
    });
}

void ToneboxSettingsDialog::load(const ToneboxOptions& o) {
    inputDevice_->setEditText(QString::fromStdString(o.inputDevice));
    outputDevice_->setEditText(QString::fromStdString(o.outputDevice));
    mode_->setCurrentIndex(o.mode == modem::Mode::Robust ? 1 : 0);
    txLevel_->setValue(o.txLevelDb);
    const QString ptt = QString::fromStdString(pttSettingText(o.ptt));
    const qsizetype colon = ptt.indexOf(':');
    pttKind_->setCurrentText(colon < 0 ? ptt : ptt.left(colon));
    pttDevice_->setText(colon < 0 ? QString() : ptt.mid(colon + 1));
    pttKindChosen();
    pttLead_->setValue(o.pttLeadMs);
    pttTail_->setValue(o.pttTailMs);
    pttHold_->setValue(o.pttHoldMs);
    txTimeout_->setValue(o.txTimeoutS);
    port_->setValue(o.port);
    listen_->setText(QString::fromStdString(o.listen));
    rxHost_->setText(QString::fromStdString(o.rxHost));
    rxPort_->setValue(o.rxPort);
    transmit_->setChecked(o.transmit);
    receive_->setChecked(o.receive);
    window_->setChecked(o.window);
}

void ToneboxSettingsDialog::pttKindChosen() {
    const QString kind = pttKind_->currentText();
    pttDevice_->setPlaceholderText(QString::fromLatin1(pttHint(kind)));
    pttDevice_->setEnabled(kind != "none");
}

std::optional<ToneboxOptions> ToneboxSettingsDialog::fieldOptions() {
    const std::string kind = pttKind_->currentText().toStdString();
    const std::string pttRest = kind == "none" ? std::string() : text(pttDevice_);
    const std::vector<SettingsField> fields{
        {"--input-device", inputDevice_->currentText().trimmed().toStdString()},
        {"--output-device", outputDevice_->currentText().trimmed().toStdString()},
        {"--mode", mode_->currentData().toString().toStdString()},
        {"--tx-level", QString::number(txLevel_->value(), 'f', 1).toStdString()},
        {"--ptt", pttRest.empty() ? kind : kind + ":" + pttRest},
        {"--ptt-lead", std::to_string(pttLead_->value())},
        {"--ptt-tail", std::to_string(pttTail_->value())},
        {"--ptt-hold", std::to_string(pttHold_->value())},
        {"--tx-timeout", std::to_string(txTimeout_->value())},
        {"--port", std::to_string(port_->value())},
        {"--listen", text(listen_)},
        {"--rx-host", text(rxHost_)},
        {"--rx-port", std::to_string(rxPort_->value())},
    };
    ToneboxOptions start = base_;
    start.transmit = transmit_->isChecked();
    start.receive = receive_->isChecked();
    start.window = window_->isChecked();
    const SettingsCheck check = checkSettingsFields(start, fields, devices_);
    if (!check.error.empty()) {
        showProblem(QString::fromStdString(check.error));
        // The refused field takes the focus.
        const std::string name = check.option;
        QWidget* field = name == "--ptt"             ? static_cast<QWidget*>(pttDevice_)
                         : name == "--input-device"  ? static_cast<QWidget*>(inputDevice_)
                         : name == "--output-device" ? static_cast<QWidget*>(outputDevice_)
                         : name == "--listen"        ? static_cast<QWidget*>(listen_)
                         : name == "--rx-host"       ? static_cast<QWidget*>(rxHost_)
                                                     : nullptr;
        if (field != nullptr && field->isEnabled()) field->setFocus();
        return std::nullopt;
    }
    showProblem({});
    return check.options;
}

QString ToneboxSettingsDialog::problem() const { return problem_->text(); }

void ToneboxSettingsDialog::showProblem(const QString& text) {
    problem_->setText(text);
    problem_->setVisible(!text.isEmpty());
}

void ToneboxSettingsDialog::accept() {
    const std::optional<ToneboxOptions> o = fieldOptions();
    if (!o) return;
    if (const std::string error = writeToneboxConfig(configPath_, *o); !error.empty()) {
        showProblem(QString::fromStdString("not saved: " + error));
        return;
    }
    if (tune_->isChecked()) tune_->setChecked(false);
    saved_ = *o;
    QDialog::accept();
}

void ToneboxSettingsDialog::reject() {
    if (tune_->isChecked()) tune_->setChecked(false);
    QDialog::reject();
}

}  // namespace tools
