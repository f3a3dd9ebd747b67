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

// The systemd unit is daemonLabel + ".service".
inline constexpr std::string_view daemonLabel = "tarnwickd";
// /usr/local/sbin/tarnwickd: where install.sh copies the daemon when no package installed it; a
// packaged unit runs the package's own, the application's copy.
const std::filesystem::path& daemonBinary();
// /etc/systemd/system/multi-user.target.wants/tarnwickd.service, the link that enabling the unit
// makes: it exists (and leads to the unit) exactly while fan control is installed.
const std::filesystem::path& daemonUnitLink();

// Test seam: recomputes every location from the current TARNWICK_ROOT.
void reload();

}  // namespace Paths
