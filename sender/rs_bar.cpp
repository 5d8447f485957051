#include "sender/rs_bar.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <optional>

namespace sender {

namespace {

constexpr QColor kBarFill(255, 0, 0);
constexpr QColor kBarTrough(230, 230, 230);

std::optional<BarKey> barKey(int key) {
    switch (key) {
        case Qt::Key_Up:
            return BarKey::Up;
        case Qt::Key_Down:
            return BarKey::Down;
        case Qt::Key_PageUp:
            return BarKey::PageUp;
        case Qt::Key_PageDown:
            return BarKey::PageDown;
        case Qt::Key_Home:
            return BarKey::Home;
        case Qt::Key_End:
            return BarKey::End;
        default:
            return std::nullopt;
    }
}

}  // namespace

RsBar::RsBar(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void RsBar::configure(RsBarRange range, int position) {
    range_ = range;
    setPosition(position);
    update();
}

void RsBar::setPosition(int position) {
    const int clamped = clampToRange(position, range_);
    if (clamped == position_) return;
    position_ = clamped;
    update();
    Q_EMIT positionChanged(position_);
}

void RsBar::setText(const QString& text) {
    text_ = text;
    // At once, like the fill: the number follows a drag without waiting for the event loop.
    repaint();
}

void RsBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect inside = rect().adjusted(1, 1, -1, -1);
    painter.fillRect(rect(), palette().color(QPalette::Mid));
    painter.fillRect(inside, kBarTrough);
    const int span = range_.high - range_.low;
    if (span > 0) {
        const int filled =
            static_cast<int>(static_cast<int64_t>(position_ - range_.low) * inside.height() / span);
        painter.fillRect(QRect(inside.left(), inside.bottom() - filled + 1, inside.width(), filled),
                         kBarFill);
    }
    painter.setPen(Qt::black);
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text_.left(500));
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect();
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

void RsBar::keyPressEvent(QKeyEvent* event) {
    const std::optional<BarKey> key = barKey(event->key());
    if (!key) {
        QWidget::keyPressEvent(event);
        return;
    }
    setPosition(rsBarKeyPosition(*key, position_, range_));
}

void RsBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
    setFocus(Qt::MouseFocusReason);
    dragging_ = true;  // Qt holds the mouse for us until the button is let go
    dragTo(qRound(event->position().y()));
}

void RsBar::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) dragTo(qRound(event->position().y()));
}

void RsBar::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
    if (!dragging_) return;
    dragging_ = false;
    Q_EMIT released();
}

void RsBar::focusInEvent(QFocusEvent*) { repaint(); }
void RsBar::focusOutEvent(QFocusEvent*) { repaint(); }

void RsBar::dragTo(int y) { setPosition(rsBarDragPosition(y, height(), range_)); }

}  // namespace sender
