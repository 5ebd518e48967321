#include "core/pairing.hpp"

#include <array>
#include <limits>

#include <openssl/crypto.h>

#include "core/identity.hpp"
#include "wire/utf8.hpp"

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
        // A byte that is not strict UTF-8 is kept as it is, like any other non-ASCII character.
        const auto c = wire::decode_utf8_at(typed, at).value_or(wire::Utf8Char{0xFFFD, 1});
        const auto bytes = typed.substr(at, c.length);
        at += c.length;
        if (wire::is_unicode_white_space(c.code) || c.code == '-') {
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
