// movieplay: plays Vistrel ".tv" movies with brightness, contrast and colour order, and writes
// them out as AVI.

#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "packaging/app_icon.h"
#include "player/control_window.h"
#include "player/playback.h"
#include "player/screenshots.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    // Read before any window exists, so --help and mistakes need no display.
    const player::CommandLine line = player::parseCommandLine(args);
    if (!line.error.empty()) {
        std::fprintf(stderr, "movieplay: %s\n%s", line.error.c_str(), player::usageText().c_str());
        return 2;
    }
    if (line.help) {
        std::fputs(player::usageText().c_str(), stdout);
        return 0;
    }
    if (!line.screenshotDir.empty()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return player::writeScreenshots(QString::fromStdString(line.screenshotDir),
                                        QString::fromStdString(line.moviePath))
                   ? 0
                   : 1;
    }

    QApplication app(argc, argv);
    QApplication::setWindowIcon(packaging::vistrelIcon());
    player::ControlWindow window(player::startUpSettings(line.defaults), true);
    window.show();
    if (!line.moviePath.empty()) {
        // A refused file is told in a message box; the window stays, empty, for another choice.
        (void)window.openMovie(line.moviePath);
    }
    return app.exec();
}
