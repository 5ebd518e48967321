#include "host/store.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <span>
#include <string>
#include <system_error>

#include <openssl/rand.h>

#include "core/log.hpp"
#include "host/private_file.hpp"
#include "host/utf8.hpp"

namespace mirravale::host {
namespace {

std::optional<std::array<std::uint8_t, 16>> parse_host_id(std::string_view text) {
    if (text.size() != 32) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 16> id{};
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        id[i / 2] = static_cast<std::uint8_t>(id[i / 2] | digit << (i % 2 == 0 ? 4 : 0));
    }
    return id;
}

std::string lower_hex(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

}  // namespace

Status prepare_data_directory(const std::filesystem::path& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (!error && !std::filesystem::is_directory(directory, error) && !error) {
        error = std::make_error_code(std::errc::not_a_directory);
    }
    if (error) {
        return fail("cannot create " + directory.string() + ": " + error.message());
    }
    // Owner-only; a directory we may not change keeps working as it is.
    while (::chmod(directory.c_str(), 0700) != 0 && errno == EINTR) {
    }
    return {};
}

Result<std::array<std::uint8_t, 16>> load_host_id(const std::filesystem::path& directory) {
    const std::filesystem::path path = directory / HOST_ID_FILE;
    if (auto bytes = read_whole(path)) {
        const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
        if (is_utf8(text)) {
            if (auto id = parse_host_id(trim_unicode_space(text))) {
                return *id;
            }
        }
    }
    std::array<std::uint8_t, 16> id{};
    if (RAND_bytes(id.data(), static_cast<int>(id.size())) != 1) {
        return fail("no secure random bytes for the host identifier");
    }
    if (auto written = write_private(path, lower_hex(id)); !written) {
        return fail(written.error());
    }
    return id;
}

Result<net::TlsIdentity> load_or_create_identity(const std::filesystem::path& directory,
                                                 std::string_view host_name) {
    const std::filesystem::path certificate_path = directory / CERTIFICATE_FILE;
    const std::filesystem::path key_path = directory / KEY_FILE;
    auto certificate = read_whole(certificate_path);
    auto key = read_whole(key_path);
    if (certificate && key) {
        net::TlsIdentity identity;
        identity.certificate_der = std::move(*certificate);
        identity.key_der = std::move(*key);
        return identity;
    }

    auto generated = net::TlsIdentity::generate(host_name);
    if (!generated) {
        return fail(generated.error());
    }
    if (auto written = write_private(key_path, generated->key_der); !written) {
        return fail(written.error());
    }
    if (auto written = write_private(certificate_path, generated->certificate_der); !written) {
        return fail(written.error());
    }
    log::get("mirravale::store")->info("created this Mac's Mirravale identity");
    return generated;
}

}  // namespace mirravale::host
