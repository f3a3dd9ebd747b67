#pragma once

// The operating system as the texts name it, its version as three numbers, and the name of the
// fans' own control.

#include <array>
#include <string_view>

namespace Platform {

inline constexpr std::string_view osName = "Linux";

// Who runs the fans when the daemon does not: every text, log line and status names the baseline
// this way. Under Linux on Mac hardware the machine's own curve lives in its firmware, not in the
// operating system.
inline constexpr std::string_view baselineName = "firmware";

// Major, minor and patch of the running system (the kernel release on Linux); zeros when unknown.
std::array<int, 3> osVersion();

// The leading "major.minor.patch" of a release text such as "6.1.0-18-amd64"; missing or
// unreadable numbers are 0.
std::array<int, 3> versionNumbers(std::string_view release);

}  // namespace Platform
