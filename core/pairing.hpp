#pragma once
// One-time pairing codes: the current one and the ones it replaced.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "core/random.hpp"

namespace mirravale::core {

struct PairingCode {
    std::string code;  // 26 Crockford characters
    std::uint64_t expires_at = 0;

    // 128 random bits in Crockford base-32, valid for `ttl` seconds from `now`.
    static PairingCode generate(std::uint64_t now, std::uint64_t ttl, const RandomSource& random);
    friend bool operator==(const PairingCode&, const PairingCode&) = default;
};

enum class RedeemOutcome : std::uint8_t { Accepted = 0, Expired = 1, Mismatch = 2 };

inline constexpr std::size_t RETIRED_CODES = 8;

// What a person typed, in the form codes are compared in: white space and "-" dropped, ASCII
// upper-cased, I and L read as 1, O as 0.
std::string normalise_code(std::string_view typed);

class PairingBook {
  public:
    PairingBook(std::uint64_t now, std::uint64_t ttl, RandomSource random);

    const PairingCode& current() const { return current_; }
    const std::deque<std::string>& retired() const { return retired_; }
    std::uint64_t ttl() const { return ttl_; }

    // A fresh current code; the old one joins the retired codes (at most 8 kept).
    void rotate(std::uint64_t now);
    // Presenting the current code consumes it, whether or not it has run out.
    RedeemOutcome redeem(std::string_view presented, std::uint64_t now);

  private:
    RandomSource random_;
    std::uint64_t ttl_;
    PairingCode current_;
    std::deque<std::string> retired_;
};

}  // namespace mirravale::core
