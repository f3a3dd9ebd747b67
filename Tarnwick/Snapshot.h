#pragma once

// Pictures of the panel or the about view, rendered off screen at two pixels per point.

#include <QImage>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <optional>

#include "Tarnwick/model/Model.h"

namespace Snapshot {

inline constexpr double scale = 2.0;

// The path after the first "--snapshot", absent when there is none or nothing follows it.
std::optional<QString> pathFrom(const QStringList& arguments);

// `widget` laid out at `size` points on the window background colour, at `scale`.
QImage render(QWidget& widget, QSize size);

// Encodes `image` as PNG and replaces the file at `path` with it in one step; false (and no file
// written) when anything fails.
bool write(const QImage& image, const QString& path);

// The picture the command line asks for (the about view with "--about", else the panel over a
// new model built from `options`) written to `path`; false when it could not be written.
bool run(const QStringList& arguments, const QString& path, ModelOptions options = {});

}  // namespace Snapshot
