#pragma once
// How phone-supplied values appear in log lines.

#include <string>
#include <string_view>

#include "wire/messages.hpp"

namespace mirravale::core {

// `text` with control characters escaped, so a name sent by a phone cannot start a log line of
// its own or steer the terminal.
std::string printable(std::string_view text);

// A one-line debug form of a message, e.g. `Ping { nonce: 7 }`. Credentials are left out.
std::string describe(const wire::ClientMessage& message);

}  // namespace mirravale::core
