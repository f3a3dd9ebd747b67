#pragma once

// A fresh sandbox root for one test (TARNWICK_ROOT points into a new temporary directory while the
// object lives), and the SMC connection forgotten on the way in and out, so no test sees another's
// transport or the real machine's SMC.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "CSMC/linux/sandbox_root.h"
#include "CSMC/transport.h"

class SmcSandbox {
  public:
    SmcSandbox() {
        std::string pattern = (std::filesystem::temp_directory_path() / "csmc-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
        if (const char* old = std::getenv("TARNWICK_ROOT")) previous_ = old;
        ::setenv("TARNWICK_ROOT", path_.c_str(), 1);
        SandboxRoot::reload();
        smc_set_transport_factory({});
    }
    SmcSandbox(const SmcSandbox&) = delete;
    SmcSandbox& operator=(const SmcSandbox&) = delete;
    ~SmcSandbox() {
        smc_set_transport_factory([] { return SmcOpenResult{-1, nullptr}; });
        if (previous_) {
            ::setenv("TARNWICK_ROOT", previous_->c_str(), 1);
        } else {
            ::unsetenv("TARNWICK_ROOT");
        }
        SandboxRoot::reload();
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    std::optional<std::string> previous_;
};

inline void writeText(const std::filesystem::path& path, std::string_view text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
