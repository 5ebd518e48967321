#pragma once
// A small X client for tests: a window that holds the keyboard focus and records the pointer
// and key events it receives, with the characters a toolkit would read from each key press.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "wire/result.hpp"

typedef struct _XDisplay Display;

namespace mirravale::platform::testing {

struct ProbeEvent {
    int type = 0;  // KeyPress, KeyRelease, ButtonPress, ButtonRelease, MotionNotify
    int x = 0;     // root-window coordinates
    int y = 0;
    unsigned state = 0;   // modifier and button masks before the event
    unsigned button = 0;  // of button events
    unsigned long keysym = 0;
    std::string text;  // what a key press types, as UTF-8
};

class EventProbe {
  public:
    // A window over the given rectangle of the root window, mapped and focused on return.
    static Result<std::unique_ptr<EventProbe>> open(const std::string& display, int x, int y,
                                                    int width, int height);
    ~EventProbe();

    // Waits until `done` holds for the events so far and gives them; an assertion fails and
    // they are given all the same when that takes unreasonably long.
    std::vector<ProbeEvent> wait_until(
        const std::function<bool(const std::vector<ProbeEvent>&)>& done);
    // Waits for `count` events of one type and gives all events so far.
    std::vector<ProbeEvent> wait_for(int type, std::size_t count);
    // Forgets the events so far.
    void clear();

  private:
    EventProbe() = default;
    void run();

    Display* display_ = nullptr;
    unsigned long window_ = 0;
    void* im_ = nullptr;
    void* ic_ = nullptr;
    int stop_[2] = {-1, -1};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ProbeEvent> events_;
    std::thread thread_;
};

// Text typed by the key presses among `events`.
std::string typed_text(const std::vector<ProbeEvent>& events);
// Keysyms of the key presses among `events`.
std::vector<unsigned long> pressed_keysyms(const std::vector<ProbeEvent>& events);

// What the server holds down right now: pointer buttons (as a state mask) and keycodes.
struct HeldInput {
    unsigned buttons = 0;
    std::vector<int> keys;
};
HeldInput held_input(const std::string& display);

}  // namespace mirravale::platform::testing
