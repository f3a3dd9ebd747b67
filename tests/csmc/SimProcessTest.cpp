#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "CSMC/linux/SocketTransport.h"
#include "CSMC/smc.h"
#include "CSMC/transport.h"
#include "FanCore/SMC/SMC.h"
#include "SmcSandbox.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path kSimProgram = fs::path(TARNWICK_BUILD_DIR) / "bin" / "tarnwick-sim";

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// The tarnwick-sim program serving a sandbox root; killed when dropped.
class SimProcess {
  public:
    explicit SimProcess(const fs::path& root) : root_(root) {
        std::vector<std::string> args = {
            kSimProgram.string(), "--root",    root.string(), "--profile",
            "mbp14-m3pro",        "--tick-ms", "50"};
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        const int error = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) pid_ = -1;
    }
    ~SimProcess() { stop(SIGKILL); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The socket file appears at bind, a moment before the simulator listens; ready means a
    // connection is accepted.
    bool serving() const {
        return pid_ > 0 &&
               eventually([&] { return SocketTransport(socketPath()).open() == 0; }, 20s);
    }
    void signal(int number) const { ::kill(pid_, number); }
    void stop(int number) {
        if (pid_ <= 0) return;
        ::kill(pid_, number);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    fs::path socketPath() const { return root_ / "run/tarnwick-sim/smc.sock"; }

  private:
    fs::path root_;
    pid_t pid_ = -1;
};

class SimProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(kSimProgram)) GTEST_SKIP() << kSimProgram << " is not built";
        sim = std::make_unique<SimProcess>(sandbox.path());
        ASSERT_TRUE(sim->serving());
    }
    void TearDown() override {
        // The transport goes before the simulator, so neither waits for the other.
        smc_set_transport_factory([] { return SmcOpenResult{-1, nullptr}; });
        sim.reset();
    }

    void control(const std::string& json) {
        const fs::path file = sandbox.path() / "run/tarnwick-sim/control.json";
        writeText(file.string() + ".tmp", json);
        fs::rename(file.string() + ".tmp", file);
    }

    nlohmann::json state() {
        const std::string text = readText(sandbox.path() / "run/tarnwick-sim/state.json");
        return nlohmann::json::parse(text, nullptr, false);
    }

    SmcSandbox sandbox;
    std::unique_ptr<SimProcess> sim;
};

TEST_F(SimProcessTest, KeysAreReadAndWrittenThroughTheSocket) {
    ASSERT_TRUE(SMC::open());
    const std::vector<uint32_t> keys = SMC::allKeys();
    ASSERT_FALSE(keys.empty());
    EXPECT_EQ(SMC::readDouble("#KEY"), static_cast<double>(keys.size()));
    EXPECT_EQ(SMC::readDouble("FNum"), 2.0);
    EXPECT_EQ(SMC::readDouble("F0Mn"), 1200.0);
    ASSERT_TRUE(SMC::writeNumber("F0Tg", 1500));
    EXPECT_TRUE(eventually(
        [&] {
            const nlohmann::json s = state();
            if (s.is_discarded() || !s.contains("writes") || !s["writes"].is_array()) return false;
            for (const auto& write : s["writes"]) {
                if (write.value("key", "") == "F0Tg" && write["value"].is_number() &&
                    write["value"].get<double>() == 1500 && write.value("result", -1) == 0) {
                    return true;
                }
            }
            return false;
        },
        10s));
}

TEST_F(SimProcessTest, FaultsFromTheControlFileBecomeFailures) {
    ASSERT_TRUE(SMC::open());
    control(R"({"fail": {"read": ["FNum"], "write": ["F0Tg"]}})");
    EXPECT_TRUE(eventually([] { return !SMC::readDouble("FNum"); }, 10s));
    EXPECT_FALSE(SMC::writeNumber("F0Tg", 1500));
    EXPECT_TRUE(SMC::writeNumber("F1Tg", 1500));
    EXPECT_EQ(SMC::readDouble("F0Mn"), 1200.0);

    control(R"({"fail": {"io": true}})");
    uint8_t out[32];
    EXPECT_TRUE(eventually(
        [&] { return smc_read(smc_fourcc("F0Mn"), nullptr, out) == SMC_STATUS_IO_ERROR; }, 10s));
    EXPECT_TRUE(SMC::allKeys().empty());
    EXPECT_FALSE(SMC::writeNumber("F1Tg", 1500));

    control("{}");
    EXPECT_TRUE(eventually([] { return SMC::readDouble("FNum") == 2.0; }, 10s));
}

TEST_F(SimProcessTest, ARestartedSimulatorIsPickedUpWithoutReopening) {
    ASSERT_TRUE(SMC::open());
    const uint32_t conn = g_conn;
    ASSERT_EQ(SMC::readDouble("FNum"), 2.0);
    sim->stop(SIGTERM);
    smc_info info;
    EXPECT_EQ(smc_key_info(smc_fourcc("FNum"), &info), SMC_STATUS_NOT_RESPONDING);
    EXPECT_EQ(SMC::readDouble("FNum"), std::nullopt);
    sim = std::make_unique<SimProcess>(sandbox.path());
    ASSERT_TRUE(sim->serving());
    EXPECT_EQ(SMC::readDouble("FNum"), 2.0);
    EXPECT_EQ(g_conn, conn);
}

TEST_F(SimProcessTest, AStoppedSimulatorCostsATimeoutNotAHang) {
    ASSERT_TRUE(SMC::open());
    ASSERT_EQ(SMC::readDouble("FNum"), 2.0);
    sim->signal(SIGSTOP);
    smc_info info;
    EXPECT_EQ(smc_key_info(smc_fourcc("FNum"), &info), SMC_STATUS_TIMEOUT);
    sim->signal(SIGCONT);
    // The stalled request's late answer must not be taken for a later one's.
    EXPECT_EQ(SMC::readDouble("F0Mn"), 1200.0);
    EXPECT_EQ(SMC::readDouble("FNum"), 2.0);
}

}  // namespace
