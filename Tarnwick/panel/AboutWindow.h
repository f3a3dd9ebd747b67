#pragma once

// The one about window of the process, created on first use and reused afterwards.

#include <QWidget>

namespace AboutWindow {

// The window, absent (null) until show() first ran.
QWidget* window();

// Creates the window on first use (centred on the screen), then brings it to the front.
void show();

}  // namespace AboutWindow
