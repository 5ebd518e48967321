#include "tools/phone/client.hpp"

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <asio/connect.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>

#include "tools/phone/codec.hpp"

namespace mirravale::phone {

Client::Client(asio::ssl::context context) : context_(std::move(context)), stream_(io_, context_) {}

Result<std::unique_ptr<Client>> Client::connect(
    const std::vector<asio::ip::tcp::endpoint>& addresses,
    const std::array<std::uint8_t, 32>& fingerprint) {
    if (addresses.empty()) {
        return fail("the link carries no address");
    }
    asio::ssl::context context(asio::ssl::context::tls_client);
    SSL_CTX_set_min_proto_version(context.native_handle(), TLS1_3_VERSION);
    // The certificate is self-signed: it is checked against the fingerprint instead.
    context.set_verify_mode(asio::ssl::verify_none);
    auto client = std::make_unique<Client>(std::move(context));
    static constexpr unsigned char ALPN[] = "\x0bmirravale/1";
    SSL_set_alpn_protos(client->stream_.native_handle(), ALPN, sizeof ALPN - 1);

    asio::error_code ec;
    asio::connect(client->stream_.lowest_layer(), addresses, ec);
    if (ec) {
        return fail("cannot reach the host: " + ec.message());
    }
    client->stream_.lowest_layer().set_option(asio::ip::tcp::no_delay(true));
    client->stream_.handshake(asio::ssl::stream_base::client, ec);
    if (ec) {
        return fail("the TLS handshake failed: " + ec.message());
    }
    X509* certificate = SSL_get1_peer_certificate(client->stream_.native_handle());
    unsigned char* der = nullptr;
    const int length = certificate ? i2d_X509(certificate, &der) : 0;
    std::array<std::uint8_t, 32> seen{};
    if (length > 0) {
        EVP_Digest(der, static_cast<std::size_t>(length), seen.data(), nullptr, EVP_sha256(),
                   nullptr);
    }
    OPENSSL_free(der);
    X509_free(certificate);
    if (seen != fingerprint) {
        return fail("the host's certificate does not match the link's fingerprint");
    }
    return client;
}

Status Client::send(const wire::ClientMessage& message) {
    return send_bytes(encode(message));
}

Status Client::send_bytes(std::span<const std::uint8_t> bytes) {
    asio::error_code ec;
    asio::write(stream_, asio::buffer(bytes.data(), bytes.size()), ec);
    if (ec)
        return fail("sending failed: " + ec.message());
    return {};
}

Result<wire::HostMessage> Client::receive(std::chrono::milliseconds timeout) {
    std::array<std::uint8_t, 4> prefix{};
    std::vector<std::uint8_t> body;
    asio::error_code result = asio::error::timed_out;
    bool done = false;
    bool late = false;
    asio::steady_timer timer(io_, timeout);
    timer.async_wait([&](asio::error_code ec) {
        if (!ec && !done) {
            late = true;
            stream_.lowest_layer().cancel();
        }
    });
    asio::async_read(stream_, asio::buffer(prefix), [&](asio::error_code ec, std::size_t) {
        if (ec) {
            result = ec, done = true, timer.cancel();
            return;
        }
        const std::uint32_t length = (std::uint32_t{prefix[0]} << 24) |
                                     (std::uint32_t{prefix[1]} << 16) |
                                     (std::uint32_t{prefix[2]} << 8) | prefix[3];
        body.resize(length);
        asio::async_read(stream_, asio::buffer(body), [&](asio::error_code e, std::size_t) {
            result = e, done = true, timer.cancel();
        });
    });
    io_.restart();
    io_.run();
    if (late)
        return fail("no message from the host in time");
    if (result)
        return fail("the connection ended: " + result.message());
    auto message = decode(body);
    if (!message)
        return fail("the host sent a bad message: " + wire::to_string(message.error()));
    return std::move(*message);
}

Result<wire::HostMessage> Client::receive_skipping_cursor(std::chrono::milliseconds timeout) {
    while (true) {
        auto message = receive(timeout);
        if (!message || !std::holds_alternative<wire::host::Cursor>(message->message)) {
            return message;
        }
    }
}

}  // namespace mirravale::phone
