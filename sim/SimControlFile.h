#pragma once

// control.json, re-read on every tick. A missing file means the profile's defaults; a file that
// cannot be read, does not parse or names keys or sensors the machine lacks leaves the control in
// force untouched.

#include <filesystem>
#include <optional>
#include <string>

#include "sim/SimMachine.h"

class SimControlFile {
  public:
    static constexpr size_t kMaxBytes = 64 * 1024;

    explicit SimControlFile(std::filesystem::path path) : path_(std::move(path)) {}

    // Applies the file's current content to `machine` when it changed since the last call.
    // Returns a message (naming the file and the problem) the first time a given content is
    // rejected on two calls in a row, and an empty text otherwise, so that callers report each
    // problem once.
    std::string refresh(SimMachine& machine);

  private:
    std::filesystem::path path_;
    bool first_ = true;
    std::optional<std::string> last_;  // the content last seen; none while the file is missing
    std::string lastError_;
    std::optional<std::string> rejected_;  // a content rejected once, not yet reported
};
