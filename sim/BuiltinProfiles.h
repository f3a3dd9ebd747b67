#pragma once

// The profiles of sim/profiles, compiled in so that tests and the installed program find them
// without a source tree.

#include <span>
#include <string_view>

struct BuiltinProfile {
    std::string_view name;  // file name without ".json"
    std::string_view json;
};

// Every built-in profile, sorted by name.
std::span<const BuiltinProfile> builtinProfiles();
