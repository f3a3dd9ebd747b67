#include "sim/SimFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "FanCore/Policy/SafeFile.h"

namespace SimFile {
namespace {

std::string reason(const std::filesystem::path& path, int code) {
    return path.string() + ": " + std::strerror(code);
}

// Puts `text` in the open file `fd`. The file is emptied first and then written whole: the new
// bytes land in a fresh page and the size grows from 0 to their length only once they are all in
// it, so a reader gets the old text (its page is left as it was), nothing, or the new text. The
// other order, writing over the old bytes and then trimming, lets a reader copy old and new digits
// together, or a longer new number cut to the old length ("4500" of "45000"): wrong numbers,
// where an empty read is only a reading to take again. (A reader stalled inside one read across
// a whole rewrite could still pair the old page with the new length; sysfs values change far less
// often than that.)
bool putInPlace(int fd, std::string_view text, mode_t mode) {
    // The umask must not decide a mode that readers inspect (a driver file's write permission).
    if (::fchmod(fd, mode) != 0) return false;
    if (::ftruncate(fd, 0) != 0) return false;
    off_t at = 0;
    while (!text.empty()) {
        const ssize_t n = ::pwrite(fd, text.data(), text.size(), at);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        text.remove_prefix(static_cast<size_t>(n));
        at += n;
    }
    return true;
}

bool inPlace(const std::filesystem::path& path, std::string_view text, std::string& error,
             mode_t mode, bool compare) {
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    if (compare) {
        if (const int fd = ::open(path.c_str(), O_RDONLY | kFlags); fd >= 0) {
            char held[4096];
            ssize_t n;
            do {
                n = ::pread(fd, held, sizeof held, 0);
            } while (n < 0 && errno == EINTR);
            ::close(fd);
            if (n >= 0 && std::string_view(held, static_cast<size_t>(n)) == text) return true;
        }
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | kFlags, mode);
    // A read-only attribute (0444) is still ours to change: its owner may open it for a moment.
    if (fd < 0 && errno == EACCES && ::chmod(path.c_str(), mode | S_IWUSR) == 0) {
        fd = ::open(path.c_str(), O_WRONLY | kFlags);
    }
    if (fd < 0) {
        error = reason(path, errno);
        return false;
    }
    struct stat info {};
    const bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && putInPlace(fd, text, mode);
    if (!ok) error = reason(path, S_ISREG(info.st_mode) ? errno : EINVAL);
    ::close(fd);
    return ok;
}

}  // namespace

bool update(const std::filesystem::path& path, std::string_view text, std::string& error,
            mode_t mode) {
    return inPlace(path, text, error, mode, true);
}

bool rewrite(const std::filesystem::path& path, std::string_view text, std::string& error,
             mode_t mode) {
    return inPlace(path, text, error, mode, false);
}

bool replace(const std::filesystem::path& path, std::string_view text, std::string& error,
             mode_t mode) {
    // The simulator's files need no durability: a crash loses a tick, and syncs would slow it.
    const auto written = SafeFile::writeAtomically(
        path, text, {.mode = mode, .syncFile = false, .syncFolder = false});
    if (!written) error = written.error();
    return written.has_value();
}

std::optional<std::string> read(const std::filesystem::path& path, size_t limit, std::string& error,
                                bool& missing) {
    missing = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            missing = true;
        } else {
            error = reason(path, errno);
        }
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = reason(path, errno);
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > limit) {
            error = path.string() + ": larger than " + std::to_string(limit) + " bytes";
            ::close(fd);
            return std::nullopt;
        }
    }
    ::close(fd);
    return text;
}

}  // namespace SimFile
