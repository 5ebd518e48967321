#include "core/elapsed.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>

namespace mirravale {
namespace {

using std::chrono::nanoseconds;

struct ElapsedCase {
    std::int64_t ns;
    const char* text;
};

TEST(FormatElapsed, LargestUnitAtLeastOneWithTrailingZerosDropped) {
    const ElapsedCase cases[] = {
        {0, "0ns"},
        {1, "1ns"},
        {999, "999ns"},
        {1'000, "1\u00b5s"},
        {1'001, "1.001\u00b5s"},
        {1'500, "1.5\u00b5s"},
        {999'999, "999.999\u00b5s"},
        {1'000'000, "1ms"},
        {1'500'000, "1.5ms"},
        {1'000'001, "1.000001ms"},
        {84'250'917, "84.250917ms"},
        {84'250'900, "84.2509ms"},
        {999'999'999, "999.999999ms"},
        {1'000'000'000, "1s"},
        {3'000'000'000, "3s"},
        {3'000'000'001, "3.000000001s"},
        {12'345'678'900, "12.3456789s"},
        {3'600'000'000'000, "3600s"},
        {-1'500'000, "-1.5ms"},
        {-999, "-999ns"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format_elapsed(nanoseconds(c.ns)), c.text) << c.ns;
    }
}

TEST(FormatElapsed, ExtremesAreExact) {
    EXPECT_EQ(format_elapsed(nanoseconds::max()), "9223372036.854775807s");
    EXPECT_EQ(format_elapsed(nanoseconds::min()), "-9223372036.854775808s");
}

TEST(FormatElapsed, AcceptsCoarserDurations) {
    EXPECT_EQ(format_elapsed(std::chrono::milliseconds(250)), "250ms");
    EXPECT_EQ(format_elapsed(std::chrono::microseconds(2'500'000)), "2.5s");
}

}  // namespace
}  // namespace mirravale
