#include "platform-linux/desktop_ports.hpp"

#include "core/log.hpp"
#include "platform-linux/headless_ports.hpp"
#include "platform-linux/input.hpp"

namespace mirravale::platform {

DesktopPorts open_desktop_ports(bool test_pattern, const std::string& display) {
    DesktopPorts ports;
    auto input = X11Input::open(display);
    auto displays = X11Displays::open(display);
    auto permissions = X11Permissions::open(display);
    if (input && displays && permissions) {
        ports.input = std::move(*input);
        ports.x11_displays = std::move(*displays);
        ports.x11_permissions = std::move(*permissions);
        ports.displays = ports.x11_displays;
        ports.permissions = ports.x11_permissions;
        ports.power = X11Power::open(display);
        ports.has_display = true;
        return ports;
    }
    log::get("mirravale_platform_linux::system")
        ->info("no display server error={}", !input      ? input.error()
                                             : !displays ? displays.error()
                                                         : permissions.error());
    ports.input = std::make_shared<HeadlessInput>();
    ports.displays = std::make_shared<HeadlessDisplays>(test_pattern);
    ports.permissions = std::make_shared<HeadlessPermissions>();
    ports.power = std::make_shared<HeadlessPower>();
    return ports;
}

}  // namespace mirravale::platform
