#pragma once
// The host on the network: the listening socket with its port fallback, the accept loop, one
// task per connection (TLS handshake, reader, writer, session) and the once-a-second ticker.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include <asio/awaitable.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ssl/context.hpp>

#include "core/service.hpp"
#include "net/bonjour.hpp"
#include "net/tls.hpp"
#include "wire/result.hpp"

namespace mirravale::net {

inline constexpr std::uint16_t DEFAULT_PORT = 47474;
inline constexpr int PORT_ATTEMPTS = 20;
inline constexpr auto ACCEPT_RETRY_DELAY = std::chrono::milliseconds(100);
inline constexpr auto HANDSHAKE_TIMEOUT = std::chrono::seconds(10);
inline constexpr std::size_t WRITE_BUFFER_SIZE = 65536;
inline constexpr auto WRITER_GRACE = std::chrono::seconds(2);
inline constexpr auto TICK_PERIOD = std::chrono::seconds(1);
inline constexpr int ADDRESS_REFRESH_TICKS = 5;

// Binds 0.0.0.0 on the port (47474 when none), trying the next ones while they are in use and
// then a port of the system's choosing. Errors begin "cannot listen for phones: ".
Result<asio::ip::tcp::acceptor> bind_listener(asio::io_context& io,
                                              std::optional<std::uint16_t> port);

struct NetworkStart {
    std::uint16_t port = 0;
    std::unique_ptr<Registration> advertisement;  // none when the daemon was not reachable
};

// Binds, publishes the addresses, and starts the accept loop and the ticker on `io`.
Result<NetworkStart> start_network(asio::io_context& io, std::shared_ptr<core::HostService> service,
                                   const TlsIdentity& identity, std::optional<std::uint16_t> port);

// One accepted connection, from the TLS handshake to the close. `handshake_timeout` is a
// parameter so tests need not wait 10 s.
asio::awaitable<void> serve_connection(asio::ip::tcp::socket socket,
                                       std::shared_ptr<asio::ssl::context> tls,
                                       std::shared_ptr<core::HostService> service,
                                       std::chrono::milliseconds handshake_timeout);

}  // namespace mirravale::net
