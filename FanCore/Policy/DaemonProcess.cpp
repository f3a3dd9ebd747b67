#include "FanCore/Policy/DaemonProcess.h"

#include <sys/types.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <string>
#include <string_view>

#include "CSMC/linux/SysfsFile.h"
#include "FanCore/Policy/Paths.h"
#include "FanCore/Policy/SafeFile.h"

namespace DaemonProcess {

std::optional<bool> alive() {
    const std::optional<std::string> text = SafeFile::readBounded(Paths::daemonLock());
    if (!text) return std::nullopt;
    const std::string_view number = SysfsFile::trim(*text);
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), pid);
    if (error != std::errc{} || end != number.data() + number.size() || pid <= 0) {
        return std::nullopt;
    }
    // The daemon runs as root: a user may not signal it (EPERM), which still says it exists.
    if (::kill(pid, 0) != 0 && errno != EPERM) return false;
    // Where /proc shows the process, it must be the daemon and not a zombie awaiting its parent.
    const std::string proc = "/proc/" + std::to_string(pid);
    if (const auto name = SysfsFile::read(proc + "/comm", 64)) {
        if (SysfsFile::trim(*name) != "tarnwickd") return false;
        const auto stat = SysfsFile::read(proc + "/stat", 1024);
        const size_t close = stat ? stat->rfind(") ") : std::string::npos;
        if (close != std::string::npos && close + 2 < stat->size() &&
            ((*stat)[close + 2] == 'Z' || (*stat)[close + 2] == 'X')) {
            return false;
        }
    }
    return true;
}

}  // namespace DaemonProcess
