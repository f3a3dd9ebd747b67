#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <thread>

#include "FanCore/Policy/Config.h"
#include "FanCore/Policy/Paths.h"
#include "daemon/LogText.h"
#include "daemon/ProcessSupport.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace {

using namespace e2e;
using json = nlohmann::json;

// The built daemon against the built simulated Mac, each a process, in a fresh sandbox root.
class DaemonProcessTest : public ::testing::Test {
  protected:
    support::TempDir scratch{"tarnwickd-e2e"};
    std::filesystem::path root = scratch.path() / "root";
    std::filesystem::path simDir = root / "run" / "tarnwick-sim";
    std::filesystem::path statusFile = root / "run" / "tarnwick" / "status.json";
    std::filesystem::path configFile = root / "var" / "lib" / "tarnwick" / "config.json";
    std::filesystem::path daemonLog = scratch.path() / "daemon.log";
    std::unique_ptr<Child> sim;

    void SetUp() override { std::filesystem::create_directories(root); }

    void startSim(const std::string& profile = "mbp14-m3pro") {
        sim = std::make_unique<Child>(std::vector<std::string>{simPath, "--root", root, "--profile",
                                                               profile, "--tick-ms", "100"},
                                      std::vector<std::string>{}, scratch.path() / "sim.log");
        ASSERT_TRUE(eventually([&] { return acceptsConnections(simDir / "smc.sock"); }, 10s))
            << readText(scratch.path() / "sim.log");
    }

    // The simulator as Apple silicon's kernel driver, with or without its module option.
    void startDriverSim(bool fanControl) {
        std::vector<std::string> argv{simPath,        "--root",    root, "--layout",
                                      "macsmc_hwmon", "--tick-ms", "100"};
        if (fanControl) argv.emplace_back("--fan-control");
        sim = std::make_unique<Child>(argv, std::vector<std::string>{}, scratch.path() / "sim.log");
        ASSERT_TRUE(eventually([&] { return std::filesystem::exists(simDir / "state.json"); }, 10s))
            << readText(scratch.path() / "sim.log");
    }
    std::filesystem::path driverDir = root / "sys/class/hwmon/hwmon2";

    std::unique_ptr<Child> startDaemon(std::vector<std::string> environment = {}) {
        environment.push_back("TARNWICK_ROOT=" + root.string());
        return std::make_unique<Child>(std::vector<std::string>{daemonPath}, environment,
                                       daemonLog);
    }

    void setConfig(const std::string& text) { replaceText(configFile, text); }
    void setControl(const std::string& text) { replaceText(simDir / "control.json", text); }

    json simState() const {
        json state = json::parse(readText(simDir / "state.json"), nullptr, false);
        return state.is_discarded() ? json::object() : state;
    }

    // Every fan in `mode` per the simulator (and, unless the driver holds it, the unlock key
    // matching), as of its last tick.
    bool fansInMode(int mode, bool unlockFollows = true) const {
        const json state = simState();
        if (!state.contains("fans") || state["fans"].empty()) return false;
        for (const json& fan : state["fans"]) {
            if (fan.value("mode", -1) != mode) return false;
        }
        return !unlockFollows || !state["Ftst"].is_number() || state["Ftst"].get<double>() == mode;
    }

    // The driver's answer to the last value left in a target file, "" before any.
    std::string lastDriverAnswer(const std::string& text) const {
        const json state = simState();
        if (!state.contains("driver") || state["driver"]["writes"].empty()) return {};
        const json& last = state["driver"]["writes"].back();
        return last.value("text", "") == text ? last.value("result", "") : std::string();
    }

    // Waits until the simulator has published a state taken after this call began: what it
    // shows was true after everything before the call.
    void simTicked() const {
        const double before = simState().value("time", 0.0);
        ASSERT_TRUE(eventually([&] { return simState().value("time", 0.0) > before + 0.15; }, 5s));
    }

    std::optional<json> status() const {
        if (!std::filesystem::exists(statusFile)) return std::nullopt;
        json s = json::parse(readText(statusFile), nullptr, false);
        if (s.is_discarded()) return std::nullopt;
        return s;
    }

    bool statusManual() const {
        const auto s = status();
        return s && s->value("manual", false);
    }

    // Starts the simulator and a daemon told to boost fully, and waits until it drives the fans.
    std::unique_ptr<Child> driving() {
        startSim();
        setConfig(R"({"boost":1.0})");
        auto daemon = startDaemon();
        EXPECT_TRUE(eventually([&] { return statusManual(); }, 10s)) << readText(daemonLog);
        EXPECT_TRUE(eventually([&] { return fansInMode(1); }, 5s));
        return daemon;
    }
};

TEST_F(DaemonProcessTest, WithoutSmcPrintsOneLineAndCreatesNothing) {
    auto daemon = startDaemon();
    EXPECT_TRUE(exitedWith(daemon->wait(10s), 1));
    EXPECT_EQ(readText(daemonLog), "<3>tarnwickd: cannot open SMC\n");
    EXPECT_TRUE(std::filesystem::is_empty(root));
}

TEST_F(DaemonProcessTest, ReadsSettingsSavedUnderAPrivateUmaskWithoutCapabilities) {
    // The unit leaves the root daemon no capability, so only the file's mode lets it read a file
    // the user owns; here the daemon is root without capabilities and the file belongs to nobody.
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run the daemon as root without capabilities";
    if (std::system("setpriv --bounding-set=-all --inh-caps=-all true 2>/dev/null") != 0) {
        GTEST_SKIP() << "setpriv cannot drop the capability bounding set here";
    }
    startSim();
    {
        const support::ScopedEnv sandbox("TARNWICK_ROOT", root.string());
        Paths::reload();
        Config config;
        config.boost = 1.0;
        const mode_t previous = ::umask(077);
        const auto saved = config.save();
        ::umask(previous);
        ASSERT_TRUE(saved.has_value()) << saved.error();
    }
    Paths::reload();
    ASSERT_EQ(::chown(configFile.c_str(), 65534, 65534), 0);
    auto daemon = std::make_unique<Child>(
        std::vector<std::string>{"/usr/bin/setpriv", "--bounding-set=-all", "--inh-caps=-all",
                                 "--no-new-privs", "--", daemonPath},
        std::vector<std::string>{"TARNWICK_ROOT=" + root.string()}, daemonLog);
    EXPECT_TRUE(eventually([&] { return statusManual(); }, 10s)) << readText(daemonLog);
}

class StopSignalTest : public DaemonProcessTest, public ::testing::WithParamInterface<int> {};

TEST_P(StopSignalTest, StopWhileDrivingHandsBackWithinThreeSeconds) {
    auto daemon = driving();
    const auto sent = std::chrono::steady_clock::now();
    daemon->signal(GetParam());
    EXPECT_TRUE(exitedWith(daemon->wait(3s), 0)) << readText(daemonLog);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 3s);
    EXPECT_FALSE(std::filesystem::exists(statusFile));
    EXPECT_TRUE(eventually([&] { return fansInMode(0); }, 2s));
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignalTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto& testCase) {
                             return std::string(testCase.param == SIGTERM  ? "TERM"
                                                : testCase.param == SIGINT ? "INT"
                                                                           : "HUP");
                         });

TEST_F(DaemonProcessTest, StopDuringStartUpIsHonoured) {
    startSim();
    setConfig(R"({"boost":1.0})");
    auto daemon = startDaemon();
    // Once the stop signals are blocked they wait for the loop instead of killing the process.
    const unsigned long long stopMask =
        (1ULL << (SIGTERM - 1)) | (1ULL << (SIGINT - 1)) | (1ULL << (SIGHUP - 1));
    ASSERT_TRUE(eventually([&] { return (daemon->blockedSignals() & stopMask) == stopMask; }, 5s));
    daemon->signal(SIGTERM);
    EXPECT_TRUE(exitedWith(daemon->wait(3s), 0)) << readText(daemonLog);
    EXPECT_FALSE(std::filesystem::exists(statusFile));
    EXPECT_EQ(readText(daemonLog).find("manual ("), std::string::npos);
    EXPECT_TRUE(eventually([&] { return fansInMode(0); }, 2s));
}

// Every safety rule at once, on each way the daemon reaches the fans: the simulator's socket, the
// socket as slow as a real Intel SMC, the applesmc driver's files and the macsmc_hwmon driver's.
enum class Layout { socket, slowSocket, applesmc, macsmc };

enum class Fault {
    none,             // boost 1 under load: the daemon drives the whole time, never "overridden"
    ioFailedPass,     // one pass sees no SMC at all, then the chip heats
    countUnreadable,  // "FNum" fails for good, then the chip heats
    modeWriteFails,   // fan 0 will not go back: the stop says so, the successor holds it
    sleepWhileStuck,  // fan 1 will not go back when a sleep is announced
    targetVanishes,   // the driver's fan1_target goes away
    killed,           // SIGKILL while driving
};

struct FaultCase {
    const char* name;
    Layout layout;
    const char* profile;
    Fault fault;
};

inline void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

class FaultTableTest : public DaemonProcessTest, public ::testing::WithParamInterface<FaultCase> {
  protected:
    void SetUp() override {
        DaemonProcessTest::SetUp();
        const FaultCase& c = GetParam();
        std::vector<std::string> argv{simPath,   "--root",    root, "--profile",
                                      c.profile, "--tick-ms", "100"};
        if (c.layout == Layout::applesmc) argv.insert(argv.end(), {"--layout", "applesmc"});
        if (c.layout == Layout::macsmc) {
            argv.insert(argv.end(), {"--layout", "macsmc_hwmon", "--fan-control"});
        }
        control("{}");
        sim = std::make_unique<Child>(argv, std::vector<std::string>{}, scratch.path() / "sim.log");
        // The socket, where there is one, is the last thing the simulator makes.
        const bool socket = c.layout == Layout::socket || c.layout == Layout::slowSocket;
        ASSERT_TRUE(eventually(
            [&] {
                return std::filesystem::exists(simDir / "state.json") &&
                       (!socket || acceptsConnections(simDir / "smc.sock"));
            },
            10s))
            << readText(scratch.path() / "sim.log");
    }

    // The control file with `members`, on the slow socket as slow as a real Intel SMC; returns
    // once the simulator has taken it (it reads the file every tick).
    void control(const std::string& members) {
        json document = json::parse(members);
        if (GetParam().layout == Layout::slowSocket) document["latencyMs"] = 8;
        setControl(document.dump());
        if (!sim) return;
        const double before = simState().value("time", 0.0);
        ASSERT_TRUE(eventually([&] { return simState().value("time", 0.0) > before + 0.25; }, 5s));
    }

    // Status and simulator agree on every fan in manual and it turns faster than `floor`.
    bool heldAbove(double floor) const {
        const auto s = status();
        if (!s || !s->value("manual", false)) return false;
        const double target = (*s)["targetRPM"].get<double>();
        for (const json& fan : simState().value("fans", json::array())) {
            if (fan.value("mode", 0) == 1 && std::abs(fan.value("target", 0.0) - target) > 1) {
                return false;
            }
        }
        return target > floor;
    }

    std::string statusText(const char* member) const {
        const auto s = status();
        return s && s->contains(member) && (*s)[member].is_string()
                   ? (*s)[member].get<std::string>()
                   : std::string();
    }

    int fanMode(size_t index) const { return simState()["fans"][index].value("mode", -1); }

    // The simulator's SMC writes of `key` so far.
    int writesOf(const std::string& key) const {
        int count = 0;
        for (const json& write : simState().value("writes", json::array())) {
            count += write.value("key", "") == key;
        }
        return count;
    }
};

TEST_P(FaultTableTest, FansAndStatusAgreeAndNoFanStaysBelowTheSafetySpeed) {
    const FaultCase& c = GetParam();
    // The boost follows the chip, which Apple silicon's driver does not show: a fixed speed there.
    const bool driving = c.fault == Fault::none;
    setConfig(!driving                     ? R"({"manualMode":true,"manualRPM":1300})"
              : c.layout == Layout::macsmc ? R"({"manualMode":true,"manualRPM":4000})"
                                           : R"({"boost":1.0})");
    if (driving) control(R"({"load":0.8})");
    auto daemon = startDaemon();
    ASSERT_TRUE(eventually([&] { return statusManual() && fansInMode(1, false); }, 10s))
        << readText(daemonLog);
    // A die at 95 °C: as the smoothing follows, the safety speed passes 1700 rpm in a few passes.
    const char* hot = std::string(c.profile) == "mbp14-m3pro" ? R"("hid":{"PMU tdie1":95})"
                                                              : R"("hid":{"Package id 0":95})";
    const auto withHeat = [&](const std::string& fault) {
        control("{" + fault + (fault.empty() ? "" : ",") + hot + "}");
    };
    int stopStatus = 0;
    switch (c.fault) {
        case Fault::none: {
            int overridden = 0;
            for (const auto end = std::chrono::steady_clock::now() + 12s;
                 std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(250ms)) {
                overridden += statusText("driver") == "overridden";
            }
            EXPECT_EQ(overridden, 0) << readText(daemonLog);
            EXPECT_EQ(statusText("driver"), "daemon");
            EXPECT_TRUE(fansInMode(1, false));
            break;
        }
        case Fault::ioFailedPass:
            control(R"({"fail":{"io":true}})");
            std::this_thread::sleep_for(2500ms);
            withHeat("");
            EXPECT_TRUE(eventually([&] { return heldAbove(1700); }, 15s)) << readText(daemonLog);
            break;
        case Fault::countUnreadable:
            withHeat(R"("fail":{"read":["FNum"]})");
            EXPECT_TRUE(eventually(
                [&] {
                    return heldAbove(1700) && statusText("error") == "cannot read the fan count";
                },
                15s))
                << readText(daemonLog) << simState().dump();
            break;
        case Fault::modeWriteFails: {
            control(R"({"fail":{"write":["F0Md"]}})");
            daemon->signal(SIGTERM);
            ASSERT_TRUE(exitedWith(daemon->wait(3s), 3)) << readText(daemonLog);
            EXPECT_EQ(fanMode(0), 1);
            withHeat(R"("fail":{"write":["F0Md"]})");
            daemon = startDaemon();
            EXPECT_TRUE(eventually(
                [&] {
                    return heldAbove(1700) && statusText("driver") == "handing back" &&
                           statusText("error") == "fan 0 did not return to automatic control";
                },
                15s))
                << readText(daemonLog) << simState().dump();
            EXPECT_NE(readText(daemonLog).find("<4>tarnwickd: started, 2 fans, 1 not back in "
                                               "automatic control\n"),
                      std::string::npos);
            withHeat("");
            EXPECT_TRUE(eventually([&] { return statusText("driver") == "daemon"; }, 8s));
            break;
        }
        case Fault::sleepWhileStuck: {
            withHeat(R"("fail":{"write":["F1Md"]})");
            daemon->signal(SIGUSR1);  // the sleep hook's "pre"
            ASSERT_TRUE(eventually([&] { return fanMode(0) == 0; }, 5s)) << readText(daemonLog);
            const int handBacks = writesOf("F0Md") + writesOf("Ftst");
            const double since = status().value_or(json::object()).value("updated", 0.0);
            EXPECT_TRUE(eventually(
                [&] {
                    return heldAbove(1700) && status()->value("updated", 0.0) > since + 3 &&
                           statusText("error") == "fan 1 did not return to automatic control";
                },
                15s))
                << readText(daemonLog) << simState().dump();
            EXPECT_EQ(fanMode(0), 0);
            EXPECT_EQ(writesOf("F0Md") + writesOf("Ftst"), handBacks) << "fan 0 left alone";
            control("{}");
            break;
        }
        case Fault::targetVanishes:
            std::filesystem::remove(driverDir / "fan1_target");
            EXPECT_TRUE(eventually(
                [&] {
                    return statusText("driver") == "handing back" &&
                           statusText("error") == "cannot read the mode of fan 0";
                },
                15s))
                << readText(daemonLog);
            stopStatus = 3;
            break;
        case Fault::killed: {
            daemon->signal(SIGKILL);
            daemon->wait(3s);
            const std::filesystem::path app = buildDir / "bin" / "tarnwick";
            if (!std::filesystem::exists(app)) GTEST_SKIP() << "the application is not built";
            support::Child report({app, "status", "--json"}, {"TARNWICK_ROOT=" + root.string()},
                                  {scratch.path() / "report.json", scratch.path() / "report.log"});
            ASSERT_TRUE(exitedWith(report.wait(10s), 0)) << readText(scratch.path() / "report.log");
            const json shown = json::parse(readText(scratch.path() / "report.json"));
            EXPECT_FALSE(shown["control"]["running"].get<bool>()) << shown.dump();
            EXPECT_EQ(shown["control"]["driver"], "left manual") << shown.dump();
            return;
        }
    }
    daemon->signal(SIGTERM);
    EXPECT_TRUE(exitedWith(daemon->wait(3s), stopStatus)) << readText(daemonLog);
    if (stopStatus == 0) {
        EXPECT_TRUE(eventually([&] { return fansInMode(0, false); }, 2s));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultTableTest,
    ::testing::Values(
        FaultCase{"SocketDrives", Layout::socket, "mbp16-intel-t2", Fault::none},
        FaultCase{"SlowSocketDrives", Layout::slowSocket, "mbp16-intel-t2", Fault::none},
        FaultCase{"ApplesmcDrives", Layout::applesmc, "mbp13-intel-applesmc", Fault::none},
        FaultCase{"MacsmcDrives", Layout::macsmc, "mbp14-m3pro", Fault::none},
        FaultCase{"SocketIoFailedPass", Layout::socket, "mbp14-m3pro", Fault::ioFailedPass},
        FaultCase{"SlowSocketIoFailedPass", Layout::slowSocket, "mbp16-intel-t2",
                  Fault::ioFailedPass},
        FaultCase{"SocketCountUnreadable", Layout::socket, "mbp14-m3pro", Fault::countUnreadable},
        FaultCase{"SlowSocketCountUnreadable", Layout::slowSocket, "mbp16-intel-t2",
                  Fault::countUnreadable},
        FaultCase{"ApplesmcCountUnreadable", Layout::applesmc, "mbp16-intel-t2",
                  Fault::countUnreadable},
        FaultCase{"SocketModeWriteFails", Layout::socket, "mbp14-m3pro", Fault::modeWriteFails},
        FaultCase{"SlowSocketModeWriteFails", Layout::slowSocket, "mbp16-intel-t2",
                  Fault::modeWriteFails},
        FaultCase{"SocketSleepWhileStuck", Layout::socket, "mbp14-m3pro", Fault::sleepWhileStuck},
        FaultCase{"SlowSocketSleepWhileStuck", Layout::slowSocket, "mbp16-intel-t2",
                  Fault::sleepWhileStuck},
        FaultCase{"MacsmcTargetVanishes", Layout::macsmc, "mbp14-m3pro", Fault::targetVanishes},
        FaultCase{"SocketKilled", Layout::socket, "mbp14-m3pro", Fault::killed},
        FaultCase{"ApplesmcKilled", Layout::applesmc, "mbp13-intel-applesmc", Fault::killed}),
    [](const auto& c) { return std::string(c.param.name); });

// A stalled SMC cannot hold the stop: the pass is cut short, the hand-back gets a short try, and
// the exit status says whether it worked.
TEST_F(DaemonProcessTest, StopDuringAStalledSmcEndsWithinTheDeadline) {
    auto daemon = driving();
    sim->signal(SIGSTOP);
    std::this_thread::sleep_for(2500ms);
    const auto sent = std::chrono::steady_clock::now();
    daemon->signal(SIGTERM);
    EXPECT_TRUE(exitedWith(daemon->wait(4s), 3)) << readText(daemonLog);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 2500ms);
    sim->signal(SIGCONT);
    EXPECT_TRUE(fansInMode(1)) << "nobody could hand them back";

    // Resumed while the hand-back still tries: the fans go back and the exit says so.
    auto second = startDaemon();
    ASSERT_TRUE(eventually([&] { return statusManual() && fansInMode(1); }, 10s));
    sim->signal(SIGSTOP);
    std::this_thread::sleep_for(2500ms);
    second->signal(SIGTERM);
    std::this_thread::sleep_for(300ms);
    sim->signal(SIGCONT);
    EXPECT_TRUE(exitedWith(second->wait(4s), 0)) << readText(daemonLog);
    EXPECT_TRUE(eventually([&] { return fansInMode(0); }, 2s));
}

TEST_F(DaemonProcessTest, ASecondDaemonLeavesTheFirstAlone) {
    auto daemon = driving();
    auto second = startDaemon();
    EXPECT_TRUE(exitedWith(second->wait(5s), 1));
    EXPECT_NE(
        withoutPriorities(readText(daemonLog)).find("tarnwickd: another tarnwickd is running"),
        std::string::npos);
    simTicked();
    EXPECT_TRUE(daemon->running());
    EXPECT_TRUE(fansInMode(1));
    daemon->signal(SIGTERM);
    EXPECT_TRUE(exitedWith(daemon->wait(3s), 0));
}

TEST_F(DaemonProcessTest, FolderSetUpDoesNotFollowLinks) {
    const std::filesystem::path elsewhere = scratch.path() / "elsewhere";
    std::filesystem::create_directories(elsewhere);
    std::filesystem::permissions(elsewhere, std::filesystem::perms::owner_all);
    std::filesystem::create_directories(root / "var/lib");
    std::filesystem::create_directory_symlink(elsewhere, root / "var/lib/tarnwick");
    startSim();
    auto daemon = startDaemon();
    ASSERT_TRUE(eventually([&] { return status().has_value(); }, 10s)) << readText(daemonLog);
    EXPECT_EQ(std::filesystem::status(elsewhere).permissions(), std::filesystem::perms::owner_all);
    daemon->signal(SIGTERM);
    EXPECT_TRUE(exitedWith(daemon->wait(3s), 0));
}

// udev may register a sensor's device after the daemon starts, or again under another number.
TEST_F(DaemonProcessTest, HwmonDevicesThatRegisterLateOrMoveAreRead) {
    startSim();
    setControl(R"({"hwmon":{"absent":["macsmc_hwmon"]}})");
    auto daemon = startDaemon();
    const auto die = [&] {
        const json m =
            json::parse(readText(root / "run/tarnwick/measurements.json"), nullptr, false);
        return m.is_object() && m["readings"].contains("die");
    };
    ASSERT_TRUE(eventually([&] { return status().has_value(); }, 10s)) << readText(daemonLog);
    EXPECT_FALSE(die());
    setControl(R"({"hwmon":{"moves":1}})");
    EXPECT_TRUE(eventually(die, 8s)) << readText(daemonLog);
    setControl(R"({"hwmon":{"moves":2}})");
    simTicked();  // the device has moved
    const auto published = [&] {
        const json m =
            json::parse(readText(root / "run/tarnwick/measurements.json"), nullptr, false);
        return m.is_object() ? m.value("updated", 0.0) : 0.0;
    };
    const double before = published();
    ASSERT_TRUE(eventually([&] { return published() > before; }, 8s)) << "a pass after the move";
    EXPECT_TRUE(die());
    daemon->signal(SIGTERM);
    EXPECT_TRUE(exitedWith(daemon->wait(3s), 0));
}

TEST_F(DaemonProcessTest, TellsTheServiceManagerReadyThenWatchdog) {
    startSim();
    const std::string socketPath = (scratch.path() / "notify").string();
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    auto daemon = startDaemon({"NOTIFY_SOCKET=" + socketPath});
    std::vector<std::string> messages;
    for (int i = 0; i < 3; ++i) {
        char buffer[64];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0) break;
        messages.emplace_back(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    EXPECT_EQ(messages, (std::vector<std::string>{"READY=1", "WATCHDOG=1", "WATCHDOG=1"}));
    daemon->signal(SIGTERM);
    EXPECT_TRUE(exitedWith(daemon->wait(3s), 0));
}

}  // namespace

namespace {

using namespace e2e;

// The install scripts under a sandbox root, run the way the application runs them there.
class PackagingTest : public DaemonProcessTest {
  protected:
    std::filesystem::path installedDaemon = root / "usr/local/sbin/tarnwickd";
    std::filesystem::path installedUnit = root / "etc/systemd/system/tarnwickd.service";
    std::filesystem::path enabledLink =
        root / "etc/systemd/system/multi-user.target.wants/tarnwickd.service";
    std::filesystem::path pidFile = root / "run/tarnwick/tarnwickd.pid";
    std::filesystem::path sleepHook = root / "usr/lib/systemd/system-sleep/tarnwick";
    std::filesystem::path scriptLog = scratch.path() / "script.log";

    // A test that failed half-way must not leave a daemon running on a deleted root.
    void TearDown() override { support::killSandboxDaemon(root); }

    // Runs `script` from the build's libexec folder with /bin/sh; its exit status.
    std::optional<int> runScript(const std::string& script,
                                 std::vector<std::string> environment = {}) {
        std::filesystem::remove(scriptLog);
        environment.push_back("TARNWICK_ROOT=" + root.string());
        Child child({"/bin/sh", (libexecDir / script).string()}, environment, scriptLog);
        const auto status = child.wait(60s);
        if (!status || !WIFEXITED(*status)) return std::nullopt;
        return WEXITSTATUS(*status);
    }

    // Runs the installed sleep hook as systemd-sleep would, with "pre" or "post"; its exit status.
    std::optional<int> runHook(const std::string& when) {
        Child child({"/bin/sh", sleepHook.string(), when, "suspend"},
                    {"TARNWICK_ROOT=" + root.string()}, scriptLog);
        const auto status = child.wait(10s);
        if (!status || !WIFEXITED(*status)) return std::nullopt;
        return WEXITSTATUS(*status);
    }

    std::string lastScriptLine() const {
        std::string text = readText(scriptLog);
        while (!text.empty() && text.back() == '\n') text.pop_back();
        return text.substr(text.rfind('\n') + 1);
    }

    static bool alive(pid_t pid) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(in, line)) return false;
        const auto close = line.rfind(')');
        return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
    }

    pid_t installedPid() const {
        const std::string text = readText(pidFile);
        return static_cast<pid_t>(std::strtol(text.c_str(), nullptr, 10));
    }
};

// The daemon-level flow: installed, it takes the fans over and reports so; installed again, it
// is replaced; uninstalled, the fans are back and nothing stays.
TEST_F(PackagingTest, InstallTwiceThenUninstallLeavesNothing) {
    startSim();
    setConfig(R"({"boost":1.0})");
    ASSERT_EQ(runScript("install.sh"), 0) << readText(scriptLog);
    EXPECT_EQ(readText(installedDaemon), readText(daemonPath));
    EXPECT_EQ(readText(installedUnit), readText(libexecDir / "tarnwickd.service"));
    EXPECT_EQ(std::filesystem::canonical(enabledLink), installedUnit);
    EXPECT_EQ(readText(sleepHook), readText(libexecDir / "tarnwick-sleep"));
    const pid_t first = installedPid();
    EXPECT_TRUE(alive(first));
    const std::filesystem::path installedLog = root / "var/log/tarnwickd.log";
    ASSERT_TRUE(eventually([&] { return statusManual() && fansInMode(1); }, 10s))
        << readText(installedLog);
    const std::string log = withoutPriorities(readText(installedLog));
    EXPECT_TRUE(log.starts_with("tarnwickd: started, 2 fans\ntarnwickd: manual (chip ")) << log;
    EXPECT_NE(log.find(", want 5779, firmware "), std::string::npos) << log;
    const auto s = status();
    ASSERT_TRUE(s.has_value());
    EXPECT_GE((*s)["targetRPM"].get<double>(), 1200);
    EXPECT_TRUE((*s)["reason"].get<std::string>().starts_with("chip "));
    EXPECT_FALSE(s->contains("error"));
    EXPECT_EQ(std::filesystem::status(root / "run/tarnwick").permissions(),
              std::filesystem::perms(0755));
    EXPECT_EQ(std::filesystem::status(root / "var/lib/tarnwick").permissions(),
              std::filesystem::perms(0755))
        << "the settings folder stays as install.sh made it";

    ASSERT_EQ(runScript("install.sh"), 0) << readText(scriptLog);
    const pid_t second = installedPid();
    EXPECT_NE(second, first);
    EXPECT_FALSE(alive(first));
    EXPECT_TRUE(alive(second));
    EXPECT_EQ(readText(installedDaemon), readText(daemonPath));

    ASSERT_EQ(runScript("uninstall.sh"), 0) << readText(scriptLog);
    EXPECT_FALSE(alive(second));
    for (const auto& path :
         {installedDaemon, installedUnit, enabledLink, sleepHook, pidFile, statusFile}) {
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
    }
    EXPECT_TRUE(eventually([&] { return fansInMode(0); }, 2s));
    const std::string text = readText(installedLog);
    EXPECT_EQ(text.find("<3>"), std::string::npos) << text;
    EXPECT_EQ(text.find("<4>"), std::string::npos) << text;
    size_t starts = 0;
    for (size_t at = 0; (at = text.find("tarnwickd: started, 2 fans\n", at)) != std::string::npos;
         ++at) {
        ++starts;
    }
    EXPECT_EQ(starts, 2u) << text;
}

TEST_F(PackagingTest, SleepHookHandsBackBeforeTheSleepAndTheWakeStartsAfresh) {
    startSim();
    setConfig(R"({"boost":1.0})");
    ASSERT_EQ(runScript("install.sh"), 0) << readText(scriptLog);
    ASSERT_TRUE(eventually([&] { return fansInMode(1); }, 8s));

    ASSERT_EQ(runHook("pre"), 0) << readText(scriptLog);
    EXPECT_EQ(status().value_or(json::object()).value("driver", ""), "sleeping");
    EXPECT_TRUE(eventually([&] { return fansInMode(0); }, 1s)) << "automatic before the sleep";
    const json readsBefore = simState()["exchanges"]["read"];
    setControl(R"({"sleep": 2})");
    ASSERT_TRUE(eventually([&] { return simState().value("asleep", 0.0) > 0; }, 2s));
    ASSERT_TRUE(eventually([&] { return simState().value("asleep", 1.0) == 0; }, 5s));
    EXPECT_EQ(simState()["exchanges"]["read"], readsBefore) << "a paused daemon reads nothing";
    EXPECT_TRUE(fansInMode(0));

    ASSERT_EQ(runHook("post"), 0) << readText(scriptLog);
    EXPECT_TRUE(eventually([&] { return statusManual() && fansInMode(1); }, 5s))
        << "taken again: the curve still asks for full speed";
    const std::string log = withoutPriorities(readText(root / "var/log/tarnwickd.log"));
    EXPECT_NE(log.find("tarnwickd: paused for sleep\ntarnwickd: awake after "), std::string::npos)
        << log;
}

TEST_F(PackagingTest, TwoInstallsAtOnceLeaveOneDaemon) {
    startSim();
    const auto daemonsRunning = [&] {
        int count = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const std::string argv0 = readText(entry.path() / "cmdline");
            if (argv0.c_str() == installedDaemon.string()) ++count;
        }
        return count;
    };
    {
        Child first({"/bin/sh", (libexecDir / "install.sh").string()},
                    {"TARNWICK_ROOT=" + root.string()}, scratch.path() / "first.log");
        Child second({"/bin/sh", (libexecDir / "install.sh").string()},
                     {"TARNWICK_ROOT=" + root.string()}, scratch.path() / "second.log");
        EXPECT_TRUE(exitedWith(first.wait(60s), 0)) << readText(scratch.path() / "first.log");
        EXPECT_TRUE(exitedWith(second.wait(60s), 0)) << readText(scratch.path() / "second.log");
    }
    EXPECT_EQ(daemonsRunning(), 1);
    EXPECT_TRUE(alive(installedPid()));
    ASSERT_EQ(runScript("uninstall.sh"), 0) << readText(scriptLog);
    EXPECT_EQ(daemonsRunning(), 0);
}

TEST_F(PackagingTest, InstallWithoutSmcFailsWithTheDaemonsReason) {
    EXPECT_EQ(runScript("install.sh"), 1);
    EXPECT_EQ(lastScriptLine(), "install.sh: tarnwickd did not start: tarnwickd: cannot open SMC");
    // Nothing of the failed install stays behind.
    for (const auto& path : {pidFile, installedDaemon, installedUnit}) {
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
    }
}

// A killed daemon leaves the fans in manual control: its successor hands them back as it starts,
// and an uninstall that finds the installed daemon dead still hands back what it may have left.
TEST_F(PackagingTest, KilledDaemonsSuccessorHandsBack) {
    startSim();
    setConfig(R"({"boost":1.0})");
    ASSERT_EQ(runScript("install.sh"), 0) << readText(scriptLog);
    ASSERT_TRUE(eventually([&] { return fansInMode(1); }, 8s));
    const auto crash = [&](pid_t pid) {
        ::kill(pid, SIGKILL);
        ASSERT_TRUE(eventually([&] { return !alive(pid); }, 3s));
        simTicked();
        ASSERT_TRUE(fansInMode(1)) << "nobody handed them back";
    };
    crash(installedPid());
    if (HasFatalFailure()) return;

    setConfig(R"({"boost":0})");
    auto successor = startDaemon();
    EXPECT_TRUE(eventually([&] { return fansInMode(0); }, 2s)) << readText(daemonLog);
    EXPECT_TRUE(eventually([&] { return status() && !statusManual(); }, 5s));

    setConfig(R"({"boost":1.0})");
    ASSERT_TRUE(eventually([&] { return fansInMode(1); }, 8s)) << readText(daemonLog);
    crash(successor->pid());
    if (HasFatalFailure()) return;
    ASSERT_EQ(runScript("uninstall.sh"), 0) << readText(scriptLog);
    EXPECT_TRUE(eventually([&] { return fansInMode(0); }, 2s));
    EXPECT_FALSE(std::filesystem::exists(installedDaemon));
    EXPECT_FALSE(std::filesystem::exists(statusFile));
}

// A fan whose mode write fails cannot be handed back: the uninstall says so and leaves fan control
// running, so that the fans stay at a safe speed, until a later uninstall finds them automatic.
TEST_F(PackagingTest, UninstallWhoseHandBackFailsKeepsTheDaemonAndFails) {
    startSim();
    setConfig(R"({"boost":1.0})");
    ASSERT_EQ(runScript("install.sh"), 0) << readText(scriptLog);
    ASSERT_TRUE(eventually([&] { return fansInMode(1); }, 8s));
    const pid_t first = installedPid();
    setControl(R"({"fail":{"write":["F0Md"]}})");
    EXPECT_EQ(runScript("uninstall.sh"), 1);
    EXPECT_TRUE(lastScriptLine().starts_with(
        "uninstall.sh: a fan did not return to automatic control, so fan control stays installed"))
        << readText(scriptLog);
    EXPECT_NE(installedPid(), first);
    EXPECT_TRUE(alive(installedPid()));
    EXPECT_TRUE(std::filesystem::exists(enabledLink));
    EXPECT_TRUE(eventually([&] { return statusManual(); }, 8s)) << "keeps the fans safe";

    setControl("{}");
    ASSERT_EQ(runScript("uninstall.sh"), 0) << readText(scriptLog);
    EXPECT_TRUE(eventually([&] { return fansInMode(0); }, 2s));
    EXPECT_FALSE(std::filesystem::exists(installedDaemon));
}

// The settings belong to whoever asked for the install, are readable by all and writable by the
// owner alone; a shared folder of an earlier version and another account's file are taken over.
TEST_F(PackagingTest, InstallHandsTheSettingsToTheInstallingAccount) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to other accounts";
    startSim();
    const std::filesystem::path folder = configFile.parent_path();
    setConfig(R"({"boost":0.5})");
    std::filesystem::permissions(folder, std::filesystem::perms(01777));
    ASSERT_EQ(::chown(configFile.c_str(), 2, 2), 0);
    const std::filesystem::path legacyUnit =
        root / "etc/systemd/system/com.tarnwick.helper.service";
    replaceText(legacyUnit, "[Service]\n");
    const auto owner = [](const std::filesystem::path& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_uid) : -1;
    };
    for (const auto& [variable, uid] : {std::pair{"PKEXEC_UID", 65534}, {"SUDO_UID", 1}}) {
        ASSERT_EQ(runScript("install.sh", {std::string(variable) + "=" + std::to_string(uid)}), 0)
            << readText(scriptLog);
        EXPECT_EQ(owner(folder), uid) << variable;
        EXPECT_EQ(owner(configFile), uid) << variable;
        EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms(0755));
        EXPECT_EQ(std::filesystem::status(configFile).permissions(), std::filesystem::perms(0644));
    }
    EXPECT_EQ(Config::decode(readText(configFile))->boost, 0.5) << "the settings stay";
    EXPECT_FALSE(std::filesystem::exists(legacyUnit)) << "the unit's former name goes";
    ASSERT_EQ(runScript("uninstall.sh"), 0) << readText(scriptLog);
}

TEST_F(PackagingTest, UninstallWithNothingInstalledSucceeds) {
    EXPECT_EQ(runScript("uninstall.sh"), 0) << readText(scriptLog);
}

TEST_F(PackagingTest, MissingBundledDaemonIsReported) {
    const std::filesystem::path bundle = scratch.path() / "bundle";
    std::filesystem::create_directories(bundle);
    for (const char* name : {"install.sh", "tarnwickd-common.sh", "tarnwickd.service"}) {
        std::filesystem::copy(libexecDir / name, bundle / name);
    }
    Child child({"/bin/sh", (bundle / "install.sh").string()}, {"TARNWICK_ROOT=" + root.string()},
                scriptLog);
    EXPECT_TRUE(exitedWith(child.wait(30s), 1));
    EXPECT_EQ(lastScriptLine(), "install.sh: the daemon is missing beside this script: " +
                                    (bundle / "tarnwickd").string());
    EXPECT_FALSE(std::filesystem::exists(installedUnit));
}

}  // namespace

namespace {

class DriverLayoutTest : public DaemonProcessTest {
  protected:
    // The simulated Apple-silicon driver with fan_control on, the daemon holding a fixed speed.
    std::unique_ptr<Child> driving() {
        startDriverSim(true);
        setConfig(R"({"manualMode":true,"manualRPM":2500})");
        auto daemon = startDaemon();
        EXPECT_TRUE(eventually([&] { return statusManual(); }, 10s)) << readText(daemonLog);
        EXPECT_TRUE(eventually([&] { return fansInMode(1, false); }, 5s));
        return daemon;
    }
};

TEST_F(DriverLayoutTest, TakesOverAndHandsBackOnStopAndTheDriverRulesHold) {
    auto daemon = driving();
    EXPECT_TRUE(withoutPriorities(readText(daemonLog))
                    .starts_with("tarnwickd: started, 2 fans\ntarnwickd: manual ("))
        << readText(daemonLog);
    daemon->signal(SIGTERM);
    EXPECT_TRUE(exitedWith(daemon->wait(3s), 0)) << readText(daemonLog);
    EXPECT_TRUE(eventually([&] { return fansInMode(0, false); }, 2s));

    // What anyone writes to the files: out of range refused, a speed takes the fan, 0 returns it.
    support::writeText(driverDir / "fan1_target", "99999");
    EXPECT_TRUE(eventually([&] { return lastDriverAnswer("99999") == "EINVAL"; }, 2s));
    EXPECT_TRUE(fansInMode(0, false));
    EXPECT_TRUE(eventually([&] { return readText(driverDir / "fan1_target") != "99999"; }, 2s));
    support::writeText(driverDir / "fan1_target", "3000");
    EXPECT_TRUE(eventually([&] { return simState()["fans"][0].value("mode", -1) == 1; }, 2s));
    support::writeText(driverDir / "fan1_target", "0");
    EXPECT_TRUE(eventually([&] { return fansInMode(0, false); }, 2s));
}

TEST_F(DriverLayoutTest, WithoutTheModuleOptionRunsReadOnlyAndSaysHowToAllowControl) {
    startDriverSim(false);
    setConfig(R"({"manualMode":true,"manualRPM":2500})");
    auto daemon = startDaemon();
    const std::string why = "fan control off: boot with macsmc_hwmon.fan_control=1";
    EXPECT_TRUE(eventually([&] { return status() && status()->value("error", "") == why; }, 10s))
        << readText(daemonLog);
    EXPECT_FALSE(statusManual());
    EXPECT_NE(readText(daemonLog).find("<4>tarnwickd: read-only, " + why), std::string::npos);
    const json state = simState();
    EXPECT_TRUE(state["writes"].empty());
    EXPECT_TRUE(state["driver"]["writes"].empty());
    EXPECT_EQ(std::filesystem::status(driverDir / "fan1_target").permissions(),
              std::filesystem::perms(0444));
    daemon->signal(SIGTERM);
    EXPECT_TRUE(exitedWith(daemon->wait(3s), 0));
}

}  // namespace
