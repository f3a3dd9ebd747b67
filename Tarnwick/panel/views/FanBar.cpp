#include "Tarnwick/panel/views/FanBar.h"

#include <QEasingCurve>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "Tarnwick/model/Model.h"
#include "Tarnwick/widgets/Theme.h"

double fanBarValue(double actual, double max) {
    if (!(max > 0)) return 0;
    if (!(actual >= 100)) return 0;
    return std::min(actual / max, 1.0);
}

FanBar::FanBar(double value, QWidget* parent) : QWidget(parent), shown_(value), target_(value) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(barHeight);
    animation_.setDuration(Model::fanAnimationMs);
    animation_.setEasingCurve(QEasingCurve::OutCubic);
    // An animation frame that moves the fill by less than half a pixel is not drawn: a panel
    // left open would otherwise repaint every bar for the whole animation at every refresh.
    connect(&animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        shown_ = v.toDouble();
        if (std::abs(fillWidth(shown_, width()) - drawnFill_) >= 0.5) update();
    });
    connect(&animation_, &QVariantAnimation::finished, this, [this] {
        if (fillWidth(shown_, width()) != drawnFill_) update();
    });
}

void FanBar::setValue(double value, bool animated) {
    if (value == target_ && animation_.state() != QAbstractAnimation::Running) {
        if (shown_ != value) {
            shown_ = value;
            update();
        }
        return;
    }
    target_ = value;
    animation_.stop();
    // A speed that moves the fill by less than half a pixel (a fan's few rpm of jitter) is taken
    // without an animation.
    const bool visible = std::abs(fillWidth(value, width()) - fillWidth(shown_, width())) >= 0.5;
    if (animated && visible && isVisible()) {
        animation_.setStartValue(shown_);
        animation_.setEndValue(value);
        animation_.start();
    } else {
        shown_ = value;
        if (visible || !animated) update();
    }
}

double FanBar::fillWidth(double value, double width) {
    if (!(value > 0)) return 0;
    return std::min(width, std::max(static_cast<double>(barHeight), value * width));
}

void FanBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF track = rect();
    const double radius = track.height() / 2;
    painter.setBrush(Theme::faint(palette(), 0.1));
    painter.drawRoundedRect(track, radius, radius);
    const double fill = fillWidth(shown_, track.width());
    drawnFill_ = fill;
    if (fill > 0) {
        painter.setBrush(Theme::accent(palette()));
        painter.drawRoundedRect(QRectF(track.left(), track.top(), fill, track.height()), radius,
                                radius);
    }
}
