#include "Tarnwick/model/InstalledDaemon.h"

#include <sys/stat.h>

#include <QFile>
#include <QString>
#include <sstream>
#include <string>

#include "CSMC/sandbox_root.h"
#include "FanCore/Policy/Paths.h"
#include "FanCore/Policy/SafeFile.h"

namespace {

// A file changed within this long of our look may change again within the same time stamp, so
// its signature proves nothing yet.
constexpr time_t kSettledSeconds = 2;

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

std::filesystem::path InstalledDaemon::executableOf(const std::filesystem::path& unit) {
    // The enabling link leads to the unit: a packaged one in systemd's folder, or a copy in /etc.
    std::error_code error;
    const std::filesystem::path target = std::filesystem::canonical(unit, error);
    const std::optional<std::string> text = error ? std::nullopt : SafeFile::readBounded(target);
    std::istringstream lines(text.value_or(std::string()));
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("ExecStart=/")) continue;
        const std::string program = line.substr(10, line.find_first_of(" \t", 10) - 10);
        return SandboxRoot::under(program);
    }
    return Paths::daemonBinary();
}

std::optional<QByteArray> InstalledDaemon::readFile(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return std::nullopt;
    return bytes;
}

bool InstalledDaemon::same(const Signature& a, const Signature& b) {
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           sameTime(a.modified, b.modified) && sameTime(a.changed, b.changed);
}

bool InstalledDaemon::differs(const std::filesystem::path& installed,
                              const std::optional<QByteArray>& bundled) {
    struct stat info {};
    if (::stat(installed.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        seen_.reset();
        return bundled.has_value();
    }
    const Signature now{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
    if (seen_ && same(*seen_, now)) return differed_;

    if (bundled && info.st_size != static_cast<off_t>(bundled->size())) {
        differed_ = true;
    } else {
        differed_ = readFile(installed) != bundled;
    }
    seen_.reset();
    timespec clock{};
    ::clock_gettime(CLOCK_REALTIME, &clock);
    if (clock.tv_sec - info.st_ctim.tv_sec >= kSettledSeconds) seen_ = now;
    return differed_;
}
