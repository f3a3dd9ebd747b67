#pragma once

// Whether the installed daemon executable differs from the application's own copy. The
// comparison reads the installed file only when it changed on disk since the last look, instead
// of reading the whole executable on every poll.

#include <sys/types.h>

#include <QByteArray>
#include <ctime>
#include <filesystem>
#include <optional>

class InstalledDaemon {
  public:
    // True when the file at `installed` does not hold exactly `bundled`: a missing or unreadable
    // file counts as absent bytes, and absent equals only absent.
    bool differs(const std::filesystem::path& installed, const std::optional<QByteArray>& bundled);

    // The daemon the systemd unit at `unit` runs: its ExecStart= program, under the sandbox root;
    // Paths::daemonBinary() when the unit cannot be read or names none.
    static std::filesystem::path executableOf(const std::filesystem::path& unit);

    // Bytes of a regular file; absent when it is missing, not a regular file (a FIFO would block
    // the poll) or unreadable.
    static std::optional<QByteArray> readFile(const std::filesystem::path& path);

  private:
    struct Signature {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        timespec changed{};
    };
    static bool same(const Signature& a, const Signature& b);

    std::optional<Signature> seen_;
    bool differed_ = false;
};
