#pragma once

// How dark the panel under the tray icon is, and the colours that stay legible on it. The
// application's own palette says nothing about the panel, so the tone comes from the user's
// choice or from what the desktop publishes; where neither says, the icon is drawn to stand out
// on light and dark panels alike.

#include <QColor>
#include <optional>

#include "Tarnwick/model/TrayAppearance.h"

// The panel as far as it is known: `unknown` means drawn for both.
enum class PanelTone { light, dark, unknown };

namespace TrayColors {

// The tone of the desktop's panel: dark where the desktop says so (its colour-scheme setting,
// a dark GTK theme, or a desktop whose top bar is always dark); unknown otherwise, because a
// light application theme often sits beside a dark panel. Never blocks for long.
PanelTone desktopTone();

// The user's choice resolved: `automatic` takes `desktop` (what desktopTone() said).
PanelTone resolve(TrayAppearance appearance, PanelTone desktop);

// WCAG contrast ratio of two opaque colours, 1 to 21.
double contrast(const QColor& a, const QColor& b);

// The colour of template glyphs and uncoloured text on a panel of `tone`.
QColor glyph(PanelTone tone);
// The colour of unlit parts (a gauge's empty track, bars above the level) on a panel of `tone`:
// 3:1 against every panel the tone may mean and apart from glyph(tone), so that the empty part
// reads as empty rather than vanishing.
QColor faint(PanelTone tone);
// The outline drawn around everything on a panel of unknown tone; absent when the tone is known.
std::optional<QColor> halo(PanelTone tone);

// `color` with its hue and saturation kept and its lightness moved as little as needed to
// reach 3:1 against every panel `tone` may mean (white and black for `unknown`).
QColor legible(const QColor& color, PanelTone tone);

}  // namespace TrayColors
