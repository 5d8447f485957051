#pragma once

// tonebox's settings dialog: what ~/.config/vistrel/tonebox.conf holds, checked as the command
// line would check it, and saved there. "Test PTT" keys the transmitter for a second and
// "Tune" sends the steady tone, both with the settings as the dialog shows them.

#include <QDialog>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/tonebox.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace tools {

class ToneboxSettingsDialog : public QDialog {
public:
    struct Actions {
        std::function<void(const ToneboxOptions&)> testPtt;
        std::function<void(const ToneboxOptions&, bool on)> tune;
    };
    ToneboxSettingsDialog(const ToneboxOptions& current, std::vector<SoundDeviceInfo> devices,
                          std::string configPath, Actions actions, QWidget* parent = nullptr);

    // The options as the fields say them; nullopt when a field is refused (the reason shown).
    [[nodiscard]] std::optional<ToneboxOptions> fieldOptions();
    // What Save wrote.
    [[nodiscard]] const ToneboxOptions& saved() const { return saved_; }
    [[nodiscard]] QString problem() const;

    // Save: checks, writes the file and closes; a refused value or a failed write keeps the
    // dialog open with the reason.
    void accept() override;
    void reject() override;

private:
    void load(const ToneboxOptions& o);
    void showProblem(const QString& text);
    void pttKindChosen();

    ToneboxOptions base_;
    ToneboxOptions saved_;
    std::vector<SoundDeviceInfo> devices_;
    std::string configPath_;
    Actions actions_;

    QComboBox* inputDevice_;
    QComboBox* outputDevice_;
    QComboBox* mode_;
    QDoubleSpinBox* txLevel_;
    QComboBox* pttKind_;
    QLineEdit* pttDevice_;
    QSpinBox* pttLead_;
    QSpinBox* pttTail_;
    QSpinBox* pttHold_;
    QSpinBox* txTimeout_;
    QSpinBox* port_;
    QLineEdit* listen_;
    QLineEdit* rxHost_;
    QSpinBox* rxPort_;
    QCheckBox* transmit_;
    QCheckBox* receive_;
    QCheckBox* window_;
    QPushButton* tune_;
    QLabel* problem_;
};

}  // namespace tools
