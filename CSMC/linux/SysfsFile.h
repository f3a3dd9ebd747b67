#pragma once

// Small text files of sysfs and procfs: attributes of a few bytes, read whole and written in one
// write, as the kernel drivers take them. The simulated Mac, which imitates those files, shares it.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace SysfsFile {

// The file's text, at most `limit` bytes of it; absent when it cannot be opened or read (a sensor
// that is asleep or gone answers a read with an error).
std::optional<std::string> read(const std::filesystem::path& path, std::size_t limit = 4096);

// Stores `text` in the attribute in one write (a driver takes a value in one write; a partial
// store would be another value). 0 on success, else the errno of the open, the write (a driver
// answers a refused value there) or the close; EIO for a short write.
int write(const std::filesystem::path& path, std::string_view text);

// The whole number on the first line of `text`, blanks around it allowed; absent for anything
// else. Only the first line counts: an attribute rewritten in place with a shorter number keeps
// the end of the longer one behind its line feed.
std::optional<long long> parseInteger(std::string_view text);

// The entries of `folder` in the order the file system lists them; empty when it cannot be
// listed, and only those listed so far when listing fails part way (a device removed meanwhile).
// Never throws.
std::vector<std::filesystem::path> entries(const std::filesystem::path& folder);

// The text without leading and trailing white space (attributes end in a line feed).
std::string_view trim(std::string_view text);

}  // namespace SysfsFile
