#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <cmath>
#include <numbers>

#include "Tarnwick/tray/StatusImage.h"
#include "UiTest.h"

namespace {

constexpr double ratio = 8;  // pixels per point in the pictures the tests read

// Alpha of the picture at point (x, y) measured from the bottom-left corner, y up, the way the
// coordinates below are written.
int alphaAt(const QImage& image, double x, double yUp, double height) {
    const QPoint pixel(static_cast<int>(x * ratio), static_cast<int>((height - yUp) * ratio));
    return qAlpha(image.pixel(pixel));
}

QColor colorAt(const QImage& image, double x, double yUp, double height) {
    return image.pixelColor(
        QPoint(static_cast<int>(x * ratio), static_cast<int>((height - yUp) * ratio)));
}

struct SizeCase {
    std::string name;
    bool icon;
    std::optional<int> level;
    QSizeF size;
};

class StatusImageSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(StatusImageSize, IsAsLargeAsItsParts) {
    uiApplication();
    const SizeCase& c = GetParam();
    const StatusImage::Image image = StatusImage::make(c.icon, c.level, std::nullopt);
    EXPECT_EQ(image.size, c.size);
    const QImage pixels = image.render(2);
    EXPECT_EQ(pixels.size(), (c.size * 2).toSize());
}

INSTANTIATE_TEST_SUITE_P(Make, StatusImageSize,
                         ::testing::Values(SizeCase{"IconAlone", true, std::nullopt,
                                                    QSizeF(16, 16)},
                                           SizeCase{"BarsAlone", false, 3, QSizeF(21, 16)},
                                           SizeCase{"IconAndBars", true, 0, QSizeF(41, 16)},
                                           SizeCase{"IconAndFullBars", true, 5, QSizeF(41, 16)}),
                         CaseName());

// Bar k: left edge at offset + (k - 1) * 4.5, bottom at 1, width 3, heights 4 .. 14.
struct BarCase {
    std::string name;
    bool icon;
    int level;
};

class StatusImageBars : public ::testing::TestWithParam<BarCase> {};

TEST_P(StatusImageBars, LitUpToTheLevelAndFaintAbove) {
    uiApplication();
    const BarCase& c = GetParam();
    const QColor red(255, 59, 48);
    const StatusImage::Image image = StatusImage::make(c.icon, c.level, red);
    const QImage pixels = image.render(ratio);
    const double offset = c.icon ? 20 : 0;
    const double heights[5] = {4, 6.5, 9, 11.5, 14};
    for (int k = 1; k <= 5; ++k) {
        SCOPED_TRACE("bar " + std::to_string(k));
        const double left = offset + (k - 1) * 4.5;
        const double top = 1 + heights[k - 1];
        const int expected = c.level >= k ? 255 : 64;
        // Inside the bar, away from its rounded corners.
        EXPECT_NEAR(alphaAt(pixels, left + 1.5, 1 + heights[k - 1] / 2, 16), expected, 2);
        EXPECT_NEAR(alphaAt(pixels, left + 1.5, top - 1.2, 16), expected, 2);
        EXPECT_NEAR(alphaAt(pixels, left + 0.3, 1.5, 16), expected, 30);
        // The bar's own colour, not the icon's or a blend.
        const QColor inside = colorAt(pixels, left + 1.5, 2, 16);
        EXPECT_EQ(inside.red(), 255);
        EXPECT_NEAR(inside.green(), 59, 2);
        // Nothing above the bar, below it, or in the 1.5-point gap to the next bar.
        EXPECT_EQ(alphaAt(pixels, left + 1.5, top + 0.3, 16), 0);
        EXPECT_EQ(alphaAt(pixels, left + 1.5, 0.6, 16), 0);
        EXPECT_EQ(alphaAt(pixels, left + 3.7, 2, 16), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Make, StatusImageBars,
                         ::testing::Values(BarCase{"LevelZeroAllFaint", false, 0},
                                           BarCase{"LevelTwo", false, 2},
                                           BarCase{"LevelFiveAllSolid", false, 5},
                                           BarCase{"LevelThreeBesideIcon", true, 3}),
                         CaseName());

TEST(StatusImageMake, IconSitsInTheLeftSquareAndBarsStartAfterTheGap) {
    uiApplication();
    const QImage pixels = StatusImage::make(true, 5, QColor(Qt::blue)).render(ratio);
    int iconPixels = 0;
    int gapPixels = 0;
    for (int y = 0; y < pixels.height(); ++y) {
        for (int x = 0; x < pixels.width(); ++x) {
            if (qAlpha(pixels.pixel(x, y)) == 0) continue;
            if (x < 16 * ratio) ++iconPixels;
            if (x >= 16 * ratio && x < 20 * ratio) ++gapPixels;
        }
    }
    EXPECT_GT(iconPixels, 16 * 16 * ratio * ratio / 5);
    EXPECT_EQ(gapPixels, 0);
}

struct TemplateCase {
    std::string name;
    std::optional<QColor> color;
    bool isTemplate;
    QColor drawn;
};

class StatusImageTemplate : public ::testing::TestWithParam<TemplateCase> {};

TEST_P(StatusImageTemplate, BlackTemplateWithoutColourElseTheColourItself) {
    uiApplication();
    const TemplateCase& c = GetParam();
    for (const StatusImage::Image& image :
         {StatusImage::make(false, 5, c.color), StatusImage::gauge(1, c.color)}) {
        EXPECT_EQ(image.isTemplate, c.isTemplate);
        const QImage pixels = image.render(ratio);
        // Bar 5 of the level picture or the ring's top of the gauge: fully opaque either way.
        const QColor sample = image.size.width() == 21 ? colorAt(pixels, 19.5, 8, 16)
                                                       : colorAt(pixels, 11, 10.3 + 9.7, 22);
        EXPECT_EQ(sample.alpha(), 255);
        EXPECT_EQ(sample.rgb(), c.drawn.rgb());
        // A tint recolours templates only.
        const QImage tinted = image.render(ratio, QColor(Qt::white));
        const QColor tintedSample = image.size.width() == 21 ? colorAt(tinted, 19.5, 8, 16)
                                                             : colorAt(tinted, 11, 10.3 + 9.7, 22);
        EXPECT_EQ(tintedSample.rgb(), c.isTemplate ? QColor(Qt::white).rgb() : c.drawn.rgb());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Colours, StatusImageTemplate,
    ::testing::Values(TemplateCase{"Absent", std::nullopt, true, QColor(Qt::black)},
                      TemplateCase{"Yellow", QColor(255, 204, 0), false, QColor(255, 204, 0)},
                      TemplateCase{"Red", QColor(255, 59, 48), false, QColor(255, 59, 48)}),
    CaseName());

// The ring: centre (11, 10.3), radius 9.7, track from 225 degrees clockwise to -45 degrees.
struct ArcCase {
    std::string name;
    double fraction;
    std::vector<double> bright;  // angles (degrees) drawn at full opacity
    std::vector<double> faint;   // angles on the track only
};

class StatusImageArc : public ::testing::TestWithParam<ArcCase> {};

TEST_P(StatusImageArc, FillsClockwiseFrom225Degrees) {
    uiApplication();
    const ArcCase& c = GetParam();
    const QImage pixels = StatusImage::gauge(c.fraction, QColor(Qt::black)).render(ratio);
    auto alphaOnRing = [&](double degrees) {
        const double radians = degrees * std::numbers::pi / 180;
        return alphaAt(pixels, 11 + 9.7 * std::cos(radians), 10.3 + 9.7 * std::sin(radians), 22);
    };
    for (const double angle : c.bright) EXPECT_EQ(alphaOnRing(angle), 255) << angle;
    for (const double angle : c.faint) EXPECT_NEAR(alphaOnRing(angle), 64, 2) << angle;
    // The opening at the bottom stays empty whatever the fraction.
    EXPECT_EQ(alphaOnRing(270), 0);
    EXPECT_EQ(alphaOnRing(250), 0);
    EXPECT_EQ(alphaOnRing(290), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Gauge, StatusImageArc,
    ::testing::Values(ArcCase{"Empty", 0, {}, {220, 180, 90, 0, -40}},
                      ArcCase{"BelowThresholdShowsTrackOnly", 0.005, {}, {215, 180, 90, 0, -40}},
                      ArcCase{"QuarterEndsAt157", 0.25, {215, 190, 168}, {146, 90, 0, -40}},
                      ArcCase{"HalfEndsStraightUp", 0.5, {215, 180, 100}, {80, 0, -40}},
                      ArcCase{"Full", 1, {215, 180, 90, 0, -35}, {}},
                      ArcCase{"AboveOneIsFull", 1.7, {215, 90, -35}, {}},
                      ArcCase{"NegativeIsEmpty", -0.4, {}, {215, 90, -35}},
                      ArcCase{"NotANumberIsEmpty", std::nan(""), {}, {215, 90, -35}}),
    CaseName());

TEST(StatusImageGauge, DrawsTheFanInTheRingCentre) {
    uiApplication();
    const QImage pixels = StatusImage::gauge(0, QColor(Qt::black)).render(ratio);
    int covered = 0;
    for (double dx = -3.5; dx <= 3.5; dx += 0.25) {
        for (double dy = -3.5; dy <= 3.5; dy += 0.25) {
            if (alphaAt(pixels, 11 + dx, 10.3 + dy, 22) > 128) ++covered;
        }
    }
    // The filled fan covers a good part of the 7-point square around the centre; the track
    // (opacity 0.25) never gets above half coverage there.
    EXPECT_GT(covered, 29 * 29 / 4);
}

}  // namespace
