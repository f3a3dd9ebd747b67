#pragma once

// A fresh sandbox root for one test: a temporary folder that TARNWICK_ROOT points at while the
// object lives, with helpers to lay out sysfs and procfs files inside it.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "CSMC/hid.h"
#include "CSMC/linux/sandbox_root.h"
#include "FanCore/Policy/Paths.h"
#include "FanCore/Sensors/Chip.h"

class TempRoot {
  public:
    TempRoot() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-sensors-XXXXXX");
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
        if (const char* previous = ::getenv("TARNWICK_ROOT")) previous_ = previous;
        ::setenv("TARNWICK_ROOT", path_.c_str(), 1);
        reloadAll();
    }
    ~TempRoot() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
        if (previous_) {
            ::setenv("TARNWICK_ROOT", previous_->c_str(), 1);
        } else {
            ::unsetenv("TARNWICK_ROOT");
        }
        reloadAll();
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Writes `text` to `relative` under the root, creating the folders on the way.
    void write(std::string_view relative, std::string_view text) const {
        const std::filesystem::path file = path_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << text;
    }

    // One hwmon temperature input: the chip's name file, the input in millidegrees and, when
    // `label` is given, its label file.
    void hwmon(int index, const std::string& chip, int temp, const std::string& millidegrees,
               const char* label = nullptr) const {
        const std::string folder = "sys/class/hwmon/hwmon" + std::to_string(index) + "/";
        const std::string prefix = folder + "temp" + std::to_string(temp);
        write(folder + "name", chip + "\n");
        write(prefix + "_input", millidegrees + "\n");
        if (label != nullptr) write(prefix + "_label", std::string(label) + "\n");
    }

  private:
    static void reloadAll() {
        SandboxRoot::reload();
        Paths::reload();
        hid_reset_services();
        Chip::reload();
    }

    std::filesystem::path path_;
    std::optional<std::string> previous_;
};
