#include "FanCore/Text/Numbers.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace FanText {
namespace {

// 2^63 is the first double past int64's range; anything from there on cannot be converted.
constexpr double kIntegerLimit = 9223372036854775808.0;

std::optional<int64_t> integer(double whole) {
    if (!std::isfinite(whole) || whole >= kIntegerLimit || whole < -kIntegerLimit) {
        return std::nullopt;
    }
    return static_cast<int64_t>(whole);
}

// `value` with `decimals` digits after a full stop, exact ties to even; empty when it does not fit.
std::string digits(double value, int decimals) {
    char buffer[400];  // the longest finite double has 309 integer digits
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (error != std::errc()) return {};
    return {buffer, end};
}

}  // namespace

std::optional<int64_t> truncatedInteger(double value) { return integer(std::trunc(value)); }

std::optional<int64_t> roundedInteger(double value) { return integer(std::round(value)); }

std::string integerOrDash(std::optional<int64_t> value) {
    return value ? std::to_string(*value) : std::string("\u2013");
}

std::string wholeDigits(double value) {
    // Adding zero turns the -0 of a truncated small negative into 0.
    return fixed(std::trunc(value) + 0.0, 0);
}

std::string fixed(double value, int decimals) {
    // A NaN's sign is noise from the arithmetic that made it.
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    // An exact half has at most decimals + 1 binary fraction digits, so that many decimal ones
    // show it exactly; the next double away from zero then rounds the way Qt's texts round.
    const std::string longer = digits(value, decimals + 1);
    const bool half =
        std::ldexp(value, decimals + 1) == std::trunc(std::ldexp(value, decimals + 1)) &&
        !longer.empty() && longer.back() == '5';
    return digits(half ? std::nextafter(value, value < 0 ? -HUGE_VAL : HUGE_VAL) : value, decimals);
}

}  // namespace FanText
