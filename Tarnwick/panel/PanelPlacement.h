#pragma once

// Where the panel opens: under (or, with the tray at the bottom, above) the tray icon, else at
// the cursor, kept inside the screen's available area.

#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>

namespace PanelPlacement {

// Gap between the tray icon and the panel, and the least distance to the available area's edges.
inline constexpr int gap = 6;
inline constexpr int margin = 8;

// Top-left corner of a panel of `size` for a tray icon at `anchor` (global coordinates; absent
// when the tray does not say where it is, then the cursor stands in as a zero-size anchor) on a
// screen whose available area is `available`. Centred on the anchor and `gap` below it, or above
// it when the anchor sits in the lower half of the area; `margin` inside the area's other edges.
// When the panel cannot fit, the right margin wins across and the panel's top stays on screen.
// An empty `available` (no screen) leaves the position unclamped.
QPoint topLeft(QSize size, std::optional<QRect> anchor, QPoint cursor, QRect available);

}  // namespace PanelPlacement
