#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <ostream>
#include <thread>

#include "SimSocketClient.h"
#include "SimTestSupport.h"
#include "support/Process.h"

using nlohmann::json;
using namespace std::chrono_literals;
using support::eventually;

namespace {

const std::filesystem::path kProgram =
    std::filesystem::path(TARNWICK_BUILD_DIR) / "bin/tarnwick-sim";

// tarnwick-sim as a child process with its output in files; killed if a test leaves it running.
class SimProcess {
  public:
    SimProcess(const std::vector<std::string>& arguments, const std::filesystem::path& logs)
        : out_(logs / "stdout"),
          err_(logs / "stderr"),
          child_(withProgram(arguments), {}, {out_, err_}) {}

    void signal(int number) { child_.signal(number); }
    // The exit status once the process ends within `limit`; -1 if it is still running, -2 if
    // it died of a signal.
    int exitCode(std::chrono::milliseconds limit = 10s) {
        const std::optional<int> status = child_.wait(limit);
        if (!status) return -1;
        return WIFEXITED(*status) ? WEXITSTATUS(*status) : -2;
    }
    std::string errors() const { return support::readText(err_); }
    std::string output() const { return support::readText(out_); }

  private:
    static std::vector<std::string> withProgram(const std::vector<std::string>& arguments) {
        std::vector<std::string> all{kProgram.string()};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return all;
    }

    std::filesystem::path out_;
    std::filesystem::path err_;
    support::Child child_;
};

class SimProgram : public ::testing::Test {
  protected:
    support::TempDir logs;
    support::TempDir root;
    std::filesystem::path dir = root.path() / "run/tarnwick-sim";
    std::filesystem::path socket = dir / "smc.sock";

    json state() { return json::parse(support::readText(dir / "state.json"), nullptr, false); }
    bool stateShows(const std::function<bool(const json&)>& check) {
        return eventually([&] {
            const json s = state();
            return !s.is_discarded() && check(s);
        });
    }
};

TEST_F(SimProgram, ServesTheSocketFollowsControlAndStopsCleanlyOnSigterm) {
    SimProcess sim({"--root", root.path().string(), "--tick-ms", "20"}, logs.path());
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(socket); })) << sim.errors();
    EXPECT_TRUE(std::filesystem::exists(root.path() / "sys/class/hwmon/hwmon0/temp1_input"));
    EXPECT_TRUE(std::filesystem::exists(root.path() / "proc/cpuinfo"));

    simtest::RawClient client(socket);
    ASSERT_TRUE(client.connected());
    const auto info = client.call(simtest::request(SMC_CMD_KEY_INFO, "F0Tg"));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->status, 0);
    EXPECT_EQ(info->reply.data_type, SimCodec::pack("flt "));
    const auto write = client.call(simtest::request(SMC_CMD_WRITE_BYTES, "Ftst", 1, {1}));
    ASSERT_TRUE(write);
    EXPECT_EQ(write->reply.result, 0);

    support::writeText(dir / "control.json", R"({"load": 1, "pin": {"TB0T": 41.5}})");
    EXPECT_TRUE(stateShows([](const json& s) {
        return s["control"]["load"] == 1.0 && s["temperatures"]["TB0T"] == 41.5 &&
               s["Ftst"] == 1.0 && s["writes"].size() == 1 && s["exchanges"]["keyInfo"] == 1;
    })) << state().dump(1);
    const double before = state()["time"].get<double>();
    EXPECT_TRUE(stateShows([&](const json& s) { return s["time"].get<double>() > before; }));

    sim.signal(SIGTERM);
    EXPECT_EQ(sim.exitCode(), 0) << sim.errors();
    EXPECT_FALSE(std::filesystem::exists(socket));
    EXPECT_EQ(sim.errors(), "");
}

// The kernel driver's files instead of the socket: state.json tells when they are all in place,
// temperatures are whole quarter degrees, and writes to the fan files reach the SMC unless it
// refuses them.
TEST_F(SimProgram, PublishesTheAppleSmcDriverFilesWhenAskedAndRemovesThemOnStop) {
    SimProcess sim({"--root", root.path().string(), "--profile", "mbp16-intel-t2", "--layout",
                    "applesmc", "--tick-ms", "20"},
                   logs.path());
    const std::filesystem::path driver = root.path() / "sys/devices/platform/applesmc.768";
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(dir / "state.json"); }))
        << sim.errors();
    EXPECT_TRUE(std::filesystem::exists(driver / "key_count"));
    EXPECT_FALSE(std::filesystem::exists(socket));
    EXPECT_EQ(support::readText(driver / "temp1_label"), "TA0V\n");
    const std::string milli = support::readText(driver / "temp1_input");
    EXPECT_EQ(std::stoll(milli) % 250, 0) << milli;
    EXPECT_EQ(support::readText(driver / "fan1_max"), "5393\n");

    support::writeText(driver / "fan1_manual", "1");
    support::writeText(driver / "fan1_output", "3000");
    EXPECT_TRUE(stateShows([](const json& s) {
        return s["fans"][0]["mode"] == 1 && s["fans"][0]["target"] == 3000.0;
    })) << state().dump(1);
    support::writeText(dir / "control.json", R"({"fail": {"write": ["F0Tg"]}})");
    EXPECT_TRUE(stateShows([](const json& s) { return !s["control"]["fail"]["write"].empty(); }));
    support::writeText(driver / "fan1_output", "4000");
    EXPECT_TRUE(eventually([&] { return support::readText(driver / "fan1_output") == "3000\n"; }));

    sim.signal(SIGTERM);
    EXPECT_EQ(sim.exitCode(), 0) << sim.errors();
    EXPECT_FALSE(std::filesystem::exists(driver));
}

TEST_F(SimProgram, SigintStopsItTooAndAMalformedControlFileIsToldOnce) {
    SimProcess sim(
        {"--root", root.path().string(), "--tick-ms", "20", "--profile", "mbp16-intel-t2"},
        logs.path());
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(socket); })) << sim.errors();
    support::writeText(dir / "control.json", R"({"ambient": 31})");
    ASSERT_TRUE(stateShows([](const json& s) { return s["control"]["ambient"] == 31.0; }));
    support::writeText(dir / "control.json", R"({"ambient": 12, )");
    ASSERT_TRUE(eventually([&] { return sim.errors().find("control.json") != std::string::npos; }));
    std::this_thread::sleep_for(200ms);  // ten more ticks
    EXPECT_EQ(state()["control"]["ambient"], 31.0) << "the previous control stays";

    sim.signal(SIGINT);
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_FALSE(std::filesystem::exists(socket));
    const std::string errors = sim.errors();
    EXPECT_EQ(errors.find("control.json"), errors.rfind("control.json")) << errors;
    EXPECT_NE(errors.find("not valid JSON"), std::string::npos) << errors;
}

TEST_F(SimProgram, ASecondSimulatorOnTheSameRootIsRefused) {
    SimProcess first({"--root", root.path().string()}, logs.path());
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(socket); })) << first.errors();
    support::TempDir otherLogs;
    SimProcess second({"--root", root.path().string()}, otherLogs.path());
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_NE(second.errors().find("another simulator"), std::string::npos) << second.errors();
    EXPECT_TRUE(std::filesystem::exists(socket)) << "the first one keeps its socket";
    first.signal(SIGTERM);
    EXPECT_EQ(first.exitCode(), 0);
}

struct Refused {
    const char* name;
    std::vector<std::string> arguments;  // "ROOT" and "FILE" are replaced
    int code;
    const char* complaint;
};

// Names the case in test output, where gtest would otherwise dump the struct's bytes.
inline void PrintTo(const Refused& c, std::ostream* out) { *out << c.name; }

class SimProgramRefuses : public SimProgram, public ::testing::WithParamInterface<Refused> {};

TEST_P(SimProgramRefuses, WithAMessageAndANonZeroExit) {
    const std::filesystem::path file = logs.path() / "profile.json";
    support::writeText(
        file, R"({"brand": "x", "keys": [{"key": "F0Ac", "type": "flt ", "bytes": "00 8"}]})");
    std::vector<std::string> arguments;
    for (const std::string& a : GetParam().arguments) {
        arguments.push_back(a == "ROOT" ? root.path().string() : a == "FILE" ? file.string() : a);
    }
    SimProcess sim(arguments, logs.path());
    EXPECT_EQ(sim.exitCode(), GetParam().code);
    std::string expected = GetParam().complaint;
    if (expected == "FILE") expected = file.string() + ": keys[0] (\"F0Ac\")";
    EXPECT_NE(sim.errors().find(expected), std::string::npos) << sim.errors();
    EXPECT_FALSE(std::filesystem::exists(socket));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimProgramRefuses,
    ::testing::Values(Refused{"NoRoot", {}, 2, "--root DIR is required"},
                      Refused{"RealRoot", {"--root", "/"}, 2, "must not be \"/\""},
                      Refused{"BadTick", {"--root", "ROOT", "--tick-ms", "0"}, 2, "--tick-ms"},
                      Refused{"Unknown", {"--root", "ROOT", "--fast"}, 2, "unknown argument"},
                      Refused{"UnknownProfile",
                              {"--root", "ROOT", "--profile", "mbp99"},
                              1,
                              "no built-in profile"},
                      Refused{"BrokenProfile", {"--root", "ROOT", "--profile", "FILE"}, 1, "FILE"}),
    [](const auto& c) { return std::string(c.param.name); });

TEST_F(SimProgram, HelpListsTheProfilesAndSucceeds) {
    SimProcess sim({"--help"}, logs.path());
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_NE(sim.output().find("mba13-m2"), std::string::npos) << sim.output();
}

}  // namespace
