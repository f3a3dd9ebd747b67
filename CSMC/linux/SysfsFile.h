#pragma once

// Small text files of sysfs and procfs: attributes of a few bytes, read whole.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace SysfsFile {

// The file's text, at most `limit` bytes of it; absent when it cannot be opened or read (a sensor
// that is asleep or gone answers a read with an error).
std::optional<std::string> read(const std::filesystem::path& path, std::size_t limit = 4096);

// The text without leading and trailing white space (attributes end in a line feed).
std::string_view trim(std::string_view text);

}  // namespace SysfsFile
