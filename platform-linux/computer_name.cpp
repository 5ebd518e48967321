#include "platform-linux/computer_name.hpp"

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "wire/utf8.hpp"

namespace mirravale::platform {
namespace {

// Empty, or only Unicode White_Space (malformed bytes are not space).
bool is_blank(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const auto c = wire::decode_utf8_at(text, at);
        if (!c || !wire::is_unicode_white_space(c->code)) {
            return false;
        }
        at += c->length;
    }
    return true;
}

}  // namespace

std::optional<std::string> pretty_hostname(std::string_view text) {
    std::optional<std::string> found;
    while (!text.empty()) {
        const auto end = text.find('\n');
        auto line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        constexpr std::string_view KEY = "PRETTY_HOSTNAME=";
        if (!line.starts_with(KEY))
            continue;
        line.remove_prefix(KEY.size());
        // Shell quoting: single quotes keep everything, double quotes and bare words take
        // backslash escapes.
        std::string value;
        char quote = 0;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            if (quote == '\'') {
                if (c == '\'')
                    quote = 0;
                else
                    value += c;
            } else if (c == '\\' && i + 1 < line.size()) {
                value += line[++i];
            } else if (quote == '"') {
                if (c == '"')
                    quote = 0;
                else
                    value += c;
            } else if (c == '\'' || c == '"') {
                quote = c;
            } else {
                value += c;
            }
        }
        // A blank name counts as none; any other is kept as written, spaces included.
        found = is_blank(value) ? std::nullopt : std::optional(wire::to_valid_utf8(value));
    }
    return found;
}

std::string computer_name() {
    std::ifstream file("/etc/machine-info");
    if (file) {
        std::stringstream text;
        text << file.rdbuf();
        if (auto name = pretty_hostname(text.str())) {
            return *name;
        }
    }
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0 && !is_blank(host)) {
        return wire::to_valid_utf8(host);
    }
    return "Mac";
}

}  // namespace mirravale::platform
