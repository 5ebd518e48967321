#include "core/trust.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace mirravale::core {

TokenHash hash_token(const Token& token) {
    std::array<std::uint8_t, TOKEN_LABEL.size() + Token{}.size()> message{};
    std::copy(TOKEN_LABEL.begin(), TOKEN_LABEL.end(), message.begin());
    std::copy(token.begin(), token.end(), message.begin() + TOKEN_LABEL.size());
    TokenHash digest{};
    unsigned int length = 0;
    // Only an allocation failure inside OpenSSL gets here; a zero hash would be a hash every
    // broken run shares, so stop instead.
    if (EVP_Digest(message.data(), message.size(), digest.data(), &length, EVP_sha256(), nullptr) !=
            1 ||
        length != digest.size()) {
        std::fputs("SHA-256 failed\n", stderr);
        std::abort();
    }
    OPENSSL_cleanse(message.data(), message.size());
    return digest;
}

TrustBook::TrustBook(RandomSource random, std::vector<TrustedDevice> devices)
    : random_(std::move(random)), devices_(std::move(devices)) {}

Token TrustBook::enroll(const DeviceId& device_id, std::string name, std::uint64_t now) {
    Token token{};
    random_(token);
    std::erase_if(devices_, [&](const TrustedDevice& d) { return d.device_id == device_id; });
    devices_.push_back({device_id, std::move(name), hash_token(token), now, now});
    return token;
}

bool TrustBook::verify(const DeviceId& device_id, const Token& token) const {
    const auto presented = hash_token(token);
    bool found = false;
    for (const auto& d : devices_) {
        const bool same_hash =
            CRYPTO_memcmp(d.token_hash.data(), presented.data(), presented.size()) == 0;
        found |= (d.device_id == device_id) && same_hash;
    }
    return found;
}

}  // namespace mirravale::core
