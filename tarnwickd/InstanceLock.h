#pragma once

// One daemon per machine: an exclusive lock on a file in the status folder, held for the
// process's life (the system drops it when the process ends, however it ends). The file holds
// the holder's process id, so that the install scripts can stop whichever daemon holds it.

#include <filesystem>
#include <string>

class InstanceLock {
  public:
    // Takes the lock at `path` without waiting, neither the file nor its folder reached through a
    // link; held() tells whether it was taken, and problem() why not (another daemon, or a file
    // that cannot be opened safely).
    explicit InstanceLock(const std::filesystem::path& path);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    bool held() const { return fd_ >= 0; }
    const std::string& problem() const { return problem_; }

  private:
    int fd_ = -1;
    std::string problem_;
};
