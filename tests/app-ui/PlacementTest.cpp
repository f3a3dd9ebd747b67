#include <gtest/gtest.h>

#include "Tarnwick/panel/PanelPlacement.h"
#include "UiTest.h"

namespace {

struct PlacementCase {
    std::string name;
    QSize size;
    std::optional<QRect> anchor;
    QPoint cursor;
    QRect available;
    QPoint expected;
};

class Placement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(Placement, KeepsThePanelByItsAnchorAndInsideTheScreen) {
    const PlacementCase& c = GetParam();
    EXPECT_EQ(PanelPlacement::topLeft(c.size, c.anchor, c.cursor, c.available), c.expected);
}

const QRect laptop(0, 24, 1440, 876);  // a 1440 x 900 screen below a 24-pixel top bar

INSTANTIATE_TEST_SUITE_P(
    Edges, Placement,
    ::testing::Values(
        // Centred 6 px under an icon in the middle of a top bar.
        PlacementCase{"CentredUnderIcon", {330, 500}, QRect(700, 0, 22, 24), {}, laptop, {546, 30}},
        // 100 px from the right edge: held 8 px inside it instead of centred.
        PlacementCase{"RightEdgeWins", {330, 500}, QRect(1340, 0, 22, 24), {}, laptop, {1102, 30}},
        PlacementCase{"LeftEdge", {330, 500}, QRect(10, 0, 22, 24), {}, laptop, {8, 30}},
        // A screen narrower than the panel: the right margin wins.
        PlacementCase{
            "TooNarrow", {330, 200}, QRect(100, 0, 22, 24), {}, QRect(0, 24, 300, 600), {-38, 30}},
        // A tray at the bottom opens the panel upwards, its bottom 6 px above the icon.
        PlacementCase{"BottomTrayOpensUpwards",
                      {330, 500},
                      QRect(1300, 876, 22, 24),
                      {},
                      QRect(0, 0, 1440, 876),
                      {1102, 370}},
        // Too tall to fit above or below: the top margin wins so the header stays visible.
        PlacementCase{
            "TallerThanScreen", {330, 1000}, QRect(700, 0, 22, 24), {}, laptop, {546, 24}},
        PlacementCase{"TallPanelFromBottomTray",
                      {330, 900},
                      QRect(700, 876, 22, 24),
                      {},
                      QRect(0, 0, 1440, 876),
                      {546, 8}},
        // An icon reported inside the area (no strut): the panel still clears the screen edge.
        PlacementCase{"BottomTrayWithoutStrut",
                      {330, 500},
                      QRect(700, 850, 22, 24),
                      {},
                      QRect(0, 0, 1440, 900),
                      {546, 344}},
        // No tray geometry: the cursor stands in for the icon.
        PlacementCase{
            "CursorWhenTrayUnknown", {330, 400}, std::nullopt, {500, 10}, laptop, {335, 24}},
        PlacementCase{"CursorNearBottom", {330, 400}, std::nullopt, {500, 860}, laptop, {335, 454}},
        PlacementCase{
            "InvalidAnchorFallsBackToCursor", {330, 400}, QRect(), {500, 10}, laptop, {335, 24}},
        // A second screen to the right of the first.
        PlacementCase{"SecondScreen",
                      {330, 400},
                      QRect(3000, 0, 22, 24),
                      {},
                      QRect(1440, 0, 1920, 1080),
                      {2846, 30}},
        // No screen at all: the edge rules have nothing to hold on to.
        PlacementCase{"NoScreen", {330, 400}, QRect(1340, 0, 22, 24), {}, QRect(), {1186, 30}}),
    CaseName());

// An open panel whose content grows or shrinks keeps its top edge while it fits; the
// compositor-placed one sits in the trays' corner on the bar's side.
TEST(Placement, OpenPanelKeepsItsTopAndBarSideCornersFollowTheBar) {
    const QRect bottomBar(0, 0, 1366, 738);
    EXPECT_EQ(PanelPlacement::keptOpen(QRect(500, 400, 330, 300), {330, 313}, bottomBar),
              QPoint(500, 400));
    EXPECT_EQ(PanelPlacement::keptOpen(QRect(500, 400, 330, 300), {330, 400}, bottomBar),
              QPoint(500, 338));
    EXPECT_EQ(PanelPlacement::keptOpen(QRect(500, 30, 330, 300), {330, 900}, laptop),
              QPoint(500, 24));
    const QRect output(0, 0, 1366, 768);
    EXPECT_EQ(PanelPlacement::atBar({330, 600}, output, QRect(0, 30, 1366, 738)), QPoint(1028, 36));
    EXPECT_EQ(PanelPlacement::atBar({330, 600}, output, bottomBar), QPoint(1028, 132));
    EXPECT_EQ(PanelPlacement::atBar({330, 600}, output, output), QPoint(1028, 6));
}

}  // namespace
