#pragma once
// The name of this computer as its owner set it.

#include <optional>
#include <string>
#include <string_view>

namespace mirravale::platform {

// PRETTY_HOSTNAME of /etc/machine-info, else the host name, else "Mac".
std::string computer_name();

// The value of PRETTY_HOSTNAME in a machine-info text (shell-quoted or bare), if set and not
// blank; malformed UTF-8 bytes become U+FFFD.
std::optional<std::string> pretty_hostname(std::string_view machine_info);

}  // namespace mirravale::platform
