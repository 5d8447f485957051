#include "tools/tonebox_widgets.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "modem/waveform.h"

namespace tools {

namespace {

// The modem's passband: the outer carriers' centres, half a carrier spacing out.
constexpr double kPassbandLowHz = (modem::kFirstBin - 0.5) * modem::kCarrierSpacingHz;
constexpr double kPassbandHighHz =
    (modem::kFirstBin + modem::kCarriers - 0.5) * modem::kCarrierSpacingHz;

}  // namespace

WaterfallView::WaterfallView(QWidget* parent)
    : QWidget(parent),
      image_(modem::Waterfall::bins(), kWaterfallHistoryRows, QImage::Format_RGB32) {
    image_.fill(Qt::black);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void WaterfallView::addRows(const std::vector<modem::WaterfallRow>& rows) {
    for (const modem::WaterfallRow& row : rows) {
        if (row.db.empty()) continue;
        // The floor follows the noise: a low percentile of the row, smoothed over rows.
        std::vector<float> sorted = row.db;
        const auto low = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 5);
        std::nth_element(sorted.begin(), low, sorted.end());
        const float floor = *low - 6.0f;
        floorDb_ = floorKnown_ ? floorDb_ + 0.05f * (floor - floorDb_) : floor;
        floorKnown_ = true;
        // One row down, the new one at the top.
        const int width = image_.width();
        const qsizetype stride = image_.bytesPerLine();
        std::memmove(image_.scanLine(1), image_.scanLine(0),
                     static_cast<size_t>(stride) * static_cast<size_t>(image_.height() - 1));
        auto* line = reinterpret_cast<QRgb*>(image_.scanLine(0));
        const int n = std::min<int>(width, static_cast<int>(row.db.size()));
        for (int x = 0; x < n; ++x) {
            line[x] = 0xff000000u | modem::waterfallColour(row.db[static_cast<size_t>(x)], floorDb_,
                                                           floorDb_ + kSpanDb);
        }
        ++rowsReceived_;
    }
    if (!rows.empty()) update();
}

void WaterfallView::setSignalOffset(double offsetHz) {
    offsetHz_ = offsetHz;
    update();
}

double WaterfallView::xOf(double hz, int width) const {
    return hz / modem::kWaterfallTopHz * width;
}

void WaterfallView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(40, 40, 46));
    const int w = width() - kTimeWidth;
    p.translate(kTimeWidth, 0);
    const QRect scale(0, 0, w, kScaleHeight);
    const QRect fall(0, kScaleHeight, w, height() - kScaleHeight);
    // The passband on the scale.
    const double lowX = xOf(kPassbandLowHz, w);
    const double highX = xOf(kPassbandHighHz, w);
    p.fillRect(QRectF(lowX, scale.bottom() - 5, highX - lowX, 5), QColor(70, 140, 255));
    // Ticks every 100 Hz, labels every 500 Hz.
    QFont font = p.font();
    font.setPixelSize(11);
    p.setFont(font);
    p.setPen(QColor(200, 200, 200));
    for (int hz = 0; hz <= 3000; hz += 100) {
        const double x = xOf(hz, w);
        const bool major = hz % 500 == 0;
        p.drawLine(QPointF(x, major ? 10 : 14), QPointF(x, scale.bottom() - 5));
        if (major && hz < 3000) {
            p.drawText(QRectF(x - 30, 0, 60, 11), Qt::AlignCenter,
                       hz == 0 ? QStringLiteral("Hz") : QString::number(hz));
        }
    }
    // Seconds ago on the left, a tick every second.
    const double rowH = double(fall.height()) / kWaterfallHistoryRows;
    for (int second = 0; second <= kWaterfallHistoryRows / 10; ++second) {
        const double y = fall.top() + second * 10 * rowH;
        p.drawLine(QPointF(-6, y), QPointF(-1, y));
        if (second % 2 == 0 && second > 0 && y + 7 <= height()) {
            p.drawText(QRectF(-kTimeWidth, y - 7, kTimeWidth - 7, 14),
                       Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("%1 s").arg(second));
        }
    }
    // The history, the bins' centres on their frequencies.
    p.setClipRect(fall);
    const double binW = xOf(modem::Waterfall::binHz(), w);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    p.drawImage(QRectF(fall.left() - binW / 2, fall.top(), image_.width() * binW, fall.height()),
                image_);
    // The passband's edges over the waterfall, faintly.
    p.setPen(QPen(QColor(255, 255, 255, 70), 1, Qt::DashLine));
    p.drawLine(QPointF(lowX, fall.top()), QPointF(lowX, fall.bottom()));
    p.drawLine(QPointF(highX, fall.top()), QPointF(highX, fall.bottom()));
    p.setClipping(false);
    // Where the last frame was heard: its centre carrier, with the offset.
    if (offsetHz_) {
        const double x = xOf(modem::kCentreHz + *offsetHz_, w);
        p.setRenderHint(QPainter::Antialiasing, true);
        QPainterPath marker;
        marker.moveTo(x - 6, scale.bottom() - 11);
        marker.lineTo(x + 6, scale.bottom() - 11);
        marker.lineTo(x, scale.bottom());
        marker.closeSubpath();
        p.fillPath(marker, QColor(255, 60, 60));
        p.setPen(QPen(QColor(255, 60, 60, 200), 2));
        p.drawLine(QPointF(x, fall.top()), QPointF(x, fall.top() + 10));
        const QString text =
            QStringLiteral("%1%2 Hz").arg(*offsetHz_ >= 0 ? "+" : "").arg(*offsetHz_, 0, 'f', 1);
        const QRectF box(x + 6, fall.top() + 3, p.fontMetrics().horizontalAdvance(text) + 8, 15);
        p.fillRect(box, QColor(0, 0, 0, 170));
        p.setPen(QColor(255, 200, 200));
        p.drawText(box, Qt::AlignCenter, text);
    }
}

LevelMeter::LevelMeter(QString name, QWidget* parent) : QWidget(parent), name_(std::move(name)) {}

void LevelMeter::setLevel(std::optional<double> peakDb, std::optional<double> rmsDb) {
    if (peakDb == peak_ && rmsDb == rms_) return;
    peak_ = peakDb;
    rms_ = rmsDb;
    update();
}

QString LevelMeter::text() const {
    if (!peak_) return name_ + QStringLiteral(" --");
    if (*peak_ <= kMeterLowDb * 2) return name_ + QStringLiteral(" silent");
    return name_ + QStringLiteral(" %1 dBFS").arg(*peak_, 0, 'f', 1) +
           (*peak_ >= kClipDb ? QStringLiteral(" CLIP") : QString());
}

void LevelMeter::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRectF all = rect();
    p.fillRect(all, QColor(30, 30, 34));
    auto xOf = [&](double db) {
        return std::clamp((db - kMeterLowDb) / -kMeterLowDb, 0.0, 1.0) * all.width();
    };
    // The clipping zone, always there.
    p.fillRect(QRectF(xOf(kClipDb), 0, all.width() - xOf(kClipDb), all.height()),
               QColor(140, 20, 20));
    if (rms_) {
        const double x = xOf(*rms_);
        const QColor colour = peak_ && *peak_ >= kClipDb ? QColor(255, 70, 50)
                              : *rms_ > -10              ? QColor(240, 200, 40)
                                                         : QColor(60, 200, 90);
        p.fillRect(QRectF(0, 4, x, all.height() - 8), colour);
    }
    if (peak_) {
        p.setPen(QPen(Qt::white, 2));
        const double x = xOf(*peak_);
        p.drawLine(QPointF(x, 2), QPointF(x, all.height() - 2));
    }
    // dB marks every 10.
    p.setPen(QColor(150, 150, 150));
    for (int db = -50; db < 0; db += 10) {
        const double x = xOf(db);
        p.drawLine(QPointF(x, all.height() - 4), QPointF(x, all.height()));
    }
    p.setPen(Qt::white);
    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);
    p.drawText(all.adjusted(6, 0, -6, 0), Qt::AlignVCenter | Qt::AlignLeft, text());
}

}  // namespace tools
