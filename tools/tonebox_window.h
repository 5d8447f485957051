#pragma once

// tonebox's window: the waterfall of what is heard, the levels in and out, TX/RX, each modem
// frame heard with its SNR, offset and units, the totals, both links, what the station says,
// and the settings dialog. The station runs on its own thread (StationHost); the window draws
// what it hands over.

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/station_host.h"
#include "tools/tonebox.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace tools {

class LevelMeter;
class ToneboxSettingsDialog;
class WaterfallView;

class ToneboxWindow : public QMainWindow {
public:
    // options: as the command line and the settings file gave them; configPath: where the
    // settings dialog saves.
    ToneboxWindow(const ToneboxOptions& options, std::string configPath, QWidget* parent = nullptr);
    ~ToneboxWindow() override;

    // Starts the station; false when it could not start (the reason is in the window, which
    // stays open for the settings to be mended).
    bool startStation();

    // What the window has been handed, for its tests.
    struct Shown {
        std::vector<modem::FrameStats> frames;
        StationStatus status;
        int statusUpdates = 0;
        bool finished = false;
        std::vector<std::string> lines;
    };
    [[nodiscard]] const Shown& shown() const { return shown_; }
    [[nodiscard]] WaterfallView* waterfall() const { return waterfall_; }
    [[nodiscard]] const ToneboxOptions& options() const { return options_; }
    // Each line the station says goes here too (the terminal tonebox was started from).
    void setEcho(std::function<void(const std::string&)> echo) { echo_ = std::move(echo); }
    // Opens the settings dialog (window-modal, not blocking) and returns it.
    ToneboxSettingsDialog* openSettings();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void showStatus(const StationStatus& s);
    void addFrame(const modem::FrameStats& f);
    void addLine(const std::string& line);
    void stationFinished(int code);
    // Runs the station with these options, unless it already does.
    void runWith(const ToneboxOptions& o);
    void settingsClosed(bool saved);

    ToneboxOptions options_;  // as saved
    ToneboxOptions running_;  // what the station runs with (the dialog may be trying others)
    std::string configPath_;
    Shown shown_;
    std::function<void(const std::string&)> echo_;

    WaterfallView* waterfall_;
    LevelMeter* inMeter_;
    LevelMeter* outMeter_;
    QLabel* txrx_;
    QLabel* senderLink_;
    QLabel* receiverLink_;
    QLabel* lastFrame_;
    QLabel* totals_;
    QLabel* transmitted_;
    QTreeWidget* frames_;
    QPlainTextEdit* log_;
    QPushButton* tune_;
    QElapsedTimer tuneStarted_;
    QPointer<ToneboxSettingsDialog> settings_;
    std::unique_ptr<StationHost> host_;
};

}  // namespace tools
