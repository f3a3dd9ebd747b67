#pragma once

// Whether a system tray is there to take an icon. Qt decides once per process whether the
// desktop's D-Bus tray is present, so the shell asks here first and creates the tray icon only
// once a host has appeared (or a time limit has passed).

#include <QObject>
#include <QTimer>
#include <functional>

namespace TrayHost {

// The tray hosts there are: an XEmbed tray owning the display's tray selection, a
// StatusNotifier host registered on the session bus. Never blocks for long; none without a
// display or bus.
struct Hosts {
    bool xembed = false;
    bool statusNotifier = false;
    bool any() const { return xembed || statusNotifier; }
};
Hosts hosts();

// hosts().any().
bool present();

// Whether the X11 display runs a compositing manager (translucent windows are drawn as such).
bool compositing();

// Calls `ready` once: as soon as present() holds (checked every `interval`), or after `limit`.
// `context` going away cancels the wait.
void whenPresent(QObject* context, std::chrono::milliseconds limit,
                 std::chrono::milliseconds interval, std::function<void(bool found)> ready);

}  // namespace TrayHost
