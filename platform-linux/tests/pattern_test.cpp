#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <variant>
#include <vector>

#include "platform-linux/pattern.hpp"
#include "platform-linux/tests/pipeline_events.hpp"

namespace mirravale::platform {
namespace {

using Bgr = std::array<std::uint8_t, 3>;

constexpr Bgr BAR0{46, 20, 23};
constexpr Bgr BAR1{80, 35, 42};
constexpr Bgr SQUARE{232, 244, 255};
constexpr Bgr WHITE{255, 255, 255};
constexpr Bgr DARK{16, 16, 16};

Bgr at(const Picture& picture, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* pixel = picture.row(y) + 4 * x;
    return {pixel[0], pixel[1], pixel[2]};
}

std::uint8_t alpha(const Picture& picture, std::uint32_t x, std::uint32_t y) {
    return picture.row(y)[4 * x + 3];
}

TEST(Pattern, FirstFrameHasSquareTopLeftAndBarZeroAtLeftEdge) {
    Picture picture(320, 240);  // bars 40 wide, square 40, strip 10 rows
    paint_pattern(picture, 0.0, 0);
    EXPECT_EQ(at(picture, 0, 0), SQUARE);
    EXPECT_EQ(at(picture, 39, 39), SQUARE);
    EXPECT_EQ(at(picture, 40, 39), BAR1);
    EXPECT_EQ(at(picture, 39, 40), BAR0);
    EXPECT_EQ(at(picture, 0, 229), BAR0);
    EXPECT_EQ(at(picture, 319, 100), (Bgr{43, 158, 110}));
    for (std::uint32_t y = 0; y < 240; y += 17) {
        for (std::uint32_t x = 0; x < 320; x += 13)
            ASSERT_EQ(alpha(picture, x, y), 255);
    }
}

TEST(Pattern, BarsScrollAndSquareMovesWithTime) {
    Picture picture(320, 240);
    paint_pattern(picture, 0.5, 0);
    // scroll = 60: column 0 lies in bar 1; square at floor(280 × 0.185), floor(200 × 0.265).
    EXPECT_EQ(at(picture, 0, 0), BAR1);
    EXPECT_EQ(at(picture, 19, 0), BAR1);
    EXPECT_EQ(at(picture, 20, 0), (Bgr{89, 122, 255}));
    EXPECT_EQ(at(picture, 51, 53), SQUARE);
    EXPECT_EQ(at(picture, 90, 92), SQUARE);
    EXPECT_NE(at(picture, 50, 53), SQUARE);
    EXPECT_NE(at(picture, 51, 52), SQUARE);
    EXPECT_NE(at(picture, 91, 92), SQUARE);
}

TEST(Pattern, CounterStripShowsLowBitsLeftmostFirst) {
    Picture picture(1280, 480);  // cells 80 wide, strip rows 460 to 479
    paint_pattern(picture, 0.0, 5);
    for (std::uint32_t v = 0; v < 16; ++v) {
        const Bgr expected = (v == 0 || v == 2) ? WHITE : DARK;
        for (std::uint32_t y : {460U, 479U}) {
            EXPECT_EQ(at(picture, 80 * v + 2, y), expected) << v;
            EXPECT_EQ(at(picture, 80 * v + 77, y), expected) << v;
            EXPECT_NE(at(picture, 80 * v + 1, y), expected) << v;
            EXPECT_NE(at(picture, 80 * v + 78, y), expected) << v;
        }
        EXPECT_NE(at(picture, 80 * v + 2, 459), expected) << v;
        EXPECT_EQ(alpha(picture, 80 * v + 2, 470), 255);
    }
}

TEST(Pattern, StripHeightFollowsPictureHeight) {
    struct Case {
        std::uint32_t height;
        std::uint32_t strip_rows;
    };
    for (const Case c :
         {Case{1, 0}, Case{2, 2}, Case{47, 2}, Case{48, 2}, Case{480, 20}, Case{73, 3}}) {
        Picture picture(160, c.height);
        paint_pattern(picture, 0.0, 0);
        std::uint32_t rows = 0;
        for (std::uint32_t y = 0; y < c.height; ++y)
            rows += at(picture, 12, y) == DARK ? 1 : 0;
        EXPECT_EQ(rows, c.strip_rows) << c.height;
        if (c.strip_rows > 0) {
            EXPECT_EQ(at(picture, 12, c.height - c.strip_rows), DARK);
        }
    }
}

TEST(Pattern, NarrowPictureHasEmptyCellsAndCounterWraps) {
    Picture narrow(64, 48);
    paint_pattern(narrow, 0.0, 0xFFFF);
    // Cells would be 4 wide, less than their gaps: the bottom row shows only the bars.
    for (std::uint32_t x = 0; x < 64; ++x)
        EXPECT_EQ(at(narrow, x, 47), at(narrow, x, 20)) << x;
    EXPECT_EQ(at(narrow, 9, 47), BAR1);

    Picture first(1280, 480);
    Picture wrapped(1280, 480);
    paint_pattern(first, 0.0, 0);
    paint_pattern(wrapped, 0.0, 65536);
    EXPECT_EQ(at(wrapped, 2, 470), DARK);
    for (std::uint32_t x = 0; x < 1280; ++x)
        ASSERT_EQ(at(first, x, 470), at(wrapped, x, 470));
}

TEST(Pattern, PaddingBeyondTheRowIsNotWritten) {
    Picture picture(30, 20, 4 * 30 + 8);
    for (std::uint32_t y = 0; y < 20; ++y) {
        for (std::uint32_t i = 120; i < 128; ++i)
            picture.row(y)[i] = 0xAB;
    }
    paint_pattern(picture, 1.25, 3);
    for (std::uint32_t y = 0; y < 20; ++y) {
        for (std::uint32_t i = 120; i < 128; ++i)
            ASSERT_EQ(picture.row(y)[i], 0xAB);
    }
}

}  // namespace
}  // namespace mirravale::platform

namespace mirravale::platform {
namespace {

using testing::Events;

TEST(TestPatternPipeline, StreamsKeyframesOnRequestAndRefusesRetarget) {
    Events events;
    TestPatternPipeline pipeline;
    const core::StreamPlan plan{1, 96, 64, 800, 60};
    auto handle = pipeline.start(plan, events.gate, events.sink());
    ASSERT_TRUE(handle) << handle.error();
    ASSERT_GE(events.wait_for_count(3), 3U);

    auto retargeted = (*handle)->retarget(core::StreamPlan{1, 128, 96, 800, 60});
    ASSERT_FALSE(retargeted);
    EXPECT_EQ(retargeted.error(), "this pipeline cannot be retargeted");

    std::size_t before = 0;
    {
        std::lock_guard lock(events.mutex);
        before = events.events.size();
    }
    (*handle)->request_keyframe();
    events.wait_for_count(before + 2);
    handle->reset();

    std::lock_guard lock(events.mutex);
    const auto& first = std::get<core::pipeline::Frame>(events.events.at(0));
    EXPECT_TRUE(first.keyframe);
    EXPECT_EQ(first.width, 96U);
    EXPECT_EQ(first.height, 64U);
    bool keyframe_after_request = false;
    std::uint64_t last_pts = 0;
    for (std::size_t i = 0; i < events.events.size(); ++i) {
        const auto& frame = std::get<core::pipeline::Frame>(events.events[i]);
        if (i > 0) {
            EXPECT_GT(frame.pts_us, last_pts);
        }
        last_pts = frame.pts_us;
        if (i >= before && frame.keyframe)
            keyframe_after_request = true;
    }
    EXPECT_TRUE(keyframe_after_request);
}

TEST(TestPatternPipeline, RefusedSizeFailsTheStartWithTheEncoderText) {
    Events events;
    TestPatternPipeline pipeline;
    auto handle = pipeline.start(core::StreamPlan{1, 0, 0, 800, 30}, events.gate, events.sink());
    ASSERT_FALSE(handle);
    EXPECT_EQ(handle.error().rfind("the hardware video encoder refused 0\xC3\x97", 0), 0U);
}

}  // namespace
}  // namespace mirravale::platform
