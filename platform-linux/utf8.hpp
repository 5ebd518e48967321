#pragma once
// UTF-8 text from the outside world (the phone, system files), read leniently.

#include <string>
#include <string_view>

namespace mirravale::platform {

// Code points of UTF-8 text; each malformed byte becomes U+FFFD.
std::u32string decode_utf8(std::string_view text);

// The text with each malformed byte replaced by U+FFFD.
std::string repair_utf8(std::string_view text);

// Whether the text is empty or only Unicode White_Space.
bool is_blank(std::string_view text);

}  // namespace mirravale::platform
