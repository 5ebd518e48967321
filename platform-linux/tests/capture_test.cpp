#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <variant>
#include <vector>

#include <spdlog/sinks/ostream_sink.h>

#include "core/flow.hpp"
#include "core/log.hpp"
#include "platform-linux/capture.hpp"
#include "platform-linux/capture_loop.hpp"
#include "platform-linux/capture_source.hpp"
#include "platform-linux/content_cache.hpp"
#include "platform-linux/tests/pipeline_events.hpp"
#include "platform-linux/tests/xvfb_fixture.hpp"

// Last: Xlib's macros would rename the project's own words.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <poll.h>
#undef Status

namespace mirravale::platform {
namespace {

using namespace std::chrono_literals;
using Bgr = std::array<std::uint8_t, 3>;

// Long enough for a loaded machine under sanitizers; only a broken pipeline reaches it.
constexpr auto PATIENCE = 20s;

Bgr at(const Picture& picture, int x, int y) {
    const std::uint8_t* p = picture.row(static_cast<std::uint32_t>(y)) + 4 * x;
    return {p[0], p[1], p[2]};
}

// ---- Cursor pixels and blending -------------------------------------------------------------

TEST(CaptureCursor, KeepsTheLow32BitsOfEachPixel) {
    const std::vector<unsigned long> wide = {0xFFFFFFFF80112233ul, 0x00000000FF00FF00ul,
                                             0x1234567800000000ul};
    EXPECT_EQ(cursor_pixels(wide.data(), wide.size()),
              (std::vector<std::uint32_t>{0x80112233u, 0xFF00FF00u, 0u}));
}

TEST(CaptureCursor, BlendsPremultipliedPixels) {
    struct Case {
        std::uint32_t cursor;
        Bgr under;
        Bgr expected;
    };
    for (const Case c : {
             Case{0xFF102030u, {200, 200, 200}, {0x30, 0x20, 0x10}},           // opaque replaces
             Case{0x00000000u, {200, 100, 50}, {200, 100, 50}},                // clear leaves alone
             Case{0x80404040u, {200, 100, 0}, {0x40 + 100, 0x40 + 50, 0x40}},  // half
             Case{0x00FFFFFFu, {10, 20, 30}, {255, 255, 255}},  // additive, saturating
         }) {
        Picture picture(1, 1);
        std::copy(c.under.begin(), c.under.end(), picture.row(0));
        CursorImage cursor{1, 1, 0, 0, 1, {c.cursor}};
        composite_cursor(picture.data(), picture.stride(), 1, 1, cursor, 0, 0);
        EXPECT_EQ(at(picture, 0, 0), c.expected) << std::hex << c.cursor;
    }
}

TEST(CaptureCursor, IsCutOffAtEveryEdge) {
    CursorImage cursor{4, 4, 0, 0, 1, std::vector<std::uint32_t>(16, 0xFFFFFFFFu)};
    struct Case {
        int left;
        int top;
        int covered;  // pixels of the 6x5 picture the cursor covers
    };
    for (const Case c : {Case{-2, -2, 4}, Case{4, 3, 4}, Case{-3, 2, 3}, Case{1, 1, 16},
                         Case{6, 0, 0}, Case{0, -4, 0}}) {
        // Rows padded with a guard byte pattern that must survive.
        Picture picture(6, 5, 6 * 4 + 8);
        for (std::uint32_t y = 0; y < 5; ++y) {
            std::fill_n(picture.row(y), 6 * 4 + 8, std::uint8_t{0x11});
        }
        composite_cursor(picture.data(), picture.stride(), 6, 5, cursor, c.left, c.top);
        int covered = 0;
        for (std::uint32_t y = 0; y < 5; ++y) {
            for (int x = 0; x < 6; ++x) {
                covered += at(picture, x, static_cast<int>(y)) == Bgr{255, 255, 255} ? 1 : 0;
            }
            for (int i = 24; i < 32; ++i) {
                ASSERT_EQ(picture.row(y)[i], 0x11) << c.left << "," << c.top;
            }
        }
        EXPECT_EQ(covered, c.covered) << c.left << "," << c.top;
    }
}

// ---- Monitor list cache -----------------------------------------------------------------------

core::Display monitor(std::uint32_t id, double x = 0) {
    return core::Display{id, "Display", core::Rect{x, 0, 1920, 1080}, 1920, 1080, false};
}

struct FakeServer {
    std::chrono::steady_clock::time_point now{std::chrono::hours(100)};
    int queries = 0;
    std::vector<Result<Monitors>> answers;  // the last one repeats

    ContentCache cache(std::chrono::nanoseconds limit = CONTENT_QUERY_LIMIT) {
        return ContentCache(
            [this](const std::string&) -> Result<Monitors> {
                const auto i = std::min<std::size_t>(queries++, answers.size() - 1);
                return answers[i];
            },
            [this] { return now; }, limit);
    }
};

TEST(ContentCache, ReusesAListUpTo59WholeSeconds) {
    struct Case {
        std::chrono::milliseconds age;
        int queries;
    };
    for (const Case c : {Case{0ms, 1}, Case{59'999ms, 1}, Case{60'000ms, 2}, Case{-5'000ms, 1}}) {
        FakeServer server;
        server.answers = {Monitors{monitor(7)}, Monitors{monitor(8)}};
        auto cache = server.cache();
        ASSERT_TRUE(cache.fetch(":1", false));
        server.now += c.age;
        auto again = cache.fetch(":1", false);
        ASSERT_TRUE(again);
        EXPECT_EQ(server.queries, c.queries) << c.age.count();
        EXPECT_EQ(again->at(0).id, c.queries == 1 ? 7U : 8U);
    }
}

TEST(ContentCache, ForcedOrOtherServerQueriesAgainAndFailuresKeepTheList) {
    FakeServer server;
    server.answers = {Monitors{monitor(7)}, Monitors{monitor(8)}, fail("refused"),
                      Monitors{monitor(9)}};
    auto cache = server.cache();
    ASSERT_TRUE(cache.fetch(":1", false));
    EXPECT_EQ(cache.fetch(":1", true)->at(0).id, 8U);
    auto refused = cache.fetch(":1", true);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "refused");
    EXPECT_EQ(cache.fetch(":1", false)->at(0).id, 8U);
    EXPECT_EQ(server.queries, 3);
    EXPECT_EQ(cache.fetch(":2", false)->at(0).id, 9U);
}

TEST(ContentCache, AMissingDisplayCostsOneForcedQuery) {
    FakeServer server;
    server.answers = {Monitors{monitor(7)}, Monitors{monitor(7), monitor(9, 1920)}};
    auto cache = server.cache();
    EXPECT_EQ(cache.fetch_for(":1", 7)->size(), 1U);
    EXPECT_EQ(server.queries, 1);
    EXPECT_EQ(cache.fetch_for(":1", 9)->size(), 2U);
    EXPECT_EQ(server.queries, 2);
    // Still missing after the forced query: whatever it gave is used.
    EXPECT_EQ(cache.fetch_for(":1", 5)->size(), 2U);
    EXPECT_EQ(server.queries, 3);
}

TEST(ContentCache, AQueryThatDoesNotAnswerInTimeFails) {
    auto release = std::make_shared<std::promise<void>>();
    auto released = release->get_future().share();
    ContentCache cache(
        [released](const std::string&) -> Result<Monitors> {
            released.wait();
            return Monitors{monitor(1)};
        },
        {}, 20ms);
    auto late = cache.fetch(":1", false);
    release->set_value();
    ASSERT_FALSE(late);
    EXPECT_EQ(late.error(), "ScreenCaptureKit did not answer in time");
}

TEST(ContentCache, ChoosesTheNamedDisplayElseTheFirst) {
    const Monitors two{monitor(7), monitor(9, 1920)};
    EXPECT_EQ(choose_display(two, 9)->id, 9U);
    EXPECT_EQ(choose_display(two, 3)->id, 7U);
    auto none = choose_display({}, 9);
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error(), "ScreenCaptureKit lists no display");
    EXPECT_EQ(CAPTURE_NOT_PERMITTED.size(), 190U);
}

// ---- Against a private X server ----------------------------------------------------------------

using testing::XvfbTest;

constexpr Bgr RED{0, 0, 255};
constexpr Bgr GREEN{0, 255, 0};
constexpr Bgr BLUE{255, 0, 0};
constexpr Bgr WHITE{255, 255, 255};
constexpr Bgr YELLOW{0, 255, 255};
constexpr Bgr GREY{90, 90, 90};
constexpr int CURSOR_SIZE = 16;

Bgr pattern(int x, int y) {
    return {static_cast<std::uint8_t>(x * 7 ^ y), static_cast<std::uint8_t>(y * 3 + x),
            static_cast<std::uint8_t>((x + y) * 5)};
}

unsigned long pixel_of(Bgr c) {
    return (static_cast<unsigned long>(c[2]) << 16) | (static_cast<unsigned long>(c[1]) << 8) |
           c[0];
}

// An X client of its own: paints the root window and moves the pointer, as a user's programs
// would; every call returns once the server has done it.
class Painter {
  public:
    explicit Painter(const std::string& display) : d_(XOpenDisplay(display.c_str())) {}
    ~Painter() {
        if (cursor_ != 0) {
            XFreeCursor(d_, cursor_);
        }
        XCloseDisplay(d_);
    }
    bool ok() const { return d_ != nullptr; }

    void paint(int x, int y, int width, int height, const std::function<Bgr(int, int)>& colour) {
        auto* data = static_cast<char*>(std::malloc(static_cast<std::size_t>(width) * height * 4));
        XImage* image =
            XCreateImage(d_, DefaultVisual(d_, 0), 24, ZPixmap, 0, data,
                         static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
        for (int row = 0; row < height; ++row) {
            for (int col = 0; col < width; ++col) {
                XPutPixel(image, col, row, pixel_of(colour(x + col, y + row)));
            }
        }
        XPutImage(d_, root(), DefaultGC(d_, 0), image, 0, 0, x, y, static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
        XDestroyImage(image);
        XSync(d_, False);
    }

    void fill(int x, int y, int width, int height, Bgr colour) {
        XSetForeground(d_, DefaultGC(d_, 0), pixel_of(colour));
        XFillRectangle(d_, root(), DefaultGC(d_, 0), x, y, static_cast<unsigned>(width),
                       static_cast<unsigned>(height));
        XSync(d_, False);
    }

    // A square cursor of one colour, its hot spot at the top-left corner.
    void solid_cursor(Bgr colour) {
        const Pixmap shape = XCreatePixmap(d_, root(), CURSOR_SIZE, CURSOR_SIZE, 1);
        GC gc = XCreateGC(d_, shape, 0, nullptr);
        XSetForeground(d_, gc, 1);
        XFillRectangle(d_, shape, gc, 0, 0, CURSOR_SIZE, CURSOR_SIZE);
        XColor fg{};
        fg.red = static_cast<unsigned short>(colour[2] * 257);
        fg.green = static_cast<unsigned short>(colour[1] * 257);
        fg.blue = static_cast<unsigned short>(colour[0] * 257);
        XColor bg{};
        const Cursor previous = cursor_;
        cursor_ = XCreatePixmapCursor(d_, shape, shape, &fg, &bg, 0, 0);
        XDefineCursor(d_, root(), cursor_);
        if (previous != 0) {
            XFreeCursor(d_, previous);
        }
        XFreeGC(d_, gc);
        XFreePixmap(d_, shape);
        XSync(d_, False);
    }

    void move_pointer(int x, int y) {
        XWarpPointer(d_, None, root(), 0, 0, 0, 0, x, y);
        XSync(d_, False);
    }

  private:
    Window root() { return DefaultRootWindow(d_); }
    Display* d_;
    Cursor cursor_ = 0;
};

// Pictures as the capture hands them on, and the ends it reports.
struct Received {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<PictureRef> pictures;
    std::vector<std::uint64_t> timestamps;
    std::vector<std::string> ends;

    PictureSink picture_sink() {
        return [this](PictureRef picture, std::uint64_t timestamp_us) {
            std::lock_guard lock(mutex);
            pictures.push_back(std::move(picture));
            timestamps.push_back(timestamp_us);
            changed.notify_all();
        };
    }
    EndSink end_sink() {
        return [this](const std::string& text) {
            std::lock_guard lock(mutex);
            ends.push_back(text);
            changed.notify_all();
        };
    }
    // The first picture from index `from` on that `shows` accepts; null when none comes.
    PictureRef wait_for(std::size_t from, const std::function<bool(const Picture&)>& shows) {
        std::unique_lock lock(mutex);
        PictureRef found;
        changed.wait_for(lock, PATIENCE, [&] {
            for (std::size_t i = from; i < pictures.size(); ++i) {
                if (shows(*pictures[i])) {
                    found = pictures[i];
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return pictures.size();
    }
};

class CaptureOnX11 : public XvfbTest {
  protected:
    const std::string& display() { return server().display(); }
    core::Display monitor_at(double x) {
        auto monitors = query_monitors(display());
        EXPECT_TRUE(monitors) << monitors.error();
        for (const auto& m : *monitors) {
            if (m.frame.x == x) {
                return m;
            }
        }
        ADD_FAILURE() << "no monitor at x=" << x;
        return core::Display{};
    }
};

// A pointer that a device (here XTEST, as injected input) moves is reported, so a still
// pointer needs no polling at the frame rate.
TEST_F(CaptureOnX11, DeviceMotionOfThePointerIsReported) {
    auto source = CaptureSource::open(display());
    ASSERT_TRUE(source) << source.error();
    ASSERT_TRUE((*source)->reports_motion());
    Display* d = XOpenDisplay(display().c_str());
    ASSERT_NE(d, nullptr);
    XTestFakeMotionEvent(d, -1, 640, 480, CurrentTime);
    XFlush(d);
    bool moved = false;
    for (int i = 0; i < 200 && !moved; ++i) {
        moved = (*source)->read_events().pointer_moved;
        pollfd wait{(*source)->descriptor(), POLLIN, 0};
        if (!moved && !(*source)->flush()) {
            poll(&wait, 1, 100);
        }
    }
    XCloseDisplay(d);
    EXPECT_TRUE(moved);
}

TEST_F(CaptureOnX11, CapturesTheSecondMonitorAsDrawnWithTheCursorInIt) {
    Painter painter(display());
    ASSERT_TRUE(painter.ok());
    painter.paint(1920, 0, 1920, 1080, pattern);
    painter.solid_cursor(RED);
    painter.move_pointer(1920 + 300, 200);

    Received received;
    auto loop = CaptureLoop::start(display(), monitor_at(1920), {1920, 1080, 60},
                                   received.picture_sink(), received.end_sink(), 5s);
    ASSERT_TRUE(loop) << loop.error().text;
    const auto picture = received.wait_for(0, [](const Picture&) { return true; });
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->width(), 1920U);
    ASSERT_EQ(picture->height(), 1080U);
    int wrong = 0;
    for (int y = 0; y < 1080; ++y) {
        for (int x = 0; x < 1920; ++x) {
            const bool under_cursor =
                x >= 300 && x < 300 + CURSOR_SIZE && y >= 200 && y < 200 + CURSOR_SIZE;
            const Bgr expected = under_cursor ? RED : pattern(1920 + x, y);
            wrong += at(*picture, x, y) == expected ? 0 : 1;
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(CaptureOnX11, ScalesToThePlanAndTakesPicturesOnlyWhenTheMonitorChanges) {
    Painter painter(display());
    ASSERT_TRUE(painter.ok());
    painter.fill(1920, 0, 960, 540, RED);
    painter.fill(2880, 0, 960, 540, GREEN);
    painter.fill(1920, 540, 960, 540, BLUE);
    painter.fill(2880, 540, 960, 540, WHITE);
    painter.solid_cursor(RED);
    painter.move_pointer(100, 100);

    Received received;
    auto loop = CaptureLoop::start(display(), monitor_at(1920), {960, 540, 60},
                                   received.picture_sink(), received.end_sink(), 5s);
    ASSERT_TRUE(loop) << loop.error().text;
    const auto first = received.wait_for(0, [](const Picture&) { return true; });
    ASSERT_TRUE(first);
    ASSERT_EQ(first->width(), 960U);
    ASSERT_EQ(first->height(), 540U);
    EXPECT_EQ(at(*first, 240, 135), RED);
    EXPECT_EQ(at(*first, 720, 135), GREEN);
    EXPECT_EQ(at(*first, 240, 405), BLUE);
    EXPECT_EQ(at(*first, 720, 405), WHITE);

    // Drawing and pointer moves on the other monitor, spread over many frame intervals, are
    // no change of this one. Nothing can announce that no picture is coming, so the test looks
    // for a while.
    for (int i = 0; i < 10; ++i) {
        painter.fill(0, 0, 1920, 1080, i % 2 == 0 ? GREY : WHITE);
        painter.move_pointer(100 + 20 * i, 100 + 10 * i);
        std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(received.count(), 1U);

    painter.fill(1920 + 400, 300, 100, 100, YELLOW);
    EXPECT_TRUE(received.wait_for(1, [](const Picture& p) { return at(p, 225, 175) == YELLOW; }));
    // The pointer coming over the monitor is a change even without damage.
    const auto before = received.count();
    painter.move_pointer(1920 + 800, 800);
    EXPECT_TRUE(received.wait_for(before, [](const Picture& p) { return at(p, 402, 402) == RED; }));
    // So is a new cursor shape over it.
    const auto reshaped = received.count();
    painter.solid_cursor(GREEN);
    EXPECT_TRUE(
        received.wait_for(reshaped, [](const Picture& p) { return at(p, 402, 402) == GREEN; }));
    EXPECT_TRUE(received.ends.empty());
}

TEST_F(CaptureOnX11, ShowsAnotherMonitorAtAnotherSizeWhenAsked) {
    Painter painter(display());
    ASSERT_TRUE(painter.ok());
    painter.move_pointer(3000, 1000);
    painter.fill(0, 0, 1920, 1080, GREEN);
    painter.fill(1920, 0, 1920, 1080, BLUE);

    Received received;
    auto loop = CaptureLoop::start(display(), monitor_at(1920), {1920, 1080, 30},
                                   received.picture_sink(), received.end_sink(), 5s);
    ASSERT_TRUE(loop) << loop.error().text;
    ASSERT_TRUE(received.wait_for(0, [](const Picture& p) { return at(p, 10, 10) == BLUE; }));
    ASSERT_TRUE((*loop)->configure({640, 360, 30}, 2s));
    ASSERT_TRUE((*loop)->show(monitor_at(0), 2s));
    const auto shown = received.wait_for(
        1, [](const Picture& p) { return p.width() == 640 && at(p, 10, 10) == GREEN; });
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->height(), 360U);
}

TEST_F(CaptureOnX11, TakesPicturesAtMostAtThePlannedRate) {
    Received received;
    auto loop = CaptureLoop::start(display(), monitor_at(1920), {640, 360, 20},
                                   received.picture_sink(), received.end_sink(), 5s);
    ASSERT_TRUE(loop) << loop.error().text;
    // The monitor changes far more often than 20 times a second.
    Painter painter(display());
    ASSERT_TRUE(painter.ok());
    for (int i = 0; received.count() < 8 && i < 100000; ++i) {
        painter.fill(1920, 0, 64, 64, i % 2 == 0 ? GREEN : BLUE);
    }
    loop->reset();
    std::lock_guard lock(received.mutex);
    ASSERT_GE(received.timestamps.size(), 8U);
    for (std::size_t i = 1; i < received.timestamps.size(); ++i) {
        EXPECT_GE(received.timestamps[i] - received.timestamps[i - 1], 50'000U - 1) << i;
    }
}

using testing::Events;

std::function<bool(const core::PipelineEvent&)> frame_of(std::uint32_t width,
                                                         std::uint32_t height) {
    return [=](const core::PipelineEvent& e) {
        const auto* frame = std::get_if<core::pipeline::Frame>(&e);
        return frame != nullptr && frame->width == width && frame->height == height;
    };
}

// Names of this process's threads, as Linux keeps them (15 bytes at most).
std::vector<std::string> thread_names() {
    std::vector<std::string> names;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        names.push_back(name);
    }
    return names;
}

bool is_stopped(const core::PipelineEvent& e) {
    return std::holds_alternative<core::pipeline::Stopped>(e);
}

TEST_F(CaptureOnX11, RetargetsToTheOtherMonitorAndReleasesWithoutStopped) {
    Events events;
    X11ScreenPipeline pipeline(display());
    auto handle =
        pipeline.start({monitor_at(0).id, 1920, 1080, 6000, 30}, events.gate, events.sink());
    ASSERT_TRUE(handle) << handle.error();
    ASSERT_TRUE(events.wait_for(0, frame_of(1920, 1080)));
    const auto names = thread_names();
    EXPECT_EQ(std::count(names.begin(), names.end(), "mirravale-captu"), 1);

    ASSERT_TRUE((*handle)->retarget({monitor_at(1920).id, 960, 540, 2000, 30}));
    const auto retargeted = events.size();
    const auto first = events.wait_for(retargeted, frame_of(960, 540));
    ASSERT_TRUE(first);
    handle->reset();

    std::lock_guard lock(events.mutex);
    EXPECT_EQ(*first, retargeted) << "a frame of the old size came after the retarget";
    const auto& frame = std::get<core::pipeline::Frame>(events.events[*first]);
    EXPECT_TRUE(frame.keyframe);
    EXPECT_EQ(frame.parameter_sets.size(), 2U);
    for (std::size_t i = retargeted; i < events.events.size(); ++i) {
        EXPECT_TRUE(frame_of(960, 540)(events.events[i])) << i;
    }
}

TEST_F(CaptureOnX11, AVanishedMonitorStopsTheStreamOnce) {
    Events events;
    X11ScreenPipeline pipeline(display());
    auto handle =
        pipeline.start({monitor_at(1920).id, 1920, 1080, 6000, 30}, events.gate, events.sink());
    ASSERT_TRUE(handle) << handle.error();
    ASSERT_TRUE(events.wait_for(0, frame_of(1920, 1080)));

    auto layout = testing::two_monitors().monitors;
    ASSERT_TRUE(server().set_monitors({layout[0]}));
    const auto stopped = events.wait_for(0, is_stopped);
    ASSERT_TRUE(server().set_monitors(layout));
    ASSERT_TRUE(stopped);
    handle->reset();
    EXPECT_EQ(events.stops(), 1);
    std::lock_guard lock(events.mutex);
    EXPECT_EQ(std::get<core::pipeline::Stopped>(events.events[*stopped]).text,
              "the display is no longer connected");
}

TEST(CaptureOnItsOwnX11, AServerThatGoesAwayStopsTheStreamOnce) {
    testing::XvfbOptions options;
    options.width = 640;
    options.height = 480;
    auto server = testing::Xvfb::start(options);
    ASSERT_TRUE(server) << server.error();
    Events events;
    X11ScreenPipeline pipeline((*server)->display());
    auto handle = pipeline.start({0, 640, 480, 1000, 30}, events.gate, events.sink());
    ASSERT_TRUE(handle) << handle.error();
    ASSERT_TRUE(events.wait_for(0, frame_of(640, 480)));

    server->reset();
    const auto stopped = events.wait_for(0, is_stopped);
    ASSERT_TRUE(stopped);
    handle->reset();
    EXPECT_EQ(events.stops(), 1);
    std::lock_guard lock(events.mutex);
    EXPECT_EQ(std::get<core::pipeline::Stopped>(events.events[*stopped]).text,
              "the display server closed the connection");
}

TEST(CaptureOnItsOwnX11, WithoutPermissionTheStartGivesThePermissionSentence) {
    testing::XvfbOptions options;
    options.width = 640;
    options.height = 480;
    options.access_control = true;
    auto server = testing::Xvfb::start(options);
    ASSERT_TRUE(server) << server.error();
    auto untrusted = (*server)->untrusted_authority();
    ASSERT_TRUE(untrusted) << untrusted.error();
    testing::ScopedAuthority authority(*untrusted);

    Events events;
    X11ScreenPipeline pipeline((*server)->display());
    auto handle = pipeline.start({0, 640, 480, 1000, 30}, events.gate, events.sink());
    ASSERT_FALSE(handle);
    EXPECT_EQ(handle.error(), CAPTURE_NOT_PERMITTED);
}

TEST(CapturePrewarm, ReturnsAtOnceAndWarnsWhenTheScreenCannotBeRead) {
    std::ostringstream lines;
    auto logger = log::get("mirravale_platform_linux::capture");
    auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(lines);
    sink->set_pattern("%l %v");
    logger->sinks().push_back(sink);
    {
        // A display that does not exist cannot be read.
        X11ScreenPipeline pipeline(":9876");
        pipeline.prewarm();
    }  // waits for the prewarm
    logger->sinks().pop_back();
    EXPECT_EQ(lines.str(), "warning screen capture is not available yet: " +
                               std::string(CAPTURE_NOT_PERMITTED) + "\n");
}

}  // namespace
}  // namespace mirravale::platform
