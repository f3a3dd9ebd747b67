// Installing and removing fan control from the open panel on a real X server (Xvfb), where the
// panel is a pop-up that holds the keyboard and pointer. A stand-in for pkexec checks that the
// grab its password prompt needs is free, then runs the real script or ends as pkexec does when
// the prompt is dismissed, no agent runs, or the user is refused. Skipped without Xvfb.

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTest>
#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>

#include "FanCore/Policy/Paths.h"
#include "FanCore/Policy/Status.h"
#include "Tarnwick/AppDelegate.h"
#include "Tarnwick/panel/PanelWindow.h"
#include "Tarnwick/panel/PopoverView.h"
#include "Tarnwick/panel/views/FansSection.h"
#include "Tarnwick/panel/views/Footer.h"
#include "Tarnwick/widgets/ProminentButton.h"
#include "UiTest.h"
#include "daemon/ProcessSupport.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/Xvfb.h"

namespace {

using namespace std::chrono_literals;

const std::filesystem::path testsDir = e2e::buildDir / "tests";

// One Xvfb for the whole program: the application object cannot move to another display.
class XServer : public ::testing::Environment {
  public:
    void SetUp() override {
        if (std::system("command -v Xvfb >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "Xvfb is not installed";
        }
        server_ = std::make_unique<support::Xvfb>(scratch_.path(), "1366x768x24");
        const std::string& display = server_->display();
        ASSERT_FALSE(display.empty()) << e2e::readText(scratch_.path() / "xvfb.log");
        ::setenv("DISPLAY", display.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
        uiApplication();
    }

    void TearDown() override { server_.reset(); }

  private:
    support::TempDir scratch_{"tarnwick-xvfb"};
    std::unique_ptr<support::Xvfb> server_;
};

const auto* const xServer = ::testing::AddGlobalTestEnvironment(new XServer);

class InstallFlow : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(fakeBin);
        std::filesystem::create_symlink(TARNWICK_SOURCE_DIR "/tests/app-ui/fake-pkexec",
                                        fakeBin / "pkexec");
        const std::string path = fakeBin.string() + ":" + std::getenv("PATH");
        environment.push_back(std::make_unique<support::ScopedEnv>("PATH", path));
        environment.push_back(std::make_unique<support::ScopedEnv>("TARNWICK_USE_PKEXEC", "1"));
        environment.push_back(
            std::make_unique<support::ScopedEnv>("FAKE_PKEXEC_LOG", pkexecLog.string()));
        environment.push_back(std::make_unique<support::ScopedEnv>(
            "FAKE_PKEXEC_PROBE", (testsDir / "grab-probe").string()));
        sim = std::make_unique<e2e::Child>(
            std::vector<std::string>{e2e::simPath.string(), "--root", root.string(), "--tick-ms",
                                     "100"},
            std::vector<std::string>{}, root.parent_path() / "sim.log");
        ASSERT_TRUE(e2e::eventually(
            [&] { return std::filesystem::exists(root / "run/tarnwick-sim/smc.sock"); }, 10s));
        smc_set_transport_factory({});

        AppDelegateOptions options;
        options.model = sandbox.options();
        options.model.bundleDir = QString::fromStdString(e2e::libexecDir.string());
        options.model.scriptRefreshDelay = 100ms;
        options.trayWait = 0ms;
        options.trayAvailable = [] { return true; };
        delegate = std::make_unique<AppDelegate>(options);
        delegate->applicationDidFinishLaunching();
    }

    void TearDown() override {
        if (std::filesystem::exists(root / "run/tarnwick/tarnwickd.pid")) {
            e2e::Child({"/bin/bash", (e2e::libexecDir / "uninstall.sh").string()}, {},
                       root.parent_path() / "cleanup.log")
                .wait(20s);
        }
        support::killSandboxDaemon(root);
        delegate.reset();
        smc_set_transport_factory([] { return SmcOpenResult{}; });
        if (sim) sim->signal(SIGTERM);
        if (sim) sim->wait(10s);
    }

    // Opens the panel and waits until the pop-up holds the grab a prompt would need.
    void openPanel() {
        delegate->showPanel();
        ASSERT_TRUE(waitFor([&] { return probe() != "free"; }, 5000))
            << "the open panel holds no grab, so this test could not catch one";
    }

    static std::string probe() {
        std::string out;
        if (FILE* pipe = ::popen((testsDir / "grab-probe").c_str(), "r")) {
            char buffer[128];
            while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
            ::pclose(pipe);
        }
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    }

    // Starts `script` the way the user does from the open panel and waits for it to end.
    void runFromPanel(const QString& script) {
        openPanel();
        if (script == QLatin1String("install.sh")) {
            ProminentButton* install = delegate->view()->fans()->installButton();
            ASSERT_TRUE(install->isVisible());
            QTest::mouseClick(install, Qt::LeftButton);
        } else {
            ASSERT_TRUE(delegate->view()->footer()->trigger("uninstall fan control…"));
        }
        EXPECT_TRUE(delegate->model().runningScript().has_value());
        ASSERT_TRUE(waitFor([&] { return !delegate->model().runningScript(); }, 60000));
    }

    std::vector<std::string> pkexecRuns() const {
        std::vector<std::string> lines;
        std::istringstream in(e2e::readText(pkexecLog));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // The simulator's state as of its last tick; an empty object while it cannot be read.
    nlohmann::json simState() const {
        const auto state = nlohmann::json::parse(
            e2e::readText(root / "run/tarnwick-sim/state.json"), nullptr, false);
        return state.is_object() ? state : nlohmann::json::object();
    }

    bool fansInMode(int mode) const {
        const nlohmann::json state = simState();
        if (!state.contains("fans") || state["fans"].empty()) return false;
        for (const auto& fan : state["fans"]) {
            if (fan.value("mode", -1) != mode) return false;
        }
        return true;
    }

    UiSandbox sandbox;
    std::filesystem::path root = sandbox.path("root").toStdString();
    std::filesystem::path fakeBin = root.parent_path() / "fake-bin";
    std::filesystem::path pkexecLog = root.parent_path() / "pkexec.log";
    std::vector<std::unique_ptr<support::ScopedEnv>> environment;
    std::unique_ptr<e2e::Child> sim;
    std::unique_ptr<AppDelegate> delegate;
};

// The application-level flow: a boost chosen before fan control exists is kept, written by the
// install and followed by the daemon, and the panel's model agrees with the daemon and the
// simulator throughout; the uninstall hands the fans back.
TEST_F(InstallFlow, BoostChosenBeforeInstallDrivesTheFansAfterIt) {
    // Before the install the settings folder cannot be made (as /var/lib is root's).
    std::filesystem::create_directories(root / "var");
    e2e::replaceText(root / "var/lib", "not a folder");
    Model& model = delegate->model();
    const nlohmann::json before = simState();
    ASSERT_EQ(model.fans().size(), before.value("fans", nlohmann::json::array()).size());
    for (size_t i = 0; i < model.fans().size(); ++i) {
        EXPECT_EQ(model.fans()[i].min, before["fans"][i].value("min", 0.0));
        EXPECT_EQ(model.fans()[i].max, before["fans"][i].value("max", 0.0));
    }
    EXPECT_EQ(model.modeLine(), QStringLiteral("fan control not installed"));
    Config config = model.config();
    config.boost = 1.0;
    model.setConfig(config);
    EXPECT_TRUE(model.settingsPending());
    EXPECT_EQ(model.helperMessage(), std::nullopt);

    runFromPanel("install.sh");
    EXPECT_EQ(pkexecRuns(), std::vector<std::string>{"grab: free"});
    EXPECT_EQ(model.helperMessage(), std::nullopt) << model.helperMessage()->toStdString();
    EXPECT_FALSE(model.settingsPending());
    EXPECT_EQ(Config::load().boost, 1.0);
    struct stat folder {};
    ASSERT_EQ(::stat(Paths::dir().c_str(), &folder), 0);
    EXPECT_EQ(folder.st_uid, ::getuid()) << "the settings belong to the installing account";
    EXPECT_EQ(folder.st_mode & 07777, 0755u);

    // The daemon takes the fans over; the panel's mode line follows the status it writes.
    EXPECT_TRUE(waitFor(
        [&] {
            model.refresh();
            const std::optional<Status> onDisk = Status::load();
            return onDisk && model.status() && *onDisk == *model.status() &&
                   model.modeLine() == QStringLiteral("tarnwick: %1 rpm \u00b7 %2")
                                           .arg(static_cast<qint64>(onDisk->targetRPM))
                                           .arg(QString::fromStdString(onDisk->reason));
        },
        20000))
        << model.modeLine().toStdString();
    EXPECT_TRUE(model.helperInstalled());
    EXPECT_FALSE(model.helperOutdated());
    EXPECT_TRUE(model.helperRunning());
    EXPECT_FALSE(delegate->view()->fans()->installButton()->isVisible());
    EXPECT_TRUE(e2e::eventually([&] { return fansInMode(1); }, 5s));
    // The daemon publishes the fans it read before its own writes: manual from its next pass.
    EXPECT_TRUE(waitFor(
        [&] {
            model.refresh();
            return !model.fans().empty() &&
                   std::all_of(model.fans().begin(), model.fans().end(),
                               [](const Fan& fan) { return fan.mode == 1; });
        },
        5000));
    const nlohmann::json during = simState();
    ASSERT_EQ(model.fans().size(), during.value("fans", nlohmann::json::array()).size());
    for (size_t i = 0; i < model.fans().size(); ++i) {
        // Speeds move between the two reads; the range stays.
        EXPECT_NEAR(model.fans()[i].actual, during["fans"][i].value("actual", 0.0), 1500);
    }
    ASSERT_TRUE(model.readings().cpu.has_value());
    EXPECT_NEAR(*model.readings().cpu, during.value("chip", 0.0), 15.0);

    // Another account's change is refused with the owner's name, and the panel shows the owner's.
    if (::geteuid() == 0) {
        const struct passwd* owner = ::getpwuid(folder.st_uid);
        ASSERT_NE(owner, nullptr);
        for (std::filesystem::path up = Paths::dir(); up != std::filesystem::temp_directory_path();
             up = up.parent_path()) {
            std::filesystem::permissions(up, std::filesystem::perms(0755));
        }
        Config quieter = model.config();
        quieter.boost = 0.2;
        ASSERT_EQ(::seteuid(65534), 0);
        model.setConfig(quieter);
        ASSERT_EQ(::seteuid(0), 0);
        EXPECT_EQ(model.helperMessage().value_or("").toStdString(),
                  "settings not saved: the fan settings belong to " + std::string(owner->pw_name) +
                      ", who installed fan control; only that account (or root) can change them, "
                      "and installing fan control again from another account hands them to it");
        EXPECT_EQ(model.config().boost, 1.0);
        EXPECT_EQ(Config::load().boost, 1.0);
    }

    runFromPanel("uninstall.sh");
    EXPECT_EQ(pkexecRuns(), (std::vector<std::string>{"grab: free", "grab: free"}));
    EXPECT_EQ(model.helperMessage(), std::nullopt) << model.helperMessage()->toStdString();
    EXPECT_TRUE(e2e::eventually([&] { return fansInMode(0); }, 10s));
    EXPECT_TRUE(waitFor(
        [&] {
            model.refresh();
            return !model.helperInstalled() &&
                   model.modeLine() == QStringLiteral("fan control not installed");
        },
        8000))
        << model.modeLine().toStdString();
}

struct RefusalCase {
    std::string name;
    const char* outcome;
    std::optional<QString> message;
};

class Refusal : public InstallFlow, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusal, IsToldApartAndInstallsNothing) {
    const support::ScopedEnv outcome("FAKE_PKEXEC_OUTCOME", GetParam().outcome);
    runFromPanel("install.sh");
    EXPECT_EQ(pkexecRuns(), std::vector<std::string>{"grab: free"});
    EXPECT_EQ(delegate->model().helperMessage(), GetParam().message);
    EXPECT_FALSE(std::filesystem::exists(root / "usr/local/sbin/tarnwickd"));
}

INSTANTIATE_TEST_SUITE_P(
    Pkexec, Refusal,
    ::testing::Values(RefusalCase{"Dismissed", "dismissed", std::nullopt},
                      RefusalCase{"NoAgent", "no-agent",
                                  QString("fan control was not installed\nno authentication agent "
                                          "is running to ask for the password; start your "
                                          "desktop's agent (polkit) and try again")},
                      RefusalCase{"Refused", "refused",
                                  QString("fan control was not installed\nnot authorized")}),
    CaseName());

}  // namespace
