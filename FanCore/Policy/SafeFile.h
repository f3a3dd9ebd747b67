#pragma once

// File access for the two files shared between the daemon and the application. The settings
// folder is writable by every user, so a reader must never follow links, block, or swallow a
// file of any size; a writer must never leave a partial file behind.

#include <sys/types.h>

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
// folder, device, larger or growing file, any I/O error). `owner`, when given, receives the
// file's owner; `why`, when given, the reason a file that exists could not be read (left empty
// when there is no file).
std::optional<std::string> readBounded(const std::filesystem::path& path, uid_t* owner = nullptr,
                                       std::string* why = nullptr);

struct WriteOptions {
    std::optional<mode_t> mode{};  // given to the new file; otherwise the umask decides
    bool syncFile = true;          // the content reaches the disk before the rename
    bool syncFolder = true;        // the rename itself reaches the disk
};

// Replaces `path` with `bytes` through a unique temporary file in the same folder, synced as
// `options` say and renamed over the target. On failure the old file is untouched, no temporary
// file remains, and the error names the path and the reason.
std::expected<void, std::string> writeAtomically(const std::filesystem::path& path,
                                                 std::string_view bytes,
                                                 const WriteOptions& options = {});

}  // namespace SafeFile
