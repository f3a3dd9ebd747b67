#pragma once

// Small sysfs and procfs files read again on every pass, kept open between reads: a read is then
// one positioned read instead of a path walk, an open and a close.
//
// A sysfs attribute keeps its inode while its device lives, and fails its reads once the device
// is gone; a kept file is then opened afresh from its path. A file replaced by a rename (the
// simulated Mac starting again) still reads its old text, so every kept file is checked for that
// once every kRecheck, not before each read.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

class KeptFiles {
  public:
    enum class Opening {
        nonBlocking,  // a named pipe planted in a sandbox root cannot stall the caller
        blocking,     // a named pipe is waited for, as a simulated driver answers through one
    };

    // Holds at most `capacity` files open; further files are read without being kept.
    explicit KeptFiles(Opening opening = Opening::nonBlocking, std::size_t capacity = 256);
    ~KeptFiles();
    KeptFiles(const KeptFiles&) = delete;
    KeptFiles& operator=(const KeptFiles&) = delete;

    // The file's text, at most `limit` bytes of it (at most one page); absent when it cannot be
    // opened or read. A regular file (every sysfs attribute is one) is kept from its second read
    // on, so that what is read once (labels, names) holds no descriptor; a kept file that was
    // replaced or removed since is opened afresh. Anything else is opened and read each time until
    // its writer is done or `limit` bytes came.
    // A read that fails or comes back empty drops the kept descriptor and opens the path again.
    std::optional<std::string> read(const std::filesystem::path& path, std::size_t limit = 4096);

    // Stores `text` from the start of the file through a descriptor kept open (an attribute
    // takes every write whole); false when it cannot be opened or the write falls short, after
    // one attempt on a fresh descriptor.
    bool write(const std::filesystem::path& path, std::string_view text);

    // Closes every kept file.
    void clear();

    static constexpr std::chrono::seconds kRecheck{10};

  private:
    // Closes the kept files that were replaced or removed, at most once every kRecheck.
    void recheck();

    Opening opening_;
    std::size_t capacity_;
    std::unordered_map<std::string, int> open_;
    std::unordered_map<std::string, int> writers_;
    std::unordered_set<std::string> seen_;
    std::unordered_set<std::string> streams_;  // paths that turned out to be pipes
    std::chrono::steady_clock::time_point checked_ = std::chrono::steady_clock::now();
};
