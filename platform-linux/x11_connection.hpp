#pragma once
// One connection to the X server, owned by one adapter. Every adapter opens its own connection
// and uses it under that connection's lock, so no two threads share one Display.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "wire/result.hpp"

typedef struct _XDisplay Display;

namespace mirravale::platform {

class X11Connection {
  public:
    // Opens the display named (empty: the one $DISPLAY names). Protocol errors on any
    // connection of this process are reported through `trap_errors` instead of ending it, and
    // a server that goes away marks the connection lost instead of ending the process.
    static Result<std::unique_ptr<X11Connection>> open(const std::string& name = {});
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    // Runs fn(Display*) under this connection's lock.
    // The server went away: Xlib calls on this connection now return at once without effect.
    bool lost() const { return lost_.load(); }

    template <class F>
    decltype(auto) with(F&& fn) {
        std::lock_guard lock(mutex_);
        return std::forward<F>(fn)(display_);
    }

  private:
    explicit X11Connection(Display* display) : display_(display) {}
    std::mutex mutex_;
    Display* display_;
    std::atomic<bool> lost_{false};
};

// Runs fn() with the X protocol errors that its requests on `display` cause recorded rather than
// fatal, then waits for the server to have handled them all; gives the first error code, 0 when
// there was none. Call it on the thread that holds the connection.
template <class F>
int trap_errors(Display* display, F&& fn);

namespace detail {
int* swap_error_slot(int* slot);
void sync(Display* display);
}  // namespace detail

template <class F>
int trap_errors(Display* display, F&& fn) {
    int error = 0;
    int* previous = detail::swap_error_slot(&error);
    std::forward<F>(fn)();
    detail::sync(display);
    detail::swap_error_slot(previous);
    return error;
}

}  // namespace mirravale::platform
