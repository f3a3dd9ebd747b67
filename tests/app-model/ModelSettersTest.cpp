// What assigning the settings and the menu-bar style does beyond storing them, and how observers
// hear about assignments.

#include <QSettings>
#include <limits>
#include <string>

#include "AppSandbox.h"
#include "FanCore/Policy/Paths.h"
#include "Tarnwick/model/UserDefaults.h"

namespace {

class Setters : public ::testing::Test {
  protected:
    Setters() {
        model.onUpdate = [this] { ++updates; };
        QObject::connect(&model, &Model::aboutToChange, [this] { ++announced; });
        QObject::connect(&model, &Model::changed, [this] { ++changedCount; });
    }

    bool configFileExists() const { return std::filesystem::exists(Paths::config()); }

    MenuBarStyle storedStyle() const {
        return MenuBarStyle::load(
            *UserDefaults::open(sandbox.path("config/tarnwick/tarnwick.conf")));
    }
    bool styleFileExists() const {
        return QFileInfo::exists(sandbox.path("config/tarnwick/tarnwick.conf"));
    }

    AppSandbox sandbox;
    Model model{sandbox.options()};
    int updates = 0;
    int announced = 0;
    int changedCount = 0;
};

TEST_F(Setters, ConfigStartsFromTheSettingsFile) {
    Config stored;
    stored.boost = 0.4;
    ASSERT_TRUE(stored.save().has_value());
    Model fresh{sandbox.options()};
    EXPECT_EQ(fresh.config(), stored);
}

TEST_F(Setters, ChangedConfigIsWrittenOnce) {
    Config config = model.config();
    config.manualRPM = 3100;
    model.setConfig(config);
    ASSERT_TRUE(configFileExists());
    EXPECT_EQ(Config::load(), config);
    EXPECT_EQ(updates, 0);

    // Removing the file shows whether the next, equal assignment writes again.
    std::filesystem::remove(Paths::config());
    model.setConfig(config);
    EXPECT_FALSE(configFileExists());
    EXPECT_EQ(announced, 2);
    EXPECT_EQ(changedCount, 2);
}

// A setting another program changed since the panel last looked survives the panel's own change.
TEST_F(Setters, AChangeKeepsWhatAnotherProgramChangedMeanwhile) {
    Config elsewhere = model.config();
    elsewhere.batteryTarget = 41;
    ASSERT_TRUE(elsewhere.save().has_value());
    Config config = model.config();
    config.boost = 0.7;
    model.setConfig(config);
    elsewhere.boost = 0.7;
    EXPECT_EQ(Config::load(), elsewhere);
    EXPECT_EQ(model.config(), elsewhere);
}

TEST_F(Setters, UnwritableSettingsAreKeptForLaterAndNeverLostSilently) {
    // A file where the folder should be makes every write fail.
    std::filesystem::create_directories(Paths::dir().parent_path());
    writeFile(Paths::dir(), "in the way");
    Config config = model.config();
    config.boost = 0.7;
    model.setConfig(config);
    EXPECT_EQ(model.config(), config);
    // Before the install that is the plan: the copy waits in the user's folder, unannounced.
    EXPECT_TRUE(model.settingsPending());
    EXPECT_FALSE(model.helperMessage().has_value());
    EXPECT_EQ(Model{sandbox.options()}.config(), config);

    // With the daemon installed it would go on without them: the panel says so.
    model.setHelperInstalled(true);
    config.boost = 0.8;
    model.setConfig(config);
    ASSERT_TRUE(model.helperMessage().has_value());
    EXPECT_TRUE(model.helperMessage()->startsWith("settings not saved: cannot create folder"))
        << model.helperMessage()->toStdString();

    // Once the file can be written the message and the kept copy go.
    std::filesystem::remove(Paths::dir());
    config.boost = 0.9;
    model.setConfig(config);
    EXPECT_FALSE(model.helperMessage().has_value());
    EXPECT_FALSE(model.settingsPending());
    EXPECT_EQ(Config::load(), config);
}

struct StyleCase {
    const char* name;
    MenuBarStyle before;
    MenuBarStyle assigned;
    MenuBarStyle stored;
    int updates;  // onUpdate runs
    int assignments;
};

class MenuBarSetter : public Setters, public ::testing::WithParamInterface<StyleCase> {};

TEST_P(MenuBarSetter, StoresSavesAndRedraws) {
    const StyleCase& c = GetParam();
    model.setMenuBar(c.before);
    if (std::filesystem::exists(sandbox.path("config").toStdString())) {
        std::filesystem::remove_all(sandbox.path("config/tarnwick").toStdString());
    }
    updates = 0;
    announced = 0;

    model.setMenuBar(c.assigned);
    EXPECT_EQ(model.menuBar(), c.stored);
    EXPECT_EQ(updates, c.updates);
    EXPECT_EQ(announced, c.assignments);
    if (c.updates > 0) {
        EXPECT_EQ(storedStyle(), c.stored);
    } else {
        EXPECT_FALSE(styleFileExists());
    }
}

const MenuBarStyle kGauge{true, MenuBarValue::gauge, false, true};
const MenuBarStyle kIconNone{true, MenuBarValue::none, false, true};
const MenuBarStyle kNothing{false, MenuBarValue::none, false, true};
const MenuBarStyle kBareRpm{false, MenuBarValue::rpm, true, true};

// The forced second assignment counts as a change of its own (from the invisible style), and the
// outer assignment compares with the style held before it.
INSTANTIATE_TEST_SUITE_P(
    Table, MenuBarSetter,
    ::testing::Values(StyleCase{"sameStyleDoesNothing", kGauge, kGauge, kGauge, 0, 1},
                      StyleCase{"plainChange", kGauge, kBareRpm, kBareRpm, 1, 1},
                      StyleCase{"invisibleFromGauge", kGauge, kNothing, kIconNone, 2, 2},
                      StyleCase{"invisibleFromIconOnly", kIconNone, kNothing, kIconNone, 1, 2},
                      StyleCase{"invisibleKeepsOtherFields", kGauge,
                                MenuBarStyle{false, MenuBarValue::none, true, false},
                                MenuBarStyle{true, MenuBarValue::none, true, false}, 2, 2}),
    CaseName());

TEST_F(Setters, MenuBarStartsFromTheUserDefaults) {
    const MenuBarStyle saved{false, MenuBarValue::level, true, false};
    saved.save();
    Model fresh{sandbox.options()};
    EXPECT_EQ(fresh.menuBar(), saved);
}

TEST_F(Setters, RefreshRunsOnUpdateOnceAndAnnouncesEveryAssignment) {
    int refreshed = 0;
    QObject::connect(&model, &Model::refreshed, [&] { ++refreshed; });
    model.refresh();
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(refreshed, 1);
    // readings, fans, fan control blocked, power, status, installed, outdated: announced even
    // though nothing changed.
    EXPECT_EQ(announced, 7);
    EXPECT_EQ(changedCount, 7);
}

TEST_F(Setters, FansAnimateOnlyWhenAskedAndChanged) {
    std::vector<bool> flags;
    QObject::connect(&model, &Model::fansChanged,
                     [&](bool animated) { flags.push_back(animated); });
    Fan fan;
    fan.actual = 2000;
    model.setFans({fan}, true);
    model.setFans({fan}, true);
    fan.actual = 2100;
    model.setFans({fan}, false);
    EXPECT_EQ(flags, (std::vector<bool>{true, false, false}));
}

TEST_F(Setters, HelperMessageSurvivesRefresh) {
    model.setHelperMessage(QStringLiteral("earlier failure"));
    model.refresh();
    EXPECT_EQ(model.helperMessage(), QStringLiteral("earlier failure"));
}

// The poll is a repeating timer of the model's own, set to the interval; its timeouts refresh.
TEST_F(Setters, TimerPollsEveryTwoSeconds) {
    ModelOptions options = sandbox.options();
    options.startTimer = true;
    Model polling{options};
    QTimer* timer = polling.findChild<QTimer*>();
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_FALSE(timer->isSingleShot());
    EXPECT_EQ(timer->interval(), Model::pollIntervalMs);
    int refreshed = 0;
    QObject::connect(&polling, &Model::refreshed, [&] { ++refreshed; });
    timer->setInterval(0);  // the next timeouts come at once
    EXPECT_TRUE(waitFor([&] { return refreshed >= 2; }, 5000));
}

}  // namespace
