#include <gtest/gtest.h>

#include <string>

#include "CSMC/Utf8.h"

namespace {

TEST(Utf8, ReplacesEachMaximalInvalidSubpart) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain", "plain"},
        {"45 \xC2\xB0"
         "C",
         "45 \xC2\xB0"
         "C"},
        {"\xFF", "\xEF\xBF\xBD"},
        {"a\xC3", "a\xEF\xBF\xBD"},                // truncated at the end
        {"\xE2\x82x", "\xEF\xBF\xBDx"},            // one replacement for the cut sequence
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // overlong
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},                  // surrogate
        {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // > U+10FFFF
        {"\xF0\x9F\x8C\xA1", "\xF0\x9F\x8C\xA1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(Utf8::sanitize(c.in), c.out);
        EXPECT_EQ(Utf8::valid(c.in), c.in == c.out);
    }
}

}  // namespace
