#pragma once

// Names for parameterised cases, so that test listings show a short name instead of the
// parameter's bytes.

#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>

namespace support {

// `text` as a case name: letters and digits stay, "-" becomes "m" and "." "p" (so -2.5 reads
// "m2p5"), and every other run of characters one "_"; "none" when nothing is left.
inline std::string caseName(const std::string& text) {
    std::string name;
    bool gap = false;
    for (const char c : text) {
        const bool kept = std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.';
        if (!kept) {
            gap = !name.empty();
            continue;
        }
        if (gap) name += '_';
        gap = false;
        name += c == '-' ? 'm' : c == '.' ? 'p' : c;
    }
    return name.empty() ? "none" : name;
}

// The values written one after another with spaces, as a case name: caseNameOf("ui8 ", 2.5) is
// "ui8_2p5".
template <typename... T>
std::string caseNameOf(const T&... parts) {
    std::ostringstream text;
    ((text << parts << ' '), ...);
    return caseName(text.str());
}

// Names parameterised cases after their `name` member.
struct CaseName {
    template <typename T>
    std::string operator()(const ::testing::TestParamInfo<T>& info) const {
        return caseName(info.param.name);
    }
};

}  // namespace support
