#pragma once
// The lines of text that the window and the menu derive from a status, in the current language.

#include <cstdint>

#include <QString>

#include "core/status.hpp"

namespace mirravale::host::ui {

// The window's status line: the connected phone, else "Not on a network" or "Waiting…".
QString window_status_line(const core::HostStatus& status);
// The menu's first item: like the window's, but without addresses it asks for a network.
QString connection_line(const core::HostStatus& status);
// The address with the code's countdown at `now` (Unix seconds), or the stream, or the notice.
QString detail_line(const core::HostStatus& status, std::uint64_t now);
QString devices_line(const core::HostStatus& status);

}  // namespace mirravale::host::ui
