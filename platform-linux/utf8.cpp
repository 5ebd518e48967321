#include "platform-linux/utf8.hpp"

#include <algorithm>

namespace mirravale::platform {

std::u32string decode_utf8(std::string_view text) {
    std::u32string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int length = 0;
        char32_t c = 0;
        char32_t least = 0;
        if (lead < 0x80) {
            length = 1;
            c = lead;
        } else if ((lead & 0xe0) == 0xc0) {
            length = 2;
            c = lead & 0x1f;
            least = 0x80;
        } else if ((lead & 0xf0) == 0xe0) {
            length = 3;
            c = lead & 0x0f;
            least = 0x800;
        } else if ((lead & 0xf8) == 0xf0) {
            length = 4;
            c = lead & 0x07;
            least = 0x10000;
        }
        bool valid = length > 0 && i + length <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xc0) == 0x80;
            c = (c << 6) | (next & 0x3f);
        }
        valid = valid && c >= least && c <= 0x10ffff && !(c >= 0xd800 && c <= 0xdfff);
        out.push_back(valid ? c : U'\uFFFD');
        i += valid ? length : 1;
    }
    return out;
}

std::string repair_utf8(std::string_view text) {
    std::string out;
    for (char32_t c : decode_utf8(text)) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xc0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3f));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xe0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (c & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    return out;
}

bool is_blank(std::string_view text) {
    constexpr char32_t WHITE_SPACE[] = {0x85,   0xa0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003,
                                        0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200a,
                                        0x2028, 0x2029, 0x202f, 0x205f, 0x3000};
    const auto chars = decode_utf8(text);
    return std::all_of(chars.begin(), chars.end(), [&](char32_t c) {
        return (c >= 0x09 && c <= 0x0d) || c == 0x20 ||
               std::find(std::begin(WHITE_SPACE), std::end(WHITE_SPACE), c) !=
                   std::end(WHITE_SPACE);
    });
}

}  // namespace mirravale::platform
