#include "host/ui/status_lines.hpp"

#include "core/identity.hpp"
#include "host/ui/texts.hpp"

namespace mirravale::host::ui {

QString window_status_line(const core::HostStatus& status) {
    if (status.controller) {
        return connected_to(status.controller->device_name);
    }
    return tr(status.addresses.empty() ? "Not on a network" : "Waiting for your iPhone");
}

QString connection_line(const core::HostStatus& status) {
    if (status.controller) {
        return connected_to(status.controller->device_name);
    }
    return tr(status.addresses.empty() ? "Connect this Mac to Wi-Fi or Ethernet"
                                       : "Waiting for your iPhone");
}

QString detail_line(const core::HostStatus& status, std::uint64_t now) {
    if (status.notice) {
        return QString::fromStdString(*status.notice);
    }
    if (status.addresses.empty()) {
        return {};
    }
    const std::string address = core::address_text(status.addresses.front());
    if (!status.controller) {
        const std::uint64_t remaining =
            status.code_expires_at > now ? status.code_expires_at - now : 0;
        return code_renews_in(address, remaining);
    }
    if (!status.controller->stream) {
        return QString::fromStdString(address);
    }
    const auto& stream = *status.controller->stream;
    return streaming_at(address, stream.width, stream.height, stream.fps);
}

QString devices_line(const core::HostStatus& status) {
    const auto& devices = status.paired_devices;
    return paired_devices_line(devices.size(), devices.empty() ? std::string{} : devices[0].name);
}

}  // namespace mirravale::host::ui
