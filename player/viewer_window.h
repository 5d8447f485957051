#pragma once

// "TV Viewer": a top-level window of exactly the records' size that shows the display buffer.

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <span>

namespace player {

class ViewerWindow : public QWidget {
public:
    explicit ViewerWindow(QWidget* owner);

    // A new movie: a black buffer of width x height and a window of that client size.
    void resizeToRecords(int width, int height);
    // The display buffer, width * height pixels 0x00RRGGBB, rows from the top; the tick writes
    // it and calls update().
    [[nodiscard]] std::span<uint32_t> pixels();
    [[nodiscard]] const QImage& image() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

}  // namespace player
