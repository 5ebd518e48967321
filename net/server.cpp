#include "net/server.hpp"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>
#include <asio/use_awaitable.hpp>

#include "core/log.hpp"
#include "net/addresses.hpp"

namespace mirravale::net {
namespace {

constexpr auto tuple = asio::experimental::as_tuple(asio::use_awaitable);

auto logger() {
    return log::get("mirravale_net::server");
}

asio::error_code try_bind(asio::ip::tcp::acceptor& acceptor, std::uint16_t port) {
    asio::error_code ec;
    if (acceptor.is_open())
        acceptor.close(ec);
    acceptor.open(asio::ip::tcp::v4(), ec);
    if (ec)
        return ec;
    acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    acceptor.bind({asio::ip::address_v4::any(), port}, ec);
    if (ec)
        return ec;
    acceptor.listen(128, ec);
    return ec;
}

asio::awaitable<void> accept_loop(asio::ip::tcp::acceptor acceptor,
                                  std::shared_ptr<asio::ssl::context> tls,
                                  std::shared_ptr<core::HostService> service) {
    auto& io = static_cast<asio::io_context&>(acceptor.get_executor().context());
    asio::error_code ec;
    logger()->info("listening on {}", core::address_text(acceptor.local_endpoint(ec)));
    asio::steady_timer pause(acceptor.get_executor());
    while (true) {
        // Each connection lives on a strand of its own.
        auto [accept_ec, socket] = co_await acceptor.async_accept(asio::make_strand(io), tuple);
        if (accept_ec) {
            // Waiting matters: with no descriptors left, accept fails again at once.
            logger()->warn("accept failed: {}", accept_ec.message());
            pause.expires_after(ACCEPT_RETRY_DELAY);
            co_await pause.async_wait(tuple);
            continue;
        }
        auto executor = socket.get_executor();
        asio::co_spawn(executor,
                       serve_connection(std::move(socket), tls, service,
                                        std::chrono::duration_cast<std::chrono::milliseconds>(
                                            HANDSHAKE_TIMEOUT)),
                       asio::detached);
    }
}

asio::awaitable<void> tick(std::shared_ptr<core::HostService> service, std::uint16_t port) {
    asio::steady_timer timer(co_await asio::this_coro::executor);
    for (std::uint64_t count = 1;; ++count) {
        service->tick();
        if (count % ADDRESS_REFRESH_TICKS == 0) {
            service->set_addresses(lan_addresses(port));
        }
        timer.expires_after(TICK_PERIOD);
        co_await timer.async_wait(tuple);
    }
}

}  // namespace

Result<asio::ip::tcp::acceptor> bind_listener(asio::io_context& io,
                                              std::optional<std::uint16_t> configured) {
    asio::ip::tcp::acceptor acceptor(io);
    const std::uint32_t first = configured.value_or(DEFAULT_PORT);
    const std::uint32_t end = std::min<std::uint32_t>(first + PORT_ATTEMPTS, 65535);
    for (std::uint32_t port = first; port < end; ++port) {
        const auto ec = try_bind(acceptor, static_cast<std::uint16_t>(port));
        if (!ec) {
            return acceptor;
        }
        if (ec != asio::error::address_in_use) {
            return fail("cannot listen for phones: " + ec.message());
        }
    }
    if (const auto ec = try_bind(acceptor, 0); ec) {
        return fail("cannot listen for phones: " + ec.message());
    }
    return acceptor;
}

Result<NetworkStart> start_network(asio::io_context& io, std::shared_ptr<core::HostService> service,
                                   const TlsIdentity& identity, std::optional<std::uint16_t> port) {
    auto acceptor = bind_listener(io, port);
    if (!acceptor) {
        return fail(acceptor.error());
    }
    asio::error_code ec;
    const auto bound = acceptor->local_endpoint(ec).port();
    service->set_addresses(lan_addresses(bound));

    auto tls = identity.server_config();
    if (!tls) {
        log::get("mirravale")->error("the listener stopped: {}", tls.error());
    } else {
        asio::co_spawn(io, accept_loop(std::move(*acceptor), *tls, service), asio::detached);
    }
    asio::co_spawn(io, tick(service, bound), asio::detached);
    return NetworkStart{bound, advertise(service->identity(), bound)};
}

}  // namespace mirravale::net
