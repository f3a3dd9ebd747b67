#include "FanCore/Policy/Paths.h"

#include <string>

#include "CSMC/sandbox_root.h"

namespace Paths {
namespace {

struct Locations {
    std::filesystem::path dir;
    std::filesystem::path config;
    std::filesystem::path statusDir;
    std::filesystem::path status;
    std::filesystem::path measurements;
    std::filesystem::path daemonLock;
    std::filesystem::path knownFans;
    std::filesystem::path daemonBinary;
    std::filesystem::path daemonUnitLink;
};

Locations compute() {
    Locations locations;
    locations.dir = SandboxRoot::under("/var/lib/tarnwick");
    locations.config = locations.dir / "config.json";
    locations.statusDir = SandboxRoot::under("/run/tarnwick");
    locations.status = locations.statusDir / "status.json";
    locations.measurements = locations.statusDir / "measurements.json";
    locations.daemonLock = locations.statusDir / "tarnwickd.lock";
    locations.knownFans = locations.statusDir / "fans";
    locations.daemonBinary = SandboxRoot::under("/usr/local/sbin/tarnwickd");
    locations.daemonUnitLink = SandboxRoot::under("/etc/systemd/system/multi-user.target.wants/" +
                                                  std::string(daemonLabel) + ".service");
    return locations;
}

// One object for the process, so references handed out stay valid across reload().
Locations& stored() {
    static Locations locations = compute();
    return locations;
}

}  // namespace

const std::filesystem::path& dir() { return stored().dir; }
const std::filesystem::path& config() { return stored().config; }
const std::filesystem::path& statusDir() { return stored().statusDir; }
const std::filesystem::path& status() { return stored().status; }
const std::filesystem::path& measurements() { return stored().measurements; }
const std::filesystem::path& daemonLock() { return stored().daemonLock; }
const std::filesystem::path& knownFans() { return stored().knownFans; }
const std::filesystem::path& daemonBinary() { return stored().daemonBinary; }
const std::filesystem::path& daemonUnitLink() { return stored().daemonUnitLink; }

void reload() {
    SandboxRoot::reload();
    stored() = compute();
}

}  // namespace Paths
