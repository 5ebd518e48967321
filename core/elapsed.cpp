#include "core/elapsed.hpp"

#include <cstdint>

namespace mirravale {

std::string format_elapsed(std::chrono::nanoseconds elapsed) {
    const std::int64_t count = elapsed.count();
    // Unsigned magnitude so the most negative count has an absolute value too.
    const std::uint64_t magnitude =
        count < 0 ? ~static_cast<std::uint64_t>(count) + 1 : static_cast<std::uint64_t>(count);

    struct Unit {
        std::uint64_t divisor;
        int digits;
        const char* suffix;
    };
    static constexpr Unit units[] = {
        {1'000'000'000, 9, "s"}, {1'000'000, 6, "ms"}, {1'000, 3, "\u00b5s"}, {1, 0, "ns"}};
    const Unit* unit = &units[3];
    for (const Unit& candidate : units) {
        if (magnitude >= candidate.divisor) {
            unit = &candidate;
            break;
        }
    }

    std::string text = count < 0 ? "-" : "";
    text += std::to_string(magnitude / unit->divisor);
    if (std::uint64_t fraction = magnitude % unit->divisor; fraction != 0) {
        std::string digits = std::to_string(fraction);
        digits.insert(0, static_cast<std::size_t>(unit->digits) - digits.size(), '0');
        digits.erase(digits.find_last_not_of('0') + 1);
        text += '.';
        text += digits;
    }
    text += unit->suffix;
    return text;
}

}  // namespace mirravale
