#include "player/viewer_window.h"

#include <QPainter>

#include "player/playback.h"

namespace player {

ViewerWindow::ViewerWindow(QWidget* owner) : QWidget(owner, Qt::Window) {
    setObjectName("viewer");
    setWindowTitle(QString::fromUtf8(kViewerTitle.data(), kViewerTitle.size()));
    setAttribute(Qt::WA_OpaquePaintEvent);
    move(20, 20);
}

void ViewerWindow::resizeToRecords(int width, int height) {
    image_ = QImage(width, height, QImage::Format_RGB32);
    image_.fill(Qt::black);
    setFixedSize(width, height);
    update();
}

std::span<uint32_t> ViewerWindow::pixels() {
    if (image_.isNull()) {
        return {};
    }
    // Format_RGB32 rows are 4 * width bytes, already 4-byte aligned: the buffer is contiguous.
    return {reinterpret_cast<uint32_t*>(image_.bits()),
            static_cast<size_t>(image_.width()) * static_cast<size_t>(image_.height())};
}

void ViewerWindow::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    if (image_.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    painter.drawImage(0, 0, image_);
}

}  // namespace player
