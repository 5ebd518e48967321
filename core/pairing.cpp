#include "core/pairing.hpp"

#include <array>
#include <limits>

#include <openssl/crypto.h>

#include "core/identity.hpp"

namespace mirravale::core {

PairingCode PairingCode::generate(std::uint64_t now, std::uint64_t ttl,
                                  const RandomSource& random) {
    std::array<std::uint8_t, 16> bits{};
    random(bits);
    // A lifetime reaching past the end of time means "never expires", not "already expired".
    const auto expires_at = ttl > std::numeric_limits<std::uint64_t>::max() - now
                                ? std::numeric_limits<std::uint64_t>::max()
                                : now + ttl;
    return {crockford(bits), expires_at};
}

namespace {

struct Character {
    char32_t code;
    std::size_t length;
};

// The character at `at` in UTF-8, or the lone byte when it is not well formed (kept unchanged).
Character character_at(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0x80             ? 1
                         : (lead & 0xE0) == 0xC0 ? 2
                         : (lead & 0xF0) == 0xE0 ? 3
                         : (lead & 0xF8) == 0xF0 ? 4
                                                 : 0;
    if (length == 0 || at + length > text.size()) {
        return {0xFFFD, 1};
    }
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80) {
            return {0xFFFD, 1};
        }
        code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms and surrogates are not characters: an overlong space must not vanish.
    static constexpr char32_t SMALLEST[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < SMALLEST[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return {0xFFFD, 1};
    }
    return {code, length};
}

bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// Equal length and equal bytes, looking at every byte whatever it finds.
bool same_code(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

std::string normalise_code(std::string_view typed) {
    // Dropping every white-space character also drops the ones at either end.
    std::string out;
    out.reserve(typed.size());
    for (std::size_t at = 0; at < typed.size();) {
        const auto c = character_at(typed, at);
        const auto bytes = typed.substr(at, c.length);
        at += c.length;
        if (is_white_space(c.code) || c.code == '-') {
            continue;
        }
        char32_t code = c.code;
        if (code >= 'a' && code <= 'z') {
            code = code - 'a' + 'A';
        }
        if (code == 'I' || code == 'L') {
            code = '1';
        } else if (code == 'O') {
            code = '0';
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else {
            out += bytes;
        }
    }
    return out;
}

PairingBook::PairingBook(std::uint64_t now, std::uint64_t ttl, RandomSource random)
    : random_(std::move(random)), ttl_(ttl), current_(PairingCode::generate(now, ttl, random_)) {}

void PairingBook::rotate(std::uint64_t now) {
    retired_.push_back(std::move(current_.code));
    if (retired_.size() > RETIRED_CODES) {
        retired_.pop_front();
    }
    current_ = PairingCode::generate(now, ttl_, random_);
}

RedeemOutcome PairingBook::redeem(std::string_view presented, std::uint64_t now) {
    const auto typed = normalise_code(presented);
    if (same_code(typed, current_.code)) {
        const auto expires_at = current_.expires_at;
        rotate(now);
        return now >= expires_at ? RedeemOutcome::Expired : RedeemOutcome::Accepted;
    }
    bool retired = false;
    for (const auto& old : retired_) {
        retired |= same_code(typed, old);
    }
    return retired ? RedeemOutcome::Expired : RedeemOutcome::Mismatch;
}

}  // namespace mirravale::core
