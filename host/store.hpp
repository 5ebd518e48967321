#pragma once
// The data directory: what the host remembers between runs. Its files are written only through
// write_private (host/private_file.hpp); the trusted devices live in TrustFile
// (host/trust_file.hpp).

#include <array>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "net/tls.hpp"
#include "wire/result.hpp"

namespace mirravale::host {

inline constexpr std::string_view HOST_ID_FILE = "host-id";
inline constexpr std::string_view CERTIFICATE_FILE = "certificate.der";
inline constexpr std::string_view KEY_FILE = "key.der";
inline constexpr std::string_view TRUSTED_DEVICES_FILE = "trusted-devices.json";

// Creates the directory and its missing parents, then makes it owner-only (best effort).
// Error: "cannot create {dir}: {reason}".
Status prepare_data_directory(const std::filesystem::path& directory);

// The identifier in "host-id" when it holds 32 hexadecimal digits (white space around them
// allowed); otherwise a new random one, stored first.
Result<std::array<std::uint8_t, 16>> load_host_id(const std::filesystem::path& directory);

// The certificate and key as stored, or a new pair for `host_name` written key first when
// either file cannot be read.
Result<net::TlsIdentity> load_or_create_identity(const std::filesystem::path& directory,
                                                 std::string_view host_name);

}  // namespace mirravale::host
