#pragma once

// Running the built programs as child processes inside a throw-away sandbox root: the daemon, the
// simulated Mac and the install scripts.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/Files.h"
#include "support/Process.h"

namespace e2e {

using namespace std::chrono_literals;

inline const std::filesystem::path buildDir = TARNWICK_BUILD_DIR;
inline const std::filesystem::path libexecDir = buildDir / "libexec" / "tarnwick";
inline const std::filesystem::path daemonPath = libexecDir / "tarnwickd";
inline const std::filesystem::path simPath = buildDir / "bin" / "tarnwick-sim";

using support::acceptsConnections;
using support::eventually;
using support::exitedWith;
using support::readText;
using support::replaceText;

// A child process whose output and errors both go to `log`, and its input from /dev/null.
class Child : public support::Child {
  public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
          const std::filesystem::path& log)
        : support::Child(argv, environment, {log, log}) {}
};

}  // namespace e2e
