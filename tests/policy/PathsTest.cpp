#include <gtest/gtest.h>
#include <stdlib.h>

#include "CSMC/sandbox_root.h"
#include "FanCore/Policy/Paths.h"
#include "PolicyRoot.h"

namespace {

TEST(Paths, RealMachineLocations) {
    const char* old = std::getenv("TARNWICK_ROOT");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    ::unsetenv("TARNWICK_ROOT");
    Paths::reload();

    EXPECT_EQ(Paths::dir(), "/var/lib/tarnwick");
    EXPECT_EQ(Paths::config(), "/var/lib/tarnwick/config.json");
    EXPECT_EQ(Paths::statusDir(), "/run/tarnwick");
    EXPECT_EQ(Paths::status(), "/run/tarnwick/status.json");
    EXPECT_EQ(Paths::measurements(), "/run/tarnwick/measurements.json");
    EXPECT_EQ(Paths::daemonLabel, "tarnwickd");
    EXPECT_EQ(Paths::daemonBinary(), "/usr/local/sbin/tarnwickd");
    EXPECT_EQ(Paths::daemonUnitLink(),
              "/etc/systemd/system/multi-user.target.wants/tarnwickd.service");

    if (saved) ::setenv("TARNWICK_ROOT", saved->c_str(), 1);
    Paths::reload();
}

TEST(Paths, EverythingMovesUnderTheSandboxRoot) {
    const PolicyRoot root;
    EXPECT_EQ(SandboxRoot::root(), root.path()) << "reload also reloads the sandbox root";
    EXPECT_EQ(Paths::config(), root.path() / "var/lib/tarnwick/config.json");
    EXPECT_EQ(Paths::status(), root.path() / "run/tarnwick/status.json");
    EXPECT_EQ(Paths::daemonBinary(), root.path() / "usr/local/sbin/tarnwickd");
    EXPECT_EQ(Paths::daemonUnitLink(),
              root.path() / "etc/systemd/system/multi-user.target.wants/tarnwickd.service");
}

TEST(Paths, ReferencesFollowAReload) {
    const std::filesystem::path& config = Paths::config();
    const PolicyRoot first;
    EXPECT_EQ(config, first.path() / "var/lib/tarnwick/config.json");
    {
        const PolicyRoot second;
        EXPECT_EQ(config, second.path() / "var/lib/tarnwick/config.json");
    }
}

}  // namespace
