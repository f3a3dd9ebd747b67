#include "FanCore/Policy/Platform.h"

#include <sys/utsname.h>

#include <charconv>

namespace Platform {

std::array<int, 3> versionNumbers(std::string_view release) {
    std::array<int, 3> numbers{0, 0, 0};
    const char* position = release.data();
    const char* const end = release.data() + release.size();
    for (int& number : numbers) {
        int value = 0;
        const auto [next, error] = std::from_chars(position, end, value);
        if (error != std::errc{} || value < 0) break;
        number = value;
        position = next;
        // "6.1.0-18-amd64": the numbers after the first non-dot belong to the distribution.
        if (position == end || *position != '.') break;
        ++position;
    }
    return numbers;
}

std::array<int, 3> osVersion() {
    utsname names{};
    if (::uname(&names) != 0) return {0, 0, 0};
    return versionNumbers(names.release);
}

}  // namespace Platform
