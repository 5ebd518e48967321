#pragma once
// The one-shot through which the service pushes a controlling session out. Dropping the sender
// unsent closes the channel, which the session reads like a normal goodbye.

#include <memory>

#include <asio/any_io_executor.hpp>
#include <asio/experimental/concurrent_channel.hpp>

#include "wire/messages.hpp"

namespace mirravale::core {

using KickChannel =
    asio::experimental::concurrent_channel<void(asio::error_code, wire::GoodbyeReason)>;

class KickSender {
  public:
    explicit KickSender(std::shared_ptr<KickChannel> channel) : channel_(std::move(channel)) {}
    KickSender(const KickSender&) = delete;
    KickSender& operator=(const KickSender&) = delete;
    ~KickSender();

    // Used at most once. The channel is left open after a send: closing it would discard the
    // reason before the session reads it.
    void send(wire::GoodbyeReason reason);

  private:
    std::shared_ptr<KickChannel> channel_;
    bool sent_ = false;
};

}  // namespace mirravale::core
