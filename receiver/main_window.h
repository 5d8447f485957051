#pragma once

// picrx's one window, "Wavelet picture decoder": a fixed 395 x 425 face that shows what the
// station returns (receiver/station.h) and owns the demodulator link and the recorder. Every
// decision about bytes and pixels is the core's; the window only puts its results on screen.

#include <QImage>
#include <QString>
#include <QWidget>
#include <filesystem>
#include <span>
#include <string_view>

#include "packaging/config_file.h"
#include "receiver/demod_link.h"
#include "receiver/picrx_settings.h"
#include "receiver/station.h"

class QLabel;
class QPushButton;

namespace receiver {

inline constexpr int kWindowWidth = 395;  // client area, pixels; the window cannot be resized
inline constexpr int kWindowHeight = 425;
inline constexpr int kWindowX = 90;  // where the window opens on the screen
inline constexpr int kWindowY = 350;
inline constexpr std::string_view kWindowTitle = "Wavelet picture decoder";
// The dialog font of the original face: 8 points at 96 dots per inch. The labels' sizes were
// laid out for it; a larger font would cut the status lines off.
inline constexpr int kWindowFontPixels = 11;
inline constexpr QRgb kBorderColour = 0xFF646464;  // the 1-pixel frame of the two graphics

// The controls' identifiers, used as their object names.
inline constexpr char kPictureControlName[] = "ctl1201";
inline constexpr char kRecordButtonName[] = "ctl1700";
inline constexpr char kRecorderLabelName[] = "ctl1701";
inline constexpr char kMessageLabelName[] = "ctl1502";
inline constexpr char kLabelLineName[] = "ctl1501";
inline constexpr char kStatusLabelName[] = "ctl1500";
inline constexpr char kProgressBarName[] = "ctl1800";
inline constexpr char kPercentageLabelName[] = "ctl1801";
inline constexpr char kBlockMapName[] = "ctl1802";
inline constexpr char kBlockCountLabelName[] = "ctl1803";

// A frame's texts are 8-bit characters from the air: shown as Latin-1, up to the first NUL (as
// the system's labels would), with CR LF line ends made plain.
[[nodiscard]] QString windowText(std::string_view bytes);

// Applies the core's paints to a graphic; background paints take background.
void applyPaints(QImage& image, const PaintList& paints, QRgb background);

// A bitmap shown in a control, drawn at the control's top-left or, with a border, inside a
// 1-pixel frame that clips its right and bottom edges, as a bordered control's inside would.
class GraphicView : public QWidget {
public:
    GraphicView(const QImage& image, bool bordered, QWidget* parent);
    [[nodiscard]] const QImage& image() const { return image_; }
    QImage& image() { return image_; }  // call update() after changing it
    // The pixels as on screen, border included.
    [[nodiscard]] QImage rendered() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void draw(QPainter& painter) const;
    QImage image_;
    bool bordered_;
};

struct WindowSettings {
    DemodLinkSettings link;           // where the demodulator connects
    std::filesystem::path recordDir;  // where ".tv" files go; empty: the current directory
    bool record = false;              // recording wanted from the start: see recordAtStart()
    bool remember = false;            // write changes to picrx.conf; off in tests
    packaging::ConfigText onFile;     // what picrx.conf holds: written only when this differs
};

class MainWindow : public QWidget {
    Q_OBJECT

public:
    explicit MainWindow(WindowSettings settings, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Opens the demodulator link; on failure the window works on without one.
    [[nodiscard]] ListenResult openLink();
    [[nodiscard]] DemodLink& link() { return link_; }
    [[nodiscard]] const Station& station() const { return station_; }

    // A unit as the link delivers it, and the end of a frame on the air.
    void takeUnit(std::span<const uint8_t> unit);
    void takeFrameEnd();
    // The Record button's command; the state it leaves is remembered.
    void toggleRecord();
    // Starts the recording the settings want, as the button would, without changing what is
    // remembered: a folder that is missing today keeps record=true for the next run.
    void recordAtStart();
    // Writes record_dir and record when they differ from the file (a --record-dir given).
    void rememberSettings();

Q_SIGNALS:
    // A good picture has been drawn (and recorded while recording); count is the good frames.
    void pictureShown(int goodFrames);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void display(const StationStep& step);
    void showRecorder();
    void shutDown();

    WindowSettings settings_;
    packaging::ConfigSaver saver_;
    Station station_;
    DemodLink link_;
    GraphicView* picture_;
    QPushButton* record_;
    QLabel* recorderLabel_;
    QLabel* messageLabel_;
    QLabel* labelLine_;
    QLabel* statusLabel_;
    GraphicView* progress_;
    QLabel* percentageLabel_;
    GraphicView* blockMap_;
    QLabel* blockCountLabel_;
};

}  // namespace receiver
