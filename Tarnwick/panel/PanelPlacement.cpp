#include "Tarnwick/panel/PanelPlacement.h"

#include <algorithm>

namespace PanelPlacement {

QPoint topLeft(QSize size, std::optional<QRect> anchor, QPoint cursor, QRect available) {
    // QRect's right() and bottom() are inclusive; edges as coordinates avoid off-by-one clamps.
    const QRect a = anchor && anchor->isValid() ? *anchor : QRect(cursor, QSize(0, 0));
    const int anchorLeft = a.x();
    const int anchorTop = a.y();
    const int anchorRight = a.x() + a.width();
    const int anchorBottom = a.y() + a.height();

    int x = (anchorLeft + anchorRight) / 2 - size.width() / 2;
    if (available.isEmpty()) return {x, anchorBottom + gap};

    const int areaLeft = available.x();
    const int areaTop = available.y();
    const int areaRight = available.x() + available.width();
    const int areaBottom = available.y() + available.height();
    x = std::min(std::max(x, areaLeft + margin), areaRight - size.width() - margin);

    // The edge that faces the icon keeps the icon's gap; the far edge keeps the margin. When the
    // panel is taller than the area, its top stays on screen.
    int y = 0;
    if (anchorTop + anchorBottom > areaTop + areaBottom) {
        y = std::min(anchorTop - gap - size.height(), areaBottom - size.height());
        y = std::max(y, areaTop + margin);
    } else {
        y = std::min(anchorBottom + gap, areaBottom - size.height() - margin);
        y = std::max(y, areaTop);
    }
    return {x, y};
}

QPoint keptOpen(QRect current, QSize size, QRect available) {
    if (available.isEmpty()) return current.topLeft();
    const int areaBottom = available.y() + available.height();
    const int y = std::max(available.y(), std::min(current.y(), areaBottom - size.height()));
    return {current.x(), y};
}

QPoint atBar(QSize size, QRect output, QRect usable) {
    const int usableRight = usable.x() + usable.width();
    const int x = std::max(usable.x() + margin, usableRight - size.width() - margin);
    const bool barAtBottom =
        usable.y() == output.y() && usable.y() + usable.height() < output.y() + output.height();
    if (barAtBottom) return {x, usable.y() + usable.height() - gap - size.height()};
    return {x, usable.y() + gap};
}

}  // namespace PanelPlacement
