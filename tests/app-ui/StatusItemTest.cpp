#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Tarnwick/tray/StatusItem.h"
#include "Tarnwick/tray/TrayPicture.h"
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

TEST(TrayPicture, TemplatesTakeTheGlyphColourOfTheTone) {
    uiApplication();
    StatusButton button;
    button.image = StatusImage::gauge(1, std::nullopt);
    for (const PanelTone tone : {PanelTone::light, PanelTone::dark}) {
        const QImage picture = trayPicture(button, 22, tone);
        EXPECT_EQ(picture.size(), QSize(22, 22));
        EXPECT_GT(coveredPixels(picture, picture.rect(), TrayColors::glyph(tone)), 40);
    }
}

// Every style the tray can show, as the model makes it.
struct Shown {
    QString name;
    StatusButton button;
};

std::vector<Shown> everyStyle(std::optional<QColor> color) {
    std::vector<Shown> shown;
    auto fans = [&](const QString& name, MenuBarStyle style) {
        StatusButton button;
        updateStatusItem(button, style, color, 0.62, 3, 2345);
        shown.push_back({name, button});
    };
    fans(QStringLiteral("gauge"), style(true, MenuBarValue::gauge, false));
    fans(QStringLiteral("speed+icon"), style(true, MenuBarValue::rpm, false));
    fans(QStringLiteral("speed+icon+unit"), style(true, MenuBarValue::rpm, true));
    fans(QStringLiteral("speed"), style(false, MenuBarValue::rpm, false));
    fans(QStringLiteral("speed+unit"), style(false, MenuBarValue::rpm, true));
    fans(QStringLiteral("level+icon"), style(true, MenuBarValue::level, false));
    fans(QStringLiteral("level"), style(false, MenuBarValue::level, false));
    fans(QStringLiteral("icon"), style(true, MenuBarValue::none, false));
    for (const bool icon : {true, false}) {
        StatusButton button;
        updateFanlessStatusItem(button, style(icon, MenuBarValue::gauge, false), color, 43.2);
        shown.push_back(
            {icon ? QStringLiteral("fanless+icon") : QStringLiteral("fanless"), button});
    }
    return shown;
}

constexpr int traySides[] = {16, 22, 24, 32};

struct Panel {
    QColor background;
    PanelTone drawnFor;
};

// Light and dark panels as desktops paint them, with the tone the icon is drawn for: the
// desktop's unknown tone on both, and each choice on its own.
const Panel panels[] = {
    {QColor(0, 0, 0), PanelTone::unknown},       {QColor(43, 43, 43), PanelTone::unknown},
    {QColor(255, 255, 255), PanelTone::unknown}, {QColor(214, 214, 214), PanelTone::unknown},
    {QColor(0, 0, 0), PanelTone::dark},          {QColor(255, 255, 255), PanelTone::light}};

QImage onPanel(const QImage& picture, const QColor& background) {
    QImage out(picture.size(), QImage::Format_RGB32);
    out.fill(background);
    QPainter(&out).drawImage(0, 0, picture);
    return out;
}

// Of the pixels that differ from the panel at all, those that stand out at 3:1 or more.
struct Legibility {
    int drawn = 0;
    int legible = 0;
};

Legibility legibility(const QImage& shown, const QColor& background) {
    Legibility result;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            const double contrast = TrayColors::contrast(shown.pixelColor(x, y), background);
            result.drawn += contrast > 1.05;
            result.legible += contrast >= 3;
        }
    }
    return result;
}

// The contact sheet: one row per style and heat, one column per panel and size, each picture
// zoomed four times. Written to $TARNWICK_TRAY_SHEET when set.
TEST(TrayPicture, EveryStyleStandsOutOnEveryPanelAtEverySize) {
    uiApplication();
    constexpr int zoom = 4;
    constexpr int cell = 32 * zoom + 8;
    const std::optional<QColor> heats[] = {std::nullopt, StatusColors::yellow, StatusColors::red};
    const int rows = static_cast<int>(everyStyle(std::nullopt).size()) * 3;
    QImage sheet(cell * 4 * static_cast<int>(std::size(panels)), cell * rows, QImage::Format_RGB32);
    sheet.fill(QColor(128, 128, 128));
    QPainter painter(&sheet);
    int row = 0;
    for (const std::optional<QColor>& heat : heats) {
        for (const Shown& shown : everyStyle(heat)) {
            for (std::size_t p = 0; p < std::size(panels); ++p) {
                for (std::size_t s = 0; s < std::size(traySides); ++s) {
                    const int side = traySides[s];
                    const QImage picture = trayPicture(shown.button, side, panels[p].drawnFor);
                    const QImage seen = onPanel(picture, panels[p].background);
                    const int column = static_cast<int>(p * std::size(traySides) + s);
                    painter.fillRect(column * cell, row * cell, cell, cell, panels[p].background);
                    painter.drawImage(
                        QRect(column * cell + 4, row * cell + 4, side * zoom, side * zoom), seen);
                    // Strokes of at least a pixel's width at full contrast; anti-aliased edges
                    // and the faint parts of bars and ring do not count.
                    const Legibility seenAs = legibility(seen, panels[p].background);
                    EXPECT_GE(seenAs.legible, side * 4 / 3)
                        << shown.name.toStdString() << " at " << side << " px on "
                        << panels[p].background.name().toStdString();
                    if (std::getenv("TARNWICK_TRAY_STATS") != nullptr) {
                        std::printf("%s %d %s %d/%d\n", shown.name.toUtf8().constData(), side,
                                    panels[p].background.name().toUtf8().constData(),
                                    seenAs.legible, seenAs.drawn);
                    }
                }
            }
            ++row;
        }
    }
    painter.end();
    if (const QString path = qEnvironmentVariable("TARNWICK_TRAY_SHEET"); !path.isEmpty()) {
        EXPECT_TRUE(sheet.save(path));
    }
}

// Pixels that differ between two renderings: what the changed part covers.
QImage changed(const QImage& a, const QImage& b) {
    QImage mask(a.size(), QImage::Format_Mono);
    mask.fill(0);
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
            const int d = std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) +
                          std::abs(p.blue() - q.blue()) + std::abs(p.alpha() - q.alpha());
            if (d > 24) mask.setPixel(x, y, 1);
        }
    }
    return mask;
}

TEST(TrayPicture, DigitsNeverTouchTheGlyph) {
    uiApplication();
    const QColor blue(0, 90, 255), green(0, 160, 60);
    const std::vector<Shown> red = everyStyle(StatusColors::red);
    const std::vector<Shown> recoloured = everyStyle(blue);
    for (std::size_t i = 0; i < red.size(); ++i) {
        for (const int side : traySides) {
            for (const PanelTone tone : {PanelTone::light, PanelTone::unknown}) {
                // The title's pixels change with its colour, the image's with the image's.
                StatusButton a = red[i].button, b = red[i].button;
                b.titleColor = blue;
                const QImage text = changed(trayPicture(a, side, tone), trayPicture(b, side, tone));
                StatusButton c = recoloured[i].button;
                a.titleColor = c.titleColor = green;
                const QImage glyph =
                    changed(trayPicture(a, side, tone), trayPicture(c, side, tone));
                int both = 0;
                for (int y = 0; y < side; ++y) {
                    for (int x = 0; x < side; ++x) {
                        both += text.pixelIndex(x, y) & glyph.pixelIndex(x, y);
                    }
                }
                EXPECT_EQ(both, 0) << red[i].name.toStdString() << " at " << side;
            }
        }
    }
}

TEST(TrayPicture, UnlitPartsReachThreeToOneOnTheirPanels) {
    for (const QColor dark : {QColor(0, 0, 0), QColor(0x1e1e1e), QColor(0x3c3c3c)}) {
        EXPECT_GE(TrayColors::contrast(TrayColors::faint(PanelTone::dark), dark), 3);
    }
    for (const QColor light : {QColor(255, 255, 255), QColor(0xeeeeee), QColor(0xd0d0d0)}) {
        EXPECT_GE(TrayColors::contrast(TrayColors::faint(PanelTone::light), light), 3);
    }
}

TEST(TrayPicture, WarningColoursKeepTheirHueAndReachThreeToOne) {
    for (const QColor warning : {StatusColors::yellow, StatusColors::red}) {
        for (const PanelTone tone : {PanelTone::light, PanelTone::dark, PanelTone::unknown}) {
            const QColor shown = TrayColors::legible(warning, tone);
            EXPECT_NEAR(shown.hslHueF(), warning.hslHueF(), 0.01);
            const double onWhite = TrayColors::contrast(shown, Qt::white);
            const double onBlack = TrayColors::contrast(shown, Qt::black);
            EXPECT_TRUE(tone == PanelTone::dark || onWhite >= 3) << onWhite;
            EXPECT_TRUE(tone == PanelTone::light || onBlack >= 3) << onBlack;
        }
    }
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
    const QImage picture = trayPicture(button, c.side, PanelTone::light);
    EXPECT_EQ(picture != trayPicture(untitled, c.side, PanelTone::light), c.fits);
    // A number that shows is never shrunk below 9 pixels per 22 of the side.
    int top = c.side, bottom = -1;
    for (int y = 0; y < c.side; ++y) {
        for (int x = 0; x < c.side; ++x) {
            if (qAlpha(picture.pixel(x, y)) > 0) top = std::min(top, y), bottom = y;
        }
    }
    if (c.fits) {
        EXPECT_GE(bottom - top + 1, std::round(c.side * 9.0 / 22.0));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, TrayTitleFit,
    ::testing::Values(FitCase{"TemperatureUnderThermometer", true, " 62°", 22, true},
                      FitCase{"FourDigitsTooLowAt22", true, " 2350 rpm", 22, false},
                      FitCase{"FourDigitsNeverFitASquare", true, " 2350 rpm", 48, false},
                      FitCase{"DegreeSignGivesWayAt16", true, " 62°", 16, true},
                      FitCase{"LongNumberDoesNotFitSmallIcon", true, " 123456", 16, false},
                      FitCase{"TitleAlone", false, "62°", 22, true},
                      FitCase{"NoTitle", true, "", 22, false}),
    CaseName());

TEST(TrayToolTip, CarriesTheChipAndTheFansWhateverTheStyle) {
    EXPECT_EQ(statusFigures(71.6, {2345, 1204}),
              QStringLiteral("chip 72 °C · fans 2350 rpm, 1200 rpm"));
    EXPECT_EQ(statusFigures(std::nullopt, {}), QStringLiteral("chip –"));
    StatusButton button;
    EXPECT_EQ(trayToolTip(button), QStringLiteral("tarnwick"));
    button.figures = statusFigures(43.2, {});
    EXPECT_EQ(trayToolTip(button), QStringLiteral("tarnwick\nchip 43 °C"));
}

}  // namespace
