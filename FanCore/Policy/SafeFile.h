#pragma once

// File access for the two files shared between the daemon and the application. The settings
// folder is writable by every user, so a reader must never follow links, block, or swallow a
// file of any size; a writer must never leave a partial file behind.

#include <cstddef>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace SafeFile {

inline constexpr std::size_t maxReadBytes = std::size_t{64} * 1024;

// The whole content of a regular file of at most maxReadBytes, opened without following a final
// symbolic link and without blocking; std::nullopt for anything else (missing, link, FIFO,
// folder, device, larger or growing file, any I/O error).
std::optional<std::string> readBounded(const std::filesystem::path& path);

// Replaces `path` with `bytes` through a unique temporary file in the same folder, synced and
// renamed over the target; the file gets `mode` when given, else the writer's default permissions.
// On failure the old file is untouched, no temporary file remains, and the error names the path
// and the reason.
std::expected<void, std::string> writeAtomically(
    const std::filesystem::path& path, std::string_view bytes,
    std::optional<std::filesystem::perms> mode = std::nullopt);

}  // namespace SafeFile
