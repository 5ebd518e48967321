#pragma once
// A phone's connection to a host: TLS 1.3 with the protocol's ALPN, the certificate pinned by the
// fingerprint from the pairing link, and blocking message exchange.

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ssl.hpp>

#include "wire/messages.hpp"

namespace mirravale::phone {

class Client {
  public:
    // Tries the addresses in order; fails when none answers or the certificate is another one.
    static Result<std::unique_ptr<Client>> connect(
        const std::vector<asio::ip::tcp::endpoint>& addresses,
        const std::array<std::uint8_t, 32>& fingerprint);

    Status send(const wire::ClientMessage& message);
    // Sends raw bytes as they are (for tests of bad frames).
    Status send_bytes(std::span<const std::uint8_t> bytes);
    // The next message; an error text when the connection ends or times out.
    Result<wire::HostMessage> receive(std::chrono::milliseconds timeout = std::chrono::seconds(15));
    // Next message that is not a pointer report.
    Result<wire::HostMessage> receive_skipping_cursor(
        std::chrono::milliseconds timeout = std::chrono::seconds(15));

    Client(asio::ssl::context context);

  private:
    asio::io_context io_;
    asio::ssl::context context_;
    asio::ssl::stream<asio::ip::tcp::socket> stream_;
};

}  // namespace mirravale::phone
