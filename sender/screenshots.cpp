#include "sender/screenshots.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

#include "sender/main_window.h"
#include "sender/source_pages.h"

namespace sender {

ScreenshotResult writeScreenshots(MainWindow& window, const QString& dir) {
    ScreenshotResult result;
    if (!QDir().mkpath(dir)) {
        result.error = QStringLiteral("cannot create the folder '%1'").arg(dir);
        return result;
    }
    window.show();
    QApplication::processEvents();
    for (int tab = 0; tab < kScreenshotNames.size(); ++tab) {
        window.chooseSourceTab(static_cast<SourceTab>(tab));
        if (tab == static_cast<int>(SourceTab::Webcam)) {
            window.webcamPage()->previewTimerFired();
        }
        window.previewEncode();
        QApplication::processEvents();
        const QString path = QDir(dir).filePath(kScreenshotNames[tab]);
        if (!window.grab().save(path, "PNG")) {
            result.error = QStringLiteral("cannot write '%1'").arg(path);
            return result;
        }
        result.written << path;
    }
    window.chooseSourceTab(SourceTab::Still);
    return result;
}

}  // namespace sender
