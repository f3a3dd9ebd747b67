#include "CSMC/sandbox_root.h"

#include <cstdlib>

namespace SandboxRoot {
namespace {

std::filesystem::path fromEnvironment() {
    const char* value = std::getenv("TARNWICK_ROOT");
    if (value == nullptr || value[0] == '\0') return "/";
    std::filesystem::path root = std::filesystem::path(value).lexically_normal();
    // A relative root would move with the working directory; pin it once.
    if (root.is_relative()) root = std::filesystem::absolute(root).lexically_normal();
    return root;
}

std::filesystem::path& stored() {
    static std::filesystem::path path = fromEnvironment();
    return path;
}

}  // namespace

const std::filesystem::path& root() { return stored(); }

std::filesystem::path under(std::string_view absolute) {
    while (!absolute.empty() && absolute.front() == '/') absolute.remove_prefix(1);
    return (root() / absolute).lexically_normal();
}

void reload() { stored() = fromEnvironment(); }

}  // namespace SandboxRoot
