#pragma once

// The panel's named text styles and label colours, derived from the application palette so that
// light and dark desktops both read well.

#include <QColor>
#include <QFont>
#include <QPalette>

namespace Theme {

enum class TextStyle { body, headline, caption, caption2, title2 };

// The font of a named style, sized in device-independent pixels. With `monospacedDigits` the
// family is one whose ten digits share one advance, so changing numbers do not jitter.
QFont font(TextStyle style, bool monospacedDigits = false);

// Whether `palette` draws light text on a dark window.
bool isDark(const QPalette& palette);

// The label hierarchy: primary text, and the same at reduced contrast.
QColor primary(const QPalette& palette);
QColor secondary(const QPalette& palette);
QColor tertiary(const QPalette& palette);

// The user's accent (the palette's highlight).
QColor accent(const QPalette& palette);

// Warning colours, tuned per appearance for contrast against the window.
QColor red(const QPalette& palette);
QColor yellow(const QPalette& palette);

// Hairlines and tracks: primary text at `opacity`.
QColor faint(const QPalette& palette, double opacity);

}  // namespace Theme
