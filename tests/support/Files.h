#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace support {

// Writes `text` to `path` as it is, creating the folders on the way.
inline void writeText(const std::filesystem::path& path, std::string_view text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Writes `text` beside `path` and renames it into place, so that a program watching `path` never
// reads half of it.
inline void replaceText(const std::filesystem::path& path, std::string_view text) {
    const std::filesystem::path tmp = path.string() + ".tmp";
    writeText(tmp, text);
    std::filesystem::rename(tmp, path);
}

// The whole file, read in blocks (daemon binaries are large); empty when it cannot be read.
inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The names in a folder, sorted, so that a test can see that no temporary file was left behind.
inline std::vector<std::string> entries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace support
