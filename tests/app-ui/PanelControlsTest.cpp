#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QMenu>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <set>

#include "FanCore/Diagnostics/Diagnostics.h"
#include "FanCore/Policy/Config.h"
#include "FanCore/Policy/Paths.h"
#include "Tarnwick/model/DemoReadings.h"
#include "Tarnwick/panel/PopoverView.h"
#include "Tarnwick/panel/views/BatterySection.h"
#include "Tarnwick/panel/views/ControlSection.h"
#include "Tarnwick/panel/views/FansSection.h"
#include "Tarnwick/panel/views/Footer.h"
#include "Tarnwick/panel/views/MenuBarSection.h"
#include "Tarnwick/panel/views/TempRow.h"
#include "Tarnwick/panel/views/TempsSection.h"
#include "Tarnwick/widgets/LabeledSlider.h"
#include "Tarnwick/widgets/ProminentButton.h"
#include "Tarnwick/widgets/SegmentedControl.h"
#include "Tarnwick/widgets/Stepper.h"
#include "Tarnwick/widgets/Switch.h"
#include "Tarnwick/widgets/Text.h"
#include "UiTest.h"
#include "support/CommaLocale.h"

namespace {

struct Panel {
    explicit Panel(std::vector<Fan> fans = {makeFan(0, 2000), makeFan(1, 2100)},
                   QStringList arguments = {QStringLiteral("tarnwick"),
                                            QStringLiteral("--expand-menu-bar")})
        : model(sandbox.options(arguments)), view(model, appOptions(arguments).expandMenuBar) {
        model.setFans(fans);
        PowerState power;
        power.percent = 70;
        model.setPower(power);
        view.setAttribute(Qt::WA_DontShowOnScreen);
        view.show();
        settle();
    }
    void settle() {
        view.sync();
        view.resize(view.fittingSize());
        QApplication::processEvents();
    }
    void setConfig(const std::function<void(Config&)>& change) {
        Config config = model.config();
        change(config);
        model.setConfig(config);
        settle();
    }
    // What the daemon would read now.
    static Config stored() { return Config::load(); }

    UiSandbox sandbox;
    Model model;
    PopoverView view;
};

// A click on a check box's indicator, as a user aims it.
void tick(QCheckBox* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

// Cooling controls.

TEST(CoolingControls, PickerSwapsStrengthForFixedSpeed) {
    Panel panel;
    ControlSection* controls = panel.view.controls();
    EXPECT_TRUE(controls->autoControl()->isVisible());
    EXPECT_FALSE(controls->manualControl()->isVisible());
    EXPECT_EQ(controls->boostLabel()->text(), panel.model.boostLabel());
    EXPECT_EQ(controls->boostDetail()->text(), panel.model.boostDetail());

    SegmentedControl* picker = controls->picker();
    QTest::mouseClick(picker, Qt::LeftButton, {}, picker->segmentRect(1).center());
    panel.settle();
    EXPECT_TRUE(panel.model.config().manualMode);
    EXPECT_TRUE(Panel::stored().manualMode);
    EXPECT_FALSE(controls->autoControl()->isVisible());
    EXPECT_TRUE(controls->manualControl()->isVisible());

    QTest::mouseClick(picker, Qt::LeftButton, {}, picker->segmentRect(0).center());
    panel.settle();
    EXPECT_FALSE(Panel::stored().manualMode);
    EXPECT_TRUE(controls->autoControl()->isVisible());
}

// Drags the slider's handle from its left end to its right end in small steps, returning the
// value read back from the settings file after every step.
template <typename Read>
std::vector<double> dragAcross(Panel& panel, QSlider* slider, Read read) {
    std::vector<double> seen;
    const int y = slider->height() / 2;
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Home);
    panel.settle();
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(8, y));
    for (int x = 8; x <= slider->width() - 4; x += 6) {
        QTest::mouseMove(slider, QPoint(x, y));
        seen.push_back(read(Panel::stored()));
        panel.settle();
    }
    QTest::mouseMove(slider, QPoint(slider->width() + 40, y));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->width() + 40, y));
    seen.push_back(read(Panel::stored()));
    return seen;
}

TEST(CoolingControls, StrengthDragWritesEveryIntermediateValue) {
    Panel panel;
    QSlider* slider = panel.view.controls()->strengthSlider()->slider();
    ASSERT_GT(slider->width(), 100);
    const std::vector<double> seen =
        dragAcross(panel, slider, [](const Config& config) { return config.boost; });
    const std::set<double> distinct(seen.begin(), seen.end());
    int between = 0;
    for (const double boost : distinct) between += boost > 0.01 && boost < 0.99 ? 1 : 0;
    EXPECT_GT(between, 10);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_DOUBLE_EQ(seen.back(), 1.0);
    EXPECT_EQ(panel.view.controls()->boostLabel()->text(), QStringLiteral("full speed"));
}

TEST(CoolingControls, KeysMoveStrengthInSteps) {
    Panel panel;
    QSlider* slider = panel.view.controls()->strengthSlider()->slider();
    EXPECT_EQ(slider->focusPolicy(), Qt::StrongFocus);
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_DOUBLE_EQ(Panel::stored().boost, 0.05);
    QTest::keyClick(slider, Qt::Key_PageUp);
    EXPECT_DOUBLE_EQ(Panel::stored().boost, 0.3);
}

TEST(CoolingControls, FixedSpeedOnlyTakesStepsOfAHundredFromTheMinimum) {
    // Greatest minimum 1250, smallest maximum 5990: the range is not a multiple of 100.
    Panel panel({makeFan(0, 2000, 1250, 6000), makeFan(1, 2000, 1200, 5990)});
    panel.setConfig([](Config& c) { c.manualMode = true; });
    QSlider* slider = panel.view.controls()->speedSlider()->slider();
    const std::vector<double> seen =
        dragAcross(panel, slider, [](const Config& config) { return config.manualRPM; });
    std::set<double> distinct(seen.begin(), seen.end());
    distinct.erase(2500);  // the stored default before the drag moved the slider
    EXPECT_GT(distinct.size(), 10u);
    for (const double rpm : distinct) {
        EXPECT_EQ(std::fmod(rpm - 1250, 100), 0) << rpm;
        EXPECT_GE(rpm, 1250);
        EXPECT_LE(rpm, 5990);
    }
    EXPECT_EQ(*distinct.rbegin(), 5950);

    // Every position the keyboard reaches is a step too.
    slider->setFocus();
    for (int i = 0; i < 60; ++i) {
        QTest::keyClick(slider, Qt::Key_Left);
        const double rpm = Panel::stored().manualRPM;
        EXPECT_EQ(std::fmod(rpm - 1250, 100), 0) << rpm;
    }
    EXPECT_EQ(Panel::stored().manualRPM, 1250);
}

struct StepsCase {
    std::string name;
    double minimum;
    double maximum;
    std::optional<int> steps;
};

class SpeedStepsRange : public ::testing::TestWithParam<StepsCase> {};

TEST_P(SpeedStepsRange, CoversTheCommonRange) {
    const StepsCase& c = GetParam();
    const std::optional<SpeedSteps> steps = SpeedSteps::between(c.minimum, c.maximum);
    ASSERT_EQ(steps.has_value(), c.steps.has_value());
    if (!steps) return;
    EXPECT_EQ(steps->steps, *c.steps);
    EXPECT_LE(steps->speedAt(steps->steps), c.maximum);
    EXPECT_EQ(steps->speedAt(0), c.minimum);
}

INSTANTIATE_TEST_SUITE_P(Ranges, SpeedStepsRange,
                         ::testing::Values(StepsCase{"WholeHundreds", 1200, 6000, 48},
                                           StepsCase{"LastStepShort", 1250, 5990, 47},
                                           StepsCase{"SinglePoint", 3000, 3000, 0},
                                           StepsCase{"NarrowerThanAStep", 3000, 3050, 0},
                                           StepsCase{"NoOverlap", 4000, 3500, std::nullopt},
                                           StepsCase{"NotANumber", std::nan(""), 3500,
                                                     std::nullopt},
                                           StepsCase{"Infinite", 1000, HUGE_VAL, std::nullopt}),
                         CaseName());

TEST(CoolingControls, RangesThatDoNotOverlapLockTheFixedSpeed) {
    Panel panel({makeFan(0, 2000, 3000, 3500), makeFan(1, 2000, 4000, 6000)});
    panel.setConfig([](Config& c) {
        c.manualMode = true;
        c.manualRPM = 3700;
    });
    LabeledSlider* slider = panel.view.controls()->speedSlider();
    EXPECT_FALSE(slider->isEnabled());
    QTest::keyClick(slider->slider(), Qt::Key_Right);
    EXPECT_EQ(Panel::stored().manualRPM, 3700);
    EXPECT_EQ(panel.view.controls()->speedText()->text(), QStringLiteral("3700 rpm"));
}

TEST(CoolingControls, StoredSpeedOutsideTheRangeIsShownAsStoredAndKept) {
    Panel panel;  // 1200 .. 6000
    panel.setConfig([](Config& c) {
        c.manualMode = true;
        c.manualRPM = 945.9;
    });
    EXPECT_EQ(panel.view.controls()->speedText()->text(), QStringLiteral("945 rpm"));
    EXPECT_EQ(panel.view.controls()->speedSlider()->slider()->value(), 0);
    panel.model.refresh();
    panel.settle();
    EXPECT_EQ(Panel::stored().manualRPM, 945.9);
}

// Battery.

struct BatteryCase {
    std::string name;
    bool cooling;
};

class BatteryControls : public ::testing::TestWithParam<BatteryCase> {};

TEST_P(BatteryControls, TargetAndChargerFollowTheSwitch) {
    Panel panel;
    panel.setConfig([&](Config& c) {
        c.batteryCooling = GetParam().cooling;
        c.batteryTarget = 35;
        c.batteryOnlyOnAC = false;
    });
    BatterySection* battery = panel.view.battery();
    EXPECT_TRUE(battery->coolingSwitch()->isEnabled());
    EXPECT_EQ(battery->coolingSwitch()->isChecked(), GetParam().cooling);
    EXPECT_EQ(battery->targetStepper()->isEnabled(), GetParam().cooling);
    EXPECT_EQ(battery->chargerCheckBox()->isEnabled(), GetParam().cooling);
    // Dimmed controls still show what is stored.
    EXPECT_EQ(battery->targetStepper()->title(), QStringLiteral("35 °C"));
    EXPECT_FALSE(battery->chargerCheckBox()->isChecked());

    // The row's text dims with its control.
    const Text* label = nullptr;
    for (const Text* text : battery->findChildren<Text*>()) {
        if (text->text() == QStringLiteral("keep battery below")) label = text;
    }
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->isEnabled(), GetParam().cooling);
    EXPECT_NE(label->palette().color(QPalette::Disabled, QPalette::WindowText),
              label->palette().color(QPalette::Active, QPalette::WindowText));

    // Clicks on a dimmed control change nothing.
    tick(battery->chargerCheckBox());
    EXPECT_EQ(Panel::stored().batteryOnlyOnAC, GetParam().cooling);
}

INSTANTIATE_TEST_SUITE_P(Switch, BatteryControls,
                         ::testing::Values(BatteryCase{"On", true}, BatteryCase{"Off", false}),
                         CaseName());

TEST(BatteryControls, SwitchWritesTheSetting) {
    Panel panel;
    QTest::mouseClick(panel.view.battery()->coolingSwitch(), Qt::LeftButton);
    EXPECT_TRUE(Panel::stored().batteryCooling);
    panel.settle();
    EXPECT_TRUE(panel.view.battery()->targetStepper()->isEnabled());
}

TEST(BatteryControls, StepperStopsAtTwentyEightAndForty) {
    Panel panel;
    panel.setConfig([](Config& c) {
        c.batteryCooling = true;
        c.batteryTarget = 38;
    });
    Stepper* stepper = panel.view.battery()->targetStepper();
    for (int i = 0; i < 5; ++i) {
        stepper->stepBy(true);
        panel.settle();
    }
    EXPECT_EQ(Panel::stored().batteryTarget, 40);
    EXPECT_EQ(stepper->title(), QStringLiteral("40 °C"));
    EXPECT_FALSE(stepper->canStepUp());
    for (int i = 0; i < 20; ++i) {
        QTest::keyClick(stepper, Qt::Key_Down);
        panel.settle();
    }
    EXPECT_EQ(Panel::stored().batteryTarget, 28);
    EXPECT_EQ(stepper->title(), QStringLiteral("28 °C"));
}

TEST(BatteryControls, StepperTitleHasNoDecimals) {
    Panel panel;
    panel.setConfig([](Config& c) { c.batteryTarget = 33.4; });
    EXPECT_EQ(panel.view.battery()->targetStepper()->title(), QStringLiteral("33 °C"));
}

// Temperatures.

struct ColourCase {
    std::string name;
    std::size_t row;
    double value;
    Tone tone;
};

class TemperatureColour : public ::testing::TestWithParam<ColourCase> {};

TEST_P(TemperatureColour, TurnsYellowThenRedAtTheRowsLimits) {
    const ColourCase& c = GetParam();
    Panel panel;
    Readings readings;
    std::optional<double>* fields[] = {&readings.cpu,     &readings.gpu,  &readings.battery,
                                       &readings.ssd,     &readings.wifi, &readings.airflow,
                                       &readings.palmRest};
    *fields[c.row] = c.value;
    panel.model.setReadings(readings);
    panel.settle();
    const TempRow* row = panel.view.temps()->rows()[c.row];
    EXPECT_TRUE(row->isVisible());
    EXPECT_EQ(row->valueTone(), c.tone);
}

INSTANTIATE_TEST_SUITE_P(Limits, TemperatureColour,
                         ::testing::Values(ColourCase{"CpuBelowWarm", 0, 79.9, Tone::primary},
                                           ColourCase{"CpuWarmAtEighty", 0, 80.0, Tone::yellow},
                                           ColourCase{"CpuHotAtNinetyFive", 0, 95.0, Tone::red},
                                           ColourCase{"GpuJustBelowHot", 1, 94.99, Tone::yellow},
                                           ColourCase{"BatteryCool", 2, 34.9, Tone::primary},
                                           ColourCase{"BatteryWarm", 2, 36.0, Tone::yellow},
                                           ColourCase{"BatteryHotAtForty", 2, 40.0, Tone::red},
                                           ColourCase{"SsdWarmAtSixty", 3, 60.0, Tone::yellow},
                                           ColourCase{"SsdHotAtSeventy", 3, 70.0, Tone::red},
                                           ColourCase{"WifiHotAtSixtyFive", 4, 65.0, Tone::red},
                                           ColourCase{"AirWarmAtFiftyFive", 5, 55.0, Tone::yellow},
                                           ColourCase{"PalmRestCool", 6, 54.9, Tone::primary},
                                           ColourCase{"NotANumber", 0, std::nan(""),
                                                      Tone::primary}),
                         CaseName());

TEST(Temperatures, RowsInOrderWithTheirNamesAndSymbols) {
    Panel panel;
    panel.model.setReadings(demoReadings(QStringLiteral("hot")));
    PowerState power;
    power.percent = 80;
    power.charging = true;
    panel.model.setPower(power);
    panel.settle();
    QStringList names;
    QStringList icons;
    QStringList values;
    for (const TempRow* row : panel.view.temps()->rows()) {
        names << row->name();
        icons << row->icon();
        values << row->valueText();
    }
    EXPECT_EQ(names, QStringList({"CPU", "GPU", "battery 80 % · charging", "SSD", "Wi\u2011Fi",
                                  "internal air", "palm rest"}));
    EXPECT_EQ(icons, QStringList({"cpu", "square.stack.3d.up", "battery.100percent.bolt",
                                  "internaldrive", "wifi", "wind", "hand.raised"}));
    EXPECT_EQ(values, QStringList({"97.4 °C", "88.2 °C", "38.1 °C", "54.3 °C", "49.6 °C", "47.2 °C",
                                   "36.8 °C"}));

    power.charging = false;
    panel.model.setPower(power);
    panel.settle();
    EXPECT_EQ(panel.view.temps()->rows()[2]->icon(), QStringLiteral("battery.75percent"));
}

TEST(Temperatures, AbsentReadingsTakeNoRoom) {
    Panel panel;
    panel.model.setReadings(demoReadings(QStringLiteral("warm")));
    panel.settle();
    const int full = panel.view.temps()->sizeHint().height();
    Readings readings = demoReadings(QStringLiteral("warm"));
    readings.battery.reset();
    panel.model.setReadings(readings);
    panel.settle();
    EXPECT_FALSE(panel.view.temps()->rows()[2]->isVisible());
    const int withoutBattery = panel.view.temps()->sizeHint().height();
    EXPECT_LT(withoutBattery, full);

    panel.model.setReadings(Readings{});
    panel.settle();
    for (const TempRow* row : panel.view.temps()->rows()) EXPECT_FALSE(row->isVisible());
}

struct NameCase {
    std::string name;
    PowerState power;
    QString text;
};

class BatteryName : public ::testing::TestWithParam<NameCase> {};

TEST_P(BatteryName, DescribesChargeAndCharger) {
    EXPECT_EQ(batteryName(GetParam().power), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, BatteryName,
    ::testing::Values(
        NameCase{"Charging", {true, true, 80}, "battery 80 % · charging"},
        NameCase{"FullOnAdapter", {true, false, 100}, "battery 100 % · not charging"},
        NameCase{"OnBattery", {false, false, 57}, "battery 57 %"},
        NameCase{"ChargingWithoutPercent", {true, true, std::nullopt}, "battery · charging"},
        NameCase{"NothingKnown", {false, false, std::nullopt}, "battery"}),
    CaseName());

// Menu-bar settings.

struct MenuBarCase {
    std::string name;
    MenuBarValue value;
    bool showIconEnabled;
    bool showUnitEnabled;
    QString segment;
};

class MenuBarChecks : public ::testing::TestWithParam<MenuBarCase> {};

TEST_P(MenuBarChecks, EnabledByWhatTheValueUses) {
    const MenuBarCase& c = GetParam();
    Panel panel;
    panel.model.setMenuBar(MenuBarStyle{true, c.value, false, true});
    panel.settle();
    MenuBarSection* section = panel.view.menuBar();
    EXPECT_TRUE(section->fanVariant()->isVisible());
    EXPECT_FALSE(section->fanlessVariant()->isVisible());
    EXPECT_EQ(section->showIcon()->isEnabled(), c.showIconEnabled);
    EXPECT_EQ(section->showUnit()->isEnabled(), c.showUnitEnabled);
    EXPECT_TRUE(section->colorize()->isEnabled());
    EXPECT_EQ(section->valuePicker()->labels().value(section->valuePicker()->selected()),
              c.segment);
}

INSTANTIATE_TEST_SUITE_P(
    Values, MenuBarChecks,
    ::testing::Values(MenuBarCase{"Rpm", MenuBarValue::rpm, true, true, "speed"},
                      MenuBarCase{"Gauge", MenuBarValue::gauge, false, false, "gauge"},
                      MenuBarCase{"Level", MenuBarValue::level, true, false, "level"},
                      MenuBarCase{"None", MenuBarValue::none, false, false, "icon"}),
    CaseName());

TEST(MenuBarChecks, PickerAndChecksWriteTheStyle) {
    Panel panel;
    MenuBarSection* section = panel.view.menuBar();
    SegmentedControl* picker = section->valuePicker();
    QTest::mouseClick(picker, Qt::LeftButton, {}, picker->segmentRect(0).center());
    EXPECT_EQ(panel.model.menuBar().value, MenuBarValue::rpm);
    panel.settle();
    tick(section->showUnit());
    EXPECT_TRUE(panel.model.menuBar().showUnit);
    tick(section->colorize());
    EXPECT_FALSE(panel.model.menuBar().colorize);
    tick(section->showIcon());
    EXPECT_FALSE(panel.model.menuBar().showIcon);
    SegmentedControl* tray = section->appearancePicker();
    QTest::mouseClick(tray, Qt::LeftButton, {}, tray->segmentRect(2).center());
    EXPECT_EQ(panel.model.menuBar().appearance, TrayAppearance::dark);
    EXPECT_EQ(MenuBarStyle::load(), panel.model.menuBar());
}

TEST(MenuBarChecks, FanlessVariantOffersIconAndColoursOnly) {
    Panel panel(std::vector<Fan>{});
    panel.model.setMenuBar(MenuBarStyle{true, MenuBarValue::none, false, true});
    panel.settle();
    MenuBarSection* section = panel.view.menuBar();
    EXPECT_FALSE(section->fanVariant()->isVisible());
    EXPECT_TRUE(section->fanlessVariant()->isVisible());
    EXPECT_TRUE(section->fanlessShowIcon()->isEnabled());
    EXPECT_TRUE(section->fanlessColorize()->isEnabled());
    tick(section->fanlessShowIcon());
    // The model keeps an icon for "none"; the fanless item shows the thermometer without it.
    EXPECT_TRUE(panel.model.menuBar().showIcon);
    panel.model.setMenuBar(MenuBarStyle{true, MenuBarValue::gauge, false, true});
    panel.settle();
    tick(section->fanlessShowIcon());
    EXPECT_FALSE(panel.model.menuBar().showIcon);
    panel.settle();
    EXPECT_FALSE(section->fanlessShowIcon()->isChecked());
    EXPECT_TRUE(section->fanlessShowIcon()->isEnabled());
}

TEST(MenuBarChecks, ClickingTheHeaderTextFlipsTheSettings) {
    Panel panel({makeFan(0, 2000)}, {QStringLiteral("tarnwick")});
    MenuBarSection* section = panel.view.menuBar();
    ASSERT_FALSE(section->isExpanded());
    EXPECT_FALSE(section->fanVariant()->isVisible());
    const int closed = panel.view.fittingSize().height();
    QWidget* text = section->headerText();
    QTest::mouseClick(section->header(), Qt::LeftButton, {},
                      text->geometry().topRight() + QPoint(-2, 2));
    EXPECT_TRUE(section->isExpanded());
    panel.settle();
    EXPECT_TRUE(section->fanVariant()->isVisible());
    EXPECT_GT(panel.view.fittingSize().height(), closed);
    QTest::mouseClick(section->header(), Qt::LeftButton, {},
                      QPoint(4, section->header()->height() / 2));
    EXPECT_FALSE(section->isExpanded());
    // Beyond the text the header row is not a button.
    QTest::mouseClick(section->header(), Qt::LeftButton, {},
                      QPoint(section->header()->width() - 4, section->header()->height() / 2));
    EXPECT_FALSE(section->isExpanded());
}

// Footer.

struct GearCase {
    std::string name;
    bool installed;
    bool fans;
    QStringList items;
};

class GearMenu : public ::testing::TestWithParam<GearCase> {};

constexpr const char* kAlerts[] = {"alert when the chip stays hot",
                                   "alert when a fan may have failed",
                                   "alert when fan control stops"};

TEST_P(GearMenu, OffersTheCommandsThatApply) {
    const GearCase& c = GetParam();
    Panel panel(c.fans ? std::vector<Fan>{makeFan(0, 2000)} : std::vector<Fan>{});
    panel.model.setHelperInstalled(c.installed);
    panel.settle();
    EXPECT_EQ(panel.view.footer()->menuItems(), c.items);
}

INSTANTIATE_TEST_SUITE_P(
    States, GearMenu,
    ::testing::Values(GearCase{"InstalledWithFans",
                               true,
                               true,
                               {"about tarnwick", "-", "reinstall fan control…",
                                "uninstall fan control…", "copy diagnostics", "-", kAlerts[0],
                                kAlerts[1], kAlerts[2], "-", "quit tarnwick"}},
                      GearCase{"NotInstalledWithFans",
                               false,
                               true,
                               {"about tarnwick", "-", "install fan control…", "copy diagnostics",
                                "-", kAlerts[0], kAlerts[1], kAlerts[2], "-", "quit tarnwick"}},
                      GearCase{"InstalledWithoutFans",
                               true,
                               false,
                               {"about tarnwick", "-", "uninstall fan control…", "copy diagnostics",
                                "-", kAlerts[0], kAlerts[1], kAlerts[2], "-", "quit tarnwick"}},
                      GearCase{"NotInstalledWithoutFans",
                               false,
                               false,
                               {"about tarnwick", "-", "copy diagnostics", "-", kAlerts[0],
                                kAlerts[1], kAlerts[2], "-", "quit tarnwick"}}),
    CaseName());

TEST(GearMenu, OpensOnReturnAndKeepsItsEntriesWhileTheModelChanges) {
    Panel panel;
    Footer* footer = panel.view.footer();
    QMenu* menu = footer->menu();
    QStringList shown;
    bool keptHighlight = false;
    QTimer::singleShot(200, [&] {
        for (const QAction* action : menu->actions()) {
            shown << (action->isSeparator() ? QStringLiteral("-") : action->text());
        }
        QAction* first = menu->actions().value(0);
        menu->setActiveAction(first);
        panel.model.refresh();  // what the two-second poll does
        panel.settle();
        keptHighlight = first != nullptr && menu->activeAction() == first;
        menu->close();
    });
    const QStringList expected = footer->menuItems();
    footer->gearButton()->setFocus();
    QTest::keyClick(footer->gearButton(), Qt::Key_Return);
    EXPECT_EQ(shown, expected);
    EXPECT_TRUE(keptHighlight);
}

TEST(GearMenu, AlertEntriesFollowAndChangeTheSettings) {
    Panel panel;
    EXPECT_FALSE(panel.model.alerts().chipHot);
    ASSERT_TRUE(panel.view.footer()->trigger(QString::fromLatin1(kAlerts[0])));
    EXPECT_TRUE(panel.model.alerts().chipHot);
    ASSERT_TRUE(panel.view.footer()->trigger(QString::fromLatin1(kAlerts[2])));
    EXPECT_FALSE(panel.model.alerts().controlStopped);
    EXPECT_TRUE(panel.model.alerts().fanFailure);
}

TEST(GearMenu, CopyDiagnosticsReplacesTheClipboard) {
    Panel panel;
    QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
    ASSERT_TRUE(panel.view.footer()->trigger(QStringLiteral("copy diagnostics")));
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_EQ(copied.toStdString(), Diagnostics::report(panel.model.sensors()) + "\n");
    EXPECT_TRUE(copied.startsWith(QStringLiteral("chip: ")));
    EXPECT_TRUE(panel.view.footer()->copiedText()->isVisible());
}

TEST(GearMenu, CopiedReportIsTheCommandLinesInACommaLocale) {
    support::CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << comma.why();
    UiSandbox sandbox;
    const QString hwmon = sandbox.path("root/sys/class/hwmon/hwmon0/");
    QDir().mkpath(hwmon);
    for (const auto& [file, text] : {std::pair{"name", "coretemp\n"},
                                     {"temp1_label", "Package id 0\n"},
                                     {"temp1_input", "40800\n"}}) {
        QFile out(hwmon + file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(text);
    }
    Model model(sandbox.options());
    Footer footer(model);
    ASSERT_TRUE(footer.trigger(QStringLiteral("copy diagnostics")));
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(copied.contains(QStringLiteral("40.8 \u00b0C"))) << copied.toStdString();

    QProcess cli;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QString::fromLatin1(comma.name));
    environment.insert(QStringLiteral("LOCPATH"), QString::fromStdString(comma.locpath()));
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(TARNWICK_BUILD_DIR "/bin/tarnwick"),
              {QStringLiteral("--diagnostics")});
    ASSERT_TRUE(cli.waitForFinished(20000));
    EXPECT_EQ(cli.readAllStandardOutput(), copied.toUtf8());
}

TEST(GearMenu, InstallItemsHandTheScriptToTheModel) {
    Panel panel;
    panel.model.setHelperInstalled(true);
    panel.settle();
    ASSERT_TRUE(panel.view.footer()->trigger(QStringLiteral("uninstall fan control…")));
    EXPECT_EQ(panel.model.helperMessage(),
              std::optional<QString>(QStringLiteral("uninstall.sh is missing from ") +
                                     panel.model.bundleDir()));
}

TEST(GearMenu, QuitEndsTheEventLoop) {
    Panel panel;
    bool quit = false;
    QTimer::singleShot(0, [&] { panel.view.footer()->trigger(QStringLiteral("quit tarnwick")); });
    QTimer::singleShot(3000, [&] { QCoreApplication::exit(1); });
    quit = QCoreApplication::exec() == 0;
    EXPECT_TRUE(quit);
}

TEST(Footer, LaunchAtLoginFollowsTheAutostartEntry) {
    Panel panel;
    QCheckBox* box = panel.view.footer()->launchAtLogin();
    EXPECT_FALSE(box->isChecked());
    tick(box);
    panel.settle();
    EXPECT_TRUE(panel.model.launchAtLogin());
    EXPECT_TRUE(box->isChecked());
    tick(box);
    panel.settle();
    EXPECT_FALSE(panel.model.launchAtLogin());
    EXPECT_FALSE(box->isChecked());
}

}  // namespace

// Accessibility.

struct RoleCase {
    std::string name;
    std::function<QWidget*(const PopoverView&)> control;
    QAccessible::Role role;
    QString label;
};

class AccessibleControl : public ::testing::TestWithParam<RoleCase> {};

TEST_P(AccessibleControl, HasItsRoleAndName) {
    Panel panel;
    panel.model.setReadings(demoReadings(QStringLiteral("hot")));
    panel.settle();
    const QAccessibleInterface* control =
        QAccessible::queryAccessibleInterface(GetParam().control(panel.view));
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->role(), GetParam().role);
    EXPECT_EQ(control->text(QAccessible::Name), GetParam().label);
}

INSTANTIATE_TEST_SUITE_P(
    Panel, AccessibleControl,
    ::testing::Values(RoleCase{"ModePicker", [](auto& v) { return v.controls()->picker(); },
                               QAccessible::PageTabList, "fan control mode"},
                      RoleCase{"TargetStepper",
                               [](auto& v) { return v.battery()->targetStepper(); },
                               QAccessible::SpinBox, "keep battery below"},
                      RoleCase{"Temperatures", [](auto& v) { return v.temps(); }, QAccessible::List,
                               "Temperatures"},
                      RoleCase{"TempRow", [](auto& v) { return v.temps()->rows()[0]; },
                               QAccessible::ListItem, "CPU 97.4 °C"},
                      RoleCase{"TrayDisclosure", [](auto& v) { return v.menuBar()->header(); },
                               QAccessible::Button, "Tray icon"},
                      RoleCase{"Gear", [](auto& v) { return v.footer()->gearButton(); },
                               QAccessible::ButtonMenu, "more"}),
    CaseName());

// Segments, stepper and disclosure act through their accessible actions as a click does.
TEST(AccessibleControl, ActionsChangeWhatTheControlShows) {
    Panel panel;
    panel.setConfig([](Config& c) { c.batteryCooling = true; });
    auto of = [](QWidget* control) { return QAccessible::queryAccessibleInterface(control); };
    QAccessibleInterface* manual = of(panel.view.controls()->picker())->child(1);
    ASSERT_NE(manual, nullptr);
    EXPECT_EQ(manual->text(QAccessible::Name), "manual");
    manual->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(panel.model.config().manualMode);
    EXPECT_TRUE(manual->state().selected);
    QAccessibleInterface* stepper = of(panel.view.battery()->targetStepper());
    const double target = panel.model.config().batteryTarget;
    EXPECT_EQ(stepper->valueInterface()->currentValue().toDouble(), target);
    stepper->actionInterface()->doAction(QAccessibleActionInterface::increaseAction());
    EXPECT_EQ(panel.model.config().batteryTarget, target + 1);
    QAccessibleInterface* header = of(panel.view.menuBar()->header());
    EXPECT_TRUE(header->state().expanded);
    header->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_FALSE(panel.view.menuBar()->isExpanded());
    EXPECT_TRUE(header->state().collapsed);
}

// Every stop of the Tab order has a name and a role a screen reader can announce, and looks
// different while it has the focus.
TEST(AccessibleControl, EveryTabStopIsNamedAndShowsItsFocus) {
    Panel panel;
    panel.setConfig([](Config& c) { c.batteryCooling = true; });
    QApplication::setActiveWindow(&panel.view);
    QWidget* control = panel.view.fans()->installButton();
    control->setFocus(Qt::TabFocusReason);
    std::set<QWidget*> seen;
    while (control != nullptr && seen.insert(control).second) {
        const QAccessibleInterface* named = QAccessible::queryAccessibleInterface(control);
        const char* kind = control->metaObject()->className();
        EXPECT_FALSE(named->text(QAccessible::Name).isEmpty()) << kind;
        EXPECT_NE(named->role(), QAccessible::Client) << kind;
        const QImage focused = control->grab().toImage();
        QTest::keyClick(control, Qt::Key_Tab);
        EXPECT_NE(control->grab().toImage(), focused) << kind << " shows no focus";
        control = QApplication::focusWidget();
    }
    EXPECT_GE(seen.size(), 13u);  // every control but the disabled "show rpm"
}
