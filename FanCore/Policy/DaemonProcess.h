#pragma once

// Whether the daemon that wrote the status is still there: judged by its process, named in the
// lock file it holds, so that a killed daemon is seen as gone at once rather than when its last
// status grows old.

#include <optional>

namespace DaemonProcess {

// True while the process whose id the lock file (Paths::daemonLock()) holds runs as tarnwickd,
// false once it is gone (or the number belongs to another program); absent when no lock file
// tells (no daemon has run since boot, or one too old to write it).
std::optional<bool> alive();

}  // namespace DaemonProcess
