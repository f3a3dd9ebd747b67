#include "Tarnwick/widgets/Stepper.h"

#include <QAccessible>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "Tarnwick/widgets/Text.h"
#include "Tarnwick/widgets/Theme.h"

class StepperArrows : public QWidget {
  public:
    explicit StepperArrows(Stepper* stepper) : QWidget(stepper), stepper_(stepper) {
        setFixedSize(15, 22);
        setCursor(Qt::PointingHandCursor);
    }

  protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) {
            stepper_->stepBy(event->position().y() < height() / 2.0);
        }
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPalette pal = palette();
        const QRectF body = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        // The focus ring in the accent colour: the stepper has no other place to show focus.
        if (stepper_->hasFocus()) {
            painter.setPen(QPen(Theme::accent(pal), 1.5));
        } else {
            painter.setPen(QPen(Theme::faint(pal, 0.2), 1));
        }
        painter.setBrush(Theme::isDark(pal) ? QColor(255, 255, 255, 30) : QColor(Qt::white));
        painter.drawRoundedRect(body, 4, 4);
        painter.drawLine(QPointF(body.left() + 3, body.center().y()),
                         QPointF(body.right() - 3, body.center().y()));
        drawArrow(painter, body.center().x(), body.top() + body.height() * 0.27, true,
                  isEnabled() && stepper_->canStepUp());
        drawArrow(painter, body.center().x(), body.top() + body.height() * 0.73, false,
                  isEnabled() && stepper_->canStepDown());
    }

  private:
    void drawArrow(QPainter& painter, double cx, double cy, bool up, bool active) {
        QPainterPath path;
        const double w = 3.0;
        const double h = up ? -1.8 : 1.8;
        path.moveTo(cx - w, cy - h);
        path.lineTo(cx, cy + h);
        path.lineTo(cx + w, cy - h);
        painter.setPen(QPen(active ? Theme::primary(palette()) : Theme::tertiary(palette()), 1.3,
                            Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
    }

    Stepper* stepper_;
};

Stepper::Stepper(double minimum, double maximum, double step, std::function<QString(double)> title,
                 QWidget* parent)
    : QWidget(parent),
      minimum_(minimum),
      maximum_(maximum),
      step_(step),
      value_(minimum),
      titleFor_(std::move(title)),
      title_(new Text({}, Theme::TextStyle::body, Tone::primary, this)),
      arrows_(new StepperArrows(this)) {
    title_->setTextStyle(Theme::TextStyle::body, true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(title_);
    layout->addWidget(arrows_);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    refresh();
}

QString Stepper::title() const { return title_->text(); }

bool Stepper::canStepUp() const { return value_ < maximum_; }
bool Stepper::canStepDown() const { return value_ > minimum_; }

void Stepper::setValue(double value) {
    value_ = value;
    refresh();
}

void Stepper::stepBy(bool up) {
    if (!isEnabled()) return;
    double next = up ? value_ + step_ : value_ - step_;
    // A stored value off the range (or NaN) lands on the nearest end of it.
    if (std::isnan(next)) next = up ? maximum_ : minimum_;
    next = std::clamp(next, minimum_, maximum_);
    if (next == value_) return;
    value_ = next;
    refresh();
    emit valueChanged(value_);
}

void Stepper::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up) {
        stepBy(true);
    } else if (event->key() == Qt::Key_Down) {
        stepBy(false);
    } else {
        QWidget::keyPressEvent(event);
    }
}

void Stepper::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    arrows_->update();
}

void Stepper::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    arrows_->update();
}

void Stepper::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) refresh();
}

void Stepper::refresh() {
    if (QAccessible::isActive() && title_->text() != titleFor_(value_)) {
        QAccessibleValueChangeEvent event(this, value_);
        QAccessible::updateAccessibility(&event);
    }
    title_->setText(titleFor_(value_));
    title_->setTone(isEnabled() ? Tone::primary : Tone::tertiary);
    arrows_->update();
}
