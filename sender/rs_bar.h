#pragma once

// The RS syndromes bar: a vertical bar whose red fill is the number of parity bytes per
// codeword, set with the keys or by dragging on it, with the number drawn on the bar. Keys and
// dragging only move it; the window reads the position at the next encode, and a released
// mouse button asks for one at once.

#include <QString>
#include <QWidget>

#include "sender/window_core.h"

namespace sender {

class RsBar : public QWidget {
    Q_OBJECT

public:
    explicit RsBar(QWidget* parent = nullptr);

    [[nodiscard]] int position() const { return position_; }
    [[nodiscard]] RsBarRange range() const { return range_; }
    [[nodiscard]] const QString& text() const { return text_; }

    // The range and position after an encode; a position outside the range is clamped.
    void configure(RsBarRange range, int position);
    // Moves the bar; positionChanged follows when the value differs.
    void setPosition(int position);
    // The number drawn on the bar; the window keeps it equal to the position.
    void setText(const QString& text);

Q_SIGNALS:
    void positionChanged(int position);
    void released();  // a mouse button let go after dragging: encode now

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void dragTo(int y);

    RsBarRange range_;
    int position_ = kRsBarStart;
    QString text_;
    bool dragging_ = false;
};

}  // namespace sender
