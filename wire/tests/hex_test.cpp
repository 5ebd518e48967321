#include "wire/hex.hpp"

#include <gtest/gtest.h>

#include <array>
#include <optional>

namespace mirravale::wire {
namespace {

TEST(Hex, RoundTripsAndRefusesWrongLengthsOrDigits) {
    const std::array<std::uint8_t, 3> bytes{0x00, 0xAB, 0xF1};
    EXPECT_EQ(hex(bytes), "00abf1");

    struct Case {
        const char* text;
        std::optional<std::array<std::uint8_t, 3>> value;
    };
    for (const Case& c : {
             Case{"00abf1", bytes},
             Case{"00ABF1", bytes},  // stored files may have been written by hand
             Case{"00abf", std::nullopt},
             Case{"00abf10", std::nullopt},
             Case{"00abg1", std::nullopt},
             Case{"0 abf1", std::nullopt},
             Case{"", std::nullopt},
         }) {
        std::array<std::uint8_t, 3> out{};
        const bool read = from_hex(c.text, out);
        EXPECT_EQ(read, c.value.has_value()) << c.text;
        if (read && c.value) {
            EXPECT_EQ(out, *c.value) << c.text;
        }
    }
}

}  // namespace
}  // namespace mirravale::wire
