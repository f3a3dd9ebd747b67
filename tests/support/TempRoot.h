#pragma once

#include <filesystem>
#include <functional>
#include <string_view>
#include <utility>

#include "CSMC/sandbox_root.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace support {

// A throw-away sandbox root: TARNWICK_ROOT names a fresh temporary directory while the object
// lives. Every change of TARNWICK_ROOT, in and out, is followed by SandboxRoot::reload() and then
// by `reload`, where a suite resets the caches of its own layers. Setup a suite wants after the
// root is entered, or teardown before it is left, goes in a subclass's constructor or destructor.
class TempRoot {
  public:
    explicit TempRoot(std::function<void()> reload = {}, std::string_view prefix = "tarnwick-root")
        : dir_(prefix), env_("TARNWICK_ROOT", dir_.path().string()), reload_(std::move(reload)) {
        reloadAll();
    }
    ~TempRoot() {
        env_.restore();
        reloadAll();
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::filesystem::path& path() const { return dir_.path(); }

  private:
    void reloadAll() const {
        SandboxRoot::reload();
        if (reload_) reload_();
    }

    TempDir dir_;
    ScopedEnv env_;
    std::function<void()> reload_;
};

}  // namespace support
