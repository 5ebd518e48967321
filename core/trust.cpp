#include "core/trust.hpp"

#include <algorithm>

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace mirravale::core {

TokenHash hash_token(const Token& token) {
    TokenHash digest{};
    unsigned int length = 0;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
    EVP_DigestUpdate(context, TOKEN_LABEL.data(), TOKEN_LABEL.size());
    EVP_DigestUpdate(context, token.data(), token.size());
    EVP_DigestFinal_ex(context, digest.data(), &length);
    EVP_MD_CTX_free(context);
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
