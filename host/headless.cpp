#include "host/headless.hpp"

#include <cstdio>

#include <fmt/format.h>

#include "core/identity.hpp"
#include "host/qr.hpp"

namespace mirravale::host {

std::string headless_changes(const core::HostStatus& previous, const core::HostStatus& now) {
    std::string out;
    if (now.invite_url != previous.invite_url && !now.controller) {
        out += "\n";
        if (const auto modules = qr_modules(now.invite_url)) {
            out += terminal_qr(*modules) + "\n";
        }
        out += fmt::format("  Scan with Mirravale on your iPhone to control {}.\n", now.host_name);
        if (!now.addresses.empty()) {
            out += fmt::format("  Listening on {}\n", core::address_text(now.addresses.front()));
        } else {
            out += "  No network address yet: is this Mac on Wi-Fi or Ethernet?\n";
        }
        out += fmt::format("  Link: {}\n\n", now.invite_url);
    }

    const auto streaming_changed = [&] {
        if (!now.controller || !now.controller->stream)
            return false;
        if (!previous.controller || !previous.controller->stream)
            return true;
        return *previous.controller->stream != *now.controller->stream;
    };
    const auto streaming_line = [&] {
        const auto& s = *now.controller->stream;
        return fmt::format("  Streaming {}×{} at {} fps\n", s.width, s.height, s.fps);
    };
    if (previous.controller && !now.controller) {
        out += "○ Disconnected\n";
    } else if (now.controller && (!previous.controller || previous.controller->device_name !=
                                                              now.controller->device_name)) {
        out += fmt::format("● Connected: {}\n", now.controller->device_name);
        if (streaming_changed())
            out += streaming_line();
    } else if (now.controller && streaming_changed()) {
        out += streaming_line();
    }

    if (now.notice && now.notice != previous.notice) {
        out += fmt::format("! {}\n", *now.notice);
    }
    if (now.permissions != previous.permissions || previous.host_name.empty()) {
        if (!now.permissions.has(wire::PermissionSet::SCREEN_RECORDING)) {
            out +=
                "! Screen Recording is off for this app: System Settings → Privacy & Security → "
                "Screen & System Audio Recording.\n";
        }
        if (!now.permissions.has(wire::PermissionSet::ACCESSIBILITY)) {
            out +=
                "! Accessibility is off for this app, so the phone cannot click or type: System "
                "Settings → Privacy & Security → Accessibility.\n";
        }
    }
    return out;
}

void run_headless(const core::HostService& service) {
    core::HostStatus previous;
    auto [status, version] = service.status().latest();
    while (true) {
        const auto text = headless_changes(previous, status);
        if (!text.empty()) {
            std::fwrite(text.data(), 1, text.size(), stdout);
            // Shown at once even when standard output is a pipe.
            std::fflush(stdout);
        }
        previous = status;
        auto next = service.status().wait_changed(version, std::chrono::hours(1));
        status = std::move(next.first);
        version = next.second;
    }
}

}  // namespace mirravale::host
