#pragma once

// The application's icon, drawn rather than shipped: the fan on a rounded square.

#include <QIcon>
#include <QImage>

namespace AppIcon {

// The icon at `side` points and `devicePixelRatio` pixels per point.
QImage image(int side, double devicePixelRatio);

// The icon at the sizes desktops ask for.
QIcon icon();

}  // namespace AppIcon
