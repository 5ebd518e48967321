#include "platform-linux/capture_source.hpp"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <sys/ipc.h>
#include <sys/shm.h>
// Xlib names its return code type with a macro that would hide this project's own.
#undef Status

#include <algorithm>
#include <cstring>
#include <mutex>

#include <libyuv/scale_argb.h>

namespace mirravale::platform {
struct CaptureSource::Native {
    Display* display = nullptr;
    Window root = 0;
    Visual* visual = nullptr;
    int depth = 0;
    int damage_event = 0;
    int fixes_event = 0;
    int input_opcode = -1;
    Damage damage = 0;
    XserverRegion parts = 0;
    bool shm = false;
    XShmSegmentInfo segment{};
    XImage* image = nullptr;  // the shared-memory picture, of the last size grabbed
};

Result<std::unique_ptr<CaptureSource>> CaptureSource::open(const std::string& display) {
    auto connection = X11Connection::open(display);
    if (!connection) {
        return fail(connection.error());
    }
    std::unique_ptr<CaptureSource> source(new CaptureSource());
    source->connection_ = std::move(*connection);
    source->native_ = std::make_unique<Native>();
    auto ready = source->connection_->with([&](Display* d) { return source->setup(d); });
    if (!ready) {
        return fail(ready.error());
    }
    return source;
}

Status CaptureSource::setup(Display* d) {
    Native& n = *native_;
    n.display = d;
    const int screen = DefaultScreen(d);
    n.root = RootWindow(d, screen);
    n.visual = DefaultVisual(d, screen);
    n.depth = DefaultDepth(d, screen);
    // Pictures are read as 32-bit little-endian BGRX, the layout the encoder converts from.
    if ((n.depth != 24 && n.depth != 32) || n.visual->red_mask != 0xFF0000 ||
        n.visual->green_mask != 0xFF00 || n.visual->blue_mask != 0xFF ||
        ImageByteOrder(d) != LSBFirst) {
        return fail(std::string("the screen's pixel format cannot be captured"));
    }
    int error_base = 0;
    int major = 0;
    int minor = 0;
    if (!XDamageQueryExtension(d, &n.damage_event, &error_base) ||
        !XDamageQueryVersion(d, &major, &minor)) {
        return fail(std::string("the display server offers no damage reports"));
    }
    major = 2;
    minor = 0;
    if (!XFixesQueryExtension(d, &n.fixes_event, &error_base) ||
        !XFixesQueryVersion(d, &major, &minor) || major < 2) {
        return fail(std::string("the display server offers no cursor images"));
    }
    int shm_major = 0;
    int shm_minor = 0;
    Bool pixmaps = False;
    n.shm = XShmQueryVersion(d, &shm_major, &shm_minor, &pixmaps) == True;
    const int error = trap_errors(d, [&] {
        n.damage = XDamageCreate(d, n.root, XDamageReportNonEmpty);
        n.parts = XFixesCreateRegion(d, nullptr, 0);
        XFixesSelectCursorInput(d, n.root, XFixesDisplayCursorNotifyMask);
    });
    if (error != 0 || lost()) {
        return fail(std::string("the display server refused to report changes"));
    }
    reports_motion_ = select_motion(d);
    read_cursor(d);
    return {};
}

// Raw motion of every pointing device, so that a still pointer costs no polling.
bool CaptureSource::select_motion(Display* d) {
    Native& n = *native_;
    int event_base = 0;
    int error_base = 0;
    int major = 2;
    int minor = 0;
    if (!XQueryExtension(d, "XInputExtension", &n.input_opcode, &event_base, &error_base) ||
        XIQueryVersion(d, &major, &minor) != Success) {
        return false;
    }
    unsigned char bits[XIMaskLen(XI_RawMotion)] = {};
    XISetMask(bits, XI_RawMotion);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    return trap_errors(d, [&] { XISelectEvents(d, n.root, &mask, 1); }) == 0 && !lost();
}

CaptureSource::~CaptureSource() {
    if (!connection_) {
        return;
    }
    Display* d = native_->display;
    if (d != nullptr && !lost()) {
        connection_->with([&](Display* display) {
            release_image(display);
            if (native_->damage != 0) {
                XDamageDestroy(display, native_->damage);
            }
            if (native_->parts != 0) {
                XFixesDestroyRegion(display, native_->parts);
            }
        });
    } else if (d != nullptr) {
        connection_->with([&](Display* display) { release_image(display); });
    }
    connection_.reset();
}

int CaptureSource::descriptor() {
    return connection_->with([](Display* d) { return ConnectionNumber(d); });
}

CaptureSource::News CaptureSource::read_events() {
    return connection_->with([&](Display* d) {
        News news;
        while (!lost() && XPending(d) > 0) {
            XEvent event;
            XNextEvent(d, &event);
            if (event.type == native_->damage_event + XDamageNotify) {
                news.damage = true;
            } else if (event.type == native_->fixes_event + XFixesCursorNotify) {
                news.cursor_shape = true;
            } else if (event.type == GenericEvent &&
                       event.xcookie.extension == native_->input_opcode &&
                       event.xcookie.evtype == XI_RawMotion) {
                news.pointer_moved = true;
            }
        }
        if (news.cursor_shape) {
            read_cursor(d);
        }
        return news;
    });
}

bool CaptureSource::flush() {
    return connection_->with([&](Display* d) {
        XFlush(d);
        return XQLength(d) > 0;
    });
}

bool CaptureSource::take_damage(const Region& region) {
    return connection_->with([&](Display* d) {
        XDamageSubtract(d, native_->damage, None, native_->parts);
        int count = 0;
        XRectangle bounds{};
        XRectangle* rects = XFixesFetchRegionAndBounds(d, native_->parts, &count, &bounds);
        bool touched = false;
        for (int i = 0; i < count && !touched; ++i) {
            touched =
                region.intersects(Region{rects[i].x, rects[i].y, rects[i].width, rects[i].height});
        }
        if (rects != nullptr) {
            XFree(rects);
        }
        return touched;
    });
}

std::optional<PointerPosition> CaptureSource::pointer() {
    return connection_->with([&](Display* d) -> std::optional<PointerPosition> {
        Window root_return = 0;
        Window child = 0;
        int x = 0;
        int y = 0;
        int wx = 0;
        int wy = 0;
        unsigned mask = 0;
        if (!XQueryPointer(d, native_->root, &root_return, &child, &x, &y, &wx, &wy, &mask) ||
            lost()) {
            return std::nullopt;  // on another screen of the server, or gone
        }
        return PointerPosition{x, y};
    });
}

void CaptureSource::read_cursor(Display* d) {
    XFixesCursorImage* image = XFixesGetCursorImage(d);
    if (image == nullptr) {
        cursor_ = CursorImage{};
        return;
    }
    cursor_.width = image->width;
    cursor_.height = image->height;
    cursor_.xhot = image->xhot;
    cursor_.yhot = image->yhot;
    cursor_.serial = image->cursor_serial;
    cursor_.pixels =
        cursor_pixels(image->pixels, static_cast<std::size_t>(image->width) * image->height);
    XFree(image);
}

std::optional<std::vector<MonitorArea>> CaptureSource::monitors() {
    return connection_->with([&](Display* d) -> std::optional<std::vector<MonitorArea>> {
        int event_base = 0;
        int error_base = 0;
        int major = 0;
        int minor = 0;
        if (!XRRQueryExtension(d, &event_base, &error_base) ||
            !XRRQueryVersion(d, &major, &minor) || (major == 1 && minor < 5) || lost()) {
            return std::nullopt;
        }
        int count = 0;
        XRRMonitorInfo* list = XRRGetMonitors(d, native_->root, True, &count);
        std::vector<MonitorArea> areas;
        for (int i = 0; i < count; ++i) {
            areas.push_back(MonitorArea{
                list[i].name, Region{list[i].x, list[i].y, list[i].width, list[i].height}});
        }
        if (list != nullptr) {
            XRRFreeMonitors(list);
        }
        if (lost()) {
            return std::nullopt;
        }
        return areas;
    });
}

Region CaptureSource::root() {
    return connection_->with([&](Display* d) {
        Window root_return = 0;
        int x = 0;
        int y = 0;
        unsigned width = 0;
        unsigned height = 0;
        unsigned border = 0;
        unsigned depth = 0;
        if (!XGetGeometry(d, native_->root, &root_return, &x, &y, &width, &height, &border,
                          &depth)) {
            return Region{};
        }
        return Region{0, 0, static_cast<int>(width), static_cast<int>(height)};
    });
}

void CaptureSource::release_image(Display* d) {
    Native& n = *native_;
    if (n.image == nullptr) {
        return;
    }
    if (!lost()) {
        XShmDetach(d, &n.segment);
        XSync(d, False);
    }
    n.image->data = nullptr;  // the segment's memory is not Xlib's to free
    XDestroyImage(n.image);
    n.image = nullptr;
    shmdt(n.segment.shmaddr);
    n.segment = XShmSegmentInfo{};
}

Status CaptureSource::ensure_image(Display* d, int width, int height) {
    Native& n = *native_;
    if (n.image != nullptr && n.image->width == width && n.image->height == height) {
        return {};
    }
    release_image(d);
    // The image keeps a pointer to its segment's description: it must live as long as it.
    XShmSegmentInfo& segment = n.segment;
    segment = XShmSegmentInfo{};
    XImage* image =
        XShmCreateImage(d, n.visual, static_cast<unsigned>(n.depth), ZPixmap, nullptr, &segment,
                        static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (image == nullptr) {
        return fail("no shared picture");
    }
    segment.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(image->bytes_per_line) * height,
                           IPC_CREAT | 0600);
    if (segment.shmid < 0) {
        XDestroyImage(image);
        return fail(std::string("no shared memory: ") + std::strerror(errno));
    }
    void* address = shmat(segment.shmid, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        shmctl(segment.shmid, IPC_RMID, nullptr);
        XDestroyImage(image);
        return fail(std::string("no shared memory: ") + std::strerror(errno));
    }
    segment.shmaddr = image->data = static_cast<char*>(address);
    segment.readOnly = False;
    const int error = trap_errors(d, [&] { XShmAttach(d, &segment); });
    // Marked for removal at once: the segment goes when both sides have let go, even if this
    // process dies.
    shmctl(segment.shmid, IPC_RMID, nullptr);
    if (error != 0 || lost()) {
        image->data = nullptr;
        XDestroyImage(image);
        shmdt(address);
        return fail("the display server cannot share memory with this process");
    }
    n.image = image;
    return {};
}

Status CaptureSource::grab(const Region& region, std::optional<PointerPosition> pointer,
                           Picture& out) {
    return connection_->with([&](Display* d) -> Status {
        Native& n = *native_;
        if (lost()) {
            return fail(std::string("the display server closed the connection"));
        }
        if (n.shm && !ensure_image(d, region.width, region.height)) {
            n.shm = false;  // a server on another machine shares no memory: read it plainly
        }
        XImage* image = nullptr;
        if (n.shm) {
            if (XShmGetImage(d, n.root, n.image, region.x, region.y, AllPlanes)) {
                image = n.image;
            }
        } else {
            image = XGetImage(d, n.root, region.x, region.y, static_cast<unsigned>(region.width),
                              static_cast<unsigned>(region.height), AllPlanes, ZPixmap);
        }
        if (image == nullptr || image->bits_per_pixel != 32) {
            if (image != nullptr && image != n.image) {
                XDestroyImage(image);
            }
            return fail(std::string(lost() ? "the display server closed the connection"
                                           : "the screen could not be read"));
        }
        auto* pixels = reinterpret_cast<std::uint8_t*>(image->data);
        const auto stride = static_cast<std::size_t>(image->bytes_per_line);
        if (pointer && !cursor_.pixels.empty()) {
            const Region drawn = cursor_area(cursor_, pointer->x, pointer->y);
            composite_cursor(pixels, stride, region.width, region.height, cursor_,
                             drawn.x - region.x, drawn.y - region.y);
        }
        if (static_cast<int>(out.width()) == region.width &&
            static_cast<int>(out.height()) == region.height) {
            const auto row = static_cast<std::size_t>(region.width) * 4;
            for (std::uint32_t y = 0; y < out.height(); ++y) {
                std::memcpy(out.row(y), pixels + y * stride, row);
            }
        } else {
            libyuv::ARGBScale(pixels, static_cast<int>(stride), region.width, region.height,
                              out.data(), static_cast<int>(out.stride()),
                              static_cast<int>(out.width()), static_cast<int>(out.height()),
                              libyuv::kFilterBilinear);
        }
        if (image != n.image) {
            XDestroyImage(image);
        }
        return {};
    });
}

}  // namespace mirravale::platform
