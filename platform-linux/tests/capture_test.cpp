#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <variant>
#include <vector>

#include "core/flow.hpp"
#include "platform-linux/capture.hpp"
#include "platform-linux/capture_loop.hpp"
#include "platform-linux/capture_source.hpp"
#include "platform-linux/content_cache.hpp"
#include "platform-linux/tests/xvfb_fixture.hpp"

// Last: Xlib's macros would rename the project's own words.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#undef Status

namespace mirravale::platform {
namespace {

using namespace std::chrono_literals;
using Bgr = std::array<std::uint8_t, 3>;

// Long enough for a loaded machine under sanitizers; only a broken pipeline reaches it.
constexpr auto PATIENCE = 20s;

Bgr at(const Picture& picture, int x, int y) {
    const std::uint8_t* p = picture.row(static_cast<std::uint32_t>(y)) + 4 * x;
    return {p[0], p[1], p[2]};
}

// ---- Cursor pixels and blending -------------------------------------------------------------

TEST(CaptureCursor, KeepsTheLow32BitsOfEachPixel) {
    const std::vector<unsigned long> wide = {0xFFFFFFFF80112233ul, 0x00000000FF00FF00ul,
                                             0x1234567800000000ul};
    EXPECT_EQ(cursor_pixels(wide.data(), wide.size()),
              (std::vector<std::uint32_t>{0x80112233u, 0xFF00FF00u, 0u}));
}

TEST(CaptureCursor, BlendsPremultipliedPixels) {
    struct Case {
        std::uint32_t cursor;
        Bgr under;
        Bgr expected;
    };
    for (const Case c : {
             Case{0xFF102030u, {200, 200, 200}, {0x30, 0x20, 0x10}},           // opaque replaces
             Case{0x00000000u, {200, 100, 50}, {200, 100, 50}},                // clear leaves alone
             Case{0x80404040u, {200, 100, 0}, {0x40 + 100, 0x40 + 50, 0x40}},  // half
             Case{0x00FFFFFFu, {10, 20, 30}, {255, 255, 255}},  // additive, saturating
         }) {
        Picture picture(1, 1);
        std::copy(c.under.begin(), c.under.end(), picture.row(0));
        CursorImage cursor{1, 1, 0, 0, 1, {c.cursor}};
        composite_cursor(picture.data(), picture.stride(), 1, 1, cursor, 0, 0);
        EXPECT_EQ(at(picture, 0, 0), c.expected) << std::hex << c.cursor;
    }
}

TEST(CaptureCursor, IsCutOffAtEveryEdge) {
    CursorImage cursor{4, 4, 0, 0, 1, std::vector<std::uint32_t>(16, 0xFFFFFFFFu)};
    struct Case {
        int left;
        int top;
        int covered;  // pixels of the 6x5 picture the cursor covers
    };
    for (const Case c : {Case{-2, -2, 4}, Case{4, 3, 4}, Case{-3, 2, 3}, Case{1, 1, 16},
                         Case{6, 0, 0}, Case{0, -4, 0}}) {
        // Rows padded with a guard byte pattern that must survive.
        Picture picture(6, 5, 6 * 4 + 8);
        for (std::uint32_t y = 0; y < 5; ++y) {
            std::fill_n(picture.row(y), 6 * 4 + 8, std::uint8_t{0x11});
        }
        composite_cursor(picture.data(), picture.stride(), 6, 5, cursor, c.left, c.top);
        int covered = 0;
        for (std::uint32_t y = 0; y < 5; ++y) {
            for (int x = 0; x < 6; ++x) {
                covered += at(picture, x, static_cast<int>(y)) == Bgr{255, 255, 255} ? 1 : 0;
            }
            for (int i = 24; i < 32; ++i) {
                ASSERT_EQ(picture.row(y)[i], 0x11) << c.left << "," << c.top;
            }
        }
        EXPECT_EQ(covered, c.covered) << c.left << "," << c.top;
    }
}

// ---- Monitor list cache -----------------------------------------------------------------------

core::Display monitor(std::uint32_t id, double x = 0) {
    return core::Display{id, "Display", core::Rect{x, 0, 1920, 1080}, 1920, 1080, false};
}

struct FakeServer {
    std::chrono::steady_clock::time_point now{std::chrono::hours(100)};
    int queries = 0;
    std::vector<Result<Monitors>> answers;  // the last one repeats

    ContentCache cache(std::chrono::nanoseconds limit = CONTENT_QUERY_LIMIT) {
        return ContentCache(
            [this](const std::string&) -> Result<Monitors> {
                const auto i = std::min<std::size_t>(queries++, answers.size() - 1);
                return answers[i];
            },
            [this] { return now; }, limit);
    }
};

TEST(ContentCache, ReusesAListUpTo59WholeSeconds) {
    struct Case {
        std::chrono::milliseconds age;
        int queries;
    };
    for (const Case c : {Case{0ms, 1}, Case{59'999ms, 1}, Case{60'000ms, 2}, Case{-5'000ms, 1}}) {
        FakeServer server;
        server.answers = {Monitors{monitor(7)}, Monitors{monitor(8)}};
        auto cache = server.cache();
        ASSERT_TRUE(cache.fetch(":1", false));
        server.now += c.age;
        auto again = cache.fetch(":1", false);
        ASSERT_TRUE(again);
        EXPECT_EQ(server.queries, c.queries) << c.age.count();
        EXPECT_EQ(again->at(0).id, c.queries == 1 ? 7U : 8U);
    }
}

TEST(ContentCache, ForcedOrOtherServerQueriesAgainAndFailuresKeepTheList) {
    FakeServer server;
    server.answers = {Monitors{monitor(7)}, Monitors{monitor(8)}, fail("refused"),
                      Monitors{monitor(9)}};
    auto cache = server.cache();
    ASSERT_TRUE(cache.fetch(":1", false));
    EXPECT_EQ(cache.fetch(":1", true)->at(0).id, 8U);
    auto refused = cache.fetch(":1", true);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "refused");
    EXPECT_EQ(cache.fetch(":1", false)->at(0).id, 8U);
    EXPECT_EQ(server.queries, 3);
    EXPECT_EQ(cache.fetch(":2", false)->at(0).id, 9U);
}

TEST(ContentCache, AMissingDisplayCostsOneForcedQuery) {
    FakeServer server;
    server.answers = {Monitors{monitor(7)}, Monitors{monitor(7), monitor(9, 1920)}};
    auto cache = server.cache();
    EXPECT_EQ(cache.fetch_for(":1", 7)->size(), 1U);
    EXPECT_EQ(server.queries, 1);
    EXPECT_EQ(cache.fetch_for(":1", 9)->size(), 2U);
    EXPECT_EQ(server.queries, 2);
    // Still missing after the forced query: whatever it gave is used.
    EXPECT_EQ(cache.fetch_for(":1", 5)->size(), 2U);
    EXPECT_EQ(server.queries, 3);
}

TEST(ContentCache, AQueryThatDoesNotAnswerInTimeFails) {
    auto release = std::make_shared<std::promise<void>>();
    auto released = release->get_future().share();
    ContentCache cache(
        [released](const std::string&) -> Result<Monitors> {
            released.wait();
            return Monitors{monitor(1)};
        },
        {}, 20ms);
    auto late = cache.fetch(":1", false);
    release->set_value();
    ASSERT_FALSE(late);
    EXPECT_EQ(late.error(), "ScreenCaptureKit did not answer in time");
}

TEST(ContentCache, ChoosesTheNamedDisplayElseTheFirst) {
    const Monitors two{monitor(7), monitor(9, 1920)};
    EXPECT_EQ(choose_display(two, 9)->id, 9U);
    EXPECT_EQ(choose_display(two, 3)->id, 7U);
    auto none = choose_display({}, 9);
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error(), "ScreenCaptureKit lists no display");
    EXPECT_EQ(CAPTURE_NOT_PERMITTED.size(), 190U);
}

}  // namespace
}  // namespace mirravale::platform
