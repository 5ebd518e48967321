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

#include "platform-linux/picture.hpp"
#include "platform-linux/x11_connection.hpp"
#include "wire/result.hpp"

namespace mirravale::platform {

// A rectangle of root-window pixels.
struct Region {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
    bool intersects(const Region& other) const;
    Region intersection(const Region& other) const;
    friend bool operator==(const Region&, const Region&) = default;
};

struct CursorImage {
    int width = 0;
    int height = 0;
    int xhot = 0;
    int yhot = 0;
    unsigned long serial = 0;
    std::vector<std::uint32_t> pixels;  // premultiplied ARGB, rows top to bottom
};

// XFixes hands cursor pixels over as `unsigned long`; only the low 32 bits hold the pixel.
std::vector<std::uint32_t> cursor_pixels(const unsigned long* pixels, std::size_t count);

// Blends the cursor over BGRA pixels with its top-left corner at (left, top) of them; what falls
// outside is cut off.
void composite_cursor(std::uint8_t* bgra, std::size_t stride, int width, int height,
                      const CursorImage& cursor, int left, int top);

// Where the cursor covers the root window with the pointer at (x, y).
Region cursor_area(const CursorImage& cursor, int x, int y);

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
    bool lost() const { return lost_.load(); }

    struct News {
        bool damage = false;        // something was drawn since the damage was last taken
        bool cursor_shape = false;  // the cursor image changed (it has been read again)
    };
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
    void read_cursor(Display* d);
    Status ensure_image(Display* d, int width, int height);
    void release_image(Display* d);

    std::unique_ptr<X11Connection> connection_;
    std::atomic<bool> lost_{false};
    struct Native;
    std::unique_ptr<Native> native_;
    CursorImage cursor_;
};

}  // namespace mirravale::platform
