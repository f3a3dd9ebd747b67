#include "CSMC/linux/KeptFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr std::size_t kPage = 4096;

// A sysfs attribute is produced whole by one read from its start; a regular file of a page or
// less comes back whole from one read too. Absent with errno ESPIPE for a pipe.
std::optional<std::string> readFromStart(int fd, std::size_t limit) {
    char buffer[kPage];
    ssize_t got;
    do {
        got = ::pread(fd, buffer, std::min(limit, kPage), 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(got));
}

// A pipe or device: read until its writer is done, as a stream.
std::optional<std::string> readToEnd(int fd, std::size_t limit) {
    std::string text;
    char buffer[kPage];
    while (text.size() < limit) {
        const ssize_t got = ::read(fd, buffer, std::min(limit - text.size(), kPage));
        if (got < 0 && errno == EINTR) continue;
        // A sensor that is powered down or gone answers with an error (EIO, ENODATA, ENXIO).
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

// The file behind `fd` has been replaced by a rename or removed: sysfs files are rewritten in
// place, but a device that goes (a reloaded driver's) takes its files with it.
bool unlinked(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) != 0 || info.st_nlink == 0;
}

bool writeFromStart(int fd, std::string_view text) {
    ssize_t n;
    do {
        n = ::pwrite(fd, text.data(), text.size(), 0);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(text.size());
}

void closeAll(std::unordered_map<std::string, int>& files) {
    for (const auto& [path, fd] : files) ::close(fd);
    files.clear();
}

}  // namespace

KeptFiles::KeptFiles(Opening opening, std::size_t capacity)
    : opening_(opening), capacity_(capacity) {}

KeptFiles::~KeptFiles() { clear(); }

void KeptFiles::clear() {
    closeAll(open_);
    closeAll(writers_);
    seen_.clear();
    streams_.clear();
}

void KeptFiles::recheck() {
    const auto now = std::chrono::steady_clock::now();
    if (now - checked_ < kRecheck) return;
    checked_ = now;
    for (auto* files : {&open_, &writers_}) {
        std::erase_if(*files, [](const auto& kept) {
            if (!unlinked(kept.second)) return false;
            ::close(kept.second);
            return true;
        });
    }
}

std::optional<std::string> KeptFiles::read(const std::filesystem::path& path, std::size_t limit) {
    limit = std::min(limit, kPage);
    recheck();
    const std::string& key = path.native();
    if (const auto kept = open_.find(key); kept != open_.end()) {
        auto text = readFromStart(kept->second, limit);
        if (text && !text->empty()) return text;
        // A gone device, or a file caught half rewritten: start from the path again.
        ::close(kept->second);
        open_.erase(kept);
    }

    int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY;
    if (opening_ == Opening::nonBlocking) flags |= O_NONBLOCK;
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) return std::nullopt;
    // A pipe cannot be read at an offset, nor kept: its writer answers each opening once.
    if (streams_.contains(key)) {
        auto text = readToEnd(fd, limit);
        ::close(fd);
        return text;
    }
    auto text = readFromStart(fd, limit);
    if (!text) {
        if (errno == ESPIPE) {
            text = readToEnd(fd, limit);
            if (streams_.size() < capacity_) streams_.insert(key);
        }
        ::close(fd);
        return text;
    }
    if (seen_.contains(key) && open_.size() < capacity_) {
        open_.emplace(key, fd);
        return text;
    }
    ::close(fd);
    if (seen_.size() < capacity_) seen_.insert(key);
    return text;
}

bool KeptFiles::write(const std::filesystem::path& path, std::string_view text) {
    recheck();
    const std::string& key = path.native();
    if (const auto kept = writers_.find(key); kept != writers_.end()) {
        if (writeFromStart(kept->second, text)) return true;
        ::close(kept->second);
        writers_.erase(kept);
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    const bool written = writeFromStart(fd, text);
    if (written && writers_.size() < capacity_) {
        writers_.emplace(key, fd);
    } else {
        ::close(fd);
    }
    return written;
}
