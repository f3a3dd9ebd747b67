#pragma once

// The sandbox root: TARNWICK_ROOT moves every absolute path the system touches under a directory.
// Unset, empty or "/" means the real machine.

#include <filesystem>
#include <string_view>

namespace SandboxRoot {

// The root directory, read from the environment once and kept.
const std::filesystem::path& root();

// `absolute` (which starts with '/') placed under the root.
std::filesystem::path under(std::string_view absolute);

// Test seam: reads TARNWICK_ROOT again.
void reload();

}  // namespace SandboxRoot
