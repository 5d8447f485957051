#pragma once

// The drawings of tonebox's window: the waterfall and the level meters. They draw what they
// are handed and compute nothing of the modem's.

#include <QImage>
#include <QWidget>
#include <optional>
#include <vector>

#include "modem/waterfall.h"

namespace tools {

inline constexpr int kWaterfallHistoryRows = 100;  // 10 s at 100 ms a row

// The received audio, newest row at the top, 0-3000 Hz from left to right, with a frequency
// scale above it, the modem's passband marked on the scale and the heard signal's centre
// (1500 Hz plus the offset the last frame was heard at) drawn as a marker.
class WaterfallView : public QWidget {
public:
    explicit WaterfallView(QWidget* parent = nullptr);

    void addRows(const std::vector<modem::WaterfallRow>& rows);
    void setSignalOffset(double offsetHz);
    [[nodiscard]] int rowsReceived() const { return rowsReceived_; }
    [[nodiscard]] const QImage& image() const { return image_; }
    // The colour scale's ends: the noise floor follows the quietest bins.
    [[nodiscard]] float floorDb() const { return floorDb_; }
    [[nodiscard]] float ceilingDb() const { return floorDb_ + kSpanDb; }

    [[nodiscard]] QSize sizeHint() const override { return {760, 260}; }
    [[nodiscard]] QSize minimumSizeHint() const override { return {300, 120}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr float kSpanDb = 40.0f;
    static constexpr int kScaleHeight = 22;
    static constexpr int kTimeWidth = 30;  // the seconds' scale on the left
    [[nodiscard]] double xOf(double hz, int width) const;

    QImage image_;  // bins x rows
    int rowsReceived_ = 0;
    float floorDb_ = -100.0f;
    bool floorKnown_ = false;
    std::optional<double> offsetHz_;
};

// A level in dBFS as a bar from -60 to 0, the clipping zone (the top dB) always marked red; the
// bar is the average, the thin line the peak.
class LevelMeter : public QWidget {
public:
    explicit LevelMeter(QString name, QWidget* parent = nullptr);
    // nullopt: nothing to show (not transmitting, no sound card).
    void setLevel(std::optional<double> peakDb, std::optional<double> rmsDb);
    [[nodiscard]] QString text() const;

    [[nodiscard]] QSize sizeHint() const override { return {230, 24}; }
    [[nodiscard]] QSize minimumSizeHint() const override { return {140, 20}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString name_;
    std::optional<double> peak_;
    std::optional<double> rms_;
};

inline constexpr double kMeterLowDb = -60.0;
inline constexpr double kClipDb = -1.0;  // from here up: clipping, or about to

}  // namespace tools
