#include "CSMC/ProcessTable.h"

#include "CSMC/linux/SysfsFile.h"

namespace ProcessTable {

std::optional<Entry> find(pid_t pid) {
    // The real procfs, not the sandbox root's: the process numbers are this machine's.
    const std::string proc = "/proc/" + std::to_string(pid);
    const auto name = SysfsFile::read(proc + "/comm", 64);
    if (!name) return std::nullopt;
    Entry entry{std::string(SysfsFile::trim(*name))};
    // The state follows the command name's closing parenthesis; the name may hold one itself.
    const auto stat = SysfsFile::read(proc + "/stat", 1024);
    const size_t close = stat ? stat->rfind(") ") : std::string::npos;
    if (close != std::string::npos && close + 2 < stat->size()) {
        entry.ended = (*stat)[close + 2] == 'Z' || (*stat)[close + 2] == 'X';
    }
    return entry;
}

}  // namespace ProcessTable
