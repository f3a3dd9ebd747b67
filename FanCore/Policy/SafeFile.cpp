#include "FanCore/Policy/SafeFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <system_error>
#include <utility>

namespace SafeFile {
namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // Hands the descriptor back so that the caller can see the result of close().
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

std::string reasonOf(int error) {
    return std::error_code(error, std::generic_category()).message();
}

std::string failure(const std::filesystem::path& path, std::string_view step, int error) {
    std::string text = "cannot write ";
    text += path.string();
    text += " (";
    text += step;
    text += "): ";
    text += reasonOf(error);
    return text;
}

// The name only has to be hard to guess: O_EXCL already guarantees that the file is ours.
uint64_t randomSuffix() {
    uint64_t value = 0;
    if (::getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value)) {
        return value;
    }
    static std::atomic<uint64_t> counter{0};
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return static_cast<uint64_t>(ticks) ^ (static_cast<uint64_t>(::getpid()) << 32) ^
           (counter.fetch_add(1) * 0x9E3779B97F4A7C15ULL);
}

std::filesystem::path temporarySibling(const std::filesystem::path& path) {
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx",
                  static_cast<unsigned long long>(randomSuffix()));
    std::string name = ".";
    name += path.filename().string();
    name += '.';
    name += suffix;
    name += ".tmp";
    return path.parent_path() / name;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Makes the rename itself durable; the new content is already complete, so a failure here
// changes nothing a reader could see and is not reported.
void syncFolder(const std::filesystem::path& folder) {
    const FileDescriptor dir(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
}

}  // namespace

std::optional<std::string> readBounded(const std::filesystem::path& path, uid_t* owner,
                                       std::string* why) {
    const auto refuse = [why](std::string reason) -> std::optional<std::string> {
        if (why != nullptr) *why = std::move(reason);
        return std::nullopt;
    };
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) {
        if (errno == ENOENT) return std::nullopt;
        return refuse(errno == ELOOP ? "a link" : reasonOf(errno));
    }

    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return refuse(reasonOf(errno));
    if (!S_ISREG(info.st_mode)) return refuse("not a regular file");
    if (info.st_size < 0 || static_cast<uintmax_t>(info.st_size) > maxReadBytes) {
        return refuse("larger than 64 KiB");
    }
    if (owner != nullptr) *owner = info.st_uid;

    // One byte more than allowed tells a file that grew after fstat from one that fits exactly.
    std::string content(maxReadBytes + 1, '\0');
    std::size_t total = 0;
    while (total < content.size()) {
        const ssize_t got = ::read(file.get(), content.data() + total, content.size() - total);
        if (got < 0) {
            if (errno == EINTR) continue;
            return refuse(reasonOf(errno));
        }
        if (got == 0) break;
        total += static_cast<std::size_t>(got);
    }
    if (total > maxReadBytes) return refuse("larger than 64 KiB");
    content.resize(total);
    return content;
}

std::expected<void, std::string> writeAtomically(const std::filesystem::path& path,
                                                 std::string_view bytes,
                                                 const WriteOptions& options) {
    std::filesystem::path temporary;
    int fd = -1;
    // Retries only cover a name somebody else already took in a folder every user can write.
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = temporarySibling(path);
        // Mode 0666 lets the umask decide, as for any other file the writer creates.
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return std::unexpected(failure(path, "creating a temporary file", errno));

    FileDescriptor file(fd);
    auto abandon = [&](std::string_view step, int error) {
        if (file.get() >= 0) ::close(file.release());
        ::unlink(temporary.c_str());
        return std::unexpected(failure(path, step, error));
    };

    // fchmod, unlike the mode given to open(), is not narrowed by the umask.
    if (options.mode && ::fchmod(file.get(), *options.mode) != 0) {
        return abandon("setting its mode", errno);
    }
    if (!writeAll(file.get(), bytes)) return abandon("writing", errno);
    if (options.syncFile && ::fsync(file.get()) != 0) return abandon("syncing", errno);
    if (::close(file.release()) != 0) return abandon("closing", errno);
    if (::rename(temporary.c_str(), path.c_str()) != 0) return abandon("replacing", errno);
    if (options.syncFolder) syncFolder(path.parent_path());
    return {};
}

}  // namespace SafeFile
