// The model over a simulated Mac: in process (SimMachine behind the SMC seam, its sysfs files in
// the sandbox root), and end to end with the tarnwick-sim program and the daemon installed by the
// real install script.

#include <QProcess>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "AppSandbox.h"
#include "FanCore/Policy/Measurements.h"
#include "FanCore/Policy/Paths.h"
#include "FanCore/Policy/Platform.h"
#include "FanCore/Policy/Status.h"
#include "Tarnwick/model/DemoReadings.h"
#include "sim/SimMachine.h"
#include "sim/SimSysfs.h"
#include "sim/SimTransport.h"
#include "support/Process.h"

namespace {

using json = nlohmann::json;

class SimulatedMac : public ::testing::Test {
  protected:
    void start(const char* profile) {
        machine = std::make_unique<SimMachine>(profile);
        smc_set_transport_factory(SimTransport::factory(*machine));
        std::string error;
        ASSERT_TRUE(sysfs.prepare(*machine, error)) << error;
        publish();
    }
    void publish() {
        std::string error;
        ASSERT_TRUE(sysfs.update(*machine, error)) << error;
    }
    void expectSameFans(const Model& model) const {
        const std::vector<SimFanState> truth = machine->fans();
        ASSERT_EQ(model.fans().size(), truth.size());
        for (size_t i = 0; i < truth.size(); ++i) {
            const Fan& fan = model.fans()[i];
            EXPECT_EQ(fan.index, truth[i].index);
            // The SMC carries speeds as 32-bit floats.
            EXPECT_NEAR(fan.actual, truth[i].actual, 0.01);
            EXPECT_NEAR(fan.target, truth[i].target, 0.01);
            EXPECT_EQ(fan.mode, truth[i].mode);
            EXPECT_EQ(fan.min, truth[i].min);
            EXPECT_EQ(fan.max, truth[i].max);
        }
    }

    AppSandbox sandbox;
    SimSysfs sysfs{sandbox.root()};
    std::unique_ptr<SimMachine> machine;
};

TEST_F(SimulatedMac, ModelSeesFansAndTemperatures) {
    start("mbp14-m3pro");
    machine->setLoad(1.0);
    machine->advance(120);
    publish();
    Model model{sandbox.options()};
    expectSameFans(model);
    EXPECT_GT(model.topRPM(), 1000.0);
    ASSERT_TRUE(model.readings().cpu.has_value());
    // Every chip sensor of the profile follows the chip within a few degrees.
    EXPECT_NEAR(*model.readings().cpu, machine->chipTemperature(), 5.0);
    EXPECT_TRUE(model.readings().battery.has_value());
    EXPECT_TRUE(model.hasBattery());
    EXPECT_EQ(model.modeLine(), QStringLiteral("fan control not installed"));

    machine->setLoad(0.0);
    machine->advance(30);
    publish();
    model.refresh();
    expectSameFans(model);
}

TEST_F(SimulatedMac, NoFansWhateverTheDaemonDoes) {
    start("mbp14-m3pro");
    writeFile(Paths::daemonUnitLink(), "[Unit]\n");
    Status status;
    status.updated = sandbox.now;
    status.manual = true;
    status.targetRPM = 4000;
    status.reason = "chip 90 \u00b0C";
    std::filesystem::create_directories(Paths::statusDir());
    ASSERT_TRUE(status.save().has_value());

    Model model{sandbox.options({"tarnwick", "--no-fans"})};
    EXPECT_TRUE(model.fans().empty());
    EXPECT_EQ(model.modeLine(), QStringLiteral("no fans"));
    EXPECT_EQ(model.level(), 0);
    EXPECT_EQ(model.topRPM(), 0.0);
    EXPECT_EQ(model.speedFraction(), 0.0);
    EXPECT_EQ(model.minRPM(), 1000.0);
    EXPECT_EQ(model.maxRPM(), 6000.0);
    EXPECT_TRUE(model.readings().cpu.has_value());
}

TEST_F(SimulatedMac, DemoHotStopsEveryFanAndFixesReadings) {
    start("mbp14-m3pro");
    machine->setLoad(1.0);
    machine->advance(120);
    publish();
    Model model{sandbox.options({"tarnwick", "--demo", "hot"})};
    const std::vector<SimFanState> truth = machine->fans();
    ASSERT_EQ(model.fans().size(), truth.size());
    for (size_t i = 0; i < truth.size(); ++i) {
        const Fan& fan = model.fans()[i];
        EXPECT_GT(truth[i].actual, 0.0);
        EXPECT_EQ(fan.actual, 0.0);
        EXPECT_EQ(fan.target, 0.0);
        EXPECT_EQ(fan.mode, 0);
        EXPECT_EQ(fan.index, truth[i].index);
        EXPECT_EQ(fan.min, truth[i].min);
        EXPECT_EQ(fan.max, truth[i].max);
    }
    EXPECT_EQ(model.readings(), demoReadings("hot"));
    EXPECT_EQ(model.level(), 0);
    model.refresh();
    EXPECT_EQ(model.readings(), demoReadings("hot"));
}

TEST_F(SimulatedMac, FanlessMachine) {
    start("mba13-m2");
    Model model{sandbox.options()};
    EXPECT_TRUE(model.fans().empty());
    EXPECT_EQ(model.modeLine(), QStringLiteral("no fans"));
    EXPECT_TRUE(model.readings().cpu.has_value());
}

struct MeasuredCase {
    const char* name;
    std::optional<double> age;  // seconds before now; absent: no file
    bool garbage;
    bool used;
};

class DaemonMeasurements : public SimulatedMac,
                           public ::testing::WithParamInterface<MeasuredCase> {};

// The daemon's measurements stand in for the hardware while they are fresh; otherwise the model
// reads the simulated Mac itself.
TEST_P(DaemonMeasurements, UsedOnlyWhileFresh) {
    const MeasuredCase& c = GetParam();
    start("mbp16-intel-t2");
    std::filesystem::create_directories(Paths::statusDir());
    Fan fan;
    fan.actual = 3210;
    fan.min = 1200;
    fan.max = 6000;
    const Measurements published{sandbox.now - c.age.value_or(0),
                                 Readings{.cpu = 77.5},
                                 {fan},
                                 PowerState{.onAC = false, .charging = false, .percent = 42}};
    if (c.garbage) writeFile(Paths::measurements(), R"({"updated":)");
    if (c.age && !c.garbage) {
        ASSERT_TRUE(published.save().has_value());
    }

    Model model{sandbox.options()};
    EXPECT_EQ(model.measuredAt(), c.used ? std::optional(published.updated) : std::nullopt);
    if (c.used) {
        EXPECT_EQ(model.readings(), published.readings);
        EXPECT_EQ(model.fans(), published.fans);
        EXPECT_EQ(model.power(), published.power);
    } else {
        expectSameFans(model);
        EXPECT_NE(model.readings().cpu, 77.5);
        EXPECT_TRUE(model.readings().ssd.has_value());
        EXPECT_EQ(model.power().percent, 91);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, DaemonMeasurements,
                         ::testing::Values(MeasuredCase{"absent", std::nullopt, false, false},
                                           MeasuredCase{"fresh", 4.5, false, true},
                                           MeasuredCase{"stale", 5.5, false, false},
                                           MeasuredCase{"fromTheFuture", -5.5, false, false},
                                           MeasuredCase{"garbage", 1.0, true, false}),
                         CaseName());

// End to end: the programs as they ship, in a sandbox root.

std::optional<json> readJson(const std::filesystem::path& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    json document = json::parse(text.str(), nullptr, false);
    if (document.is_discarded()) return std::nullopt;
    return document;
}

// The mode line the status on disk calls for, by the rule the panel documents.
QString expectedModeLine(const Status& status) {
    if (status.error) return QString::fromStdString(*status.error);
    if (!status.manual) return QString::fromUtf8(Platform::baselineName.data()) + " in control";
    return QStringLiteral("tarnwick: %1 rpm \u00b7 %2")
        .arg(static_cast<qint64>(status.targetRPM))
        .arg(QString::fromStdString(status.reason));
}

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        simProgram = QStringLiteral(TARNWICK_BUILD_DIR "/bin/tarnwick-sim");
        bundle = QStringLiteral(TARNWICK_BUILD_DIR "/libexec/tarnwick");
        for (const QString& needed : {simProgram, bundle + "/tarnwickd", bundle + "/install.sh"}) {
            if (!QFileInfo(needed).isExecutable())
                GTEST_SKIP() << "not built: " << needed.toStdString();
        }
        // The real lookup: the simulator's socket under the sandbox root.
        smc_set_transport_factory({});
        sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim.setStandardOutputFile(QProcess::nullDevice());
        sim.start(simProgram, {"--root", QString::fromStdString(sandbox.root().string()),
                               "--profile", "mbp14-m3pro", "--tick-ms", "100"});
        ASSERT_TRUE(sim.waitForStarted(5000));
        const auto socket = sandbox.root() / "run/tarnwick-sim/smc.sock";
        ASSERT_TRUE(waitFor([&] { return support::acceptsConnections(socket); }, 10000));
    }

    void TearDown() override {
        // Never leave a daemon running, whatever failed above.
        if (std::filesystem::exists(sandbox.root() / "run/tarnwick/tarnwickd.pid")) {
            QProcess::execute("/bin/bash", {bundle + "/uninstall.sh"});
        }
        if (sim.state() != QProcess::NotRunning) {
            sim.terminate();
            if (!sim.waitForFinished(10000)) sim.kill();
            sim.waitForFinished(2000);
        }
    }

    std::optional<json> simState() const {
        return readJson(sandbox.root() / "run/tarnwick-sim/state.json");
    }

    // Polls until the model's mode line agrees with the status file read right after the pass,
    // and `accept` holds for it.
    bool settle(Model& model, const std::function<bool(const QString&)>& accept, int ms) {
        return waitFor(
            [&] {
                model.refresh();
                const std::optional<Status> onDisk = Status::load();
                if (!onDisk || !model.status() || !(*onDisk == *model.status())) return false;
                return model.modeLine() == expectedModeLine(*onDisk) && accept(model.modeLine());
            },
            ms);
    }

    AppSandbox sandbox;
    QString simProgram;
    QString bundle;
    QProcess sim;
};

TEST_F(EndToEnd, ModelAgreesWithDaemonAndSimulator) {
    ModelOptions options = sandbox.options();
    options.bundleDir = bundle;
    options.now = nullptr;  // the daemon stamps its status with the real clock
    options.scriptRefreshDelay = std::chrono::milliseconds(2500);
    Model model{options};
    EXPECT_EQ(model.modeLine(), QStringLiteral("fan control not installed"));
    const std::optional<json> before = simState();
    ASSERT_TRUE(before.has_value());
    ASSERT_EQ(model.fans().size(), before->at("fans").size());
    for (size_t i = 0; i < model.fans().size(); ++i) {
        EXPECT_EQ(model.fans()[i].min, before->at("fans")[i].at("min").get<double>());
        EXPECT_EQ(model.fans()[i].max, before->at("fans")[i].at("max").get<double>());
    }

    int refreshes = 0;
    QObject::connect(&model, &Model::refreshed, [&] { ++refreshes; });
    model.runPrivileged("install.sh");
    ASSERT_TRUE(waitFor([&] { return !model.runningScript(); }, 30000));
    ASSERT_FALSE(model.helperMessage().has_value()) << model.helperMessage()->toStdString();
    ASSERT_TRUE(waitFor([&] { return refreshes >= 1; }, 5000));
    EXPECT_TRUE(model.helperInstalled());
    EXPECT_FALSE(model.helperOutdated());
    EXPECT_TRUE(settle(
        model, [](const QString&) { return true; }, 15000))
        << model.modeLine().toStdString();
    EXPECT_TRUE(model.helperRunning());

    // Hot chip and full boost: the daemon takes the fans over.
    writeFile(sandbox.root() / "run/tarnwick-sim/control.json", R"({"load": 1.0})");
    Config config = model.config();
    config.boost = 1.0;
    model.setConfig(config);
    EXPECT_TRUE(settle(
        model, [](const QString& line) { return line.startsWith("tarnwick: "); }, 30000))
        << model.modeLine().toStdString();

    // The simulator publishes its state on its own tick, a little after the daemon's writes.
    std::optional<json> during;
    const auto allManual = [&] {
        during = simState();
        if (!during) return false;
        for (const json& fan : during->at("fans")) {
            if (!fan.at("manual").get<bool>()) return false;
        }
        return true;
    };
    EXPECT_TRUE(waitFor(allManual, 5000));
    ASSERT_TRUE(during.has_value());
    // The daemon publishes the fans it read at the start of its pass, before its own writes: the
    // model sees them in manual from the next pass on.
    EXPECT_TRUE(waitFor(
        [&] {
            model.refresh();
            return !model.fans().empty() &&
                   std::all_of(model.fans().begin(), model.fans().end(),
                               [](const Fan& fan) { return fan.mode == 1; });
        },
        5000));
    during = simState();
    ASSERT_TRUE(during.has_value());
    ASSERT_EQ(model.fans().size(), during->at("fans").size());
    for (size_t i = 0; i < model.fans().size(); ++i) {
        EXPECT_EQ(model.fans()[i].mode, 1);
        // Speeds move between the two reads; the range stays.
        EXPECT_NEAR(model.fans()[i].actual, during->at("fans")[i].at("actual").get<double>(), 1500);
    }
    ASSERT_TRUE(model.readings().cpu.has_value());
    EXPECT_NEAR(*model.readings().cpu, during->at("chip").get<double>(), 15.0);

    model.runPrivileged("uninstall.sh");
    ASSERT_TRUE(waitFor([&] { return !model.runningScript(); }, 30000));
    ASSERT_FALSE(model.helperMessage().has_value()) << model.helperMessage()->toStdString();
    ASSERT_TRUE(waitFor([&] { return refreshes >= 2 && !model.helperInstalled(); }, 8000));
    EXPECT_EQ(model.modeLine(), QStringLiteral("fan control not installed"));
}

}  // namespace
