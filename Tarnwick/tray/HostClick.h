#pragma once

// Where a StatusNotifier host says the user clicked the tray icon. The host passes a point with
// Activate and ContextMenu; Qt's tray item drops it, so the calls are watched on their way in.

#include <QPoint>
#include <optional>

namespace HostClick {

// Starts watching the session bus's calls to the tray item; call once, after QApplication
// exists. Does nothing without D-Bus support.
void watch();

// The point of the latest Activate, SecondaryActivate or ContextMenu call, as the host gave it
// (hosts differ: some give screen coordinates, some a point inside their own icon); absent
// before the first.
std::optional<QPoint> last();

// The host's point when it can stand for where the user clicked: within `reach` pixels of the
// pointer as the display knows it. Absent otherwise, or where no pointer position is known
// (`pointer` absent).
std::optional<QPoint> nearPointer(std::optional<QPoint> pointer, int reach = 64);

// For tests: as if a host had called `member` ("Activate", "ContextMenu") with `point`.
void record(const QString& member, QPoint point);

}  // namespace HostClick
