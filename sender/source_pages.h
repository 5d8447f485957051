#pragma once

// The three picture sources of the window, one page each: a still picture, a movie stepped
// frame by frame, and a webcam. Each page shows its 256 x 256 picture area and hands the same
// picture to the encoder through area(), so an encode never depends on what the screen shows.

#include <QImage>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>

#include "media/capture.h"
#include "media/movie_source.h"
#include "sender/still_picture.h"
#include "sender/window_core.h"

class QLabel;
class QSlider;

namespace sender {

inline constexpr int kPageWidth = 256;
inline constexpr int kPageHeight = 281;
inline constexpr int kCapturePreviewMs = 1000;

// A widget that paints one picture at its own size.
class PictureView : public QWidget {
    Q_OBJECT

public:
    explicit PictureView(QWidget* parent = nullptr);
    void setPicture(const QImage& picture);
    [[nodiscard]] const QImage& picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
};

// The movie or webcam picture fitted to the picture area: stretched with smooth scaling over
// the whole square; black where there is nothing to show.
[[nodiscard]] QImage areaFromFrame(const media::VideoFrame& frame);

class StillPage : public QWidget {
    Q_OBJECT

public:
    explicit StillPage(QWidget* parent = nullptr);

    // Loads a picture file. When it cannot be read the old picture stays and the reason is
    // returned; an empty text means the picture was loaded.
    [[nodiscard]] QString loadStill(const QString& path);
    void setStill(const QImage& image);  // a picture made by the program, caption unchanged
    void setAspect(Aspect aspect);
    void setCaption(const QString& text);  // label 1121
    [[nodiscard]] QImage area() const;     // the picture area as the encoder reads it

private:
    void redraw();

    QImage still_;
    Aspect aspect_ = Aspect::Stretch;
    PictureView* view_ = nullptr;
    QLabel* caption_ = nullptr;
};

// The play button: the pause and play symbols drawn in place of the letters ";" and "4" that a
// symbol font would show as them.
class PlayButton : public QPushButton {
    Q_OBJECT

public:
    explicit PlayButton(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class MoviePage : public QWidget {
    Q_OBJECT

public:
    explicit MoviePage(QWidget* parent = nullptr);

    // Opens a movie and starts stepping it. A file FFmpeg cannot open leaves an empty view,
    // and the stepping goes on harmlessly over a length of 0. The error is for a caller that
    // reports it; the window shows none.
    media::MediaResult openMovie(const QString& path);
    [[nodiscard]] QImage area() const { return view_->picture(); }

    void setRate(float secondsPerFrame);  // the free-running period, used from the next start
    // Restarts the frame timer: ms from a timed send in sync mode, else the free-running
    // period. A paused movie stays paused; its timer starts with the play button.
    void restartFrameTimer(int ms);
    void stopFrameTimer();

    [[nodiscard]] const MovieStepper& stepper() const { return stepper_; }
    [[nodiscard]] QTimer& frameTimer() { return frameTimer_; }

    // The frame timer fired: one frame on.
    void frameTimerFired();

private:
    void showPosition(int64_t position);
    void playClicked();

    media::MovieSource movie_;
    MovieStepper stepper_;
    float rate_ = kDefaultMovieRate;
    QTimer frameTimer_;
    PictureView* view_ = nullptr;
    PlayButton* play_ = nullptr;
    QSlider* slider_ = nullptr;
};

class WebcamPage : public QWidget {
    Q_OBJECT

public:
    // device: what media::CaptureSource opens ("/dev/video0", or "lavfi:testsrc" for tests);
    // empty connects nothing.
    explicit WebcamPage(const std::string& device, QWidget* parent = nullptr);

    [[nodiscard]] QImage area() const { return view_->picture(); }
    [[nodiscard]] bool connected() const { return capture_.isOpen(); }
    [[nodiscard]] QTimer& previewTimer() { return previewTimer_; }

    // Switches to another device or format; false, and the view emptied, when it fails.
    bool connectDevice(const std::string& device, const media::CaptureFormat& format = {});
    // The preview timer fired: the newest picture the device has.
    void previewTimerFired();

private:
    void chooseSource();
    void chooseFormat();

    media::CaptureSource capture_;
    QTimer previewTimer_;
    PictureView* view_ = nullptr;
    QPushButton* source_ = nullptr;
    QPushButton* format_ = nullptr;
};

}  // namespace sender
