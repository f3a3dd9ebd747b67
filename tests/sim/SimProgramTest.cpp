#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

#include "SimSocketClient.h"
#include "SimTestSupport.h"

extern char** environ;

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

const std::filesystem::path kProgram =
    std::filesystem::path(TARNWICK_BUILD_DIR) / "bin/tarnwick-sim";

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

// tarnwick-sim as a child process with its output in files; killed if a test leaves it running.
class SimProcess {
  public:
    SimProcess(const std::vector<std::string>& arguments, const std::filesystem::path& logs) {
        out_ = logs / "stdout";
        err_ = logs / "stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        std::vector<std::string> all{kProgram.string()};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, kProgram.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~SimProcess() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    void signal(int number) { ::kill(pid_, number); }
    // The exit status once the process ends within `limit`; -1 if it is still running, -2 if
    // it died of a signal.
    int exitCode(std::chrono::milliseconds limit = 10s) {
        eventually(
            [&] {
                int status = 0;
                if (::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
                return status_.has_value();
            },
            limit);
        if (!status_) return -1;
        return WIFEXITED(*status_) ? WEXITSTATUS(*status_) : -2;
    }
    std::string errors() const { return simtest::readFile(err_); }
    std::string output() const { return simtest::readFile(out_); }

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    std::filesystem::path out_;
    std::filesystem::path err_;
};

class SimProgram : public ::testing::Test {
  protected:
    simtest::TempDir logs;
    simtest::TempDir root;
    std::filesystem::path dir = root.path() / "run/tarnwick-sim";
    std::filesystem::path socket = dir / "smc.sock";

    json state() { return json::parse(simtest::readFile(dir / "state.json"), nullptr, false); }
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

    simtest::writeFile(dir / "control.json", R"({"load": 1, "pin": {"TB0T": 41.5}})");
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

TEST_F(SimProgram, SigintStopsItTooAndAMalformedControlFileIsToldOnce) {
    SimProcess sim(
        {"--root", root.path().string(), "--tick-ms", "20", "--profile", "mbp16-intel-t2"},
        logs.path());
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(socket); })) << sim.errors();
    simtest::writeFile(dir / "control.json", R"({"ambient": 31})");
    ASSERT_TRUE(stateShows([](const json& s) { return s["control"]["ambient"] == 31.0; }));
    simtest::writeFile(dir / "control.json", R"({"ambient": 12, )");
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
    simtest::TempDir otherLogs;
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

class SimProgramRefuses : public SimProgram, public ::testing::WithParamInterface<Refused> {};

TEST_P(SimProgramRefuses, WithAMessageAndANonZeroExit) {
    const std::filesystem::path file = logs.path() / "profile.json";
    simtest::writeFile(
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
