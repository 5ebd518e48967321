#include "net/tls.hpp"

#include <cstring>

#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace mirravale::net {
namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using Number = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;

// The library's own message for the last failure, or `fallback` when it left none.
std::string openssl_error(std::string_view fallback) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return std::string(fallback);
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

std::vector<std::uint8_t> bio_bytes(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return {reinterpret_cast<std::uint8_t*>(data), reinterpret_cast<std::uint8_t*>(data) + size};
}

std::array<std::uint8_t, 32> sha256(const std::uint8_t* data, std::size_t size) {
    std::array<std::uint8_t, 32> digest{};
    EVP_Digest(data, size, digest.data(), nullptr, EVP_sha256(), nullptr);
    return digest;
}

bool set_serial_from_public_point(X509* certificate, EVP_PKEY* key) {
    std::uint8_t point[65];
    std::size_t length = 0;
    if (EVP_PKEY_get_octet_string_param(key, "encoded-pub-key", point, sizeof point, &length) !=
        1) {
        return false;
    }
    auto digest = sha256(point, length);
    digest[0] &= 0x7F;
    Number serial(BN_bin2bn(digest.data(), 20, nullptr));
    return serial && BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate));
}

int select_alpn(SSL*, const unsigned char** out, unsigned char* out_length,
                const unsigned char* offered, unsigned int offered_length, void*) {
    // The offer is a list of length-prefixed protocol names.
    for (unsigned int at = 0; at < offered_length;) {
        const unsigned int length = offered[at];
        if (at + 1 + length > offered_length) {
            break;
        }
        if (length == ALPN_PROTOCOL.size() &&
            std::memcmp(offered + at + 1, ALPN_PROTOCOL.data(), length) == 0) {
            *out = offered + at + 1;
            *out_length = static_cast<unsigned char>(length);
            return SSL_TLSEXT_ERR_OK;
        }
        at += 1 + length;
    }
    return SSL_TLSEXT_ERR_ALERT_FATAL;
}

}  // namespace

std::string common_name(std::string_view name) {
    std::string cn = "Mirravale on ";
    cn += name;
    if (cn.size() <= MAX_COMMON_NAME) {
        return cn;
    }
    std::size_t cut = MAX_COMMON_NAME;
    while (cut > 0 && (static_cast<unsigned char>(cn[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    cn.resize(cut);
    return cn;
}

Result<TlsIdentity> TlsIdentity::generate(std::string_view name) {
    Key key(EVP_EC_gen("P-256"));
    if (!key) {
        return fail(openssl_error("could not make a key"));
    }
    Certificate certificate(X509_new());
    X509_set_version(certificate.get(), X509_VERSION_3);
    if (!set_serial_from_public_point(certificate.get(), key.get())) {
        return fail(openssl_error("could not derive the serial number"));
    }
    // 1975 must be written as UTCTime; 4096 only fits GeneralizedTime.
    ASN1_TIME_set_string_X509(X509_getm_notBefore(certificate.get()), "750101000000Z");
    ASN1_TIME_set_string_X509(X509_getm_notAfter(certificate.get()), "40960101000000Z");

    const auto cn = common_name(name);
    X509_NAME* subject = X509_get_subject_name(certificate.get());
    if (!X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1,
                                    0) ||
        !X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char*>("Mirravale"), -1, -1,
                                    0)) {
        return fail(openssl_error("could not write the certificate's name"));
    }
    X509_set_issuer_name(certificate.get(), subject);
    X509_set_pubkey(certificate.get(), key.get());

    const std::string san = "DNS:" + std::string(CERTIFICATE_DNS_NAME);
    Extension alt(X509V3_EXT_conf_nid(nullptr, nullptr, NID_subject_alt_name, san.c_str()));
    if (!alt || !X509_add_ext(certificate.get(), alt.get(), -1)) {
        return fail(openssl_error("could not add the certificate's DNS name"));
    }
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0) {
        return fail(openssl_error("could not sign the certificate"));
    }

    TlsIdentity identity;
    Bio certificate_bio(BIO_new(BIO_s_mem()));
    Bio key_bio(BIO_new(BIO_s_mem()));
    // i2d_PrivateKey would write SEC1; the stored key is PKCS #8.
    if (i2d_X509_bio(certificate_bio.get(), certificate.get()) != 1 ||
        i2d_PKCS8PrivateKey_bio(key_bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
            1) {
        return fail(openssl_error("could not encode the certificate"));
    }
    identity.certificate_der = bio_bytes(certificate_bio.get());
    identity.key_der = bio_bytes(key_bio.get());
    return identity;
}

std::array<std::uint8_t, 32> TlsIdentity::fingerprint() const {
    return sha256(certificate_der.data(), certificate_der.size());
}

Result<std::shared_ptr<asio::ssl::context>> TlsIdentity::server_config() const {
    auto context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_server);
    SSL_CTX* ctx = context->native_handle();
    ERR_clear_error();
    SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION);
    SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_CIPHER_SERVER_PREFERENCE);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    if (SSL_CTX_set_ciphersuites(
            ctx, "TLS_AES_256_GCM_SHA384:TLS_AES_128_GCM_SHA256:TLS_CHACHA20_POLY1305_SHA256") !=
        1) {
        return fail(openssl_error("no usable cipher suites configured"));
    }
    if (SSL_CTX_set1_groups_list(ctx, "X25519:P-256:P-384") != 1) {
        return fail(openssl_error("no kx groups configured"));
    }
    // The certificate first, then the key, then the check that they belong together.
    if (SSL_CTX_use_certificate_ASN1(ctx, static_cast<int>(certificate_der.size()),
                                     certificate_der.data()) != 1) {
        return fail(openssl_error("the certificate could not be loaded"));
    }
    const unsigned char* key_bytes = key_der.data();
    Key key(d2i_AutoPrivateKey(nullptr, &key_bytes, static_cast<long>(key_der.size())));
    if (!key || SSL_CTX_use_PrivateKey(ctx, key.get()) != 1) {
        return fail(openssl_error("the private key could not be loaded"));
    }
    if (SSL_CTX_check_private_key(ctx) != 1) {
        return fail(openssl_error("the private key does not match the certificate"));
    }
    SSL_CTX_set_alpn_select_cb(ctx, select_alpn, nullptr);
    return context;
}

}  // namespace mirravale::net
