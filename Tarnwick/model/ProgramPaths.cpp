#include "Tarnwick/model/ProgramPaths.h"

#include <filesystem>
#include <system_error>

namespace {

namespace fs = std::filesystem;

fs::path self() {
    std::error_code error;
    return fs::read_symlink("/proc/self/exe", error);
}

bool inBundle(const fs::path& program) {
    const fs::path folder = program.parent_path();
    return program.filename() == ProgramPaths::kTrayApplication &&
           folder.filename() == "tarnwick" && folder.parent_path().filename() == "libexec";
}

QString text(const fs::path& path) { return QString::fromStdString(path.lexically_normal()); }

}  // namespace

namespace ProgramPaths {

QString launcher() {
    const fs::path program = self();
    return text(inBundle(program) ? program.parent_path() / "../../bin/tarnwick" : program);
}

QString bundleDir() {
    const fs::path program = self();
    return text(inBundle(program) ? program.parent_path()
                                  : program.parent_path() / "../libexec/tarnwick");
}

}  // namespace ProgramPaths
