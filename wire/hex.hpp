#pragma once
// Hexadecimal text of byte strings: identifiers in links, TXT records and stored files.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace mirravale::wire {

// Two lowercase hexadecimal digits per byte.
std::string hex(std::span<const std::uint8_t> bytes);

// The value of one hexadecimal digit of either case, or -1.
int hex_digit(char c);

// Fills `out` from exactly 2 × out.size() digits of either case; false (and `out` unspecified)
// for any other length or a non-digit.
bool from_hex(std::string_view text, std::span<std::uint8_t> out);

}  // namespace mirravale::wire
