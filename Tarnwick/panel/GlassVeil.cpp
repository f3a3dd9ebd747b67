#include "Tarnwick/panel/GlassVeil.h"

#include <QPainter>

#include "Tarnwick/widgets/Theme.h"

GlassVeil::GlassVeil(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

bool GlassVeil::applies() { return false; }

QColor GlassVeil::tint(bool dark) {
    return dark ? QColor::fromRgbF(0, 0, 0, 0.25f) : QColor::fromRgbF(1, 1, 1, 0.45f);
}

void GlassVeil::paintEvent(QPaintEvent*) {
    if (!applies()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(tint(Theme::isDark(palette())));
    painter.drawRoundedRect(rect(), 16, 16);
}
