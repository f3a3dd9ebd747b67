#pragma once

#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>

namespace support {

// One environment variable set to a value while the object lives; restore() (also run on
// destruction, once) puts back the previous value or unsets it if there was none.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) previous_ = old;
        ::setenv(name_.c_str(), value.c_str(), 1);
    }
    ~ScopedEnv() { restore(); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    void restore() {
        if (restored_) return;
        restored_ = true;
        if (previous_) {
            ::setenv(name_.c_str(), previous_->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }

  private:
    std::string name_;
    std::optional<std::string> previous_;
    bool restored_ = false;
};

}  // namespace support
