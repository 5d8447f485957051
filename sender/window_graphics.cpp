#include "sender/window_graphics.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyleOptionTab>

namespace sender {

// ---- preview and progress graphics ----

PreviewView::PreviewView(QWidget* parent) : QWidget(parent) {
    surface_ = QImage(kPreviewWidth, kPreviewHeight, QImage::Format_RGB32);
    surface_.fill(Qt::white);
}

void PreviewView::showPicture(const QImage& picture) {
    surface_.fill(Qt::white);
    QPainter painter(&surface_);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(0, 0, kPreviewWidth, kPreviewHeight), picture);
    painter.end();
    repaint();
}

void PreviewView::showFailure(const std::array<std::string, 5>& lines, bool red) {
    surface_.fill(Qt::white);
    QPainter painter(&surface_);
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(16);
    painter.setFont(font);
    painter.setPen(red ? Qt::red : Qt::blue);
    const int step = QFontMetrics(font).lineSpacing();
    for (size_t i = 0; i < lines.size(); ++i) {
        painter.drawText(QRect(0, static_cast<int>(i) * step, kPreviewWidth, step),
                         Qt::AlignLeft | Qt::AlignTop, QString::fromLatin1(lines[i]));
    }
    painter.end();
    repaint();
}

void PreviewView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.drawImage(1, 0, surface_);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

ProgressLine::ProgressLine(QWidget* parent) : QWidget(parent) {}

void ProgressLine::clear() { setEnd(0); }

void ProgressLine::setEnd(int x) {
    end_ = x;
    update();
}

void ProgressLine::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (end_ > 0) {
        painter.setPen(QPen(Qt::blue, 4, Qt::SolidLine, Qt::FlatCap));
        painter.drawLine(0, 2, end_, 2);
    }
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

QSize SourceTabBar::tabSizeHint(int) const { return {kTabWidth, kTabHeight}; }

void SourceTabBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    for (int i = 0; i < count(); ++i) {
        QStyleOptionTab option;
        initStyleOption(&option, i);
        option.text.clear();
        style()->drawControl(QStyle::CE_TabBarTabShape, &option, &painter, this);
        QRect inside = tabRect(i).adjusted(2, 2, -2, -1);
        painter.fillRect(inside, palette().color(QPalette::Button));
        inside.setTop(inside.top() + kTabTextDrop);
        painter.setPen(i == currentIndex() ? Qt::blue : Qt::black);
        painter.drawText(inside, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine,
                         tabText(i).left(50));
    }
}

void TabFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionTabWidgetFrame option;
    option.initFrom(this);
    option.rect = rect().adjusted(0, kTabHeight - 1, 0, 0);
    option.shape = QTabBar::RoundedNorth;
    style()->drawPrimitive(QStyle::PE_FrameTabWidget, &option, &painter, this);
}

QFont fontToFit(const QFont& font, const QString& text, int width) {
    constexpr int kSmallestPx = 7;
    QFont fitted = font;
    const auto fits = [&] { return QFontMetrics(fitted).horizontalAdvance(text) <= width; };
    if (fits()) return fitted;
    if (fitted.stretch() > QFont::Condensed) {
        fitted.setStretch(QFont::Condensed);
        if (fits()) return fitted;
    }
    for (int px = fitted.pixelSize() - 1; px >= kSmallestPx && px > 0; --px) {
        fitted.setPixelSize(px);
        if (fits()) return fitted;
    }
    return fitted;
}

}  // namespace sender
