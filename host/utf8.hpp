#pragma once
// Small UTF-8 checks for text that arrives from outside (arguments, files).

#include <string_view>

#include "wire/utf8.hpp"

namespace mirravale::host {

using wire::is_utf8;

// `text` (valid UTF-8) without Unicode White_Space characters at either end.
std::string_view trim_unicode_space(std::string_view text);

}  // namespace mirravale::host
