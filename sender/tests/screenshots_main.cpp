// Renders the window's documentation pictures: pictx_screenshots DIR [FRAME] writes
// pictx-still.png, pictx-movie.png and pictx-webcam.png into DIR on Qt's offscreen platform, with
// the test card on the still page, a generated movie on the movie page and FFmpeg's test picture
// standing in for the webcam. FRAME is the movie position on show (2). With DIALOGS given as a
// third argument, the About, Help and frame-rate dialogs are drawn too (pictx-about.png, ...).

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "encoder/test_pictures.h"
#include "media/tests/test_movies.h"
#include "sender/about_help.h"
#include "sender/choice_dialog.h"
#include "sender/main_window.h"
#include "sender/screenshots.h"
#include "sender/source_pages.h"
#include "sender/still_picture.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4 || std::string_view(argv[1]) == "--help" ||
        std::string_view(argv[1]) == "-h") {
        std::fprintf(stderr, "Usage: pictx_screenshots DIR [FRAME [DIALOGS]]\n");
        return argc == 2 ? 0 : 2;
    }
    const int frame = argc >= 3 ? std::atoi(argv[2]) : 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);

    media::test::TempDir temp;
    const auto moviePath = temp.file("pattern.avi");
    media::test::MovieRecipe recipe;
    recipe.width = 320;
    recipe.height = 240;
    if (const std::string error = media::test::writeTestMovie(moviePath, recipe); !error.empty()) {
        std::fprintf(stderr, "pictx_screenshots: %s\n", error.c_str());
        return 1;
    }

    sender::MainWindowOptions options;
    options.openLink = false;
    options.captureDevice = "lavfi:testsrc=size=320x240:rate=1";
    sender::MainWindow window(std::move(options));
    window.stillPage()->setStill(sender::imageFromSource(encoder::testCard()));
    if (const media::MediaResult opened =
            window.openMovie(QString::fromStdString(moviePath.string()));
        !opened.ok) {
        std::fprintf(stderr, "pictx_screenshots: %s\n", opened.error.c_str());
        return 1;
    }
    const int64_t position = std::clamp<int64_t>(frame, 0, window.moviePage()->stepper().length);
    while (window.moviePage()->stepper().current != position) {
        window.moviePage()->frameTimerFired();
    }

    const sender::ScreenshotResult shots = sender::writeScreenshots(window, argv[1]);
    for (const QString& path : shots.written) std::printf("%s\n", qPrintable(path));
    if (!shots.error.isEmpty()) {
        std::fprintf(stderr, "pictx_screenshots: %s\n", qPrintable(shots.error));
        return 1;
    }
    if (argc == 4) {
        const QString dir = QString::fromLocal8Bit(argv[1]);
        std::unique_ptr<QDialog> about(sender::makeAboutDialog(nullptr));
        std::unique_ptr<QDialog> help(sender::makeHelpDialog(nullptr));
        sender::ChoiceDialog choice("Select frame rate for AVI/MPG replay", " 3",
                                    sender::kMovieRateChoices, "Frame rate (seconds)");
        const std::pair<QWidget*, const char*> dialogs[] = {{about.get(), "pictx-about.png"},
                                                            {help.get(), "pictx-help.png"},
                                                            {&choice, "pictx-choice.png"}};
        for (const auto& [dialog, name] : dialogs) {
            dialog->show();
            QApplication::processEvents();
            dialog->grab().save(dir + "/" + name, "PNG");
        }
    }
    return 0;
}
