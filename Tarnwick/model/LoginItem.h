#pragma once

// Launch at login through an XDG autostart entry.

#include <QString>
#include <expected>

namespace LoginItem {

// $XDG_CONFIG_HOME/autostart/tarnwick.desktop (~/.config/... when unset), worked out on each call.
QString path();

// True when the entry at `file` (path() when empty) exists and neither has Hidden=true nor
// X-GNOME-Autostart-enabled=false in its [Desktop Entry] group. Never fails.
bool isEnabled(const QString& file = {});

// Writes (atomically) an entry that starts `executable`, or removes the entry; removing one that
// does not exist succeeds. The error is the system's description of what failed.
std::expected<void, QString> setEnabled(bool enabled, const QString& executable,
                                        const QString& file = {});

}  // namespace LoginItem
