#include <gtest/gtest.h>

#include "core/policy.hpp"

namespace mirravale::core {
namespace {

using Request = wire::client::StreamRequest;

Request request(std::uint16_t max_width, std::uint16_t max_height, std::uint8_t fps,
                std::uint32_t kbps) {
    Request r;
    r.max_width = max_width;
    r.max_height = max_height;
    r.fps = fps;
    r.bitrate_kbps = kbps;
    return r;
}

StreamLimits limits_with(std::uint32_t max_macroblocks, std::uint32_t min_kbps,
                         std::uint32_t max_kbps) {
    StreamLimits limits;
    limits.max_macroblocks = max_macroblocks;
    limits.min_kbps = min_kbps;
    limits.max_kbps = max_kbps;
    return limits;
}

TEST(PlanStream, FitsTheDisplayToTheLimits) {
    struct Case {
        const char* what;
        std::uint32_t pixel_width, pixel_height;
        Request request;
        StreamLimits limits;
        StreamPlan expected;  // display id, width, height, kbps, fps
    };
    const Case cases[] = {
        {"defaults for 1080p", 1920, 1080, {}, {}, {7, 1920, 1080, 6220, 30}},
        {"5K at 60: exactly the macroblock budget",
         5120,
         2880,
         request(0, 0, 60, 0),
         {},
         {7, 4096, 2304, 50000, 60}},
        {"two 2 % reductions", 4096, 2400, {}, {}, {7, 3934, 2304, 27191, 30}},
        {"tiny cap: bit rate raised",
         1920,
         1080,
         request(100, 100, 0, 0),
         {},
         {7, 100, 56, 500, 30}},
        {"1x1 display", 1, 1, {}, {}, {7, 2, 2, 500, 30}},
        {"0x0 display", 0, 0, {}, {}, {7, 2, 2, 500, 30}},
        {"3x3 display", 3, 3, {}, {}, {7, 2, 2, 500, 30}},
        {"120 fps asked", 1920, 1080, request(0, 0, 120, 0), {}, {7, 1920, 1080, 12441, 60}},
        {"1 fps asked", 1920, 1080, request(0, 0, 1, 0), {}, {7, 1920, 1080, 500, 1}},
        {"bit rate above the maximum",
         1920,
         1080,
         request(0, 0, 0, 100000),
         {},
         {7, 1920, 1080, 50000, 30}},
        {"bit rate below the minimum",
         1920,
         1080,
         request(0, 0, 0, 100),
         {},
         {7, 1920, 1080, 500, 30}},
        {"bit rate as asked", 1920, 1080, request(0, 0, 0, 7000), {}, {7, 1920, 1080, 7000, 30}},
        {"never enlarged", 1280, 720, request(9999, 0, 0, 0), {}, {7, 1280, 720, 2764, 30}},
        {"phone's caps above the host's",
         5120,
         2880,
         request(65535, 65535, 0, 0),
         {},
         {7, 4096, 2304, 28311, 30}},
        {"8K", 7680, 4320, {}, {}, {7, 4096, 2304, 28311, 30}},
        {"square 4096: fifteen reductions", 4096, 4096, {}, {}, {7, 3024, 3024, 27433, 30}},
        {"portrait", 1080, 1920, {}, {}, {7, 1080, 1920, 6220, 30}},
        {"odd sizes made even", 1365, 767, {}, {}, {7, 1364, 766, 3134, 30}},
        {"sliver: height rounds to 0", 100000, 10, {}, {}, {7, 4096, 2, 500, 30}},
        {"reductions stop at scale 0.05",
         1920,
         1080,
         {},
         limits_with(1, 10, 50000),
         {7, 94, 52, 14, 30}},
        {"limits out of order still bounded by the maximum",
         1920,
         1080,
         {},
         limits_with(36864, 9000, 4000),
         {7, 1920, 1080, 4000, 30}},
    };
    for (const auto& c : cases) {
        Display display;
        display.id = 7;
        display.pixel_width = c.pixel_width;
        display.pixel_height = c.pixel_height;
        EXPECT_EQ(plan_stream(c.request, display, c.limits), c.expected) << c.what;
    }
}

const Display MAIN{1, "main", Rect{0, 0, 1920, 1080}, 1920, 1080, true};
const Display RIGHT{2, "right", Rect{1920, 0, 1280, 720}, 1280, 720, false};
const Display LEFT{3, "left", Rect{-1000, 0, 1000, 800}, 1000, 800, false};
// Overlaps RIGHT; listed after it.
const Display OVER{4, "over", Rect{2000, 0, 500, 500}, 500, 500, false};

std::optional<std::uint32_t> id_of(const std::optional<Display>& d) {
    return d ? std::optional(d->id) : std::nullopt;
}

TEST(PointerDisplay, ChosenElseMainElseFirst) {
    const Display second_main{5, "second main", Rect{0, 0, 10, 10}, 10, 10, true};
    struct Case {
        std::vector<Display> displays;
        std::optional<Display> chosen;
        std::optional<std::uint32_t> expected;
    };
    const Case cases[] = {
        {{RIGHT, MAIN}, RIGHT, 2},
        {{RIGHT, MAIN}, std::nullopt, 1},
        {{RIGHT, MAIN, second_main}, std::nullopt, 1},
        {{RIGHT, LEFT}, std::nullopt, 2},
        {{}, std::nullopt, std::nullopt},
        {{}, LEFT, 3},  // a chosen display stays chosen even when the list is stale
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(id_of(pointer_display(cases[i].displays, cases[i].chosen)), cases[i].expected)
            << i;
    }
}

TEST(NeighbourAt, OnlyAnotherDisplayHoldingThePoint) {
    const std::vector<Display> displays{MAIN, RIGHT, LEFT, OVER};
    struct Case {
        const char* what;
        std::optional<Display> chosen;
        bool follow;
        Point point;
        std::optional<std::uint32_t> expected;
    };
    const Case cases[] = {
        {"across the right edge of main", std::nullopt, true, {1920, 10}, 2},
        {"across the left edge of main", std::nullopt, true, {-1, 10}, 3},
        {"not following", std::nullopt, false, {1920, 10}, std::nullopt},
        {"still on main", std::nullopt, true, {1919.5, 1079.5}, std::nullopt},
        {"below every display", std::nullopt, true, {1950, 900}, std::nullopt},
        {"overlap: first in list order", std::nullopt, true, {2100, 100}, 2},
        {"on the current display where another overlaps it",
         RIGHT,
         true,
         {2100, 100},
         std::nullopt},
        {"back from the right display", RIGHT, true, {1919, 10}, 1},
        {"a chosen display counts as current", OVER, true, {2600, 10}, 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(id_of(neighbour_at(displays, c.chosen, c.follow, c.point)), c.expected) << c.what;
    }
    EXPECT_EQ(neighbour_at({}, std::nullopt, true, {5, 5}), std::nullopt);
}

}  // namespace
}  // namespace mirravale::core
