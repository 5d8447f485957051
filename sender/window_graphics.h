#pragma once

// The window's own drawings: the preview of the decoded frame, the progress line, and the
// source tabs with the selected one in blue.

#include <QFont>
#include <QImage>
#include <QTabBar>
#include <QWidget>
#include <array>
#include <string>

namespace sender {

inline constexpr int kPreviewWidth = 340;  // the N x N preview stretched to 1.33 x 256
inline constexpr int kPreviewHeight = 256;
inline constexpr int kTabWidth = 86;
inline constexpr int kTabHeight = 21;
inline constexpr int kTabTextDrop = 3;  // the tab's text starts this far below its top edge

// The preview graphic: the decoded frame, or the size-check lines of a rejected one.
class PreviewView : public QWidget {
    Q_OBJECT

public:
    explicit PreviewView(QWidget* parent = nullptr);
    void showPicture(const QImage& picture);  // stretched to 340 x 256, smoothly
    void showFailure(const std::array<std::string, 5>& lines, bool red);
    [[nodiscard]] const QImage& surface() const { return surface_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage surface_;
};

// The progress graphic: a blue line growing over the frame period.
class ProgressLine : public QWidget {
    Q_OBJECT

public:
    explicit ProgressLine(QWidget* parent = nullptr);
    void clear();
    void setEnd(int x);  // right end of the line, pixels from the left
    [[nodiscard]] int end() const { return end_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int end_ = 0;
};

// The font in which text fits width pixels: font itself when it fits, else the same face
// condensed, then a pixel smaller at a time (down to 7 pixels). The status line needs it: at
// 256 x 256 with the CDF 9/7 wavelet its text is wider than its 330 pixels.
[[nodiscard]] QFont fontToFit(const QFont& font, const QString& text, int width);

// The tab control's tabs, drawn by the window: the button face, and the text on one line,
// centred, in blue on the selected tab.
class SourceTabBar : public QTabBar {
    Q_OBJECT

public:
    using QTabBar::QTabBar;

protected:
    QSize tabSizeHint(int index) const override;
    void paintEvent(QPaintEvent* event) override;
};

// The frame of the tab control around the pages.
class TabFrame : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace sender
