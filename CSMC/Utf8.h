#pragma once

// Texts from hardware and kernel files are bytes; the rest of the system holds valid UTF-8.

#include <string>
#include <string_view>

namespace Utf8 {

// `bytes` with every ill-formed sequence (each maximal invalid subpart) replaced by U+FFFD.
std::string sanitize(std::string_view bytes);

// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool valid(std::string_view bytes);

}  // namespace Utf8
