#pragma once

// Whole-file reads and atomic replacements for the simulator's own files, so that a reader polling
// them never sees half a file.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace SimFile {

// Writes `text` to a temporary file beside `path` and renames it over `path`, with permission
// bits `mode`; false with `error` set (the path and the system's reason) on failure, leaving any
// previous file in place.
bool replace(const std::filesystem::path& path, std::string_view text, std::string& error,
             mode_t mode = 0644);

// The file's text; absent with `error` set when it cannot be read or is larger than `limit`
// bytes. A missing file sets `missing` instead of an error.
std::optional<std::string> read(const std::filesystem::path& path, size_t limit, std::string& error,
                                bool& missing);

}  // namespace SimFile
