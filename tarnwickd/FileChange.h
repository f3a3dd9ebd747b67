#pragma once

// Housekeeping a pass skips when nothing changed: reading a file whose metadata is the same as
// at the last read, and writing a file with the content it already holds.

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

// Whether a file may have changed since the last call: its device, inode, size, mode, owner and
// its modification and change times, or its absence. The first call always answers true.
class FileChange {
  public:
    bool changed(const std::filesystem::path& path);

  private:
    struct Seen {
        bool present = false;
        struct stat info {};
    };
    std::optional<Seen> last_;
};

// Whether a file with `content` is due to be written: when the content differs from the last
// one written, or the last write is kMaxAge old.
class WriteOnChange {
  public:
    static constexpr std::chrono::seconds kMaxAge{5};

    bool due(std::string content,
             std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());
    // The last write failed or the file went away: the next call is due whatever it holds.
    void forget() { last_.reset(); }

  private:
    std::optional<std::string> last_;
    std::chrono::steady_clock::time_point written_{};
};
