#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Tarnwick/tray/StatusItem.h"
#include "UiTest.h"

namespace {

struct TitleCase {
    std::string name;
    std::vector<double> speeds;  // empty: a machine without fans
    MenuBarStyle style;
    std::optional<double> hottest;
    QString title;
    std::optional<QSizeF> imageSize;
};

MenuBarStyle style(bool showIcon, MenuBarValue value, bool showUnit, bool colorize = true) {
    return MenuBarStyle{showIcon, value, showUnit, colorize};
}

class StatusTitle : public ::testing::TestWithParam<TitleCase> {};

TEST_P(StatusTitle, ShowsWhatTheStyleAsksFor) {
    UiSandbox sandbox;
    const TitleCase& c = GetParam();
    Model model(sandbox.options());
    std::vector<Fan> fans;
    for (std::size_t i = 0; i < c.speeds.size(); ++i) {
        fans.push_back(makeFan(static_cast<int64_t>(i), c.speeds[i]));
    }
    model.setFans(fans);
    Readings readings;
    readings.cpu = c.hottest;
    model.setReadings(readings);
    model.setMenuBar(c.style);

    const StatusButton button = statusButtonFor(model);
    EXPECT_EQ(button.title, c.title);
    ASSERT_EQ(button.image.has_value(), c.imageSize.has_value());
    if (c.imageSize) {
        EXPECT_EQ(button.image->size, *c.imageSize);
    }
}

const double nan = std::numeric_limits<double>::quiet_NaN();
const double huge = 1e300;

INSTANTIATE_TEST_SUITE_P(
    Examples, StatusTitle,
    ::testing::Values(
        TitleCase{"DefaultStyleIsTheGauge", {2345}, MenuBarStyle{}, 50, "", QSizeF(22, 22)},
        TitleCase{"SpeedWithIconAndUnit",
                  {2345, 1204},
                  style(true, MenuBarValue::rpm, true),
                  50,
                  " 2350 rpm",
                  QSizeF(16, 16)},
        TitleCase{"SpeedAlone",
                  {2345, 1204},
                  style(false, MenuBarValue::rpm, false),
                  50,
                  "2350",
                  std::nullopt},
        TitleCase{"SpeedRoundsDown",
                  {2344},
                  style(false, MenuBarValue::rpm, false),
                  50,
                  "2340",
                  std::nullopt},
        TitleCase{"SpeedUnitWithoutIcon",
                  {996},
                  style(false, MenuBarValue::rpm, true),
                  50,
                  "1000 rpm",
                  std::nullopt},
        TitleCase{"SpeedOfNoMeasure",
                  {nan},
                  style(false, MenuBarValue::rpm, false),
                  50,
                  "0",
                  std::nullopt},
        TitleCase{"SpeedOutOfRange",
                  {huge},
                  style(false, MenuBarValue::rpm, false),
                  50,
                  "–",
                  std::nullopt},
        TitleCase{"LevelBarsAlone",
                  {3000},
                  style(false, MenuBarValue::level, false),
                  50,
                  "",
                  QSizeF(21, 16)},
        TitleCase{"LevelBesideIcon",
                  {3000},
                  style(true, MenuBarValue::level, true),
                  50,
                  "",
                  QSizeF(41, 16)},
        TitleCase{
            "IconAlone", {3000}, style(true, MenuBarValue::none, true), 50, "", QSizeF(16, 16)},
        TitleCase{"FanlessRoundsHalfUp",
                  {},
                  style(true, MenuBarValue::gauge, false),
                  61.5,
                  " 62°",
                  QSizeF(16, 16)},
        TitleCase{"FanlessSixtyPointFive",
                  {},
                  style(true, MenuBarValue::rpm, true),
                  60.5,
                  " 61°",
                  QSizeF(16, 16)},
        TitleCase{"FanlessWithoutTemperature",
                  {},
                  style(true, MenuBarValue::gauge, false),
                  std::nullopt,
                  " –",
                  QSizeF(16, 16)},
        TitleCase{"FanlessWithoutIcon",
                  {},
                  style(false, MenuBarValue::rpm, false),
                  61.5,
                  "62°",
                  std::nullopt}),
    CaseName());

struct ColourCase {
    std::string name;
    bool colorize;
    std::optional<double> hottest;
    std::optional<QColor> color;
};

class StatusColour : public ::testing::TestWithParam<ColourCase> {};

TEST_P(StatusColour, WarnsFromEightyAndNinetyFiveWhenAsked) {
    UiSandbox sandbox;
    const ColourCase& c = GetParam();
    Model model(sandbox.options());
    Readings readings;
    readings.gpu = c.hottest;
    model.setReadings(readings);
    for (const bool fans : {true, false}) {
        SCOPED_TRACE(fans ? "with fans" : "fanless");
        model.setFans(fans ? std::vector<Fan>{makeFan(0, 2000)} : std::vector<Fan>{});
        for (const MenuBarValue value : allMenuBarValues) {
            model.setMenuBar(MenuBarStyle{true, value, false, c.colorize});
            const StatusButton button = statusButtonFor(model);
            EXPECT_EQ(button.titleColor, c.color);
            ASSERT_TRUE(button.image.has_value());
            EXPECT_EQ(button.image->isTemplate, !c.color.has_value());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Heat, StatusColour,
    ::testing::Values(ColourCase{"Cool", true, 79.9, std::nullopt},
                      ColourCase{"WarmAtEighty", true, 80.0, StatusColors::yellow},
                      ColourCase{"HotAtNinetyFive", true, 95.0, StatusColors::red},
                      ColourCase{"NoTemperature", true, std::nullopt, std::nullopt},
                      ColourCase{"ColoursOff", false, 99.0, std::nullopt}),
    CaseName());

TEST(StatusItemLevel, BarsFollowTheModelLevel) {
    UiSandbox sandbox;
    Model model(sandbox.options());
    model.setFans({makeFan(0, 2399)});  // 1.24 of 5 steps above 1200 on 1200..6000: level 2
    model.setMenuBar(style(false, MenuBarValue::level, false, false));
    const StatusButton button = statusButtonFor(model);
    ASSERT_TRUE(button.image.has_value());
    const QImage pixels = button.image->render(4);
    auto alphaOfBar = [&](int k) {
        return qAlpha(pixels.pixel(static_cast<int>(((k - 1) * 4.5 + 1.5) * 4), 14 * 4));
    };
    EXPECT_EQ(alphaOfBar(2), 255);
    EXPECT_NEAR(alphaOfBar(3), 64, 2);
}

int coveredPixels(const QImage& image, QRect area, const QColor& color) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() > 200 && pixel.rgb() == color.rgb()) ++count;
        }
    }
    return count;
}

TEST(TrayPicture, TemplateImagesTakeTheTextColour) {
    uiApplication();
    StatusButton button;
    button.image = StatusImage::gauge(1, std::nullopt);
    const QImage picture = trayPicture(button, 22, QColor(10, 200, 30));
    EXPECT_EQ(picture.size(), QSize(22, 22));
    EXPECT_GT(coveredPixels(picture, picture.rect(), QColor(10, 200, 30)), 40);
    EXPECT_EQ(coveredPixels(picture, picture.rect(), QColor(Qt::black)), 0);
}

TEST(TrayPicture, ColouredImagesKeepTheirColour) {
    uiApplication();
    StatusButton button;
    button.image = StatusImage::gauge(1, StatusColors::red);
    const QImage picture = trayPicture(button, 22, QColor(Qt::white));
    EXPECT_GT(coveredPixels(picture, picture.rect(), StatusColors::red), 40);
}

struct FitCase {
    std::string name;
    bool image;
    QString title;
    int side;
    bool fits;
};

class TrayTitleFit : public ::testing::TestWithParam<FitCase> {};

TEST_P(TrayTitleFit, TitleGoesIntoTheIconWhereItFits) {
    uiApplication();
    const FitCase& c = GetParam();
    StatusButton button;
    if (c.image) button.image = StatusImage::make(true, std::nullopt, std::nullopt);
    button.title = c.title;
    EXPECT_EQ(titleFitsIcon(button, c.side), c.fits);
    // The title changes the picture exactly when it fits.
    StatusButton untitled = button;
    untitled.title.clear();
    const QImage picture = trayPicture(button, c.side, QColor(Qt::black));
    EXPECT_EQ(picture != trayPicture(untitled, c.side, QColor(Qt::black)), c.fits);
    EXPECT_GT(coveredPixels(picture, picture.rect(), QColor(Qt::black)), 0);
    EXPECT_TRUE(trayToolTip(button).contains(c.title.trimmed()));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, TrayTitleFit,
    ::testing::Values(FitCase{"TemperatureUnderThermometer", true, " 62°", 22, true},
                      FitCase{"SpeedUnderFan", true, " 2350 rpm", 22, true},
                      FitCase{"LongNumberDoesNotFitSmallIcon", true, " 123456", 16, false},
                      FitCase{"TitleAlone", false, "2350", 22, true},
                      FitCase{"NoTitle", true, "", 22, false}),
    CaseName());

TEST(TrayToolTip, CarriesTheTitle) {
    StatusButton button;
    button.title = QStringLiteral(" 2350 rpm");
    EXPECT_EQ(trayToolTip(button), QStringLiteral("tarnwick · 2350 rpm"));
    button.title.clear();
    EXPECT_EQ(trayToolTip(button), QStringLiteral("tarnwick"));
}

}  // namespace
