#include "tarnwickd/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

InstanceLock::InstanceLock(const std::filesystem::path& path) {
    // Never through a link: the folder is root's, but a planted link, in the file's place or the
    // folder's, must not aim the lock (and the process id written into it) at another file.
    const int folder =
        ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int fd = folder < 0
                       ? -1
                       : ::openat(folder, path.filename().c_str(),
                                  O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (folder >= 0) ::close(folder);
    if (fd < 0) {
        problem_ = path.string() + ": " + std::strerror(errno);
        return;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        problem_ = path.string() + ": not a regular file";
        ::close(fd);
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        problem_ = errno == EWOULDBLOCK ? "another tarnwickd is running (" + path.string() + ")"
                                        : path.string() + ": " + std::strerror(errno);
        ::close(fd);
        return;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // The lock itself holds; only the scripts' hint is missing.
    }
    fd_ = fd;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}
