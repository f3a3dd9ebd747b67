#pragma once

// The platform's process table, enough to tell a live program from a recycled process number or
// one that has ended (on Linux, procfs).

#include <sys/types.h>

#include <optional>
#include <string>

namespace ProcessTable {

struct Entry {
    std::string name;    // the command name (on Linux at most 15 bytes of it)
    bool ended = false;  // exited and awaiting its parent
};

// Process `pid` as the table shows it; absent when the table does not show it (no such process,
// or no procfs mounted).
std::optional<Entry> find(pid_t pid);

}  // namespace ProcessTable
