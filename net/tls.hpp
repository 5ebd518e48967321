#pragma once
// The host's self-signed certificate and key, and the TLS 1.3 server configuration built from
// them. Phones pin the certificate by its fingerprint, so no authority vouches for it.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <asio/ssl/context.hpp>

#include "wire/result.hpp"

namespace mirravale::net {

inline constexpr std::string_view ALPN_PROTOCOL = "mirravale/1";
// The one DNS name every host's certificate carries; phones identify it by fingerprint.
inline constexpr std::string_view CERTIFICATE_DNS_NAME = "mirravale-host.local";
// X.509 limits a common name to 64 characters.
inline constexpr std::size_t MAX_COMMON_NAME = 64;

struct TlsIdentity {
    std::vector<std::uint8_t> certificate_der;
    std::vector<std::uint8_t> key_der;  // PKCS #8

    static Result<TlsIdentity> generate(std::string_view name);
    // SHA-256 of the stored certificate bytes, exactly as they are.
    std::array<std::uint8_t, 32> fingerprint() const;
    Result<std::shared_ptr<asio::ssl::context>> server_config() const;
};

// "Mirravale on {name}", cut at a character boundary to fit a common name.
std::string common_name(std::string_view name);

}  // namespace mirravale::net
