#pragma once

// Named icons (the symbol names the views use, such as "fan" or "cpu"), drawn from the compiled
// icon resource in one colour at any scale.

#include <QColor>
#include <QPainter>
#include <QRectF>
#include <QString>

namespace Symbols {

// Whether an icon exists for `name`.
bool exists(const QString& name);

// Side, in points, of the square a symbol occupies at `pointSize`: the glyph itself is about
// `pointSize` tall and the square adds the icon set's own margin.
double boxSize(double pointSize);

// Draws `name` filling the square `box` (logical coordinates of `painter`) in `color`, at the
// painter's full device resolution. Draws nothing when the icon does not exist.
void paint(QPainter& painter, const QString& name, const QRectF& box, const QColor& color);

}  // namespace Symbols
