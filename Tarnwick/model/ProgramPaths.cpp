#include "Tarnwick/model/ProgramPaths.h"

#include <string>
#include <string_view>
#include <system_error>

namespace {

namespace fs = std::filesystem;

// Empty when unknown. A program replaced on disk while it runs (a package upgrade) reads as
// "<path> (deleted)"; its successor is at the path.
fs::path self() {
    std::error_code error;
    std::string path = fs::read_symlink("/proc/self/exe", error).string();
    constexpr std::string_view deleted = " (deleted)";
    if (path.ends_with(deleted)) path.resize(path.size() - deleted.size());
    return path;
}

QString text(const fs::path& path) { return QString::fromStdString(path.lexically_normal()); }

}  // namespace

namespace ProgramPaths {

Layout layoutOf(const fs::path& program) {
    if (!program.is_absolute()) return {};
    const fs::path folder = program.parent_path();
    if (program.filename() == kTrayApplication)
        return {text(folder / "../../bin/tarnwick"), text(folder)};
    return {text(program), text(folder / "../libexec/tarnwick")};
}

QString launcher() { return layoutOf(self()).launcher; }

QString bundleDir() { return layoutOf(self()).bundleDir; }

}  // namespace ProgramPaths
