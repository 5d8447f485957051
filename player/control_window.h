#pragma once

// "Lumra universal movie viewer": the control window of movieplay. Its slots call the player
// core (playback.h, picture_adjust.h, make_avi.h) and show what it returns; the viewer window,
// the "Picture" dialog and the tick timer belong to it.

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <filesystem>
#include <vector>

#include "packaging/config_file.h"
#include "player/movieplay_settings.h"
#include "player/picture_adjust.h"
#include "player/playback.h"
#include "receiver/movie_file.h"

class QLabel;
class QPushButton;
class QSlider;

namespace player {

class PictureDialog;
class ViewerWindow;

class ControlWindow : public QMainWindow {
public:
    // The speed, picture adjustment and colour order start as initial; with remember, each
    // change is written to movieplay.conf (off in tests and screenshots).
    explicit ControlWindow(const MovieplaySettings& initial = {}, bool remember = false);
    ~ControlWindow() override;

    // Opens a movie (File > Open, a drop, the command line). A file the reader refuses leaves
    // the current movie playing; the message box tells why unless quiet.
    receiver::MovieResult openMovie(const std::filesystem::path& path, bool quiet = false);
    // A file path dropped on the window: only ".tv" names in lower case are opened.
    void fileDropped(const QString& path);
    // One timer tick: the next record onto the viewer.
    void tick();
    // "Make AVI", into the current directory.
    void makeAvi();
    // Picture Adjust: opens the "Picture" dialog, or raises it when it is open.
    void showPictureDialog();

    [[nodiscard]] ViewerWindow* viewer() const { return viewer_; }
    [[nodiscard]] const PlayerState& state() const { return state_; }
    [[nodiscard]] const PictureAdjust& adjust() const { return adjust_; }
    [[nodiscard]] QTimer& timer() { return timer_; }
    // The remembered settings as the window has them now.
    [[nodiscard]] MovieplaySettings rememberedSettings() const;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildMenus();
    void chooseFile();
    void playClicked();
    void positionActed();
    void speedChosen(int framesPerSecond);
    void showPlayState();
    void remember();

    PlayerState state_;
    PictureAdjust adjust_;
    receiver::MovieReader reader_;
    std::vector<uint32_t> record_;
    QTimer timer_;
    ViewerWindow* viewer_ = nullptr;
    QPointer<PictureDialog> pictureDialog_;
    QPushButton* play_ = nullptr;
    QLabel* frameLabel_ = nullptr;
    QSlider* position_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* makeAvi_ = nullptr;
    packaging::ConfigSaver saver_;
};

}  // namespace player
