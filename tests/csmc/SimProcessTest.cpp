#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CSMC/linux/AppleSmcTransport.h"
#include "CSMC/linux/SocketTransport.h"
#include "CSMC/smc.h"
#include "CSMC/transport.h"
#include "FanCore/SMC/SMC.h"
#include "FanCore/Sensors/Sensors.h"
#include "SmcSandbox.h"
#include "support/Files.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using support::eventually;

const fs::path kSimProgram = fs::path(TARNWICK_BUILD_DIR) / "bin" / "tarnwick-sim";

// The tarnwick-sim program serving a sandbox root, its output discarded; killed when dropped.
class SimProcess {
  public:
    explicit SimProcess(const fs::path& root)
        : root_(root),
          child_({kSimProgram.string(), "--root", root.string(), "--profile", "mbp14-m3pro",
                  "--tick-ms", "50"},
                 {}, {.output = "/dev/null", .errors = {}}) {}

    // The socket file appears at bind, a moment before the simulator listens; ready means a
    // connection is accepted.
    bool serving() const {
        return eventually([&] { return SocketTransport(socketPath()).open() == 0; }, 20s);
    }
    void signal(int number) const { child_.signal(number); }
    void stop(int number) { child_.stop(number); }
    fs::path socketPath() const { return root_ / "run/tarnwick-sim/smc.sock"; }

  private:
    fs::path root_;
    support::Child child_;
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
        support::replaceText(sandbox.path() / "run/tarnwick-sim/control.json", json);
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
    uint8_t out[32];
    EXPECT_EQ(smc_read(smc_fourcc("FNum"), nullptr, out), SMC_STATUS_NOT_RESPONDING);
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
    uint8_t out[32];
    EXPECT_EQ(smc_read(smc_fourcc("FNum"), nullptr, out), SMC_STATUS_TIMEOUT);
    sim->signal(SIGCONT);
    // The stalled request's late answer must not be taken for a later one's.
    EXPECT_EQ(SMC::readDouble("F0Mn"), 1200.0);
    EXPECT_EQ(SMC::readDouble("FNum"), 2.0);
}

// The SMC module's exchanges go through the driver's files in `driver`.
void useDriver(const fs::path& driver, AppleSmcTransport::Access access) {
    smc_set_transport_factory([driver, access] {
        auto transport = std::make_unique<AppleSmcTransport>(driver, access);
        const int32_t status = transport->open();
        return SmcOpenResult{status, status == 0 ? std::move(transport) : nullptr};
    });
}

// The unprivileged path through the driver's files sees whole quarter degrees: a steady key that
// reads a whole degree at both discovery reads is kept, and one that never moves is found out.
TEST(SimAppleSmcFiles, QuarterDegreeKeysAreKeptAndConstantOnesDroppedLater) {
    if (!fs::exists(kSimProgram)) GTEST_SKIP() << kSimProgram << " is not built";
    support::TempDir root("applesmc-files");
    support::writeText(root.path() / "run/tarnwick-sim/control.json",
                       R"({"latencyMs": 0, "pin": {"TC0P": 90}})");
    support::Child sim({kSimProgram.string(), "--root", root.path().string(), "--profile",
                        "mbp13-intel-applesmc", "--tick-ms", "50"},
                       {}, {.output = "/dev/null", .errors = {}});
    ASSERT_TRUE(
        eventually([&] { return fs::exists(root.path() / "run/tarnwick-sim/state.json"); }, 20s));
    const fs::path driver = root.path() / "sys/devices/platform/applesmc.768";
    useDriver(driver, AppleSmcTransport::Access::readOnly);
    EXPECT_FALSE(Sensors::keepCandidate(90, 90)) << "the rule for the SMC's own bytes";
    const Sensors sensors(10ms);
    const auto& cpu = sensors.groups.at("cpu");
    EXPECT_NE(std::find(cpu.begin(), cpu.end(), smc_fourcc("TC0P")), cpu.end());
    EXPECT_EQ(sensors.read().cpu, 90.0);
    for (int i = 1; i < Sensors::probationReads; ++i) sensors.read();
    EXPECT_LT(sensors.read().cpu.value_or(0), 90.0) << "a value that never moves is a placeholder";
    smc_set_transport_factory([] { return SmcOpenResult{-1, nullptr}; });
}

// As root the daemon selects every key through key_at_index, written in place before each read:
// a short index after a long one must still select the key it names, however many keys are listed.
TEST(SimAppleSmcFiles, IndexedReadsSelectShortIndicesAfterLongOnes) {
    if (!fs::exists(kSimProgram)) GTEST_SKIP() << kSimProgram << " is not built";
    support::TempDir root("applesmc-indexed");
    std::string keys = R"({"key": "FNum", "type": "ui8 ", "value": 1})";
    for (int k = 0; k < 120; ++k) {
        keys += R"(, {"key": "T)" + std::to_string(100 + k) + R"(", "type": "sp78", "value": )" +
                std::to_string(20 + k % 50) + "}";
    }
    support::writeText(root.path() / "profile.json",
                       R"({"brand": "Intel(R) Core(TM) i5", "arch": "x86_64", "layout": "applesmc",
                           "keys": [)" +
                           keys + "]}");
    support::Child sim({kSimProgram.string(), "--root", root.path().string(), "--profile",
                        (root.path() / "profile.json").string(), "--tick-ms", "50"},
                       {}, {.output = "/dev/null", .errors = {}});
    ASSERT_TRUE(
        eventually([&] { return fs::exists(root.path() / "run/tarnwick-sim/state.json"); }, 20s));
    const fs::path driver = root.path() / "sys/devices/platform/applesmc.768";
    useDriver(driver, AppleSmcTransport::Access::indexed);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(SMC::readDouble("T219"), 39.0);  // listed last: a three-digit index
        EXPECT_EQ(SMC::readDouble("FNum"), 1.0);   // listed first: one digit
        EXPECT_EQ(SMC::readDouble("T105"), 25.0);
    }
    smc_set_transport_factory([] { return SmcOpenResult{-1, nullptr}; });
}

}  // namespace
