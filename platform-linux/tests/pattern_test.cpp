#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "platform-linux/pattern.hpp"

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
        if (c.strip_rows > 0)
            EXPECT_EQ(at(picture, 12, c.height - c.strip_rows), DARK);
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
