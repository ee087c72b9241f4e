// Where windows open: the rectangle arithmetic alone, case by case.

#include "placement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <vector>

namespace runlight::placement {

void PrintTo(const Rect& rect, std::ostream* out) {
    *out << rect.width << "x" << rect.height << "+" << rect.left << "+" << rect.top;
}

namespace {

struct FitCase {
    const char* what;
    Rect window;
    Rect area;
    Rect expected;
};

TEST(Placement, FitInsideMovesAWindowTheLeastDistanceOntoTheArea) {
    const Rect screen{0, 0, 1024, 768};
    const Rect belowPanel{0, 30, 1366, 738};  // a panel along the top
    const Rect second{1920, 0, 1280, 1024};   // a second screen, right of the first
    const std::vector<FitCase> cases{
        {"fits where it is", {270, 212, 462, 492}, screen, {270, 212, 462, 492}},
        {"touching every edge", {0, 0, 1024, 768}, screen, {0, 0, 1024, 768}},
        {"off the bottom: up only", {270, 212, 462, 492}, {0, 0, 1024, 600}, {270, 108, 462, 492}},
        {"off the right: left only", {700, 100, 462, 300}, screen, {562, 100, 462, 300}},
        {"off the top-left corner", {-20, -5, 300, 200}, screen, {0, 0, 300, 200}},
        {"under the panel: down", {100, 10, 300, 200}, belowPanel, {100, 30, 300, 200}},
        {"off bottom and right", {900, 700, 300, 200}, screen, {724, 568, 300, 200}},
        {"onto a screen at an offset", {1900, 900, 400, 300}, second, {1920, 724, 400, 300}},
        {"taller than the area: top on top", {100, 300, 300, 900}, screen, {100, 0, 300, 900}},
        {"wider than the area: left on left", {300, 100, 1100, 200}, screen, {0, 100, 1100, 200}},
    };
    for (const FitCase& c : cases) {
        const Rect fitted = fitInside(c.window, c.area);
        EXPECT_EQ(fitted, c.expected) << c.what;
        if (c.window.width <= c.area.width && c.window.height <= c.area.height) {
            EXPECT_TRUE(c.area.contains(fitted)) << c.what;
        }
    }
}

struct BesideCase {
    const char* what;
    int width;
    int height;
    Rect other;
    Rect area;
    Rect expected;
    long long covered;  // pixels of `other` the placed window covers
};

TEST(Placement, PlaceBesideCoversNothingWhenThereIsRoomElseTheLeast) {
    // The running light, framed, at its designed place on a 1024 x 768 screen.
    const Rect light{266, 183, 466, 494};
    const std::vector<BesideCase> cases{
        {"room on the right: right, tops level",
         250,
         150,
         light,
         {0, 0, 1280, 1024},
         {740, 183, 250, 150},
         0},
        {"right, with less than the gap",
         290,
         150,
         light,
         {0, 0, 1024, 768},
         {734, 183, 290, 150},
         0},
        {"no room right: left",
         250,
         150,
         {600, 100, 466, 494},
         {0, 0, 1280, 1024},
         {342, 100, 250, 150},
         0},
        {"no room either side: below",
         400,
         150,
         {300, 100, 466, 400},
         {0, 0, 800, 800},
         {300, 508, 400, 150},
         0},
        {"no room beside or below: above",
         400,
         150,
         {300, 300, 466, 450},
         {0, 0, 800, 760},
         {300, 142, 400, 150},
         0},
        {"tops level as far as the area lets",
         250,
         300,
         {600, 500, 300, 250},
         {0, 0, 1280, 768},
         {908, 468, 250, 300},
         0},
        {"no room anywhere: least covered",
         300,
         200,
         {50, 50, 700, 500},
         {0, 0, 800, 600},
         {500, 0, 300, 200},
         250LL * 150},
        {"as large as the area: top-left",
         800,
         600,
         light,
         {0, 0, 800, 600},
         {0, 0, 800, 600},
         466LL * 417},
    };
    for (const BesideCase& c : cases) {
        const Rect placed = placeBeside(c.width, c.height, c.other, c.area, 8);
        EXPECT_EQ(placed, c.expected) << c.what;
        EXPECT_EQ(overlapArea(placed, c.other), c.covered) << c.what;
        EXPECT_TRUE(c.area.contains(placed)) << c.what;
    }
}

TEST(Placement, PlaceBesideShrinkingTakesTheRoomBesideDownToTheMinimum) {
    const Rect light{266, 183, 466, 494};  // as above
    const Size monitor{600, 235};
    const Size smallest{270, 100};
    struct Case {
        const char* what;
        Rect other;
        Rect area;
        Rect expected;
    };
    const std::vector<Case> cases{
        {"room at full size: unchanged", light, {0, 0, 1920, 1080}, {740, 183, 600, 235}},
        {"narrower on the right", light, {0, 0, 1280, 800}, {740, 183, 540, 235}},
        {"narrowest on the right", light, {0, 0, 1010, 768}, {740, 183, 270, 235}},
        {"too narrow beside, room below", light, {0, 0, 900, 1000}, {266, 685, 600, 235}},
        {"lower below", light, {0, 0, 900, 800}, {266, 685, 600, 115}},
        {"lower above", light, {0, 0, 900, 750}, {266, 0, 600, 175}},
        {"no room for the minimum: full size, least covered",
         {100, 100, 700, 500},
         {0, 0, 900, 700},
         {300, 0, 600, 235}},
    };
    for (const Case& c : cases) {
        const Rect placed = placeBesideShrinking(monitor, smallest, c.other, c.area, 8);
        EXPECT_EQ(placed, c.expected) << c.what;
        EXPECT_TRUE(c.area.contains(placed)) << c.what;
    }
}

// Against every place on a coarse grid: none inside the area covers less.
TEST(Placement, PlaceBesideFindsTheLeastCoveringPlaceOfAll) {
    const Rect area{0, 0, 640, 480};
    const std::vector<Rect> others{
        {0, 0, 500, 400}, {100, 60, 400, 380}, {200, 150, 440, 330}, {20, 300, 600, 100}};
    for (const Rect& other : others) {
        for (const int width : {150, 260, 400}) {
            const int height = 120 + width / 4;
            const long long found = overlapArea(placeBeside(width, height, other, area, 8), other);
            long long least = -1;
            for (int left = 0; left + width <= area.right(); ++left) {
                for (int top = 0; top + height <= area.bottom(); ++top) {
                    const long long cover = overlapArea({left, top, width, height}, other);
                    least = least < 0 ? cover : std::min(least, cover);
                }
            }
            EXPECT_EQ(found, least)
                << "other at " << other.left << "," << other.top << " width " << width;
        }
    }
}

}  // namespace
}  // namespace runlight::placement
