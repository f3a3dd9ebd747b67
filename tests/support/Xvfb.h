#pragma once

// A virtual X server on a display it chooses itself (-displayfd): tests running side by side
// never pick the same number, as they could by looking for a free one first. It never resets: a
// reset when the last client leaves (a test's one-shot xdotool) drops clients still connecting.

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "support/Files.h"
#include "support/Process.h"

namespace support {

class Xvfb {
  public:
    // Starts the server with one screen of `size` ("1280x800x24"), its messages in `folder`;
    // display() is empty when it did not come up within 10 s.
    Xvfb(const std::filesystem::path& folder, const std::string& size)
        : server_(std::make_unique<Child>(
              std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", size,
                                       "-nolisten", "tcp", "-noreset"},
              std::vector<std::string>{},
              ChildOutput{folder / "xvfb.display", folder / "xvfb.log"})) {
        const std::filesystem::path number = folder / "xvfb.display";
        // The number is written once the server listens.
        eventually(
            [&] {
                const std::string text = readText(number);
                if (text.empty() || text.back() != '\n') return false;
                display_ = ":" + text.substr(0, text.size() - 1);
                return true;
            },
            std::chrono::seconds(10));
    }
    ~Xvfb() {
        server_->signal(SIGTERM);
        server_->wait(std::chrono::seconds(5));
    }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& display() const { return display_; }

  private:
    std::unique_ptr<Child> server_;
    std::string display_;
};

}  // namespace support
