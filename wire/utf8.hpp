#pragma once
// Strict UTF-8, for text that arrives from outside: phones, arguments, files.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace mirravale::wire {

struct Utf8Char {
    char32_t code = 0;
    std::size_t length = 0;  // bytes
};

// The character starting at byte `at`, or nothing when the bytes there are not strict UTF-8
// (overlong forms, surrogates and values above U+10FFFF are refused).
std::optional<Utf8Char> decode_utf8_at(std::string_view text, std::size_t at);

bool is_utf8(std::string_view text);

// `text` with every byte that does not begin a strict UTF-8 character replaced by U+FFFD.
std::string to_valid_utf8(std::string_view text);

// Characters with the Unicode White_Space property.
bool is_unicode_white_space(char32_t c);

}  // namespace mirravale::wire
