#include "CSMC/linux/SysfsFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <system_error>

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

int write(const std::filesystem::path& path, std::string_view text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return errno;
    ssize_t n;
    do {
        n = ::write(fd, text.data(), text.size());
    } while (n < 0 && errno == EINTR);
    // Keep the write's errno, not close()'s: it is the driver's verdict on the value.
    const int writeError = n < 0 ? errno : (n == static_cast<ssize_t>(text.size()) ? 0 : EIO);
    const int closeError = ::close(fd) == 0 ? 0 : errno;
    return writeError != 0 ? writeError : closeError;
}

std::optional<long long> parseInteger(std::string_view text) {
    text = trim(text.substr(0, text.find('\n')));
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::vector<std::filesystem::path> entries(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> out;
    std::error_code error;
    // The error-code increment: the throwing one would end the process over a vanished folder.
    for (std::filesystem::directory_iterator entry(folder, error);
         !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        out.push_back(entry->path());
    }
    return out;
}

std::string_view trim(std::string_view text) {
    constexpr std::string_view space = " \t\n\r\f\v";
    const auto first = text.find_first_not_of(space);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(space);
    return text.substr(first, last - first + 1);
}

}  // namespace SysfsFile
