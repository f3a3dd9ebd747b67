#include "CSMC/linux/SysfsFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace SysfsFile {

std::optional<std::string> read(const std::filesystem::path& path, std::size_t limit) {
    // Non-blocking so that a FIFO planted in a sandbox root cannot stall the caller.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::string text(limit, '\0');
    std::size_t filled = 0;
    bool failed = false;
    while (filled < limit) {
        const ssize_t got = ::read(fd, text.data() + filled, limit - filled);
        if (got < 0 && errno == EINTR) continue;
        // A sensor that is powered down or gone answers with an error (EIO, ENODATA, ENXIO).
        if (got < 0) {
            failed = true;
            break;
        }
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    ::close(fd);
    if (failed) return std::nullopt;
    text.resize(filled);
    return text;
}

std::string_view trim(std::string_view text) {
    constexpr std::string_view space = " \t\n\r\f\v";
    const auto first = text.find_first_not_of(space);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(space);
    return text.substr(first, last - first + 1);
}

}  // namespace SysfsFile
