#pragma once

// How many fans this machine has shown since it booted, kept in a file of the status folder: a
// daemon started after a crash, or one that cannot read "FNum", still hands back every fan its
// predecessor may have left in manual control.

#include <cstdint>
#include <filesystem>
#include <vector>

class KnownFans {
  public:
    // Reads the count from `file`; 0 when it is missing or does not hold a fan count.
    explicit KnownFans(std::filesystem::path file);

    int64_t count() const { return count_; }
    // The indices 0 to count() - 1.
    std::vector<int64_t> indices() const;

    // Notes that the machine has shown `fans` fans; the file is replaced when the count grows (a
    // failure to write is no error: the count in memory still serves this run).
    void saw(int64_t fans);

  private:
    std::filesystem::path file_;
    int64_t count_ = 0;
};
