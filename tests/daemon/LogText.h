#pragma once

// The daemon's log as a person reads it: each line without its journal priority prefix ("<6>").

#include <regex>
#include <string>

inline std::string withoutPriorities(const std::string& log) {
    static const std::regex prefix("(^|\n)<[0-7]>");
    return std::regex_replace(log, prefix, "$1");
}
