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

// Top-left corner of the open panel at `current` when its content now needs `size`: the top
// edge stays (a control that changes its height must not move the panel under the pointer)
// unless the panel would leave `available` at the bottom, when it rises just enough.
QPoint keptOpen(QRect current, QSize size, QRect available);

// Top-left corner of a panel of `size` where the compositor gives no icon position: at the bar's
// side of `output` (the side where `usable` is inset from it; the top when neither is), in the
// corner where trays sit, `gap` from the bar and `margin` from the side.
QPoint atBar(QSize size, QRect output, QRect usable);

// How much of each of the top and bottom screen edges a panel keeps free where it cannot know
// where the bars are (a Wayland compositor that places the window itself, centred): room for a
// bar of any common height.
inline constexpr int unknownBarReserve = 48;

}  // namespace PanelPlacement
