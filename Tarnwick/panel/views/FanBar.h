#pragma once

// One fan's speed as a thin capsule filled from the leading edge.

#include <QVariantAnimation>
#include <QWidget>

class FanBar : public QWidget {
    Q_OBJECT

  public:
    static constexpr int barHeight = 5;

    explicit FanBar(double value = 0, QWidget* parent = nullptr);

    // The filled share the bar shows (0..1 expected; NaN and values of 0 or less draw no fill).
    double value() const { return shown_; }
    // The share the bar is heading for.
    double target() const { return target_; }

    // Moves to `value`, with the 0.4 s ease-out animation when `animated`, else at once.
    void setValue(double value, bool animated = false);

    // Width of the fill at `value` on a bar `width` wide; 0 means no fill is drawn.
    static double fillWidth(double value, double width);

    QSize sizeHint() const override { return {100, barHeight}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    double shown_;
    double target_;
    double drawnFill_ = -1;  // the fill width of the last paint
    QVariantAnimation animation_;
};

// The share of a fan's bar: actual / max capped at 1; 0 when max is not above 0 or the fan turns
// slower than 100 rpm (NaN included).
double fanBarValue(double actual, double max);
