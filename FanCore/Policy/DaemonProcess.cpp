#include "FanCore/Policy/DaemonProcess.h"

#include <sys/types.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <string>
#include <string_view>

#include "CSMC/ProcessTable.h"
#include "FanCore/Policy/Paths.h"
#include "FanCore/Policy/SafeFile.h"

namespace DaemonProcess {

std::optional<bool> alive() {
    const std::optional<std::string> text = SafeFile::readBounded(Paths::daemonLock());
    if (!text) return std::nullopt;
    std::string_view number = *text;
    while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) {
        number.remove_suffix(1);
    }
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), pid);
    if (error != std::errc{} || end != number.data() + number.size() || pid <= 0) {
        return std::nullopt;
    }
    // The daemon runs as root: a user may not signal it (EPERM), which still says it exists.
    if (::kill(pid, 0) != 0 && errno != EPERM) return false;
    // Where the process table shows the process, it must be the daemon and not one that ended.
    if (const auto entry = ProcessTable::find(pid)) {
        if (entry->name != "tarnwickd" || entry->ended) return false;
    }
    return true;
}

}  // namespace DaemonProcess
