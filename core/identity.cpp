#include "core/identity.hpp"

#include <fmt/format.h>

#include "core/pairing.hpp"

namespace mirravale::core {

namespace {
// Cuts the bytes, read as one bit string, into groups of `bits` from the left; the last group
// is filled with zero bits on the right.
std::string bit_groups(std::span<const std::uint8_t> bytes, unsigned bits, const char* alphabet) {
    std::string out;
    out.reserve((bytes.size() * 8 + bits - 1) / bits);
    std::uint32_t buffer = 0;
    unsigned held = 0;
    const std::uint32_t mask = (1u << bits) - 1;
    for (auto b : bytes) {
        buffer = (buffer << 8) | b;
        held += 8;
        while (held >= bits) {
            held -= bits;
            out.push_back(alphabet[(buffer >> held) & mask]);
        }
    }
    if (held > 0) {
        out.push_back(alphabet[(buffer << (bits - held)) & mask]);
    }
    return out;
}
}  // namespace

std::string base64url(std::span<const std::uint8_t> bytes) {
    return bit_groups(bytes, 6, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_");
}

std::string crockford(std::span<const std::uint8_t> bytes) {
    return bit_groups(bytes, 5, "0123456789ABCDEFGHJKMNPQRSTVWXYZ");
}

std::string percent_escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        const bool plain = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') ||
                           (b >= 'a' && b <= 'z') || b == '-' || b == '.' || b == '_' || b == '~';
        if (plain) {
            out.push_back(c);
        } else {
            out += fmt::format("%{:02X}", b);
        }
    }
    return out;
}

std::string address_text(const asio::ip::tcp::endpoint& address) {
    const auto ip = address.address();
    if (ip.is_v4()) {
        return fmt::format("{}:{}", ip.to_v4().to_string(), address.port());
    }
    // Asio prints the scope itself only by interface name on some systems; write the number.
    auto v6 = ip.to_v6();
    const auto scope = v6.scope_id();
    v6.scope_id(0);
    if (scope != 0) {
        return fmt::format("[{}%{}]:{}", v6.to_string(), scope, address.port());
    }
    return fmt::format("[{}]:{}", v6.to_string(), address.port());
}

std::string invite_url(const HostIdentity& identity,
                       const std::vector<asio::ip::tcp::endpoint>& addresses,
                       const PairingCode& code) {
    std::string joined;
    for (const auto& address : addresses) {
        if (!joined.empty()) {
            joined.push_back(',');
        }
        joined += address_text(address);
    }
    return fmt::format("mirravale://pair?v=1&id={}&n={}&a={}&fp={}&c={}&x={}",
                       hex(identity.host_id), percent_escape(identity.name), percent_escape(joined),
                       base64url(identity.fingerprint), code.code, code.expires_at);
}

}  // namespace mirravale::core
