#include "platform-linux/system.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/scrnsaver.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include <fmt/format.h>

#include "core/log.hpp"
#include "platform-linux/thread_name.hpp"

extern char** environ;

namespace mirravale::platform {
namespace {

auto logger() {
    return log::get("mirravale_platform_linux::system");
}

std::uint32_t fnv1a(const std::uint8_t* data, std::size_t size, std::uint32_t hash = 2166136261u) {
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * 16777619u;
    }
    return hash;
}

std::uint32_t fnv1a(std::string_view text, std::uint32_t hash = 2166136261u) {
    return fnv1a(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), hash);
}

std::vector<std::uint8_t> output_edid(Display* d, RROutput output) {
    std::vector<std::uint8_t> edid;
    const Atom name = XInternAtom(d, "EDID", True);
    if (name == None) {
        return edid;
    }
    Atom type;
    int format;
    unsigned long items, after;
    unsigned char* data = nullptr;
    // 256 longs: a base block and extensions up to 1 KiB.
    if (XRRGetOutputProperty(d, output, name, 0, 256, False, False, AnyPropertyType, &type, &format,
                             &items, &after, &data) == Success &&
        data != nullptr) {
        if (format == 8) {
            edid.assign(data, data + items);
        }
    }
    if (data != nullptr) {
        XFree(data);
    }
    return edid;
}

std::vector<MonitorInfo> read_monitors(Display* d) {
    std::vector<MonitorInfo> monitors;
    const Window root = DefaultRootWindow(d);
    int opcode, event_base, error_base, major = 0, minor = 0;
    // Asked through the core protocol first: libXrandr keeps what it allocates for a display
    // that lacks the extension.
    const bool randr = XQueryExtension(d, "RANDR", &opcode, &event_base, &error_base) &&
                       XRRQueryExtension(d, &event_base, &error_base) &&
                       XRRQueryVersion(d, &major, &minor) &&
                       (major > 1 || (major == 1 && minor >= 5));
    if (!randr) {
        // One monitor: the whole screen.
        MonitorInfo whole;
        whole.name = "screen";
        whole.width = DisplayWidth(d, DefaultScreen(d));
        whole.height = DisplayHeight(d, DefaultScreen(d));
        monitors.push_back(whole);
        return monitors;
    }
    int count = 0;
    XRRMonitorInfo* list = XRRGetMonitors(d, root, True, &count);
    if (list == nullptr) {
        return monitors;
    }
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(d, root);
    const RROutput primary = XRRGetOutputPrimary(d, root);
    for (int i = 0; i < count; ++i) {
        const XRRMonitorInfo& m = list[i];
        MonitorInfo info;
        if (char* name = XGetAtomName(d, m.name)) {
            info.name = name;
            XFree(name);
        }
        info.x = m.x;
        info.y = m.y;
        info.width = m.width;
        info.height = m.height;
        info.primary = m.primary != 0;
        for (int k = 0; k < m.noutput; ++k) {
            info.holds_primary_output |= primary != None && m.outputs[k] == primary;
        }
        if (m.noutput > 0) {
            info.edid = output_edid(d, m.outputs[0]);
            if (resources != nullptr) {
                if (XRROutputInfo* output = XRRGetOutputInfo(d, resources, m.outputs[0])) {
                    info.output.assign(output->name, static_cast<std::size_t>(output->nameLen));
                    XRRFreeOutputInfo(output);
                }
            }
        }
        monitors.push_back(std::move(info));
    }
    if (resources != nullptr) {
        XRRFreeScreenResources(resources);
    }
    XRRFreeMonitors(list);
    return monitors;
}

}  // namespace

std::uint32_t display_id(const MonitorInfo& monitor) {
    const auto hash = monitor.edid.empty() ? fnv1a(monitor.name)
                                           : fnv1a(monitor.edid.data(), monitor.edid.size());
    return hash == 0 ? 1 : hash;
}

bool is_builtin(std::string_view output) {
    for (std::string_view prefix : {"eDP", "LVDS", "DSI"}) {
        if (output.starts_with(prefix)) {
            return true;
        }
    }
    return false;
}

std::vector<core::Display> make_displays(const std::vector<MonitorInfo>& monitors,
                                         const DisplayNames& names) {
    const auto count = std::min(monitors.size(), MAX_DISPLAYS);
    std::vector<core::Display> displays;
    int external = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto& m = monitors[i];
        core::Display display;
        display.id = display_id(m);
        const auto taken = [&](std::uint32_t id) {
            return std::any_of(displays.begin(), displays.end(),
                               [&](const core::Display& other) { return other.id == id; });
        };
        // Two monitors of one model may share an EDID: their names tell them apart.
        for (std::uint32_t salt = 0; taken(display.id); ++salt) {
            display.id = std::max(fnv1a(m.name, display.id ^ salt), 1u);
        }
        display.name =
            is_builtin(m.output) ? "Built-in Display" : fmt::format("Display {}", ++external);
        for (const auto& [id, name] : names) {
            if (id == display.id) {
                display.name = name;
                break;
            }
        }
        display.frame = core::Rect{static_cast<double>(m.x), static_cast<double>(m.y),
                                   static_cast<double>(m.width), static_cast<double>(m.height)};
        display.pixel_width = static_cast<std::uint32_t>(std::max(m.width, 0));
        display.pixel_height = static_cast<std::uint32_t>(std::max(m.height, 0));
        displays.push_back(std::move(display));
    }
    const auto first = [&](auto predicate) {
        const auto found = std::find_if(monitors.begin(), monitors.begin() + count, predicate);
        return found == monitors.begin() + count ? -1 : static_cast<int>(found - monitors.begin());
    };
    int main = first([](const MonitorInfo& m) { return m.primary; });
    if (main < 0) {
        main = first([](const MonitorInfo& m) { return m.holds_primary_output; });
    }
    if (main < 0) {
        main = first([](const MonitorInfo& m) { return m.x == 0 && m.y == 0; });
    }
    if (main < 0 && count > 0) {
        main = 0;
    }
    if (main >= 0) {
        displays[static_cast<std::size_t>(main)].main = true;
    }
    return displays;
}

Result<std::unique_ptr<X11Displays>> X11Displays::open(const std::string& display) {
    auto connection = X11Connection::open(display);
    if (!connection) {
        return fail(connection.error());
    }
    return std::unique_ptr<X11Displays>(new X11Displays(std::move(*connection)));
}

std::vector<core::Display> X11Displays::displays() {
    std::vector<MonitorInfo> monitors;
    const int error = connection_->with(
        [&](Display* d) { return trap_errors(d, [&] { monitors = read_monitors(d); }); });
    if (error != 0) {
        // An output went away while it was being read; the next call sees the new layout.
        logger()->debug("monitor list incomplete error={}", error);
    }
    if (connection_->lost()) {
        return {};  // what was read came from Xlib's memory of a server that is gone
    }
    DisplayNames names;
    {
        std::lock_guard lock(names_mutex_);
        names = names_;
    }
    return make_displays(monitors, names);
}

void X11Displays::set_names(DisplayNames names) {
    std::lock_guard lock(names_mutex_);
    names_ = std::move(names);
}

std::string settings_target(Permission which) {
    return which == Permission::ScreenRecording ? "man:Xsecurity" : "man:Xserver";
}

Result<std::unique_ptr<X11Permissions>> X11Permissions::open(const std::string& display,
                                                             std::string launcher) {
    auto connection = X11Connection::open(display);
    if (!connection) {
        return fail(connection.error());
    }
    // The extensions a connection is offered stay the same for its whole life.
    const bool xtest = (*connection)->with([](Display* d) {
        int event_base, error_base, major, minor;
        return XTestQueryExtension(d, &event_base, &error_base, &major, &minor) == True;
    });
    return std::unique_ptr<X11Permissions>(
        new X11Permissions(std::move(*connection), xtest, std::move(launcher)));
}

core::PermissionSet X11Permissions::permissions() {
    const bool capture = connection_->with([](Display* d) {
        XImage* image = nullptr;
        const int error = trap_errors(
            d, [&] { image = XGetImage(d, DefaultRootWindow(d), 0, 0, 1, 1, AllPlanes, ZPixmap); });
        if (image != nullptr) {
            XDestroyImage(image);
        }
        return error == 0 && image != nullptr;
    });
    std::uint8_t bits = 0;
    bits |= capture ? core::PermissionSet::SCREEN_RECORDING : 0;
    // Nothing can be injected through a connection whose server went away.
    bits |= xtest_ && !connection_->lost() ? core::PermissionSet::ACCESSIBILITY : 0;
    return core::PermissionSet{bits};
}

void X11Permissions::open_settings(Permission which, std::chrono::nanoseconds delay) {
    std::lock_guard lock(openers_mutex_);
    std::erase_if(openers_, [](const Opener& opener) { return opener.done->load(); });
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto launch = [this, done, target = settings_target(which), delay](std::stop_token stop) {
        set_thread_name("mirravale-settings");  // cut to 15 bytes by Linux
        open_after(target, delay, stop);
        done->store(true);
    };
    openers_.push_back({done, std::jthread(std::move(launch))});
}

void X11Permissions::open_after(const std::string& target, std::chrono::nanoseconds delay,
                                std::stop_token stop) {
    {
        std::unique_lock wait(openers_mutex_);
        openers_wake_.wait_for(wait, stop, delay, [] { return false; });
        if (stop.stop_requested()) {
            return;
        }
    }
    char* argv[] = {const_cast<char*>(launcher_.c_str()), const_cast<char*>(target.c_str()),
                    nullptr};
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, launcher_.c_str(), nullptr, nullptr, argv, environ);
    if (error != 0) {
        logger()->warn("could not open System Settings: {}", std::strerror(error));
        return;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            logger()->warn("could not open System Settings: {}", std::strerror(errno));
            return;
        }
    }
}

X11Permissions::~X11Permissions() {
    std::vector<Opener> openers;
    {
        std::lock_guard lock(openers_mutex_);
        openers.swap(openers_);
    }
    for (auto& opener : openers) {
        opener.thread.request_stop();
    }
}

struct X11Power::Suspender {
    std::unique_ptr<X11Connection> connection;  // null: nothing to keep awake
    bool extension = false;
    int guards = 0;  // guarded by the connection's lock
};

namespace {

class SuspendGuard final : public core::PowerGuard {
  public:
    explicit SuspendGuard(std::shared_ptr<X11Power::Suspender> suspender)
        : suspender_(std::move(suspender)) {}
    ~SuspendGuard() override {
        suspender_->connection->with([&](Display* d) {
            if (--suspender_->guards == 0) {
                XScreenSaverSuspend(d, False);
                XFlush(d);
            }
        });
    }

  private:
    std::shared_ptr<X11Power::Suspender> suspender_;
};

}  // namespace

std::unique_ptr<X11Power> X11Power::open(const std::string& display) {
    auto suspender = std::make_shared<Suspender>();
    if (auto connection = X11Connection::open(display)) {
        suspender->connection = std::move(*connection);
        suspender->extension = suspender->connection->with([](Display* d) {
            int event_base, error_base;
            return XScreenSaverQueryExtension(d, &event_base, &error_base) == True;
        });
    }
    return std::unique_ptr<X11Power>(new X11Power(std::move(suspender)));
}

std::unique_ptr<core::PowerGuard> X11Power::keep_awake() {
    if (suspender_->connection == nullptr || !suspender_->extension) {
        logger()->warn("could not keep the display awake");
        return std::make_unique<core::PowerGuard>();
    }
    suspender_->connection->with([&](Display* d) {
        XResetScreenSaver(d);
        // One suspension for all our guards: the first starts it, the last one ends it.
        if (suspender_->guards++ == 0) {
            XScreenSaverSuspend(d, True);
        }
        XFlush(d);
    });
    return std::make_unique<SuspendGuard>(suspender_);
}

}  // namespace mirravale::platform
