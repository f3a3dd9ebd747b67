#pragma once

// Whole-file reads, atomic replacements for the simulator's own files (state.json), and in-place
// rewrites for the sysfs-style files it publishes, so that a reader polling them never sees half a
// file and a reader holding one open, as sysfs allows, sees every new value.

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

// Rewrites `path` in place with `text` when it holds anything else, keeping its inode, so that a
// reader holding it open reads the new text at offset 0; creates it with permission bits `mode`
// when missing (an existing file takes `mode` too). False with `error` set on failure. A reader
// that reads meanwhile gets the old text, the new one or, for an instant, nothing, never a mix.
bool update(const std::filesystem::path& path, std::string_view text, std::string& error,
            mode_t mode = 0644);

// As update(), without reading the file first: for callers that know what it holds and whose
// files count their readers' reads.
bool rewrite(const std::filesystem::path& path, std::string_view text, std::string& error,
             mode_t mode = 0644);

// The file's text; absent with `error` set when it cannot be read or is larger than `limit`
// bytes. A missing file sets `missing` instead of an error.
std::optional<std::string> read(const std::filesystem::path& path, size_t limit, std::string& error,
                                bool& missing);

}  // namespace SimFile
