#include "tarnwickd/FileChange.h"

#include <tuple>

namespace {

auto identity(const struct stat& s) {
    return std::tie(s.st_dev, s.st_ino, s.st_size, s.st_mode, s.st_uid, s.st_gid, s.st_mtim.tv_sec,
                    s.st_mtim.tv_nsec, s.st_ctim.tv_sec, s.st_ctim.tv_nsec);
}

}  // namespace

bool FileChange::changed(const std::filesystem::path& path) {
    Seen now;
    now.present = ::stat(path.c_str(), &now.info) == 0;
    if (!now.present) now.info = {};
    const bool same =
        last_ && last_->present == now.present && identity(last_->info) == identity(now.info);
    last_ = now;
    return !same;
}

bool WriteOnChange::due(std::string content, std::chrono::steady_clock::time_point now) {
    if (last_ && *last_ == content && now - written_ < kMaxAge) return false;
    last_ = std::move(content);
    written_ = now;
    return true;
}
