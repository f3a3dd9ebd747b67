#pragma once

// Small sysfs and procfs files read again on every pass, kept open between reads: a read is then
// one positioned read and a link check instead of a path walk, an open and a close.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
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
    // replaced or removed since is opened afresh. Anything else is opened and read whole each time.
    std::optional<std::string> read(const std::filesystem::path& path, std::size_t limit = 4096);

    // Closes every kept file.
    void clear();

    std::size_t keptCount() const { return open_.size(); }

  private:
    Opening opening_;
    std::size_t capacity_;
    std::unordered_map<std::string, int> open_;
    std::unordered_set<std::string> seen_;
};
