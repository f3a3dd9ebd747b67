#pragma once

// On sway a Wayland client cannot place its own window, and Qt does not know where the bars
// are. The compositor's IPC socket ($SWAYSOCK) answers both: the usable area of the focused
// output (the output less the bars' exclusive zones) and a command that moves the client's
// floating window.

#include <QPoint>
#include <QRect>
#include <QString>
#include <optional>

namespace SwayPlacement {

// The focused output and its usable area, in the compositor's layout coordinates.
struct Areas {
    QRect output;
    QRect usable;
};

// Whether sway's IPC socket is announced in the environment.
bool available();

// The focused workspace's areas; absent without sway or when it does not answer within a short
// time.
std::optional<Areas> areas();

// Asks sway to float this process's window titled exactly `title` and move its top-left corner
// to `at`; false when sway is not there or found no such window (yet).
bool move(const QString& title, QPoint at);

}  // namespace SwayPlacement
