#pragma once

// The application's own preferences file (INI) and the strict reading of its Boolean entries.

#include <QSettings>
#include <QString>
#include <memory>
#include <optional>

namespace UserDefaults {

// $XDG_CONFIG_HOME/tarnwick/tarnwick.conf (~/.config/... when unset), worked out on every call.
QString path();

// The preferences at `file` (path() when empty) in INI format; never fails, a missing file is
// empty.
std::unique_ptr<QSettings> open(const QString& file = {});

// A stored Boolean: a bool, or the text "true"/"false" (any case) or "1"/"0" as QSettings writes
// and reads INI values; absent when the key is missing or holds anything else.
std::optional<bool> readBool(const QSettings& settings, const QString& key);

}  // namespace UserDefaults
