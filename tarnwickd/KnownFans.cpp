#include "tarnwickd/KnownFans.h"

#include <charconv>
#include <optional>
#include <string>
#include <utility>

#include "FanCore/Policy/SafeFile.h"
#include "FanCore/Sensors/Fans.h"

KnownFans::KnownFans(std::filesystem::path file) : file_(std::move(file)) {
    const std::optional<std::string> text = SafeFile::readBounded(file_);
    if (!text) return;
    int64_t value = 0;
    const char* end = text->data() + text->size();
    const auto [stop, error] = std::from_chars(text->data(), end, value);
    if (error == std::errc{} && (stop == end || *stop == '\n') && value >= 0) {
        count_ = std::min(value, Fans::maxCount);
    }
}

std::vector<int64_t> KnownFans::indices() const { return Fans::indices(count_); }

void KnownFans::saw(int64_t fans) {
    fans = std::min(fans, Fans::maxCount);
    if (fans <= count_) return;
    count_ = fans;
    (void)SafeFile::writeAtomically(file_, std::to_string(count_) + "\n",
                                    {.mode = 0644, .syncFile = false, .syncFolder = false});
}
