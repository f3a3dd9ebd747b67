#pragma once

// Numbers as the daemon, the application and the diagnostics write them: the same digits whatever
// the process's locale, and never a conversion to an integer type that would be undefined.

#include <cstdint>
#include <optional>
#include <string>

namespace FanText {

// `value` truncated towards zero; absent when it is not finite or does not fit a 64-bit integer.
std::optional<int64_t> truncatedInteger(double value);

// `value` rounded to the nearest integer, halves away from zero; absent as truncatedInteger.
std::optional<int64_t> roundedInteger(double value);

// `value` in decimal, or an en dash when absent.
std::string integerOrDash(std::optional<int64_t> value);

// `value` truncated towards zero with all of its integer digits (309 for the largest double),
// never "-0"; "nan", "inf" or "-inf" when it is not finite.
std::string wholeDigits(double value);

// `value` with `decimals` (0 to 17) digits after a full stop, an exact half rounded away from
// zero as Qt's number texts round it (61.25 gives "61.3"); "nan", "inf" or "-inf" when it is not
// finite.
std::string fixed(double value, int decimals);

}  // namespace FanText
