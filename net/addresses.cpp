#include "net/addresses.hpp"

#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "wire/messages.hpp"

namespace mirravale::net {
namespace {

bool excluded(std::string_view name) {
    static constexpr std::array<std::string_view, 7> TUNNELS = {"utun", "ipsec",  "ppp", "awdl",
                                                                "llw",  "bridge", "anpi"};
    return std::any_of(TUNNELS.begin(), TUNNELS.end(),
                       [&](std::string_view prefix) { return name.starts_with(prefix); });
}

int rank(std::string_view name) {
    if (name == "en0")
        return 0;
    return name.starts_with("en") ? 1 : 2;
}

bool private_range(const asio::ip::address_v4& address) {
    const auto b = address.to_bytes();
    return b[0] == 10 || (b[0] == 172 && (b[1] & 0xF0) == 16) || (b[0] == 192 && b[1] == 168) ||
           (b[0] == 100 && (b[1] & 0xC0) == 64);
}

}  // namespace

std::vector<asio::ip::tcp::endpoint> select_lan_addresses(
    const std::vector<InterfaceAddress>& interfaces, std::uint16_t port) {
    std::vector<std::pair<int, asio::ip::address_v4>> kept;
    for (const auto& entry : interfaces) {
        if (excluded(entry.interface_name) || !entry.address.is_v4()) {
            continue;
        }
        const auto v4 = entry.address.to_v4();
        // Private ranges already leave out loopback (127/8) and link-local (169.254/16).
        if (private_range(v4)) {
            kept.emplace_back(rank(entry.interface_name), v4);
        }
    }
    std::stable_sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second.to_uint() < b.second.to_uint();
    });
    std::vector<asio::ip::tcp::endpoint> out;
    for (std::size_t i = 0; i < kept.size() && out.size() < MAX_LAN_ADDRESSES; ++i) {
        if (i > 0 && kept[i].second == kept[i - 1].second) {
            continue;  // the same address on the neighbouring entry
        }
        out.emplace_back(kept[i].second, port);
    }
    return out;
}

std::vector<asio::ip::tcp::endpoint> lan_addresses(std::uint16_t port) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return {};
    }
    std::vector<InterfaceAddress> interfaces;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
            interfaces.push_back(
                {entry->ifa_name, asio::ip::address_v4(ntohl(in->sin_addr.s_addr))});
        }
    }
    freeifaddrs(list);
    return select_lan_addresses(interfaces, port);
}

std::vector<std::uint8_t> txt_record(const core::HostIdentity& identity) {
    // The name's first 60 characters, never cut inside one.
    std::size_t end = 0;
    for (int characters = 0; end < identity.name.size() && characters < 60; ++characters) {
        ++end;
        while (end < identity.name.size() &&
               (static_cast<unsigned char>(identity.name[end]) & 0xC0) == 0x80) {
            ++end;
        }
    }
    const std::array<std::string, 3> strings = {"id=" + core::hex(identity.host_id),
                                                "v=" + std::to_string(wire::PROTOCOL_VERSION),
                                                "n=" + identity.name.substr(0, end)};
    std::vector<std::uint8_t> record;
    for (const auto& s : strings) {
        const std::size_t n = std::min<std::size_t>(s.size(), 255);
        record.push_back(static_cast<std::uint8_t>(n));
        record.insert(record.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
    }
    return record;
}

}  // namespace mirravale::net
