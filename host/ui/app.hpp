#pragma once
// The desktop interface: tray icon, pairing window and permission guide, run on the main thread.

#include <memory>

#include "core/service.hpp"
#include "platform-linux/system.hpp"
#include "wire/result.hpp"

namespace mirravale::host::ui {

struct DesktopContext {
    std::shared_ptr<core::HostService> service;
    // The X adapters for display names and the settings hand-off; null without an X server.
    std::shared_ptr<platform::X11Displays> displays;
    std::shared_ptr<platform::X11Permissions> permissions;
};

// Runs until the application quits. Fails at once, before showing anything, when no interface
// can be shown; the caller then falls back to the terminal.
Status run_desktop(const DesktopContext& context);

}  // namespace mirravale::host::ui
