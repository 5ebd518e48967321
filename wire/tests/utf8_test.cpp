#include <gtest/gtest.h>

#include <string>

#include "wire/utf8.hpp"

namespace mirravale::wire {
namespace {

TEST(Utf8, StrictAtEveryBoundary) {
    struct Case {
        const char* name;
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"nul", std::string(1, '\0'), true},
        {"last_one_byte", "\x7F", true},
        {"first_two_byte", "\xC2\x80", true},
        {"overlong_two_byte", "\xC1\xBF", false},
        {"last_two_byte", "\xDF\xBF", true},
        {"overlong_three_byte", "\xE0\x9F\xBF", false},
        {"first_three_byte", "\xE0\xA0\x80", true},
        {"before_surrogates", "\xED\x9F\xBF", true},
        {"first_surrogate", "\xED\xA0\x80", false},
        {"last_surrogate", "\xED\xBF\xBF", false},
        {"after_surrogates", "\xEE\x80\x80", true},
        {"overlong_four_byte", "\xF0\x8F\xBF\xBF", false},
        {"first_four_byte", "\xF0\x90\x80\x80", true},
        {"last_code_point", "\xF4\x8F\xBF\xBF", true},
        {"above_last", "\xF4\x90\x80\x80", false},
        {"lead_f5", "\xF5\x80\x80\x80", false},
        {"lead_ff", "\xFF", false},
        {"lone_continuation", "\x80", false},
        {"cut_short", "a\xE2\x82", false},
        {"ascii_inside_sequence", "\xE2\x28\xA1", false},
        {"five_byte_form", "\xF8\x88\x80\x80\x80", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_utf8(c.bytes), c.valid) << c.name;
    }
}

TEST(Utf8, RepairReplacesEachStrayByte) {
    EXPECT_EQ(to_valid_utf8("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(to_valid_utf8("a\xE9z"), "a\xEF\xBF\xBDz");  // Latin-1 e-acute
    EXPECT_EQ(to_valid_utf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(to_valid_utf8("x\xE2\x82"), "x\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_TRUE(is_utf8(to_valid_utf8("\xF4\x90\x80\x80\xC0")));
}

}  // namespace
}  // namespace mirravale::wire
