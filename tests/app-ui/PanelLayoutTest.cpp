#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>

#include "Tarnwick/panel/PopoverView.h"
#include "Tarnwick/panel/views/BatterySection.h"
#include "Tarnwick/panel/views/ControlSection.h"
#include "Tarnwick/panel/views/FanBar.h"
#include "Tarnwick/panel/views/FansSection.h"
#include "Tarnwick/panel/views/Footer.h"
#include "Tarnwick/panel/views/MenuBarSection.h"
#include "Tarnwick/panel/views/TempsSection.h"
#include "Tarnwick/widgets/ElidedText.h"
#include "Tarnwick/widgets/FittingScrollArea.h"
#include "Tarnwick/widgets/ProminentButton.h"
#include "Tarnwick/widgets/Text.h"
#include "UiTest.h"

namespace {

// A shown panel over a model the test sets up by hand.
struct Panel {
    explicit Panel(QStringList arguments = {QStringLiteral("tarnwick")})
        : model(sandbox.options(arguments)), view(model, appOptions(arguments).expandMenuBar) {
        view.setAttribute(Qt::WA_DontShowOnScreen);
        view.show();
    }
    void settle() {
        view.sync();
        view.resize(view.fittingSize());
        QApplication::processEvents();
    }

    UiSandbox sandbox;
    Model model;
    PopoverView view;
};

// Which of the panel's optional parts are on screen, top to bottom.
QStringList visibleParts(const PopoverView& view) {
    QStringList parts;
    const QList<QWidget*> dividers = view.dividers();
    const QList<QPair<QString, QWidget*>> order{
        {"fans", view.fans()},   {"-", dividers[0]},          {"cooling", view.controls()},
        {"-", dividers[1]},      {"battery", view.battery()}, {"-", dividers[2]},
        {"temps", view.temps()}, {"-", dividers[3]},          {"menubar", view.menuBar()},
        {"-", dividers[4]},      {"footer", view.footer()}};
    for (const auto& [name, widget] : order) {
        if (widget->isVisible()) parts << name;
    }
    return parts;
}

struct LayoutCase {
    std::string name;
    bool fans;
    bool battery;
    QStringList parts;
};

class PanelLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(PanelLayout, ShowsTheSectionsTheMachineHas) {
    const LayoutCase& c = GetParam();
    Panel panel;
    panel.model.setFans(c.fans ? std::vector<Fan>{makeFan(0, 2000)} : std::vector<Fan>{});
    PowerState power;
    if (c.battery) power.percent = 80;
    panel.model.setPower(power);
    panel.settle();
    EXPECT_EQ(visibleParts(panel.view), c.parts);
    EXPECT_EQ(panel.view.width(), PopoverView::panelWidth);
    EXPECT_EQ(panel.view.fans()->noFansText()->isVisible(), !c.fans);
}

INSTANTIATE_TEST_SUITE_P(
    Machines, PanelLayout,
    ::testing::Values(LayoutCase{"FansAndBattery",
                                 true,
                                 true,
                                 {"fans", "-", "cooling", "-", "battery", "-", "temps", "-",
                                  "menubar", "-", "footer"}},
                      LayoutCase{
                          "FansWithoutBattery",
                          true,
                          false,
                          {"fans", "-", "cooling", "-", "temps", "-", "menubar", "-", "footer"}},
                      LayoutCase{"NoFansWithBattery",
                                 false,
                                 true,
                                 {"fans", "-", "temps", "-", "menubar", "-", "footer"}},
                      LayoutCase{"NoFansNoBattery",
                                 false,
                                 false,
                                 {"fans", "-", "temps", "-", "menubar", "-", "footer"}}),
    CaseName());

TEST(PanelLayout, BatteryReadingAloneCountsAsBattery) {
    Panel panel;
    panel.model.setFans({makeFan(0, 2000)});
    Readings readings;
    readings.battery = 31.0;
    panel.model.setReadings(readings);
    panel.settle();
    EXPECT_TRUE(panel.view.battery()->isVisible());
}

TEST(PanelLayout, FollowsTheModelWithoutBeingAsked) {
    Panel panel;
    panel.settle();
    EXPECT_FALSE(panel.view.controls()->isVisible());
    panel.model.setFans({makeFan(0, 2000)});
    ASSERT_TRUE(waitFor([&] { return panel.view.controls()->isVisible(); }, 2000));
    const int withFans = panel.view.fittingSize().height();
    panel.model.setFans({});
    ASSERT_TRUE(waitFor([&] { return !panel.view.controls()->isVisible(); }, 2000));
    EXPECT_LT(panel.view.fittingSize().height(), withFans);
}

struct NameCase {
    std::string name;
    std::vector<int64_t> indexes;
    QStringList names;
};

class FanNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(FanNames, DependOnHowManyFansThereAre) {
    const NameCase& c = GetParam();
    Panel panel;
    std::vector<Fan> fans;
    for (const int64_t index : c.indexes) fans.push_back(makeFan(index, 2000));
    panel.model.setFans(fans);
    panel.settle();
    QStringList shown;
    for (const Fan& fan : fans) shown << panel.view.fans()->rows()[fan.index].name->text();
    EXPECT_EQ(shown, c.names);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, FanNames,
    ::testing::Values(NameCase{"One", {0}, {"fan"}}, NameCase{"OneWithOtherIndex", {3}, {"fan"}},
                      NameCase{"Two", {0, 1}, {"left", "right"}},
                      NameCase{"TwoInOtherOrder", {1, 0}, {"right", "left"}},
                      NameCase{"TwoWithoutIndexZero", {1, 2}, {"right", "right"}},
                      NameCase{"Three", {0, 1, 2}, {"fan 1", "fan 2", "fan 3"}},
                      NameCase{"Four", {0, 1, 2, 3}, {"fan 1", "fan 2", "fan 3", "fan 4"}}),
    CaseName());

struct SpeedCase {
    std::string name;
    double actual;
    double max;
    QString text;
    double bar;
};

class FanRow : public ::testing::TestWithParam<SpeedCase> {};

TEST_P(FanRow, ShowsRoundedSpeedAndBarShare) {
    const SpeedCase& c = GetParam();
    Panel panel;
    panel.model.setFans({makeFan(0, c.actual, 1000, c.max)});
    panel.settle();
    const FansSection::Row row = panel.view.fans()->rows()[0];
    EXPECT_EQ(row.speed->text(), c.text);
    EXPECT_DOUBLE_EQ(row.bar->value(), c.bar);
}

const double nan = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Speeds, FanRow,
    ::testing::Values(SpeedCase{"HalfRoundsUp", 834.5, 5000, "835 rpm", 834.5 / 5000},
                      SpeedCase{"BelowHalfRoundsDown", 834.49, 5000, "834 rpm", 834.49 / 5000},
                      SpeedCase{"Half", 2500, 5000, "2500 rpm", 0.5},
                      SpeedCase{"TooSlowForABar", 99.9, 5000, "100 rpm", 0},
                      SpeedCase{"FasterThanMaxIsFull", 6000, 5000, "6000 rpm", 1},
                      SpeedCase{"NoMaximum", 2000, 0, "2000 rpm", 0},
                      SpeedCase{"MaximumNotANumber", 2000, nan, "2000 rpm", 0},
                      SpeedCase{"SpeedNotANumber", nan, 5000, "– rpm", 0},
                      SpeedCase{"SpeedBeyondInt64", 1e30, 5000, "– rpm", 1}),
    CaseName());

TEST(FanBarFill, SmallValuesStillShowADot) {
    EXPECT_EQ(FanBar::fillWidth(0, 200), 0);
    EXPECT_EQ(FanBar::fillWidth(-1, 200), 0);
    EXPECT_EQ(FanBar::fillWidth(nan, 200), 0);
    EXPECT_EQ(FanBar::fillWidth(0.001, 200), FanBar::barHeight);
    EXPECT_EQ(FanBar::fillWidth(0.5, 200), 100);
    EXPECT_EQ(FanBar::fillWidth(1, 200), 200);
}

TEST(FanRows, KeepTheirRowWhileTheIndexStays) {
    Panel panel;
    panel.model.setFans({makeFan(0, 2000), makeFan(1, 2100)});
    panel.settle();
    QWidget* right = panel.view.fans()->rows()[1].row;
    panel.model.setFans({makeFan(1, 2500), makeFan(2, 1900)});
    panel.settle();
    EXPECT_EQ(panel.view.fans()->rows()[1].row, right);
    EXPECT_EQ(panel.view.fans()->rows().size(), 2);
    EXPECT_EQ(panel.view.fans()->rows()[1].speed->text(), QStringLiteral("2500 rpm"));
}

TEST(FanRows, AnimateOnlyWhenAsked) {
    Panel panel;
    panel.model.setFans({makeFan(0, 1000, 0, 4000)});
    panel.settle();
    FanBar* bar = panel.view.fans()->rows()[0].bar;
    EXPECT_DOUBLE_EQ(bar->value(), 0.25);

    panel.model.setFans({makeFan(0, 3000, 0, 4000)}, /*animated=*/false);
    panel.settle();
    EXPECT_DOUBLE_EQ(bar->value(), 0.75);

    panel.model.setFans({makeFan(0, 1000, 0, 4000)}, /*animated=*/true);
    panel.settle();
    EXPECT_DOUBLE_EQ(bar->target(), 0.25);
    EXPECT_GT(bar->value(), 0.25);  // still on its way
    ASSERT_TRUE(waitFor([&] { return bar->value() == 0.25; }, 2000));

    panel.model.setFans({makeFan(0, 1004, 0, 4000)}, /*animated=*/true);  // under half a pixel
    panel.settle();
    EXPECT_DOUBLE_EQ(bar->value(), 0.251);
}

struct InstallCase {
    std::string name;
    bool fans;
    bool installed;
    bool outdated;
    bool installButton;
    bool updateButton;
    bool running = false;
    bool reinstallButton = false;
    bool settingsNote = false;  // the cooling controls say they wait for fan control
};

class InstallButtons : public ::testing::TestWithParam<InstallCase> {};

TEST_P(InstallButtons, OfferWhatTheInstallationNeeds) {
    const InstallCase& c = GetParam();
    Panel panel;
    panel.model.setFans(c.fans ? std::vector<Fan>{makeFan(0, 2000)} : std::vector<Fan>{});
    panel.model.setHelperInstalled(c.installed);
    panel.model.setHelperOutdated(c.outdated);
    if (c.running) {
        Status status;
        status.updated = static_cast<double>(QDateTime::currentSecsSinceEpoch());
        panel.model.setStatus(status);
    }
    panel.settle();
    const FansSection* fans = panel.view.fans();
    EXPECT_EQ(fans->installButton()->isVisible(), c.installButton);
    EXPECT_EQ(fans->installText()->isVisible(), c.installButton);
    EXPECT_EQ(fans->updateButton()->isVisible(), c.updateButton);
    EXPECT_EQ(fans->reinstallButton()->isVisible(), c.reinstallButton);
    EXPECT_EQ(panel.view.controls()->note()->isVisible(), c.settingsNote);
}

INSTANTIATE_TEST_SUITE_P(
    States, InstallButtons,
    ::testing::Values(
        InstallCase{"NotInstalled", true, false, false, true, false, false, false, true},
        InstallCase{"InstalledNotRunning", true, true, false, false, false, false, true, true},
        InstallCase{"Running", true, true, false, false, false, true, false, false},
        InstallCase{"Outdated", true, true, true, false, true, false, false, true},
        InstallCase{"NoFansNotInstalled", false, false, false, false, false},
        InstallCase{"NoFansOutdated", false, true, true, false, true}),
    CaseName());

TEST(InstallButtons, HandTheScriptToTheModel) {
    Panel panel;
    panel.model.setFans({makeFan(0, 2000)});
    panel.settle();
    // The scripts' folder has no scripts: the model says so at once, and the panel shows it in red.
    panel.view.fans()->installButton()->click();
    panel.settle();
    ASSERT_TRUE(panel.model.helperMessage().has_value());
    EXPECT_EQ(*panel.model.helperMessage(),
              QStringLiteral("install.sh is missing from ") + panel.model.bundleDir());
    const Text* message = panel.view.fans()->messageText();
    EXPECT_TRUE(message->isVisible());
    EXPECT_EQ(message->text(), *panel.model.helperMessage());
    EXPECT_EQ(message->tone(), Tone::red);
}

TEST(InstallButtons, SayWhatRunsAndTakeNoSecondRun) {
    Panel panel;
    panel.model.setFans({makeFan(0, 2000)});
    QDir().mkpath(panel.sandbox.path("bundle"));
    QFile script(panel.sandbox.path("bundle/install.sh"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("sleep 30\n");
    script.close();
    panel.settle();
    ProminentButton* install = panel.view.fans()->installButton();
    const int width = install->width();
    install->click();
    panel.settle();
    EXPECT_EQ(install->text(), QStringLiteral("installing…"));
    EXPECT_FALSE(install->isEnabled());
    EXPECT_LT(install->width(), width);  // fitted to its new text
    EXPECT_FALSE(panel.view.footer()->trigger(QStringLiteral("install fan control…")));
}

TEST(ModeLine, StaysOnOneLineAndIsCutOff) {
    Panel panel;
    panel.model.setFans({makeFan(0, 2000)});
    panel.settle();
    ElidedText* line = panel.view.fans()->modeLine();
    EXPECT_EQ(line->shownText(), QStringLiteral("fan control not installed"));
    const int oneLine = line->height();

    // A daemon error is shown as the daemon wrote it, however long.
    Status status;
    status.updated = static_cast<double>(QDateTime::currentSecsSinceEpoch());
    status.error = std::string(200, 'x');
    panel.model.setHelperInstalled(true);
    panel.model.setStatus(status);
    panel.settle();
    EXPECT_EQ(line->text(), QString(200, QLatin1Char('x')));
    EXPECT_EQ(panel.view.width(), PopoverView::panelWidth);
    EXPECT_TRUE(line->shownText().endsWith(QStringLiteral("…")));
    EXPECT_LE(line->geometry().right(), PopoverView::panelWidth - 2 * PopoverView::padding);
    EXPECT_EQ(line->height(), oneLine);
}

TEST(MenuBarSettings, StartExpandedOnlyWhenAsked) {
    Panel plain;
    EXPECT_FALSE(plain.view.menuBar()->isExpanded());
    Panel expanded({QStringLiteral("tarnwick"), QStringLiteral("--expand-menu-bar")});
    EXPECT_TRUE(expanded.view.menuBar()->isExpanded());
}

// The available height of a 1366x768 screen at scale 2, less the panel's margins, and a smaller
// one: the panel fits, its middle scrolls, and fans and footer stay in view.
class PanelHeight : public ::testing::TestWithParam<int> {};

TEST_P(PanelHeight, FitsTheScreenAndScrollsItsMiddle) {
    // Menu-bar settings expanded: the tallest panel.
    Panel panel({QStringLiteral("tarnwick"), QStringLiteral("--expand-menu-bar")});
    panel.model.setFans({makeFan(0, 2000), makeFan(1, 2100)});
    panel.settle();
    const int natural = panel.view.fittingSize().height();
    ASSERT_GT(natural, GetParam());
    const QSize capped = panel.view.fittingSize(GetParam());
    EXPECT_EQ(capped.height(), GetParam());
    panel.view.resize(capped);
    QApplication::processEvents();
    for (const QWidget* kept :
         std::initializer_list<const QWidget*>{panel.view.fans(), panel.view.footer()}) {
        EXPECT_TRUE(kept->isVisible());
        EXPECT_TRUE(panel.view.rect().contains(
            QRect(kept->mapTo(&panel.view, QPoint(0, 0)), kept->size())));
    }
    QScrollBar* bar = panel.view.scrollArea()->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    // The last control of the middle can be scrolled to.
    bar->setValue(bar->maximum());
    const QWidget* last = panel.view.menuBar();
    const QPoint bottom =
        last->mapTo(panel.view.scrollArea()->viewport(), QPoint(0, last->height() - 1));
    EXPECT_LT(bottom.y(), panel.view.scrollArea()->viewport()->height());
    // Uncapped, nothing scrolls.
    EXPECT_EQ(panel.view.fittingSize().height(), natural);
}

INSTANTIATE_TEST_SUITE_P(Screens, PanelHeight, ::testing::Values(768 / 2 - 16, 340),
                         [](const auto& testCase) { return caseNameOf("max", testCase.param); });

}  // namespace
