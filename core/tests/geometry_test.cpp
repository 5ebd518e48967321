#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/geometry.hpp"

namespace mirravale::core {
namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

TEST(Rect, ClampStopsAtTheLastWholePoint) {
    struct Case {
        Rect rect;
        Point in, out;
    };
    const Case cases[] = {
        {{0, 0, 1512, 982}, {1512, 982}, {1511, 981}},
        {{0, 0, 1512, 982}, {-5, 10}, {0, 10}},
        {{0, 0, 1512, 982}, {100.5, 0.25}, {100.5, 0.25}},
        {{0, 0, 1512, 982}, {1e300, -1e300}, {1511, 0}},
        {{-1920, -200, 1920, 1080}, {0, 0}, {-1, 0}},
        {{-1920, -200, 1920, 1080}, {-5000, 5000}, {-1920, 879}},
        {{10, 10, 0, 0}, {50, 50}, {10, 10}},      // no area: its origin
        {{10, 10, 0.5, 0.5}, {50, 50}, {10, 10}},  // less than one point
        {{0, 0, 1512, 982}, {NaN, NaN}, {0, 0}},   // never hands back a NaN
        {{30, 40, 100, 100}, {NaN, 70}, {30, 70}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].rect.clamp(cases[i].in), cases[i].out) << i;
    }
}

TEST(Rect, ContainsItsLeftAndTopEdgesOnly) {
    const Rect r{-100, 50, 200, 100};
    struct Case {
        Point p;
        bool inside;
    };
    const Case cases[] = {
        {{-100, 50}, true},      {{99.999, 149.999}, true}, {{100, 60}, false}, {{0, 150}, false},
        {{-100.001, 60}, false}, {{0, 49.999}, false},      {{NaN, 60}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(r.contains(c.p), c.inside) << c.p.x << "," << c.p.y;
    }
    EXPECT_FALSE((Rect{0, 0, 0, 0}.contains({0, 0})));
}

TEST(AbsolutePoint, FractionsOfTheFrameKeptInside) {
    const Rect laptop{0, 0, 1512, 982};
    const Rect right{1512, -100, 1280, 720};
    struct Case {
        Rect frame;
        double x, y;
        Point expected;
    };
    const Case cases[] = {
        {laptop, 1, 1, {1511, 981}},  // not the next display's first point
        {laptop, 0, 0, {0, 0}},      {laptop, 0.5, 0.5, {756, 491}},
        {laptop, -3, 2, {0, 981}},   {right, 0.5, 0.25, {2152, 80}},
        {right, 1, 0, {2791, -100}}, {laptop, NaN, 0.5, {0, 491}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        EXPECT_EQ(absolute_point(c.frame, c.x, c.y), c.expected) << i;
    }
}

TEST(RelativePoint, MovesByFractionsOfTheFrameSize) {
    EXPECT_EQ(relative_point({100, 100}, {500, 500, 2000, 1000}, 0.01, -0.05), (Point{120, 50}));
    EXPECT_EQ(relative_point({100, 100}, {0, 0, 2000, 1000}, 1, 0), (Point{2100, 100}));
}

TEST(CursorReport, FractionsOfTheFrameEdgesClamped) {
    const Rect frame{1920, 0, 1280, 720};
    struct Case {
        Point pointer;
        CursorReport expected;
    };
    const Case cases[] = {
        {{2560, 360}, {0.5f, 0.5f, true}}, {{1920, 0}, {0, 0, true}},
        {{-50, 540}, {0, 0.75f, false}},  // on another display, to the left
        {{3200, 720}, {1, 1, false}},     // right and bottom edges lie outside
        {{9000, -10}, {1, 0, false}},      {{2240, 180}, {0.25f, 0.25f, true}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cursor_report(frame, c.pointer), c.expected) << c.pointer.x << "," << c.pointer.y;
    }
}

TEST(CursorReport, FrameWithoutAreaReportsOriginOutside) {
    for (const Rect frame :
         {Rect{0, 0, 0, 720}, Rect{0, 0, 1280, 0}, Rect{0, 0, -5, 10}, Rect{0, 0, NaN, 10}}) {
        EXPECT_EQ(cursor_report(frame, {0, 0}), (CursorReport{0, 0, false}));
    }
}

}  // namespace
}  // namespace mirravale::core
