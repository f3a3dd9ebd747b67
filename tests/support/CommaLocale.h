#pragma once

// A locale whose decimal separator is a comma (German), compiled into a private folder with
// localedef and made the process's locale while the object lives. Where the locale sources or
// localedef are missing, active() is false and why() says what is missing.

#include <clocale>
#include <cstdlib>
#include <string>

#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace support {

class CommaLocale {
  public:
    static constexpr const char* name = "de_DE.UTF-8";

    CommaLocale() {
        const std::string target = (folder_.path() / name).string();
        const std::string command = "localedef -i de_DE -f UTF-8 '" + target + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) {
            why_ = "localedef cannot build de_DE.UTF-8 (the locales package is missing)";
            return;
        }
        path_ = std::make_unique<ScopedEnv>("LOCPATH", folder_.path().string());
        if (const char* current = std::setlocale(LC_ALL, nullptr)) previous_ = current;
        if (std::setlocale(LC_ALL, name) == nullptr) {
            why_ = "the compiled de_DE.UTF-8 locale does not load";
            return;
        }
        active_ = true;
    }
    ~CommaLocale() {
        if (active_) std::setlocale(LC_ALL, previous_.c_str());
    }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    bool active() const { return active_; }
    const std::string& why() const { return why_; }
    // LOCPATH for child processes that should find the locale too.
    std::string locpath() const { return folder_.path().string(); }

  private:
    TempDir folder_{"tarnwick-locale"};
    std::unique_ptr<ScopedEnv> path_;
    std::string previous_ = "C";
    std::string why_;
    bool active_ = false;
};

}  // namespace support
