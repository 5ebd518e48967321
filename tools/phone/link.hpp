#pragma once
// The pairing link a host shows: where it listens, which certificate to pin, which code to give.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <asio/ip/tcp.hpp>

#include "wire/result.hpp"

namespace mirravale::phone {

struct Link {
    std::string host_id;  // 32 hex digits
    std::string name;
    std::vector<asio::ip::tcp::endpoint> addresses;
    std::array<std::uint8_t, 32> fingerprint{};
    std::string code;
    std::uint64_t expires_at = 0;
};

Result<Link> parse_link(std::string_view url);

}  // namespace mirravale::phone
