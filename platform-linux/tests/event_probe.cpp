#include "platform-linux/tests/event_probe.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <chrono>
#include <clocale>

// Xlib last: its macros (None, Bool, Status) clash with names in the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace mirravale::platform::testing {
namespace {

// Generous: a stuck test is the only thing that reaches it.
constexpr auto WAIT_LIMIT = std::chrono::seconds(20);

}  // namespace

Result<std::unique_ptr<EventProbe>> EventProbe::open(const std::string& display, int x, int y,
                                                     int width, int height) {
    std::unique_ptr<EventProbe> probe(new EventProbe());
    probe->display_ = XOpenDisplay(display.c_str());
    if (probe->display_ == nullptr) {
        return fail("cannot open " + display);
    }
    Display* d = probe->display_;
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                            PointerMotionMask | StructureNotifyMask;
    const Window window =
        XCreateWindow(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(width),
                      static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                      CWOverrideRedirect | CWEventMask, &attributes);
    probe->window_ = window;

    // Characters as a toolkit reads them: through an input context of Xlib's own input method.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    XSetLocaleModifiers("@im=none");
    XIM im = XOpenIM(d, nullptr, nullptr, nullptr);
    if (im == nullptr) {
        return fail("no input method");
    }
    probe->im_ = im;
    XIC ic = XCreateIC(im, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow,
                       window, XNFocusWindow, window, nullptr);
    if (ic == nullptr) {
        return fail("no input context");
    }
    probe->ic_ = ic;

    XMapRaised(d, window);
    XEvent event;
    do {
        XWindowEvent(d, window, StructureNotifyMask, &event);
    } while (event.type != MapNotify);
    XSetInputFocus(d, window, RevertToParent, CurrentTime);
    XSetICFocus(ic);
    // Xlib reads the keyboard map, and asks to hear of its changes, at the first lookup; done
    // here, so that no change falls between the two once keys arrive.
    XKeyEvent key{};
    key.type = KeyPress;
    key.display = d;
    key.window = window;
    key.keycode = 38;
    char ignored[16];
    KeySym sym;
    Status status;
    Xutf8LookupString(ic, &key, ignored, sizeof ignored, &sym, &status);
    XSync(d, False);

    if (pipe2(probe->stop_, O_CLOEXEC) != 0) {
        return fail("pipe");
    }
    probe->thread_ = std::thread([p = probe.get()] { p->run(); });
    return probe;
}

EventProbe::~EventProbe() {
    if (thread_.joinable()) {
        const char stop = 1;
        (void)!write(stop_[1], &stop, 1);
        thread_.join();
    }
    for (int fd : stop_) {
        if (fd >= 0) {
            close(fd);
        }
    }
    if (ic_ != nullptr) {
        XDestroyIC(static_cast<XIC>(ic_));
    }
    if (im_ != nullptr) {
        XCloseIM(static_cast<XIM>(im_));
    }
    if (display_ != nullptr) {
        XCloseDisplay(display_);
    }
}

void EventProbe::run() {
    for (;;) {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (XFilterEvent(&event, None)) {
                continue;
            }
            ProbeEvent recorded;
            recorded.type = event.type;
            switch (event.type) {
                case MappingNotify:
                    XRefreshKeyboardMapping(&event.xmapping);
                    continue;
                case KeyPress:
                case KeyRelease: {
                    recorded.x = event.xkey.x_root;
                    recorded.y = event.xkey.y_root;
                    recorded.state = event.xkey.state;
                    KeySym sym = NoSymbol;
                    if (event.type == KeyPress) {
                        char buffer[64];
                        Status status;
                        const int length = Xutf8LookupString(static_cast<XIC>(ic_), &event.xkey,
                                                             buffer, sizeof buffer, &sym, &status);
                        if (status == XLookupChars || status == XLookupBoth) {
                            recorded.text.assign(buffer, static_cast<std::size_t>(length));
                        }
                    } else {
                        XLookupString(&event.xkey, nullptr, 0, &sym, nullptr);
                    }
                    recorded.keysym = sym;
                    break;
                }
                case ButtonPress:
                case ButtonRelease:
                    recorded.x = event.xbutton.x_root;
                    recorded.y = event.xbutton.y_root;
                    recorded.state = event.xbutton.state;
                    recorded.button = event.xbutton.button;
                    break;
                case MotionNotify:
                    recorded.x = event.xmotion.x_root;
                    recorded.y = event.xmotion.y_root;
                    recorded.state = event.xmotion.state;
                    break;
                default:
                    continue;
            }
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(recorded));
            changed_.notify_all();
        }
        pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {stop_[0], POLLIN, 0}};
        poll(fds, 2, -1);
        if (fds[1].revents != 0) {
            return;
        }
    }
}

std::vector<ProbeEvent> EventProbe::wait_until(
    const std::function<bool(const std::vector<ProbeEvent>&)>& done) {
    std::unique_lock lock(mutex_);
    const bool met = changed_.wait_for(lock, WAIT_LIMIT, [&] { return done(events_); });
    EXPECT_TRUE(met) << "the window did not receive the expected events (" << events_.size()
                     << " so far)";
    return events_;
}

std::vector<ProbeEvent> EventProbe::wait_for(int type, std::size_t count) {
    return wait_until([&](const std::vector<ProbeEvent>& events) {
        std::size_t seen = 0;
        for (const auto& e : events) {
            seen += e.type == type ? 1 : 0;
        }
        return seen >= count;
    });
}

void EventProbe::clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

std::string typed_text(const std::vector<ProbeEvent>& events) {
    std::string text;
    for (const auto& e : events) {
        if (e.type == KeyPress) {
            text += e.text;
        }
    }
    return text;
}

std::vector<unsigned long> pressed_keysyms(const std::vector<ProbeEvent>& events) {
    std::vector<unsigned long> syms;
    for (const auto& e : events) {
        if (e.type == KeyPress) {
            syms.push_back(e.keysym);
        }
    }
    return syms;
}

HeldInput held_input(const std::string& display) {
    HeldInput held;
    Display* d = XOpenDisplay(display.c_str());
    if (d == nullptr) {
        ADD_FAILURE() << "cannot open " << display;
        return held;
    }
    Window root, child;
    int rx, ry, wx, wy;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &held.buttons);
    held.buttons &= Button1Mask | Button2Mask | Button3Mask | Button4Mask | Button5Mask;
    char keys[32];
    XQueryKeymap(d, keys);
    for (int keycode = 0; keycode < 256; ++keycode) {
        if ((keys[keycode / 8] >> (keycode % 8)) & 1) {
            held.keys.push_back(keycode);
        }
    }
    XCloseDisplay(d);
    return held;
}

}  // namespace mirravale::platform::testing
