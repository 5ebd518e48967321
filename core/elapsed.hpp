#pragma once
// Durations in log messages: "84.250917ms", "3s", "999ns".

#include <chrono>
#include <string>

namespace mirravale {

// The exact value as a decimal number in the largest unit (ns, µs, ms, s) in which it is at
// least 1, with trailing zeros of the fraction dropped. Negative values keep their sign.
std::string format_elapsed(std::chrono::nanoseconds elapsed);

}  // namespace mirravale
