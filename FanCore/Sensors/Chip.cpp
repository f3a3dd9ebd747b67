#include "FanCore/Sensors/Chip.h"

#include <charconv>
#include <mutex>
#include <system_error>

#include "CSMC/CpuBrand.h"
#include "CSMC/sandbox_root.h"

namespace Chip {
namespace {

struct Identity {
    std::string brand;
    std::optional<int64_t> generation;
};

std::mutex& lock() {
    static std::mutex mutex;
    return mutex;
}

std::optional<Identity>& stored() {
    static std::optional<Identity> identity;
    return identity;
}

// Computed once; concurrent first uses wait for the one computation.
const Identity& identity() {
    std::lock_guard guard(lock());
    auto& identity = stored();
    if (!identity) {
        std::string text = CpuBrand::read(SandboxRoot::root());
        auto number = generationOf(text);
        identity = Identity{std::move(text), number};
    }
    return *identity;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

const std::string& brand() { return identity().brand; }

std::optional<int64_t> generation() { return identity().generation; }

std::optional<int64_t> generationOf(std::string_view text) {
    for (std::size_t at = text.find('M'); at != std::string_view::npos;
         at = text.find('M', at + 1)) {
        std::size_t end = at + 1;
        while (end < text.size() && isDigit(text[end])) ++end;
        if (end == at + 1) continue;
        int64_t value = 0;
        const char* first = text.data() + at + 1;
        const char* last = text.data() + end;
        const auto [stop, error] = std::from_chars(first, last, value);
        if (error != std::errc() || stop != last) return std::nullopt;
        return value;
    }
    return std::nullopt;
}

void reload() {
    std::lock_guard guard(lock());
    stored().reset();
}

}  // namespace Chip
