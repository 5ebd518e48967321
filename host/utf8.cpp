#include "host/utf8.hpp"

#include "wire/utf8.hpp"

#include <cstddef>
#include <optional>

namespace mirravale::host {
std::string_view trim_unicode_space(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = 0;  // just after the last character that is not white space
    for (std::size_t at = 0; at < text.size();) {
        const auto decoded = wire::decode_utf8_at(text, at);
        if (!decoded) {
            return text;  // not ours to judge: callers check validity first
        }
        at += decoded->length;
        if (!wire::is_unicode_white_space(decoded->code)) {
            if (end == 0) {
                begin = at - decoded->length;
            }
            end = at;
        }
    }
    return text.substr(begin, end - begin);
}

}  // namespace mirravale::host
