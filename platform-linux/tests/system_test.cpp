#include "platform-linux/system.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spdlog/sinks/base_sink.h>
#include <sys/stat.h>
#include <unistd.h>
#include <condition_variable>
#include <filesystem>
#include <fstream>

#include "core/log.hpp"
#include "platform-linux/desktop_ports.hpp"
#include "platform-linux/tests/xvfb_fixture.hpp"

// Xlib last: its macros (None, Bool, Status) clash with names in the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace mirravale::platform {
namespace {

using ::testing::ElementsAre;
using testing::Xvfb;
using testing::XvfbOptions;

MonitorInfo monitor(std::string name, int x, std::string output = {}) {
    MonitorInfo m;
    m.name = std::move(name);
    m.output = std::move(output);
    m.x = x;
    m.width = 1920;
    m.height = 1080;
    return m;
}

std::vector<std::string> names_of(const std::vector<core::Display>& displays) {
    std::vector<std::string> names;
    for (const auto& d : displays) {
        names.push_back(d.name);
    }
    return names;
}

int main_index(const std::vector<core::Display>& displays) {
    for (std::size_t i = 0; i < displays.size(); ++i) {
        if (displays[i].main) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

TEST(MakeDisplays, NamesBuiltInPanelsAndNumbersTheOthers) {
    const std::vector<MonitorInfo> monitors = {monitor("HDMI-1", -1920, "HDMI-1"),
                                               monitor("eDP-1", 0, "eDP-1"),
                                               monitor("DP-2", 1920, "DP-2")};
    const auto displays = make_displays(monitors, {});
    EXPECT_THAT(names_of(displays), ElementsAre("Display 1", "Built-in Display", "Display 2"));
    EXPECT_EQ(displays[2].frame, (core::Rect{1920, 0, 1920, 1080}));
    EXPECT_EQ(displays[2].pixel_width, 1920u);
    EXPECT_EQ(displays[2].pixel_height, 1080u);

    const auto renamed = make_displays(monitors, {{displays[2].id, "Desk"}, {12345, "Gone"}});
    EXPECT_THAT(names_of(renamed), ElementsAre("Display 1", "Built-in Display", "Desk"));
}

TEST(MakeDisplays, MainDisplayRule) {
    auto primary = monitor("B", 1920);
    primary.primary = true;
    auto holder = monitor("C", 3840);
    holder.holds_primary_output = true;
    const std::pair<std::vector<MonitorInfo>, int> cases[] = {
        {{monitor("A", 0), holder, primary}, 2},     // the primary flag first
        {{monitor("A", 0), holder}, 1},              // then the primary output
        {{monitor("A", 1920), monitor("B", 0)}, 1},  // then the origin
        {{monitor("A", 1920), monitor("B", 3840)}, 0},
        {{}, -1},
    };
    for (const auto& [monitors, main] : cases) {
        const auto displays = make_displays(monitors, {});
        EXPECT_EQ(main_index(displays), main) << monitors.size();
        EXPECT_LE(std::count_if(displays.begin(), displays.end(), [](auto& d) { return d.main; }),
                  1);
    }
}

TEST(MakeDisplays, IdsFollowTheMonitorAndStayUnique) {
    auto a = monitor("DP-1", 0);
    auto b = monitor("DP-2", 1920);
    a.edid = b.edid = std::vector<std::uint8_t>(128, 7);  // two screens of one model
    auto moved = a;
    moved.name = "DP-3";
    EXPECT_EQ(display_id(a), display_id(moved));  // the EDID names it, not the connector
    EXPECT_NE(display_id(monitor("left", 0)), display_id(monitor("right", 0)));

    const auto displays = make_displays({a, b}, {});
    EXPECT_NE(displays[0].id, displays[1].id);
    EXPECT_EQ(displays[0].id, display_id(a));
    std::vector<MonitorInfo> many;
    for (int i = 0; i < 20; ++i) {
        many.push_back(monitor("M" + std::to_string(i), i * 1920));
    }
    const auto capped = make_displays(many, {});
    EXPECT_EQ(capped.size(), MAX_DISPLAYS);
    for (const auto& d : capped) {
        EXPECT_NE(d.id, 0u);
    }
}

class X11SystemTest : public testing::XvfbTest {};

TEST_F(X11SystemTest, ListsTheMonitors) {
    auto directory = X11Displays::open(server().display());
    ASSERT_TRUE(directory) << directory.error();
    const auto displays = (*directory)->displays();
    ASSERT_EQ(displays.size(), 2u);
    EXPECT_EQ(displays[0].name, "Display 1");
    EXPECT_EQ(displays[0].frame, (core::Rect{0, 0, 1920, 1080}));
    EXPECT_TRUE(displays[0].main);  // at the origin, and nothing is marked primary
    EXPECT_EQ(displays[1].name, "Display 2");
    EXPECT_EQ(displays[1].frame, (core::Rect{1920, 0, 1920, 1080}));
    EXPECT_EQ(displays[1].pixel_width, 1920u);
    EXPECT_FALSE(displays[1].main);

    (*directory)->set_names({{displays[1].id, "Right side"}});
    EXPECT_THAT(names_of((*directory)->displays()), ElementsAre("Display 1", "Right side"));

    // Another server with the same monitors: the same ids.
    auto other = Xvfb::start(testing::two_monitors());
    ASSERT_TRUE(other) << other.error();
    auto again = X11Displays::open((*other)->display());
    ASSERT_TRUE(again) << again.error();
    const auto second = (*again)->displays();
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].id, displays[0].id);
    EXPECT_EQ(second[1].id, displays[1].id);

    // The primary monitor is the main one, whatever its place; the server lists it first.
    ASSERT_TRUE((*other)->set_monitors(
        {{"left", 0, 0, 1920, 1080, false, true}, {"right", 1920, 0, 1920, 1080, true, false}}));
    const auto primary = (*again)->displays();
    ASSERT_EQ(primary.size(), 2u);
    EXPECT_EQ(primary[0].id, displays[1].id);
    EXPECT_EQ(main_index(primary), 0);
    EXPECT_EQ(primary[0].frame, (core::Rect{1920, 0, 1920, 1080}));
}

TEST_F(X11SystemTest, GrantsWhatWorks) {
    auto permissions = X11Permissions::open(server().display());
    ASSERT_TRUE(permissions) << permissions.error();
    EXPECT_EQ((*permissions)->permissions().bits,
              core::PermissionSet::SCREEN_RECORDING | core::PermissionSet::ACCESSIBILITY);
    EXPECT_EQ((*permissions)->settings_window(), std::nullopt);
}

TEST_F(X11SystemTest, DesktopPortsUseTheServerWhenOneAnswers) {
    const auto desktop = open_desktop_ports(true, server().display());
    EXPECT_TRUE(desktop.has_display);
    EXPECT_EQ(desktop.displays->displays().size(), 2u);
    EXPECT_EQ(desktop.permissions->permissions().bits, 3);

    // No server: the virtual display of the test picture, and nothing granted.
    const auto headless = open_desktop_ports(true, ":65000");
    EXPECT_FALSE(headless.has_display);
    EXPECT_EQ(headless.x11_displays, nullptr);
    const auto displays = headless.displays->displays();
    ASSERT_EQ(displays.size(), 1u);
    EXPECT_EQ(displays[0].name, "Test Pattern");
    EXPECT_EQ(headless.permissions->permissions().bits, 0);
    EXPECT_TRUE(open_desktop_ports(false, ":65000").displays->displays().empty());
}

// The host keeps running for its phone when the X server goes away under it; only the calls on
// the lost connections stop doing anything.
TEST(DesktopPorts, OutliveTheirServer) {
    XvfbOptions options;
    options.width = 640;
    options.height = 480;
    auto server = Xvfb::start(options);
    ASSERT_TRUE(server) << server.error();
    const auto desktop = open_desktop_ports(false, (*server)->display());
    ASSERT_TRUE(desktop.has_display);
    ASSERT_EQ(desktop.displays->displays().size(), 1u);

    server->reset();
    EXPECT_TRUE(desktop.displays->displays().empty());
    desktop.input->inject(core::input::MoveTo{10, 10});
    desktop.input->inject(core::input::Text{"still here"});
    EXPECT_EQ(desktop.input->cursor_position(), std::nullopt);
    desktop.input->release_all();
    EXPECT_EQ(desktop.permissions->permissions().bits, 0);
    { auto guard = desktop.power->keep_awake(); }
}

TEST(X11Permissions, NoInjectionWithoutXtest) {
    XvfbOptions options;
    options.arguments = {"-extension", "XTEST"};
    auto server = Xvfb::start(options);
    ASSERT_TRUE(server) << server.error();
    auto permissions = X11Permissions::open((*server)->display());
    ASSERT_TRUE(permissions) << permissions.error();
    EXPECT_EQ((*permissions)->permissions().bits, core::PermissionSet::SCREEN_RECORDING);
}

TEST(X11Permissions, NothingForAnUntrustedClient) {
    XvfbOptions options;
    options.access_control = true;
    auto server = Xvfb::start(options);
    ASSERT_TRUE(server) << server.error();
    {
        testing::ScopedAuthority trusted((*server)->authority());
        auto permissions = X11Permissions::open((*server)->display());
        ASSERT_TRUE(permissions) << permissions.error();
        EXPECT_EQ((*permissions)->permissions().bits, 3);
    }
    auto untrusted = (*server)->untrusted_authority();
    ASSERT_TRUE(untrusted) << untrusted.error();
    testing::ScopedAuthority scope(*untrusted);
    auto permissions = X11Permissions::open((*server)->display());
    ASSERT_TRUE(permissions) << permissions.error();
    EXPECT_EQ((*permissions)->permissions().bits, 0);
    // Without RandR the screen still counts as one display.
    auto directory = X11Displays::open((*server)->display());
    ASSERT_TRUE(directory) << directory.error();
    const auto displays = (*directory)->displays();
    ASSERT_EQ(displays.size(), 1u);
    EXPECT_EQ(displays[0].frame, (core::Rect{0, 0, 1920, 1080}));
    EXPECT_TRUE(displays[0].main);
}

// Log lines of the system target, to wait for.
class LogLines : public spdlog::sinks::base_sink<std::mutex> {
  public:
    LogLines() : logger_(log::get("mirravale_platform_linux::system")) {
        logger_->sinks().push_back(std::shared_ptr<LogLines>(this, [](LogLines*) {}));
    }
    ~LogLines() override { logger_->sinks().pop_back(); }
    bool wait_for(const std::string& line) {
        std::unique_lock lock(lines_mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] {
            return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
        });
    }

  protected:
    void sink_it_(const spdlog::details::log_msg& message) override {
        std::lock_guard lock(lines_mutex_);
        lines_.push_back(spdlog::level::to_string_view(message.level).data() + std::string(" ") +
                         std::string(message.payload.begin(), message.payload.end()));
        changed_.notify_all();
    }
    void flush_() override {}

  private:
    std::shared_ptr<spdlog::logger> logger_;
    std::mutex lines_mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
};

TEST(X11Permissions, OpensTheSettingsTargetAfterTheDelay) {
    const auto directory =
        std::filesystem::temp_directory_path() / ("mirravale-launcher-" + std::to_string(getpid()));
    std::filesystem::create_directories(directory);
    const auto fifo = directory / "opened";
    const auto launcher = directory / "launcher";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(launcher) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << fifo.string() << "'\n";
    std::filesystem::permissions(launcher, std::filesystem::perms::owner_all);

    testing::XvfbOptions options;
    auto server = Xvfb::start(options);
    ASSERT_TRUE(server) << server.error();
    auto permissions = X11Permissions::open((*server)->display(), launcher.string());
    ASSERT_TRUE(permissions) << permissions.error();
    const auto asked = std::chrono::steady_clock::now();
    (*permissions)->open_settings(Permission::Accessibility, std::chrono::milliseconds(300));
    const int fd = open(fifo.c_str(), O_RDONLY);  // waits for the launcher to open it
    std::string target;
    char buffer[64];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
        target.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    EXPECT_GE(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(300));
    EXPECT_EQ(target, settings_target(Permission::Accessibility));
    EXPECT_NE(settings_target(Permission::ScreenRecording), target);
    std::filesystem::remove_all(directory);

    LogLines lines;
    auto broken = X11Permissions::open((*server)->display(), "/nonexistent/launcher");
    ASSERT_TRUE(broken);
    (*broken)->open_settings(Permission::ScreenRecording, std::chrono::nanoseconds(0));
    EXPECT_TRUE(
        lines.wait_for("warning could not open System Settings: No such file or directory"));

    // Letting go of the adapter cancels a launch still waiting out its delay (else this waits
    // for an hour).
    (*broken)->open_settings(Permission::ScreenRecording, std::chrono::hours(1));
    broken->reset();
}

// Reads the screen saver's state and waits for its notices.
class SaverWatch {
  public:
    explicit SaverWatch(const std::string& display) : d_(XOpenDisplay(display.c_str())) {
        int error_base;
        XScreenSaverQueryExtension(d_, &event_base_, &error_base);
        XScreenSaverSelectInput(d_, DefaultRootWindow(d_), ScreenSaverNotifyMask);
        XSync(d_, False);
    }
    ~SaverWatch() { XCloseDisplay(d_); }
    Display* display() { return d_; }
    int state() {
        XScreenSaverInfo info{};
        XScreenSaverQueryInfo(d_, DefaultRootWindow(d_), &info);
        return info.state;
    }
    // Drops the notices so far.
    void forget() { XSync(d_, True); }
    // Whether the screen saver came on within `limit`.
    bool comes_on_within(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            while (XPending(d_) > 0) {
                XEvent event;
                XNextEvent(d_, &event);
                if (event.type == event_base_ + ScreenSaverNotify &&
                    reinterpret_cast<XScreenSaverNotifyEvent*>(&event)->state == ScreenSaverOn) {
                    return true;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            pollfd wait{ConnectionNumber(d_), POLLIN, 0};
            poll(&wait, 1, static_cast<int>(left.count()));
        }
    }

  private:
    Display* d_;
    int event_base_ = 0;
};

TEST_F(X11SystemTest, KeepsTheScreenAwakeWhileAGuardLives) {
    SaverWatch watch(server().display());
    auto power = X11Power::open(server().display());
    XForceScreenSaver(watch.display(), ScreenSaverActive);
    XSync(watch.display(), False);
    ASSERT_EQ(watch.state(), ScreenSaverOn);

    auto first = power->keep_awake();  // counts as user activity
    EXPECT_EQ(watch.state(), ScreenSaverOff);
    auto second = power->keep_awake();
    XSetScreenSaver(watch.display(), 1, 0, DontPreferBlanking, AllowExposures);
    watch.forget();
    first.reset();
    // Suspended: a one-second timeout passes without the saver.
    EXPECT_FALSE(watch.comes_on_within(std::chrono::milliseconds(2500)));
    second.reset();
    EXPECT_TRUE(watch.comes_on_within(std::chrono::seconds(20)));
    XSetScreenSaver(watch.display(), 600, 600, DefaultBlanking, DefaultExposures);
    XForceScreenSaver(watch.display(), ScreenSaverReset);
    XSync(watch.display(), False);
}

TEST(X11Power, WarnsWhenItCannotKeepTheScreenAwake) {
    XvfbOptions options;
    options.arguments = {"-extension", "MIT-SCREEN-SAVER"};
    auto server = Xvfb::start(options);
    ASSERT_TRUE(server) << server.error();
    LogLines lines;
    auto guard = X11Power::open((*server)->display())->keep_awake();
    EXPECT_NE(guard, nullptr);
    EXPECT_TRUE(lines.wait_for("warning could not keep the display awake"));
}

}  // namespace
}  // namespace mirravale::platform
