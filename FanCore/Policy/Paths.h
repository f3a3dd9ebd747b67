#pragma once

// Every fixed folder, file, label and install location, placed under the sandbox root.

#include <filesystem>
#include <string_view>

namespace Paths {

const std::filesystem::path& dir();        // /var/lib/tarnwick
const std::filesystem::path& config();     // dir()/config.json
const std::filesystem::path& statusDir();  // /run/tarnwick
const std::filesystem::path& status();     // statusDir()/status.json
// statusDir()/measurements.json: the daemon's readings, fans and power of its last pass.
const std::filesystem::path& measurements();
// statusDir()/tarnwickd.lock: held by the running daemon, with its process id inside.
const std::filesystem::path& daemonLock();
// statusDir()/fans: how many fans this machine has shown since it booted.
const std::filesystem::path& knownFans();

inline constexpr std::string_view daemonLabel = "com.tarnwick.helper";
const std::filesystem::path& daemonBinary();  // /usr/local/sbin/tarnwickd
const std::filesystem::path& daemonPlist();   // /etc/systemd/system/com.tarnwick.helper.service

// Test seam: recomputes every location from the current TARNWICK_ROOT.
void reload();

}  // namespace Paths
