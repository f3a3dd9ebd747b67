#include "sim/SimFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace SimFile {
namespace {

std::string reason(const std::filesystem::path& path, int code) {
    return path.string() + ": " + std::strerror(code);
}

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
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
    // A dot name keeps the temporary out of the readers' patterns (temp*_input, *.json).
    const std::filesystem::path temporary =
        path.parent_path() / ("." + path.filename().string() + ".tmp");
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        error = reason(temporary, errno);
        return false;
    }
    // The umask must not decide a mode that readers inspect (a driver file's write permission).
    if (::fchmod(fd, mode) != 0 || !writeAll(fd, text)) {
        error = reason(temporary, errno);
        ::close(fd);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = reason(path, errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
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
