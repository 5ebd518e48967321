#pragma once
// The phones that paired with this host, each known by a hash of the token it was given.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/random.hpp"

namespace mirravale::core {

using DeviceId = std::array<std::uint8_t, 16>;
using Token = std::array<std::uint8_t, 32>;
using TokenHash = std::array<std::uint8_t, 32>;

inline constexpr std::string_view TOKEN_LABEL = "mirravale-token-v1";

struct TrustedDevice {
    DeviceId device_id{};
    std::string name;
    TokenHash token_hash{};
    std::uint64_t paired_at = 0;
    std::uint64_t last_seen = 0;
    friend bool operator==(const TrustedDevice&, const TrustedDevice&) = default;
};

// SHA-256 of TOKEN_LABEL followed by the token.
TokenHash hash_token(const Token& token);

class TrustBook {
  public:
    explicit TrustBook(RandomSource random, std::vector<TrustedDevice> devices = {});

    // A new token for the phone; any earlier record of it is dropped (its old token stops
    // working) and the new record goes to the end.
    Token enroll(const DeviceId& device_id, std::string name, std::uint64_t now);
    bool verify(const DeviceId& device_id, const Token& token) const;

    const std::vector<TrustedDevice>& devices() const { return devices_; }
    std::vector<TrustedDevice>& devices() { return devices_; }

  private:
    RandomSource random_;
    std::vector<TrustedDevice> devices_;
};

}  // namespace mirravale::core
