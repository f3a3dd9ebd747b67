// The command line against the simulated Mac: the tarnwick program as a child with no display,
// its output and exit status for each case, and its JSON checked against the published schemas.

#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <csignal>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

#include "AppSandbox.h"
#include "FanCore/Policy/Config.h"
#include "FanCore/Policy/Measurements.h"
#include "FanCore/Policy/Paths.h"
#include "support/Process.h"

namespace {

struct CliCase {
    const char* name;
    QStringList arguments;
    int exit;
    const char* output;             // a regular expression stdout must match ("" for empty)
    const char* errors;             // the same for stderr
    std::optional<Config> saved{};  // the settings file afterwards, when the case writes it
};

struct Outcome {
    int exit = -1;
    QString output;
    QString errors;
};

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        program = QStringLiteral(TARNWICK_BUILD_DIR "/bin/tarnwick");
        const QString sim = QStringLiteral(TARNWICK_BUILD_DIR "/bin/tarnwick-sim");
        if (!QFileInfo(program).isExecutable() || !QFileInfo(sim).isExecutable()) {
            GTEST_SKIP() << "tarnwick or tarnwick-sim not built";
        }
        support::dieWithTest(simulator);
        simulator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        simulator.setStandardOutputFile(QProcess::nullDevice());
        simulator.start(sim, QStringList{"--root", QString::fromStdString(sandbox.root().string()),
                                         "--tick-ms", "100"} +
                                 simulatorArguments());
        ASSERT_TRUE(simulator.waitForStarted(5000));
        // The socket listens after the first state; the driver's files are there before it.
        const bool files = simulatorArguments().contains("--layout");
        const auto socket = sandbox.root() / "run/tarnwick-sim/smc.sock";
        ASSERT_TRUE(waitFor(
            [&] { return files ? !simState().empty() : support::acceptsConnections(socket); },
            10000));
    }

    virtual QStringList simulatorArguments() const { return {}; }

    // The simulator's state after `ticks` more of its ticks (empty before the first): requests
    // sent before are answered and counted by the second.
    nlohmann::json simState(int ticks = 0) const {
        const auto read = [this] {
            std::ifstream in(sandbox.root() / "run/tarnwick-sim/state.json");
            const nlohmann::json state = nlohmann::json::parse(in, nullptr, false);
            return state.is_discarded() ? nlohmann::json::object() : state;
        };
        nlohmann::json state = read();
        for (int tick = 0; tick < ticks; ++tick) {
            const nlohmann::json before = state.value("updated", nlohmann::json());
            waitFor([&] { return (state = read()).value("updated", before) != before; }, 2000);
        }
        return state;
    }

    void TearDown() override {
        if (simulator.state() == QProcess::NotRunning) return;
        simulator.terminate();
        if (!simulator.waitForFinished(10000)) simulator.kill();
    }

    // No display at all, and a platform plugin that does not exist: a command that built a GUI
    // application would fail.
    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TARNWICK_ROOT", QString::fromStdString(sandbox.root().string()));
        env.insert("XDG_CONFIG_HOME", sandbox.path("config"));
        env.insert("QT_QPA_PLATFORM", "no-such-platform");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        return env;
    }

    void start(QProcess& process, const QStringList& arguments) const {
        process.setProcessEnvironment(environment());
        process.start(program, arguments);
        ASSERT_TRUE(process.waitForStarted(5000));
    }

    Outcome run(const QStringList& arguments) const {
        QProcess process;
        start(process, arguments);
        Outcome result;
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.output = QString::fromUtf8(process.readAllStandardOutput());
        result.errors = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    // Validates `document` with the JSON Schema at docs/<schema>; the validator's message when
    // it does not conform.
    static std::optional<QString> violation(const QByteArray& document, const QString& schema) {
        QProcess python;
        python.start("/usr/bin/python3",
                     {"-c",
                      "import json, sys, jsonschema\n"
                      "schema = json.load(open(sys.argv[1]))\n"
                      "jsonschema.Draft202012Validator(schema).validate(json.load(sys.stdin))\n",
                      QStringLiteral(TARNWICK_SOURCE_DIR "/docs/") + schema});
        if (!python.waitForStarted(5000)) return QStringLiteral("python3 did not start");
        python.write(document);
        python.closeWriteChannel();
        python.waitForFinished(30000);
        if (python.exitCode() == 0) return std::nullopt;
        return QString::fromUtf8(python.readAllStandardError());
    }

    AppSandbox sandbox;
    QString program;
    QProcess simulator;
};

Config config(std::function<void(Config&)> change) {
    Config c;
    change(c);
    return c;
}

const CliCase kCases[] = {
    {"Version", {"--version"}, 0, R"(^tarnwick \d+\.\d+)", ""},
    {"Help", {"--help"}, 0, R"(^usage: tarnwick \[COMMAND\])", ""},
    {"StatusHelp", {"status", "--help"}, 0, R"(^usage: tarnwick status )", ""},
    {"SetHelp", {"set", "-h"}, 0, R"(^usage: tarnwick set )", ""},
    {"UnknownCommand", {"frobnicate"}, 2, "", R"(^tarnwick: unknown command 'frobnicate')"},
    {"TwoFormats",
     {"status", "--json", "--bar"},
     2,
     "",
     R"(choose one of --json, --bar and --prometheus)"},
    {"WatchTooShort", {"status", "--watch", "0.1"}, 2, "", R"(--watch takes 0\.5 to 86400)"},
    {"WatchMissing", {"status", "--watch"}, 2, "", R"(--watch takes)"},
    {"StatusUnknownOption", {"status", "--xml"}, 2, "", R"(unknown option '--xml')"},
    {"SnapshotHistory", {"--snapshot", "x.png", "--history", "soon"}, 2, "", R"(--history takes)"},
    {"UnknownOption", {"--bogus"}, 2, "", "^tarnwick: unknown option '--bogus'\nusage: tarnwick "},
    {"ShortVersionIsNoOption", {"-v"}, 2, "", R"(^tarnwick: unknown option '-v')"},
    {"StrayArgument", {"--show-panel", "now"}, 2, "", R"(unexpected argument 'now')"},
    {"DemoLevel", {"--demo", "cold"}, 2, "", R"(--demo takes warm or hot, not 'cold')"},
    {"DemoMissing", {"--no-fans", "--demo"}, 2, "", R"(--demo needs a value)"},
    {"QtOptionNeedsValue", {"-platform"}, 2, "", R"(-platform needs a value)"},
    // No display (and no such platform plugin): a sentence instead of Qt's abort.
    {"NoDisplay", {}, 1, "", R"('tarnwick status' and 'tarnwick set' work without a display\n$)"},
    {"NoDisplayForThePanel", {"--show-panel", "-style", "fusion"}, 1, "", R"(without a display)"},
    {"PrometheusWatch",
     {"status", "--prometheus", "--watch", "2"},
     2,
     "",
     R"(--prometheus prints once)"},
    {"ThreeFormats", {"status", "--bar", "--prometheus"}, 2, "", R"(choose one of)"},
    {"Status",
     {"status"},
     0,
     R"(^chip: \d+\.\d °C \((normal|warm|hot)\)\n(.*\n)*left: \d+ rpm \(target \d+ rpm, .*automatic\)\n)"
     R"(right: .*\ncontrol: fan control not installed\nsettings: boost 0, )",
     ""},
    {"SetNothing", {"set"}, 2, "", R"(^tarnwick set: name a setting)"},
    {"SetUnknown", {"set", "speed", "3"}, 2, "", R"(unknown setting 'speed')"},
    {"SetNoValue", {"set", "boost"}, 2, "", R"(boost needs a value)"},
    {"BoostTooHigh", {"set", "boost", "150%"}, 2, "", R"(boost takes 0 to 1 or 0% to 100%)"},
    {"BoostNotFraction", {"set", "boost", "80"}, 2, "", R"(boost takes)"},
    {"BoostNaN", {"set", "boost", "nan"}, 2, "", R"(boost takes)"},
    {"ManualTooFast", {"set", "manual", "20000"}, 2, "", R"(manual takes 0 to 10000 rpm)"},
    {"TargetTooHot", {"set", "target", "50"}, 2, "", R"(target takes 25 to 45)"},
    {"BatteryMaybe", {"set", "battery", "maybe"}, 2, "", R"(battery takes on or off)"},
    // A later mistake keeps the earlier settings from being written.
    {"NothingWrittenOnError", {"set", "boost", "0.5", "target", "x"}, 2, "", "target takes"},
    {"BoostPercent",
     {"set", "boost", "80%"},
     0,
     R"(^boost 0\.8, battery cooling off)",
     "fan control is not installed",
     config([](Config& c) { c.boost = 0.8; })},
    {"Several",
     {"set", "manual", "3000", "battery", "on", "target", "38", "charger-only", "off"},
     0,
     R"(^manual 3000 rpm, battery cooling on \(38 °C, also on battery\))",
     "fan control is not installed",
     config([](Config& c) {
         c.manualMode = true;
         c.manualRPM = 3000;
         c.batteryCooling = true;
         c.batteryTarget = 38;
         c.batteryOnlyOnAC = false;
     })},
    {"AutoLeavesManual",
     {"set", "manual", "2000", "auto"},
     0,
     R"(^boost 0, )",
     "fan control is not installed",
     config([](Config& c) { c.manualRPM = 2000; })},
};

class CliCases : public Cli, public ::testing::WithParamInterface<CliCase> {};

TEST_P(CliCases, OutputAndExitStatus) {
    const CliCase& c = GetParam();
    const Outcome result = run(c.arguments);
    EXPECT_EQ(result.exit, c.exit) << result.errors.toStdString();
    const auto matches = [](const QString& text, const char* pattern) {
        if (*pattern == '\0') return text.isEmpty();
        return QRegularExpression(QString::fromUtf8(pattern)).match(text).hasMatch();
    };
    EXPECT_TRUE(matches(result.output, c.output)) << result.output.toStdString();
    EXPECT_TRUE(matches(result.errors, c.errors)) << result.errors.toStdString();
    if (c.exit == 2) {
        EXPECT_TRUE(result.errors.contains("--help")) << "no hint to the help";
    }
    const bool written = std::filesystem::exists(Paths::config());
    EXPECT_EQ(written, c.saved.has_value());
    if (c.saved) {
        EXPECT_EQ(Config::load(), *c.saved);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CliCases, ::testing::ValuesIn(kCases), support::CaseName());

TEST_F(Cli, SettingsThatCannotBeSavedFail) {
    // A file where the settings folder belongs.
    std::filesystem::create_directories(Paths::dir().parent_path());
    writeFile(Paths::dir(), "not a folder");
    const Outcome result = run({"set", "boost", "1"});
    EXPECT_EQ(result.exit, 1);
    EXPECT_TRUE(result.errors.startsWith("tarnwick set: ")) << result.errors.toStdString();
    EXPECT_TRUE(result.output.isEmpty());
}

// Five commands at once, each changing another setting, ten times over: every change is kept.
TEST_F(Cli, ConcurrentSetsKeepEveryChange) {
    for (int round = 1; round <= 10; ++round) {
        const QString n = QString::number(round);
        const std::vector<QStringList> commands = {
            {"set", "boost", "0." + n.right(1)},
            {"set", "battery", round % 2 ? "on" : "off"},
            {"set", "target", QString::number(25 + round)},
            {"set", "charger-only", round % 2 ? "off" : "on"},
            {"set", "manual", QString::number(1000 + round)}};
        std::vector<std::unique_ptr<QProcess>> running;
        for (const QStringList& arguments : commands) {
            running.push_back(std::make_unique<QProcess>());
            start(*running.back(), arguments);
        }
        for (const auto& process : running) {
            ASSERT_TRUE(process->waitForFinished(30000));
            ASSERT_EQ(process->exitCode(), 0) << process->readAllStandardError().toStdString();
        }
        const Config saved = Config::load();
        EXPECT_EQ(saved.boost, round == 10 ? 0.0 : round / 10.0) << round;
        EXPECT_EQ(saved.batteryCooling, round % 2 == 1) << round;
        EXPECT_EQ(saved.batteryTarget, 25 + round) << round;
        EXPECT_EQ(saved.batteryOnlyOnAC, round % 2 == 0) << round;
        EXPECT_EQ(saved.manualRPM, 1000 + round) << round;
    }
}

// Another account is told who owns the settings, and its change is not written.
TEST_F(Cli, AnotherAccountsSetIsRefusedWithTheOwnersName) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another account";
    ASSERT_EQ(run({"set", "boost", "0.3"}).exit, 0);
    // The second account must reach the sandbox root and the program.
    for (std::filesystem::path folder = Paths::dir();
         folder.has_relative_path() && folder != std::filesystem::temp_directory_path();
         folder = folder.parent_path()) {
        std::filesystem::permissions(folder, std::filesystem::perms(0755));
    }
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", program,
                                       "set", "boost", "1"});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(process.readAllStandardError().startsWith(
        "tarnwick set: the fan settings belong to root, who installed fan control;"));
    EXPECT_EQ(Config::load().boost, 0.3);
}

TEST_F(Cli, StatusWithoutAFanControllerSaysWhatItLookedFor) {
    simulator.terminate();
    ASSERT_TRUE(simulator.waitForFinished(10000));
    const Outcome result = run({"status"});
    EXPECT_EQ(result.exit, 0);
    EXPECT_TRUE(result.output.contains("control: ")) << result.output.toStdString();
    EXPECT_EQ(result.errors.count('\n'), 1);
    for (const char* looked : {"applesmc", "macsmc_hwmon", "tarnwick-sim"}) {
        EXPECT_TRUE(result.errors.contains(looked)) << result.errors.toStdString();
    }
}

TEST_F(Cli, JsonBarAndPrometheusFollowTheirFormats) {
    writeFile(Paths::daemonUnitLink(), "[Unit]\n");  // installed but not running
    ASSERT_EQ(run({"set", "boost", "60%"}).exit, 0);
    const Outcome json = run({"status", "--json"});
    ASSERT_EQ(json.exit, 0) << json.errors.toStdString();
    EXPECT_EQ(json.output.count('\n'), 1);
    const auto bad = violation(json.output.toUtf8(), "status.schema.json");
    EXPECT_FALSE(bad) << bad->toStdString() << json.output.toStdString();
    EXPECT_TRUE(json.output.contains(R"("boost":0.6)")) << json.output.toStdString();

    // The watching bar prints one object per line, as a status bar's continuous module reads.
    QProcess watch;
    start(watch, {"status", "--bar", "--watch", "0.5"});
    ASSERT_TRUE(waitFor(
        [&] {
            watch.waitForReadyRead(100);
            return watch.canReadLine() && watch.bytesAvailable() > 0 &&
                   QByteArray(watch.peek(1 << 16)).count('\n') >= 2;
        },
        15000));
    const QList<QByteArray> lines = watch.readAll().split('\n');
    watch.terminate();
    watch.waitForFinished(5000);
    for (int i = 0; i < 2; ++i) {
        const auto wrong = violation(lines[i], "status-bar.schema.json");
        EXPECT_FALSE(wrong) << wrong->toStdString() << lines[i].toStdString();
    }

    const Outcome metrics = run({"status", "--prometheus"});
    ASSERT_EQ(metrics.exit, 0) << metrics.errors.toStdString();
    for (const char* sample :
         {"\ntarnwick_fan_speed_rpm{fan=\"left\"} ",
          "\ntarnwick_temperature_celsius{sensor=\"cpu\"} ", "\ntarnwick_control_installed 1\n"}) {
        EXPECT_TRUE(metrics.output.contains(sample)) << sample << metrics.output.toStdString();
    }
    if (QStandardPaths::findExecutable("promtool").isEmpty()) {
        GTEST_SKIP() << "promtool (Debian's prometheus package) is not installed";
    }
    QProcess promtool;
    promtool.start("promtool", {"check", "metrics"});
    ASSERT_TRUE(promtool.waitForStarted(5000));
    promtool.write(metrics.output.toUtf8());
    promtool.closeWriteChannel();
    ASSERT_TRUE(promtool.waitForFinished(30000));
    EXPECT_EQ(promtool.exitCode(), 0) << promtool.readAll().toStdString();
}

struct QuietCase {
    const char* name;
    QStringList simulator;  // the layout and profile of the simulated Mac
};

class QuietWithDaemon : public Cli, public ::testing::WithParamInterface<QuietCase> {
    QStringList simulatorArguments() const override { return GetParam().simulator; }
};

// While the daemon runs and publishes, the commands read its files and leave the SMC alone. The
// daemon keeps the bus busy, so before each command it is stopped (SIGSTOP: its process stays
// alive, its measurements fresh for 5 s) just after it published; once the simulator's counts
// settle, every exchange is the command's.
TEST_P(QuietWithDaemon, StatusAndDiagnosticsMakeNoExchange) {
    QProcess daemon;
    support::dieWithTest(daemon);
    daemon.setProcessEnvironment(environment());
    daemon.start(QStringLiteral(TARNWICK_BUILD_DIR "/libexec/tarnwick/tarnwickd"), {});
    const auto published = [] { return Measurements::load().value_or(Measurements{}).updated; };
    ASSERT_TRUE(waitFor([&] { return published() > 0; }, 20000));
    const auto pid = static_cast<pid_t>(daemon.processId());
    const std::pair<QStringList, const char*> commands[] = {
        {{"status", "--json"}, R"("running":true)"},
        {{"status", "--bar"}, R"("text":")"},
        {{"--diagnostics"}, "\nmeasured by the daemon "}};
    for (const auto& [arguments, shows] : commands) {
        ::kill(pid, SIGCONT);
        const double last = published();
        ASSERT_TRUE(waitFor([&] { return published() > last; }, 5000));
        ::kill(pid, SIGSTOP);
        nlohmann::json counts = simState(2)["exchanges"];
        ASSERT_TRUE(waitFor(
            [&] { return std::exchange(counts, simState(2)["exchanges"]) == counts; }, 5000));
        const Outcome result = run(arguments);
        EXPECT_EQ(simState(2)["exchanges"], counts) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result.exit == 0 && result.output.contains(shows))
            << result.output.toStdString();
    }
    ::kill(pid, SIGCONT);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, QuietWithDaemon,
    ::testing::Values(
        QuietCase{"Socket", {"--profile", "mbp14-m3pro"}},
        QuietCase{"AppleSmc", {"--layout", "applesmc", "--profile", "mbp13-intel-applesmc"}},
        QuietCase{"AppleSmcT2", {"--layout", "applesmc", "--profile", "mbp16-intel-t2"}}),
    support::CaseName());

}  // namespace
