#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "CSMC/transport.h"
#include "FanCore/Policy/Paths.h"
#include "FanCore/Policy/Platform.h"
#include "FanCore/SMC/SMC.h"
#include "daemon/FakeMachine.h"
#include "daemon/LogText.h"
#include "sim/SimMachine.h"
#include "sim/SimTransport.h"
#include "tarnwickd/ControlLoop.h"
#include "tarnwickd/ReadPace.h"
#include "tarnwickd/SmcMachine.h"

namespace {

using namespace std::chrono_literals;

// The real machine adapter and the control loop against the in-process simulated Mac, in a fresh
// sandbox root, with simulated time: two seconds of the thermal model per pass.
class SmcMachineTest : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tarnwickd-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        ::setenv("TARNWICK_ROOT", root_.c_str(), 1);
        Paths::reload();
        std::filesystem::create_directories(Paths::statusDir());
        sim_ = std::make_unique<SimMachine>(GetParam());
        smc_set_transport_factory(SimTransport::factory(*sim_));
        ASSERT_TRUE(SMC::open());
        machine_ = std::make_unique<SmcMachine>(1ms);
        loop_ = std::make_unique<ControlLoop>(*machine_, clock_, log_);
    }

    void TearDown() override {
        loop_.reset();
        machine_.reset();
        smc_set_transport_factory({});
        sim_.reset();
        ::unsetenv("TARNWICK_ROOT");
        Paths::reload();
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    void pass() {
        loop_->pass();
        sim_->advance(2.0);
        clock_.advance(2s);
    }

    // Passes until the daemon holds the fans; false after `limit` passes.
    bool passUntilManual(int limit) {
        for (int i = 0; i < limit && !loop_->manual(); ++i) pass();
        return loop_->manual();
    }

    void setConfig(const Config& config) { ASSERT_TRUE(config.save().has_value()); }

    bool fansManual() const {
        for (const SimFanState& fan : sim_->fans()) {
            if (fan.mode != 1) return false;
        }
        return !sim_->fans().empty();
    }

    bool fansAutomatic() const {
        for (const SimFanState& fan : sim_->fans()) {
            if (fan.mode != 0) return false;
        }
        const std::optional<double> unlock = sim_->value("Ftst");  // absent on Intel machines
        return !unlock || *unlock == 0.0;
    }

    std::filesystem::path root_;
    std::unique_ptr<SimMachine> sim_;
    std::unique_ptr<SmcMachine> machine_;
    FakeClock clock_;
    std::ostringstream log_;
    std::unique_ptr<ControlLoop> loop_;
};

TEST_P(SmcMachineTest, HotChipUnderBoostTakesOverAndStopHandsBack) {
    sim_->setLoad(1.0);
    setConfig(Config{.boost = 0.8});
    ASSERT_TRUE(passUntilManual(60)) << "no take-over; last status: " << Status::load()->reason;
    EXPECT_TRUE(withoutPriorities(log_.str()).starts_with("tarnwickd: manual (chip "))
        << log_.str();

    double previous = loop_->target();
    for (int i = 0; i < 5; ++i) {
        pass();
        EXPECT_LE(loop_->target() - previous, ControlLoop::rampUp + 1e-9);
        previous = loop_->target();
    }
    EXPECT_TRUE(fansManual());
    if (const std::optional<double> unlock = sim_->value("Ftst")) {
        EXPECT_EQ(*unlock, 1.0);
    }
    const std::optional<Status> status = Status::load();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(status->manual);
    EXPECT_EQ(status->error, std::nullopt);
    EXPECT_NEAR(status->targetRPM, loop_->target(), 1e-6);
    for (const SimFanState& fan : sim_->fans()) {
        EXPECT_NEAR(fan.target, std::clamp(loop_->target(), fan.min, fan.max), 1.0);
    }

    loop_->stop();
    EXPECT_TRUE(fansAutomatic());
    EXPECT_FALSE(std::filesystem::exists(Paths::status()));
}

TEST_P(SmcMachineTest, QuietDemandHandsBackAfterTwentySeconds) {
    setConfig(Config{.manualMode = true, .manualRPM = 3000});
    ASSERT_TRUE(passUntilManual(1));
    pass();
    setConfig(Config{});
    for (int i = 0; i < 11; ++i) pass();
    EXPECT_TRUE(loop_->manual());
    pass();
    EXPECT_FALSE(loop_->manual());
    EXPECT_TRUE(log_.str().ends_with("<6>tarnwickd: back to firmware\n")) << log_.str();
    EXPECT_TRUE(fansAutomatic());
    EXPECT_EQ(Status::load()->reason, Platform::baselineName);
}

// Exchanges per pass as the simulated SMC counted them: one per key read, no key information
// after start-up, and only the target writes added while the daemon ramps; none once the fans
// hold their target.
TEST_P(SmcMachineTest, ExchangesPerPassAreOnePerKeyRead) {
    struct PerPass {
        uint64_t keyInfo, reads, writes;
    };
    const bool intel = std::string(GetParam()) == "mbp16-intel-t2";
    // FNum, five keys per fan, the temperature keys found (and the unlock key while driving).
    const PerPass system = intel ? PerPass{0, 35, 0} : PerPass{0, 26, 0};
    const PerPass driving = intel ? PerPass{0, 35, 2} : PerPass{0, 27, 2};
    const PerPass holding = intel ? PerPass{0, 35, 0} : PerPass{0, 26, 0};
    const auto perPass = [&] {
        const SimExchangeCounts before = sim_->counts();
        pass();
        const SimExchangeCounts after = sim_->counts();
        return PerPass{after.keyInfo - before.keyInfo, after.read - before.read,
                       after.write - before.write};
    };
    const auto expectCounts = [](const PerPass& seen, const PerPass& expected) {
        EXPECT_EQ(seen.keyInfo, expected.keyInfo);
        EXPECT_EQ(seen.reads, expected.reads);
        EXPECT_EQ(seen.writes, expected.writes);
    };
    pass();
    expectCounts(perPass(), system);
    setConfig(Config{.manualMode = true, .manualRPM = 3000});
    ASSERT_TRUE(passUntilManual(1));
    expectCounts(perPass(), driving);
    for (int i = 0; i < 30; ++i) pass();
    expectCounts(perPass(), holding);
}

INSTANTIATE_TEST_SUITE_P(Profiles, SmcMachineTest,
                         ::testing::Values("mbp14-m3pro", "mbp16-intel-t2"), [](const auto& param) {
                             std::string name = param.param;
                             for (char& ch : name) {
                                 if (ch == '-') ch = '_';
                             }
                             return name;
                         });

TEST(ReadPace, ASlowBusReadsEverythingOnlyEveryDisplayPeriod) {
    ReadPace pace;
    const std::chrono::steady_clock::time_point start{std::chrono::hours(1)};
    EXPECT_TRUE(pace.complete(start, 0, 0ns));
    EXPECT_TRUE(pace.complete(start + 2s, 40, 4ms));  // 0.1 ms per exchange
    EXPECT_FALSE(pace.complete(start + 4s, 40, 320ms));
    EXPECT_FALSE(pace.complete(start + 6s, 2, 0ns));  // too few exchanges to judge the bus
    EXPECT_FALSE(pace.complete(start + 10s, 14, 112ms));
    EXPECT_TRUE(pace.complete(start + 12s, 14, 112ms));
    EXPECT_TRUE(pace.complete(start + 14s, 40, 40ms));        // 1 ms per exchange: fast again
    EXPECT_FALSE(pace.complete(start + 16s, 40, 4ms, true));  // a driver known to be slow
}

TEST(SmcMachineNoFans, FanlessMachineReportsNoFans) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnwickd-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    ::setenv("TARNWICK_ROOT", pattern.c_str(), 1);
    Paths::reload();
    std::filesystem::create_directories(Paths::statusDir());
    SimMachine sim("mba13-m2");
    smc_set_transport_factory(SimTransport::factory(sim));
    {
        SmcMachine machine(1ms);
        FakeClock clock;
        std::ostringstream log;
        ControlLoop loop(machine, clock, log);
        ASSERT_TRUE(Config{.manualMode = true}.save().has_value());
        loop.pass();
        const std::optional<Status> status = Status::load();
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(status->error, "No fans found");
        EXPECT_FALSE(status->manual);
        EXPECT_TRUE(log.str().empty());
    }
    smc_set_transport_factory({});
    ::unsetenv("TARNWICK_ROOT");
    Paths::reload();
    std::filesystem::remove_all(pattern);
}

}  // namespace
