#pragma once
// One X connection that reads rectangles of the root window: XShm pictures (plain XGetImage when
// the server offers no shared memory), XDamage to learn what changed, and XFixes for the
// pointer's image, which a capture never contains. Used by the one thread that opened it.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform-linux/capture_cursor.hpp"
#include "platform-linux/picture.hpp"
#include "platform-linux/x11_connection.hpp"
#include "wire/result.hpp"

namespace mirravale::platform {

struct PointerPosition {
    int x = 0;
    int y = 0;
    friend bool operator==(const PointerPosition&, const PointerPosition&) = default;
};

// A monitor of the server: its name atom stays the same while the server runs.
struct MonitorArea {
    unsigned long name = 0;
    Region area;
};

class CaptureSource {
  public:
    static Result<std::unique_ptr<CaptureSource>> open(const std::string& display);
    ~CaptureSource();
    CaptureSource(const CaptureSource&) = delete;
    CaptureSource& operator=(const CaptureSource&) = delete;

    // The connection's descriptor, to wait on.
    int descriptor();
    // The server went away; every later call does nothing.
    bool lost() const { return connection_->lost(); }

    struct News {
        bool damage = false;         // something was drawn since the damage was last taken
        bool cursor_shape = false;   // the cursor image changed (it has been read again)
        bool pointer_moved = false;  // a pointing device moved (where to is not said)
    };
    // Whether pointer motion is reported as `News`; without it the pointer must be polled.
    // Warps are never reported, only the devices' own motion.
    bool reports_motion() const { return reports_motion_; }
    // Handles the events that have arrived, without waiting.
    News read_events();
    // Sends what is buffered; true when events wait in the queue already (do not block then).
    bool flush();

    // Takes all damage accumulated so far; whether any of it touched `region`.
    bool take_damage(const Region& region);
    std::optional<PointerPosition> pointer();
    const CursorImage& cursor() const { return cursor_; }

    // The monitors now; none when the server has no RandR 1.5 (the root is the only screen).
    std::optional<std::vector<MonitorArea>> monitors();
    Region root();

    // Captures `region` (within the root) with the cursor drawn in for a pointer at `pointer`,
    // into `out`, scaled when the sizes differ.
    Status grab(const Region& region, std::optional<PointerPosition> pointer, Picture& out);

  private:
    CaptureSource() = default;
    Status setup(Display* d);
    bool select_motion(Display* d);
    void read_cursor(Display* d);
    Status ensure_image(Display* d, int width, int height);
    void release_image(Display* d);

    std::unique_ptr<X11Connection> connection_;
    struct Native;
    std::unique_ptr<Native> native_;
    CursorImage cursor_;
    bool reports_motion_ = false;
};

}  // namespace mirravale::platform
