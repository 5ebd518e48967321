#pragma once
// The host's usable local IPv4 addresses, as the pairing link and the DNS-SD record carry them.

#include <cstdint>
#include <string>
#include <vector>

#include <asio/ip/tcp.hpp>

#include "core/identity.hpp"

namespace mirravale::net {

inline constexpr std::size_t MAX_LAN_ADDRESSES = 4;

struct InterfaceAddress {
    std::string interface_name;
    asio::ip::address address;
};

// Private, non-loopback, non-link-local IPv4 addresses of usable interfaces, best first, at most 4.
std::vector<asio::ip::tcp::endpoint> select_lan_addresses(
    const std::vector<InterfaceAddress>& interfaces, std::uint16_t port);
// The same over the machine's interfaces; empty when they cannot be read.
std::vector<asio::ip::tcp::endpoint> lan_addresses(std::uint16_t port);

// "id=<32 hex>", "v=1", "n=<first 60 characters of the name>", each after its length byte.
std::vector<std::uint8_t> txt_record(const core::HostIdentity& identity);

}  // namespace mirravale::net
