#pragma once
// The bounded queues between a connection and its session, and between a pipeline and its
// session. A closed Asio channel discards what it holds, so the ends of the connection queues
// are marked by an empty value sent in order instead:
// - the reader sends `std::nullopt` on the inbound queue when the connection ends; a session
//   that ends after its login cancels the inbound queue, failing a send the reader waits on;
// - after `session::run` returns, the connection sends `std::nullopt` on the outbound queue so
//   the writer flushes everything before it and closes.
// A session treats an outbound queue that is no longer open as "the connection is ending".

#include <cstdint>
#include <optional>
#include <utility>

#include <asio/experimental/concurrent_channel.hpp>

#include "core/ports.hpp"
#include "wire/messages.hpp"

namespace mirravale::core {

inline constexpr std::size_t INBOUND_CAPACITY = 256;
inline constexpr std::size_t OUTBOUND_CAPACITY = 48;
inline constexpr std::size_t EVENT_CAPACITY = 32;

using InboundChannel = asio::experimental::concurrent_channel<void(
    asio::error_code, std::optional<wire::ClientMessage>)>;
using OutboundChannel = asio::experimental::concurrent_channel<void(
    asio::error_code, std::optional<wire::HostMessage>)>;
using EventChannel =
    asio::experimental::concurrent_channel<void(asio::error_code, std::uint64_t, PipelineEvent)>;

}  // namespace mirravale::core
