#pragma once

// Pictures of the window for the documentation: one PNG per source tab, drawn on whatever
// platform runs (offscreen needs no display).

#include <QString>
#include <QStringList>

namespace sender {

class MainWindow;

inline const QStringList kScreenshotNames{"pictx-still.png", "pictx-movie.png", "pictx-webcam.png"};

// Shows each tab in turn, lets its preview encode run, and saves the window's client area and
// menus. Returns the files written; an error text when the folder or a file cannot be written.
struct ScreenshotResult {
    QStringList written;
    QString error;
};
[[nodiscard]] ScreenshotResult writeScreenshots(MainWindow& window, const QString& dir);

}  // namespace sender
