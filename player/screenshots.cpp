#include "player/screenshots.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPainter>
#include <cstdio>

#include "media/avi_writer.h"
#include "player/control_window.h"
#include "player/export_dialog.h"
#include "player/make_avi.h"
#include "player/viewer_window.h"

namespace player {

namespace {

constexpr int kTitleHeight = 22;
constexpr int kMargin = 12;

// A window's contents under a plain title bar: the offscreen platform draws no frames.
QImage framed(QWidget* window) {
    const QPixmap inside = window->grab();
    QImage image(inside.width() + 2, inside.height() + kTitleHeight + 1, QImage::Format_RGB32);
    image.fill(QColor(0x60, 0x70, 0x80));
    QPainter painter(&image);
    painter.fillRect(1, 1, image.width() - 2, kTitleHeight - 1, QColor(0x2b, 0x4f, 0x81));
    painter.setPen(Qt::white);
    QFont bold = QApplication::font();
    bold.setBold(true);
    painter.setFont(bold);
    painter.drawText(QRect(8, 1, image.width() - 16, kTitleHeight - 1),
                     Qt::AlignVCenter | Qt::AlignLeft, window->windowTitle());
    painter.drawPixmap(1, kTitleHeight, inside);
    return image;
}

bool save(const QImage& image, const QString& directory, const char* name) {
    const QString path = QDir(directory).filePath(name);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "movieplay: cannot write %s\n", path.toLocal8Bit().constData());
        return false;
    }
    std::printf("%s\n", path.toLocal8Bit().constData());
    return true;
}

}  // namespace

bool writeScreenshots(const QString& directory, const QString& moviePath) {
    if (!QDir().mkpath(directory)) {
        std::fprintf(stderr, "movieplay: cannot create %s\n", directory.toLocal8Bit().constData());
        return false;
    }
    ControlWindow window;
    window.show();
    if (const receiver::MovieResult opened = window.openMovie(moviePath.toStdString(), true);
        !opened.ok) {
        std::fprintf(stderr, "movieplay: %s\n", opened.error.c_str());
        return false;
    }
    window.timer().stop();
    for (int i = 0; i < 2; ++i) {
        window.tick();
    }
    QApplication::processEvents();

    const QImage control = framed(&window);
    const QImage viewer = framed(window.viewer());
    QImage player(std::max(control.width(), viewer.width()) + 2 * kMargin,
                  control.height() + viewer.height() + 3 * kMargin, QImage::Format_RGB32);
    player.fill(QColor(0xd8, 0xdc, 0xe0));
    {
        QPainter painter(&player);
        painter.drawImage(kMargin, kMargin, control);
        painter.drawImage(kMargin, control.height() + 2 * kMargin, viewer);
    }
    bool ok = save(player, directory, "movieplay-player.png");

    window.showPictureDialog();
    QApplication::processEvents();
    if (auto* dialog = window.findChild<QWidget*>("pictureDialog")) {
        ok = save(framed(dialog), directory, "movieplay-picture.png") && ok;
        dialog->close();
    }

    const std::string name = aviOutputName(moviePath.toStdString());
    ExportDialog choose(media::availableAviCodecs(), window.state().speed,
                        QString("%1: %2 frames of %3 x %4 pixels")
                            .arg(QString::fromStdString(name))
                            .arg(window.state().count)
                            .arg(window.viewer()->image().width())
                            .arg(window.viewer()->image().height()),
                        &window);
    // The last encoder in the list takes the most options.
    if (auto* codec = choose.findChild<QComboBox*>("codec")) {
        codec->setCurrentIndex(codec->count() - 1);
    }
    choose.show();
    QApplication::processEvents();
    ok = save(framed(&choose), directory, "movieplay-export.png") && ok;
    return ok;
}

}  // namespace player
