#include "Tarnwick/widgets/SymbolView.h"

#include <QPainter>
#include <cmath>

#include "Tarnwick/Symbols.h"

SymbolView::SymbolView(const QString& name, double pointSize, Tone tone, int frameWidth,
                       QWidget* parent)
    : QWidget(parent),
      name_(name),
      side_(Symbols::boxSize(pointSize)),
      tone_(tone),
      frameWidth_(frameWidth) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SymbolView::setName(const QString& name) {
    if (name == name_) return;
    name_ = name;
    update();
}

QSize SymbolView::sizeHint() const {
    const int side = static_cast<int>(std::ceil(side_));
    return {frameWidth_ > 0 ? frameWidth_ : side, side};
}

void SymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRectF box(QRectF(rect()).center() - QPointF(side_ / 2, side_ / 2), QSizeF(side_, side_));
    Symbols::paint(painter, name_, box, toneColor(tone_, palette()));
}
