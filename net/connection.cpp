// One phone connection: TLS handshake, then a reader and a writer around the session, then an
// orderly close bounded by the writer's grace.

#include <array>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/channel.hpp>
#include <asio/experimental/deferred.hpp>
#include <asio/experimental/parallel_group.hpp>
#include <asio/read.hpp>
#include <asio/ssl.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>

#include "core/channels.hpp"
#include "core/log.hpp"
#include "core/session.hpp"
#include "net/server.hpp"

namespace mirravale::net {
namespace {

using Stream = asio::ssl::stream<asio::ip::tcp::socket>;
// A one-time signal (Asio 1.22 cannot instantiate a channel of `void(error_code)` alone).
using Done = asio::experimental::channel<void(asio::error_code, bool)>;
constexpr auto tuple = asio::experimental::as_tuple(asio::use_awaitable);

auto logger() {
    return log::get("mirravale_net::server");
}

// Cuts frames from the stream and queues their messages, waiting while the session is behind.
// Whatever ends it, the session learns of it through the end marker.
asio::awaitable<void> read_messages(std::shared_ptr<Stream> stream,
                                    std::shared_ptr<core::InboundChannel> inbound,
                                    std::shared_ptr<Done> done) {
    std::array<std::uint8_t, 4> prefix{};
    std::vector<std::uint8_t> body;
    body.reserve(256);
    while (true) {
        auto [prefix_ec, prefix_n] =
            co_await asio::async_read(*stream, asio::buffer(prefix), tuple);
        if (prefix_ec)
            break;
        const auto length = wire::frame_body_length(prefix);
        if (!length)
            break;  // zero or over the limit: nothing more is read
        body.resize(*length);
        auto [body_ec, body_n] = co_await asio::async_read(*stream, asio::buffer(body), tuple);
        if (body_ec)
            break;
        auto message = wire::ClientMessage::decode(body);
        if (!message)
            break;
        auto [send_ec] = co_await inbound->async_send(
            asio::error_code{}, std::optional<wire::ClientMessage>(std::move(*message)), tuple);
        if (send_ec)
            break;
    }
    co_await inbound->async_send(asio::error_code{}, std::nullopt, tuple);
    done->try_send(asio::error_code{}, true);
}

// What one flush writes: encoded messages in `encoded`, video payloads by reference.
class Batch {
  public:
    void add(const wire::HostMessage& message) {
        if (const auto* frame = std::get_if<wire::host::VideoFrame>(&message.message)) {
            const auto header = wire::video_frame_header(*frame);
            encoded_.insert(encoded_.end(), header.begin(), header.end());
            if (frame->data && !frame->data->empty()) {
                cut_encoded();
                pieces_.push_back({0, 0, frame->data});
                size_ += frame->data->size();
            }
        } else {
            message.encode_into(encoded_);
        }
    }
    std::size_t size() const { return size_ + encoded_.size() - encoded_start_; }
    std::vector<asio::const_buffer> buffers() {
        cut_encoded();
        std::vector<asio::const_buffer> out;
        for (const auto& piece : pieces_) {
            if (piece.payload) {
                out.emplace_back(piece.payload->data(), piece.payload->size());
            } else {
                out.emplace_back(encoded_.data() + piece.offset, piece.length);
            }
        }
        return out;
    }
    void clear() {
        encoded_.clear();
        encoded_start_ = 0;
        pieces_.clear();
        size_ = 0;
    }

  private:
    struct Piece {
        std::size_t offset;
        std::size_t length;
        wire::SharedBytes payload;
    };
    void cut_encoded() {
        if (encoded_.size() > encoded_start_) {
            pieces_.push_back({encoded_start_, encoded_.size() - encoded_start_, nullptr});
            size_ += encoded_.size() - encoded_start_;
            encoded_start_ = encoded_.size();
        }
    }
    std::vector<std::uint8_t> encoded_;
    std::size_t encoded_start_ = 0;
    std::vector<Piece> pieces_;
    std::size_t size_ = 0;
};

// Writes queued messages, flushing only when the queue is momentarily empty (or a batch grows
// past the buffer size), until the end marker; then says it has drained.
asio::awaitable<void> write_messages(std::shared_ptr<Stream> stream,
                                     std::shared_ptr<core::OutboundChannel> outbound,
                                     std::shared_ptr<Done> drained) {
    Batch batch;
    bool ended = false;
    while (!ended) {
        auto [ec, message] = co_await outbound->async_receive(tuple);
        ended = ec || !message;
        while (!ended) {
            batch.add(*message);
            if (batch.size() >= WRITE_BUFFER_SIZE)
                break;
            std::optional<std::optional<wire::HostMessage>> next;
            outbound->try_receive([&](asio::error_code, std::optional<wire::HostMessage> m) {
                next.emplace(std::move(m));
            });
            if (!next)
                break;
            if (!*next) {
                ended = true;
                break;
            }
            message = std::move(*next);
        }
        if (batch.size() > 0) {
            auto [write_ec, written] = co_await asio::async_write(*stream, batch.buffers(), tuple);
            batch.clear();
            if (write_ec) {
                outbound->close();  // the session's next sends fail
                break;
            }
        }
    }
    drained->try_send(asio::error_code{}, true);
}

// Waits for `signal` or until `deadline`; true when signalled.
asio::awaitable<bool> wait_until(Done& signal, std::chrono::steady_clock::time_point deadline) {
    asio::steady_timer timer(co_await asio::this_coro::executor, deadline);
    auto [order, signal_ec, signalled, timer_ec] =
        co_await asio::experimental::make_parallel_group(
            signal.async_receive(asio::experimental::deferred),
            timer.async_wait(asio::experimental::deferred))
            .async_wait(asio::experimental::wait_for_one(), asio::use_awaitable);
    (void)timer_ec, (void)signalled;
    co_return order[0] == 0 && !signal_ec;
}

std::string peer_text(const asio::ip::tcp::socket& socket) {
    asio::error_code ec;
    const auto peer = socket.remote_endpoint(ec);
    return ec ? std::string("unknown") : core::address_text(peer);
}

}  // namespace

asio::awaitable<void> serve_connection(asio::ip::tcp::socket socket,
                                       std::shared_ptr<asio::ssl::context> tls,
                                       std::shared_ptr<core::HostService> service,
                                       std::chrono::milliseconds handshake_timeout) {
    const auto executor = co_await asio::this_coro::executor;
    const auto peer = peer_text(socket);
    asio::error_code ec;
    socket.set_option(asio::ip::tcp::no_delay(true), ec);
    if (ec) {
        logger()->debug("connection ended: {} peer={}", ec.message(), peer);
        co_return;
    }
    // The TLS stream is made only once the first byte arrives: an idle connection then costs a
    // socket and a timer, not a TLS engine with its buffers. One limit covers both waits.
    const auto deadline = std::chrono::steady_clock::now() + handshake_timeout;
    {
        asio::steady_timer limit(executor, deadline);
        auto [order, wait_ec, limit_ec] =
            co_await asio::experimental::make_parallel_group(
                socket.async_wait(asio::ip::tcp::socket::wait_read, asio::experimental::deferred),
                limit.async_wait(asio::experimental::deferred))
                .async_wait(asio::experimental::wait_for_one(), asio::use_awaitable);
        (void)limit_ec;
        if (order[0] != 0 || wait_ec) {
            logger()->debug("connection ended: {} peer={}",
                            order[0] != 0 ? "TLS handshake timed out" : wait_ec.message(), peer);
            co_return;
        }
    }
    auto stream = std::make_shared<Stream>(std::move(socket), *tls);

    // The handshake is bounded by closing the socket under it when the time runs out.
    auto timed_out = std::make_shared<bool>(false);
    asio::steady_timer limit(executor, deadline);
    limit.async_wait([stream, timed_out](asio::error_code e) {
        if (!e) {
            *timed_out = true;
            asio::error_code ignored;
            stream->lowest_layer().close(ignored);
        }
    });
    auto [handshake_ec] = co_await stream->async_handshake(asio::ssl::stream_base::server, tuple);
    limit.cancel();
    if (handshake_ec || *timed_out) {
        logger()->debug("connection ended: {} peer={}",
                        *timed_out ? "TLS handshake timed out" : handshake_ec.message(), peer);
        co_return;
    }

    auto inbound = std::make_shared<core::InboundChannel>(executor, core::INBOUND_CAPACITY);
    auto outbound = std::make_shared<core::OutboundChannel>(executor, core::OUTBOUND_CAPACITY);
    auto reader_done = std::make_shared<Done>(executor, 1);
    auto writer_done = std::make_shared<Done>(executor, 1);
    asio::co_spawn(executor, read_messages(stream, inbound, reader_done), asio::detached);
    asio::co_spawn(executor, write_messages(stream, outbound, writer_done), asio::detached);

    co_await core::session::run(service, peer, inbound, outbound);

    // Whatever the session queued last goes out before the close, within the grace.
    const auto grace = std::chrono::steady_clock::now() + WRITER_GRACE;
    if (!outbound->try_send(asio::error_code{}, std::nullopt) && outbound->is_open()) {
        asio::steady_timer room(executor, grace);
        room.async_wait([outbound](asio::error_code e) {
            if (!e)
                outbound->cancel();
        });
        co_await outbound->async_send(asio::error_code{}, std::nullopt, tuple);
        room.cancel();
    }
    const bool drained = co_await wait_until(*writer_done, grace);

    // Stop the reader before the TLS close, which reads too.
    inbound->cancel();
    stream->lowest_layer().cancel(ec);
    co_await wait_until(*reader_done, grace);
    if (drained) {
        asio::steady_timer close_limit(executor, grace);
        close_limit.async_wait([stream](asio::error_code e) {
            if (!e) {
                asio::error_code ignored;
                stream->lowest_layer().close(ignored);
            }
        });
        co_await stream->async_shutdown(tuple);
        close_limit.cancel();
        stream->lowest_layer().shutdown(asio::ip::tcp::socket::shutdown_send, ec);
    }
    stream->lowest_layer().close(ec);
}

}  // namespace mirravale::net
