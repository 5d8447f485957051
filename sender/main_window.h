#pragma once

// pictx's main window: the picture sources, the settings controls, the preview of what a
// receiver will see, and the send timer that encodes and hands a frame to the modulator every
// frame period. Its slots call the window core (window_core.h), ENCODEFRAME and the send
// controller, and apply what they return.

#include <QImage>
#include <QMainWindow>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "encoder/encode_frame.h"
#include "media/capture.h"
#include "packaging/config_file.h"
#include "sender/keying.h"
#include "sender/modulator_link.h"
#include "sender/pictx_settings.h"
#include "sender/send_controller.h"
#include "sender/window_core.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabBar;

namespace sender {

class MoviePage;
class PreviewView;
class ProgressLine;
class RsBar;
class StillPage;
class WebcamPage;

inline constexpr int kClientWidth = 805;
inline constexpr int kClientHeight = 408;

// Message boxes and the choice dialog go through these, so tests can answer them.
using MessageHandler = std::function<void(const QString& caption, const QString& text)>;
using ChoiceHandler =
    std::function<QString(QWidget* parent, const QString& prompt, const QString& defaultText,
                          const QStringList& choices, const QString& caption)>;

struct MainWindowOptions {
    ModulatorLinkSettings link;
    bool startModulator = true;      // start tonebox, then connect; false: connect only
    bool openLink = true;            // false: no link at all (tests, screenshots)
    std::unique_ptr<Keying> keying;  // default: a real serial port
    std::string captureDevice = media::kDefaultCaptureDevice;  // empty: no webcam
    // The air's pace, multiplied: every timer period is divided by it (1: 250 bytes per second;
    // 20 with tonebox --speed 20 runs demonstrations and tests twenty times faster). > 0.
    double airSpeed = 1.0;
    MessageHandler message;         // default: a message box
    ChoiceHandler choice;           // default: askChoice
    PictxSettings initial;          // what the controls show at start (the remembered settings)
    bool rememberSettings = false;  // write every change to pictx.conf; off in tests
};

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(MainWindowOptions options, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The rest of start-up once the window exists: the modulator and its link, then the send
    // timer at 4000 ms.
    void start();

    // A dropped file, as from a drop on the window: only the first path counts.
    void dropFiles(const QStringList& paths);
    // --picture: a still picture at start, then a preview. Empty, or why it cannot be read.
    [[nodiscard]] QString loadStill(const QString& path);
    media::MediaResult openMovie(const QString& path);  // --movie
    void setTransmit(bool on);  // as "Turn On" clicked when the switch differs
    void previewEncode();       // ENCODEFRAME in preview mode, as after a setting change

    // The timers' slots, public so tests drive them without waiting.
    void sendTimerFired();
    void progressTimerFired();

    [[nodiscard]] const WindowSettings& settings() const { return settings_; }
    // Everything pictx remembers, as the controls show it now.
    [[nodiscard]] PictxSettings rememberedSettings() const;
    [[nodiscard]] QTimer& sendTimer() { return sendTimer_; }
    [[nodiscard]] QTimer& progressTimer() { return progressTimer_; }
    [[nodiscard]] MoviePage* moviePage() const { return moviePage_; }
    [[nodiscard]] WebcamPage* webcamPage() const { return webcamPage_; }
    [[nodiscard]] StillPage* stillPage() const { return stillPage_; }
    [[nodiscard]] ModulatorLink& link() { return link_; }
    [[nodiscard]] const encoder::EncoderState& encoderState() const { return encoderState_; }

    // What the last ENCODEFRAME run was given and gave, and how many runs there were.
    struct EncodeRecord {
        encoder::EncoderSettings settings;
        int mode = -1;
        encoder::EncodeError error = encoder::EncodeError::None;
        std::vector<uint8_t> frame;  // the frame string; empty on error
        encoder::Picture preview;    // what the preview shows, as a receiver decodes the frame
    };
    [[nodiscard]] const EncodeRecord& lastEncode() const { return lastEncode_; }
    [[nodiscard]] int encodeCount() const { return encodeCount_; }

    // Picks the tab as a click on it would.
    void chooseSourceTab(SourceTab tab);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildControls(QWidget* client);
    void buildMenus();
    void showSettings();
    void remember();
    void encode(int mode);
    void applyEncode(const encoder::EncodeResult& result, int mode);
    void applyTimers(const TimerPlan& plan);
    void placeCodewordBars(int r, int position);
    [[nodiscard]] QImage sourceArea() const;
    void refreshStillCaption();

    void frameSizeClicked(int size);
    void waveletClicked(encoder::Wavelet wavelet);
    void av1ChromaChosen(int index);
    void showWaveletControls();  // enables what the wavelet or AV1 reads, greys the rest
    void showQuantiser();        // the Quantize label and tip for the setting and the wavelet
    void chromaChosen(bool red, int factor);
    void aspectClicked();
    void tabChanged(int index);
    void showPage(int index);
    void freeRunningChosen();
    void syncChosen();
    void turnOnClicked();
    void setComportClicked();
    void exitChosen();
    void openMixer();
    void shutDown();

    MainWindowOptions options_;
    WindowSettings settings_;
    encoder::EncoderState encoderState_;
    SendController controller_;
    ModulatorLink link_;
    std::unique_ptr<Keying> keying_;
    QTimer sendTimer_;
    QTimer progressTimer_;
    EncodeRecord lastEncode_;
    int encodeCount_ = 0;
    bool shutDown_ = false;
    bool encodedOnce_ = false;
    bool openFailureShown_ = false;
    int currentPage_ = 0;

    QTabBar* tabs_ = nullptr;
    StillPage* stillPage_ = nullptr;
    MoviePage* moviePage_ = nullptr;
    WebcamPage* webcamPage_ = nullptr;
    PreviewView* preview_ = nullptr;
    ProgressLine* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QSlider* quantiser_ = nullptr;
    QSlider* threshold_ = nullptr;
    QLabel* quantiserLabel_ = nullptr;  // "Quantize", or the AV1 quality
    QLabel* thresholdLabel_ = nullptr;
    QLabel* av1ChromaLabel_ = nullptr;
    QComboBox* av1Chroma_ = nullptr;  // AV1 only: kAv1ChromaChoices
    QLineEdit* callsign_ = nullptr;
    QLineEdit* message_ = nullptr;
    QLineEdit* portField_ = nullptr;
    QLabel* linkLabel_ = nullptr;  // the modulator link's state
    QCheckBox* aspect_ = nullptr;
    QPushButton* turnOn_ = nullptr;
    RsBar* rsBar_ = nullptr;
    QLabel* dataLabel_ = nullptr;
    QAction* freeRunning_ = nullptr;
    QAction* sync_ = nullptr;
    std::array<QAction*, 4> chroma_{};  // 4x4 red, 2x2 red, 4x4 blue, 2x2 blue
    packaging::ConfigSaver saver_;
};

// The desktop's sound mixer, for "Sndvol32": the first of the known mixers on PATH; empty when
// none is installed.
[[nodiscard]] QString findMixer();

}  // namespace sender
