#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ssl.hpp>

#include "net/tls.hpp"

namespace mirravale::net {
namespace {

struct Parsed {
    X509* x509;
    explicit Parsed(const std::vector<std::uint8_t>& der) {
        const unsigned char* p = der.data();
        x509 = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    }
    ~Parsed() { X509_free(x509); }
    std::string field(int nid) const {
        char text[256] = {};
        X509_NAME_get_text_by_NID(X509_get_subject_name(x509), nid, text, sizeof text);
        return text;
    }
};

TEST(TlsIdentity, CertificateFields) {
    const auto identity = TlsIdentity::generate("Léa's desk");
    ASSERT_TRUE(identity.ok()) << identity.error();
    Parsed cert(identity->certificate_der);
    ASSERT_NE(cert.x509, nullptr);
    EXPECT_EQ(X509_get_version(cert.x509), X509_VERSION_3);
    EXPECT_EQ(cert.field(NID_commonName), "Mirravale on Léa's desk");
    EXPECT_EQ(cert.field(NID_organizationName), "Mirravale");
    EXPECT_EQ(X509_NAME_cmp(X509_get_subject_name(cert.x509), X509_get_issuer_name(cert.x509)), 0);
    EXPECT_EQ(X509_get_signature_nid(cert.x509), NID_ecdsa_with_SHA256);

    ASN1_TIME* start = ASN1_TIME_new();
    ASN1_TIME_set_string(start, "19750101000000Z");
    int days = 0, seconds = 0;
    ASN1_TIME_diff(&days, &seconds, start, X509_get0_notBefore(cert.x509));
    EXPECT_EQ(days, 0);
    EXPECT_EQ(seconds, 0);
    ASN1_TIME_set_string(start, "40960101000000Z");
    ASN1_TIME_diff(&days, &seconds, start, X509_get0_notAfter(cert.x509));
    EXPECT_EQ(days, 0);
    ASN1_TIME_free(start);

    auto* names = static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(cert.x509, NID_subject_alt_name, nullptr, nullptr));
    ASSERT_EQ(sk_GENERAL_NAME_num(names), 1);
    const auto* dns = sk_GENERAL_NAME_value(names, 0);
    ASSERT_EQ(dns->type, GEN_DNS);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(dns->d.dNSName))),
              CERTIFICATE_DNS_NAME);
    GENERAL_NAMES_free(names);

    // The serial is the public point's digest, top bit cleared.
    EVP_PKEY* key = X509_get0_pubkey(cert.x509);
    std::uint8_t point[65];
    std::size_t length = 0;
    ASSERT_EQ(EVP_PKEY_get_octet_string_param(key, "encoded-pub-key", point, 65, &length), 1);
    std::uint8_t digest[32];
    EVP_Digest(point, length, digest, nullptr, EVP_sha256(), nullptr);
    digest[0] &= 0x7F;
    BIGNUM* serial = ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert.x509), nullptr);
    std::uint8_t serial_bytes[20] = {};
    BN_bn2binpad(serial, serial_bytes, 20);
    BN_free(serial);
    EXPECT_EQ(std::memcmp(serial_bytes, digest, 20), 0);

    std::array<std::uint8_t, 32> expected{};
    EVP_Digest(identity->certificate_der.data(), identity->certificate_der.size(), expected.data(),
               nullptr, EVP_sha256(), nullptr);
    EXPECT_EQ(identity->fingerprint(), expected);

    // The key is PKCS #8.
    const unsigned char* k = identity->key_der.data();
    PKCS8_PRIV_KEY_INFO* info =
        d2i_PKCS8_PRIV_KEY_INFO(nullptr, &k, static_cast<long>(identity->key_der.size()));
    EXPECT_NE(info, nullptr);
    PKCS8_PRIV_KEY_INFO_free(info);
}

TEST(TlsIdentity, FreshKeysAndLongNames) {
    const auto a = TlsIdentity::generate("same");
    const auto b = TlsIdentity::generate("same");
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_NE(a->fingerprint(), b->fingerprint());
    EXPECT_NE(a->key_der, b->key_der);

    std::string long_name;
    for (int i = 0; i < 60; ++i)
        long_name += "é";
    const auto c = TlsIdentity::generate(long_name);
    ASSERT_TRUE(c.ok()) << c.error();
    const auto cn = common_name(long_name);
    EXPECT_LE(cn.size(), MAX_COMMON_NAME);
    EXPECT_EQ(cn.size(), 63u);  // "Mirravale on " and 25 whole two-byte letters
    EXPECT_EQ(Parsed(c->certificate_der).field(NID_commonName), cn);

    const std::string plain(200, 'h');
    const auto d = TlsIdentity::generate(plain);
    ASSERT_TRUE(d.ok()) << d.error();
    EXPECT_EQ(Parsed(d->certificate_der).field(NID_commonName),
              "Mirravale on " + std::string(MAX_COMMON_NAME - 13, 'h'));
}

TEST(TlsIdentity, MismatchedKeyIsAnError) {
    auto a = TlsIdentity::generate("a");
    const auto b = TlsIdentity::generate("b");
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_TRUE(a->server_config().ok());
    a->key_der = b->key_der;
    const auto config = a->server_config();
    ASSERT_FALSE(config.ok());
    EXPECT_FALSE(config.error().empty());
    a->key_der = {1, 2, 3};
    EXPECT_FALSE(a->server_config().ok());
}

// One handshake over loopback; gives the server's error, or "" and the protocol agreed.
struct Handshake {
    std::string server_error;
    std::string alpn;
    int version = 0;
};

Handshake handshake(const TlsIdentity& identity, int client_max_version, std::string client_alpn) {
    asio::io_context io;
    auto server_context = identity.server_config();
    EXPECT_TRUE(server_context.ok());
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    asio::ssl::stream<asio::ip::tcp::socket> server(io, **server_context);
    asio::ssl::context client_context(asio::ssl::context::tls_client);
    SSL_CTX_set_max_proto_version(client_context.native_handle(), client_max_version);
    asio::ssl::stream<asio::ip::tcp::socket> client(io, client_context);
    std::vector<unsigned char> wire_alpn = {static_cast<unsigned char>(client_alpn.size())};
    wire_alpn.insert(wire_alpn.end(), client_alpn.begin(), client_alpn.end());
    SSL_set_alpn_protos(client.native_handle(), wire_alpn.data(),
                        static_cast<unsigned>(wire_alpn.size()));

    Handshake result;
    acceptor.async_accept(server.lowest_layer(), [&](asio::error_code ec) {
        ASSERT_FALSE(ec);
        server.async_handshake(asio::ssl::stream_base::server, [&](asio::error_code e) {
            result.server_error = e ? (e.message().empty() ? "failed" : e.message()) : "";
            if (!e) {
                const unsigned char* p = nullptr;
                unsigned len = 0;
                SSL_get0_alpn_selected(server.native_handle(), &p, &len);
                result.alpn.assign(reinterpret_cast<const char*>(p), len);
                result.version = SSL_version(server.native_handle());
            }
        });
    });
    client.lowest_layer().async_connect(acceptor.local_endpoint(), [&](asio::error_code ec) {
        ASSERT_FALSE(ec);
        client.async_handshake(asio::ssl::stream_base::client, [](asio::error_code) {});
    });
    io.run();
    return result;
}

TEST(TlsIdentity, HandshakeRules) {
    const auto identity = TlsIdentity::generate("host");
    ASSERT_TRUE(identity.ok());
    const auto good = handshake(*identity, TLS1_3_VERSION, "mirravale/1");
    EXPECT_EQ(good.server_error, "");
    EXPECT_EQ(good.alpn, "mirravale/1");
    EXPECT_EQ(good.version, TLS1_3_VERSION);
    EXPECT_NE(handshake(*identity, TLS1_2_VERSION, "mirravale/1").server_error, "");
    EXPECT_NE(handshake(*identity, TLS1_3_VERSION, "h2").server_error, "");
}

}  // namespace
}  // namespace mirravale::net
