#include "platform-linux/x11_connection.hpp"

#include <X11/Xlib.h>

#include <memory>

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
    static std::once_flag handler_installed;
    std::call_once(handler_installed, [] { XSetErrorHandler(on_error); });
    Display* display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (display == nullptr) {
        return fail("cannot open X display " + std::string(XDisplayName(name.c_str())));
    }
    return std::unique_ptr<X11Connection>(new X11Connection(display));
}

X11Connection::~X11Connection() {
    XCloseDisplay(display_);
}

}  // namespace mirravale::platform
