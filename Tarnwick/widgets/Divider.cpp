#include "Tarnwick/widgets/Divider.h"

#include <QPainter>

#include "Tarnwick/widgets/Theme.h"

Divider::Divider(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(1);
}

void Divider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Theme::faint(palette(), 0.12));
}
