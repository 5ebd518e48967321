#pragma once
// Small UTF-8 checks for text that arrives from outside (arguments, files).

#include <string_view>

namespace mirravale::host {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_utf8(std::string_view text);

// `text` (valid UTF-8) without Unicode White_Space characters at either end.
std::string_view trim_unicode_space(std::string_view text);

}  // namespace mirravale::host
