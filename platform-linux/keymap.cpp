#include "platform-linux/keymap.hpp"

#include "wire/utf8.hpp"

#include <algorithm>
#include <charconv>

namespace mirravale::platform {
namespace {

// The table of data/mac-keycodes-x11.tsv, compiled in by the build.
constexpr std::string_view KEY_TABLE =
#include "mac_keycodes_tsv.inc"
    ;

std::string_view field(std::string_view line, int index) {
    for (int i = 0; i < index; ++i) {
        const auto tab = line.find('\t');
        if (tab == std::string_view::npos) {
            return {};
        }
        line.remove_prefix(tab + 1);
    }
    return line.substr(0, line.find('\t'));
}

template <class T>
std::optional<T> number(std::string_view text, int base) {
    if (base == 16 && (text.starts_with("0x") || text.starts_with("0X"))) {
        text.remove_prefix(2);
    }
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc{} || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// Code points of the text; each byte that does not begin a character becomes U+FFFD.
std::u32string decode(std::string_view text) {
    std::u32string out;
    for (std::size_t at = 0; at < text.size();) {
        const auto c = wire::decode_utf8_at(text, at);
        out.push_back(c ? c->code : U'\uFFFD');
        at += c ? c->length : 1;
    }
    return out;
}

bool is_control(char32_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f);
}

}  // namespace

std::unordered_map<std::uint16_t, Keysym> parse_key_table(std::string_view tsv) {
    std::unordered_map<std::uint16_t, Keysym> table;
    while (!tsv.empty()) {
        const auto end = tsv.find('\n');
        const auto line = tsv.substr(0, end);
        tsv = end == std::string_view::npos ? std::string_view{} : tsv.substr(end + 1);
        const auto keycode = number<std::uint16_t>(field(line, 0), 10);
        const auto sym = number<Keysym>(field(line, 4), 16);
        if (keycode && sym && *sym != 0) {
            table.emplace(*keycode, *sym);
        }
    }
    return table;
}

std::optional<Keysym> keysym_for_key(std::uint16_t keycode) {
    static const auto table = parse_key_table(KEY_TABLE);
    const auto found = table.find(keycode);
    if (found == table.end()) {
        return std::nullopt;
    }
    return found->second;
}

Keysym keysym_for_char(char32_t c) {
    if ((c >= 0x20 && c <= 0x7e) || (c >= 0xa0 && c <= 0xff)) {
        return c;
    }
    return 0x01000000 | c;
}

std::vector<TextStep> plan_text(std::string_view utf8) {
    const auto chars = decode(utf8);
    std::vector<TextStep> steps;
    std::u32string chunk;
    std::size_t units = 0;
    const auto flush = [&] {
        if (!chunk.empty()) {
            steps.emplace_back(std::move(chunk));
            chunk.clear();
            units = 0;
        }
    };
    for (std::size_t i = 0; i < chars.size(); ++i) {
        const char32_t c = chars[i];
        if (c == U'\t') {
            flush();
            steps.emplace_back(TAB_KEY);
        } else if (c == U'\n' || c == U'\r') {
            flush();
            steps.emplace_back(RETURN_KEY);
            // One line break, whichever convention wrote it.
            if (c == U'\r' && i + 1 < chars.size() && chars[i + 1] == U'\n') {
                ++i;
            }
        } else if (!is_control(c)) {
            const std::size_t size = c > 0xffff ? 2 : 1;
            if (units + size > MAX_CHUNK_UNITS) {
                flush();
            }
            chunk.push_back(c);
            units += size;
        }
    }
    flush();
    return steps;
}

SparePool::SparePool(std::vector<int> keycodes) {
    for (int keycode : keycodes) {
        slots_.push_back(Slot{keycode});
    }
}

SparePool::Slot* SparePool::slot(int keycode) {
    const auto found = std::find_if(slots_.begin(), slots_.end(),
                                    [&](const Slot& s) { return s.keycode == keycode; });
    return found == slots_.end() ? nullptr : &*found;
}

const SparePool::Slot* SparePool::slot(int keycode) const {
    return const_cast<SparePool*>(this)->slot(keycode);
}

std::optional<int> SparePool::find(Keysym sym) {
    for (auto& s : slots_) {
        if (s.sym == sym && sym != 0) {
            s.used = ++clock_;
            return s.keycode;
        }
    }
    return std::nullopt;
}

std::optional<int> SparePool::bind(Keysym sym, const std::vector<int>& keep) {
    Slot* oldest = nullptr;
    for (auto& s : slots_) {
        const bool kept = std::find(keep.begin(), keep.end(), s.keycode) != keep.end();
        if (s.pins == 0 && !kept && (oldest == nullptr || s.used < oldest->used)) {
            oldest = &s;
        }
    }
    if (oldest == nullptr) {
        return std::nullopt;
    }
    oldest->sym = sym;
    oldest->used = ++clock_;
    return oldest->keycode;
}

void SparePool::pin(int keycode) {
    if (auto* s = slot(keycode)) {
        ++s->pins;
    }
}

void SparePool::unpin(int keycode) {
    if (auto* s = slot(keycode); s != nullptr && s->pins > 0) {
        --s->pins;
    }
}

void SparePool::unpin_all() {
    for (auto& s : slots_) {
        s.pins = 0;
    }
}

void SparePool::drop(int keycode) {
    std::erase_if(slots_, [&](const Slot& s) { return s.keycode == keycode; });
}

Keysym SparePool::bound_to(int keycode) const {
    const auto* s = slot(keycode);
    return s == nullptr ? 0 : s->sym;
}

std::vector<int> SparePool::take_bound() {
    std::vector<int> bound;
    for (auto& s : slots_) {
        if (s.sym != 0) {
            bound.push_back(s.keycode);
            s.sym = 0;
            s.used = 0;
        }
    }
    return bound;
}

std::vector<int> SparePool::keycodes() const {
    std::vector<int> keycodes;
    for (const auto& s : slots_) {
        keycodes.push_back(s.keycode);
    }
    return keycodes;
}

}  // namespace mirravale::platform
