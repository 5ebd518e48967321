#pragma once
// The phone's side of the protocol: it encodes what the host decodes and decodes what the host
// encodes.

#include <cstdint>
#include <span>
#include <vector>

#include "wire/messages.hpp"

namespace mirravale::phone {

// One complete frame, length prefix included.
std::vector<std::uint8_t> encode(const wire::ClientMessage& message);
// A frame body (type byte first).
Result<wire::HostMessage, wire::WireError> decode(std::span<const std::uint8_t> body);

}  // namespace mirravale::phone
