#pragma once

// Pictures of the panel or the about view, rendered off screen at two pixels per point.

#include <QImage>
#include <QString>
#include <QWidget>
#include <optional>

#include "Tarnwick/AppOptions.h"
#include "Tarnwick/model/Model.h"

namespace Snapshot {

inline constexpr double scale = 2.0;

// `widget` laid out at `size` points on the window background colour, at `scale`.
QImage render(QWidget& widget, QSize size);

// Encodes `image` as PNG and replaces the file at `path` with it in one step; false (and no file
// written) when anything fails.
bool write(const QImage& image, const QString& path);

// The picture the options ask for (the about view with `about`, else the panel over a new model
// built from `modelOptions`, polled every two seconds for `historySeconds`, so that its chart has
// something to show) written to `path`; false when the picture could not be written.
bool run(const AppOptions& options, const QString& path, ModelOptions modelOptions = {});

}  // namespace Snapshot
