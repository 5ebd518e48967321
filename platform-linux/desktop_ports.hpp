#pragma once
// The platform's ports for this machine: the X server's when one answers, else those of a
// machine without a display.

#include <memory>
#include <string>

#include "core/ports.hpp"
#include "platform-linux/system.hpp"

namespace mirravale::platform {

struct DesktopPorts {
    std::shared_ptr<core::InputInjector> input;
    std::shared_ptr<core::DisplayDirectory> displays;
    std::shared_ptr<core::PermissionProbe> permissions;
    std::shared_ptr<core::PowerAssertion> power;
    // The same adapters for the interface's extra calls (display names, settings); null
    // without an X server.
    std::shared_ptr<X11Displays> x11_displays;
    std::shared_ptr<X11Permissions> x11_permissions;
    bool has_display = false;
};

// `display` names the X display (empty: $DISPLAY). Without one, the display list holds the
// virtual test-pattern display when `test_pattern` is set and is empty otherwise.
DesktopPorts open_desktop_ports(bool test_pattern, const std::string& display = {});

}  // namespace mirravale::platform
