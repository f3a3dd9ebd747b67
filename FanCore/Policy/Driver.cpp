#include "FanCore/Policy/Driver.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<Driver, std::string_view>, 5> kTexts{{
    {Driver::system, "system"},
    {Driver::daemon, "daemon"},
    {Driver::overridden, "overridden"},
    {Driver::handingBack, "handing back"},
    {Driver::sleeping, "sleeping"},
}};

}  // namespace

namespace Drivers {

std::string_view text(Driver driver) {
    for (const auto& [value, name] : kTexts) {
        if (value == driver) return name;
    }
    return "system";
}

std::optional<Driver> fromText(std::string_view text) {
    for (const auto& [value, name] : kTexts) {
        if (name == text) return value;
    }
    return std::nullopt;
}

}  // namespace Drivers
