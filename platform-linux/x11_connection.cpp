#include "platform-linux/x11_connection.hpp"

#include <X11/Xlib.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "core/log.hpp"

namespace mirravale::platform {
namespace {

// Xlib reports errors on the thread that reads the reply, which is the thread holding the
// connection: a per-thread slot tells one trapped call's errors apart from everything else.
thread_local int* error_slot = nullptr;

int on_error(Display*, XErrorEvent* event) {
    if (error_slot != nullptr) {
        if (*error_slot == 0) {
            *error_slot = event->error_code;
        }
        return 0;
    }
    // Xlib's default handler would end the process over a single failed request.
    log::get("mirravale_platform_linux::system")
        ->debug("X request failed error={} request={}", static_cast<int>(event->error_code),
                static_cast<int>(event->request_code));
    return 0;
}

// Xlib ends the process when a connection breaks unless the I/O error handler returns and the
// connection has an exit handler of its own; ours only marks the connection lost. Displays
// opened elsewhere in the process keep whatever handling they had.
std::mutex ours_mutex;
std::vector<Display*> ours;
XIOErrorHandler previous_io_handler = nullptr;

int on_io_error(Display* display) {
    {
        std::lock_guard lock(ours_mutex);
        if (std::find(ours.begin(), ours.end(), display) != ours.end()) {
            return 0;
        }
    }
    return previous_io_handler != nullptr ? previous_io_handler(display) : 0;
}

void on_connection_lost(Display*, void* flag) {
    static_cast<std::atomic<bool>*>(flag)->store(true);
}

}  // namespace

namespace detail {
int* swap_error_slot(int* slot) {
    return std::exchange(error_slot, slot);
}
void sync(Display* display) {
    XSync(display, False);
}
}  // namespace detail

Result<std::unique_ptr<X11Connection>> X11Connection::open(const std::string& name) {
    static std::once_flag handlers_installed;
    std::call_once(handlers_installed, [] {
        XSetErrorHandler(on_error);
        previous_io_handler = XSetIOErrorHandler(on_io_error);
    });
    Display* display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (display == nullptr) {
        return fail("cannot open X display " + std::string(XDisplayName(name.c_str())));
    }
    std::unique_ptr<X11Connection> connection(new X11Connection(display));
    {
        std::lock_guard lock(ours_mutex);
        ours.push_back(display);
    }
    XSetIOErrorExitHandler(display, on_connection_lost, &connection->lost_);
    return connection;
}

X11Connection::~X11Connection() {
    // Closing a broken connection reports the loss once more, so it stays listed until closed.
    // One entry goes: a display opened meanwhile at the same address has pushed its own.
    XCloseDisplay(display_);
    std::lock_guard lock(ours_mutex);
    if (auto entry = std::find(ours.begin(), ours.end(), display_); entry != ours.end()) {
        ours.erase(entry);
    }
}

}  // namespace mirravale::platform
