#pragma once
// The host's identity and the text encodings that put it into the pairing link.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <asio/ip/tcp.hpp>

#include "wire/hex.hpp"

namespace mirravale::core {

struct PairingCode;

struct HostIdentity {
    std::string name;
    std::array<std::uint8_t, 16> host_id{};
    std::array<std::uint8_t, 32> fingerprint{};
};

using wire::hex;
// URL-safe Base64 without padding.
std::string base64url(std::span<const std::uint8_t> bytes);
// Crockford base-32 of the bytes read as one bit string, the last group filled with zero bits.
std::string crockford(std::span<const std::uint8_t> bytes);
// Every byte but 0-9, A-Z, a-z, "-", ".", "_", "~" as %XX (uppercase hex).
std::string percent_escape(std::string_view text);
// "192.168.1.20:47474" or "[fe80::1%4]:47474".
std::string address_text(const asio::ip::tcp::endpoint& address);

// mirravale://pair?v=1&id={}&n={}&a={}&fp={}&c={}&x={}, every key always present.
std::string invite_url(const HostIdentity& identity,
                       const std::vector<asio::ip::tcp::endpoint>& addresses,
                       const PairingCode& code);

}  // namespace mirravale::core
