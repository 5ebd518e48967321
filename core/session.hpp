#pragma once
// The host side of one phone connection: Hello and login, control, the video stream, input,
// pointer reports, and a clean end.

#include <memory>
#include <string>

#include <asio/awaitable.hpp>

#include "core/channels.hpp"
#include "core/service.hpp"

namespace mirravale::core::session {

// Runs until the phone leaves, falls silent, is pushed out or the connection ends. Decoded
// messages arrive on `inbound`; replies go to `outbound`.
asio::awaitable<void> run(std::shared_ptr<HostService> service, std::string peer,
                          std::shared_ptr<InboundChannel> inbound,
                          std::shared_ptr<OutboundChannel> outbound);

}  // namespace mirravale::core::session
