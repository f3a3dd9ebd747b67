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

}  // namespace

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
